// What the page `tessamire view` writes shows, read from the files named: OBJ meshes, numbered
// OBJ sequences, point caches on a rest mesh, saved scenes evaluated over their frames and binary
// glTF files of moving meshes, each opened first (so that every file is checked and the frames to
// come are known before any is converted) and then added to a ViewPage input by input, frame by
// frame.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "headless/batch/keyed_range.h"
#include "headless/batch/progress_observer.h"
#include "headless/characters/gltf_reader.h"
#include "headless/geometry/mesh.h"
#include "headless/io/point_cache.h"
#include "headless/job/view_page.h"
#include "headless/scene/scene.h"

namespace headless {

// The frame number the page labels a frame of a glTF or cache with, after `before` (the label of
// the frame before it): the whole frame within a thousandth, else rounded to three decimals, or
// `frame` itself where that would not come after `before`.
Float ViewFrameLabel(Float frame, Float before);

// A file's name as the page shows it ("standard input" for "-").
std::string ViewInputName(const std::string& path);

// The names the page gives the files `paths`: ViewInputName, with the folder before it
// ("skinned/walk.glb") for names that two files share.
std::vector<std::string> ViewInputNames(const std::vector<std::string>& paths);

// An OBJ mesh as the page takes it: read and its coordinates checked.
Mesh ReadViewMesh(const std::string& path);

enum class ViewSourceKind { kMesh, kSequence, kCache, kScene, kGlb };

// What `operand` holds: a point cache or a numbered sequence by its name, a binary glTF or a
// scene file by its first bytes, an OBJ mesh otherwise (the standard input too).
ViewSourceKind ViewSourceKindOf(const std::string& operand);

// What every source is read with.
struct ViewReading {
  std::optional<Mesh> rest;          // the polygons of point caches (needed for one)
  std::string restPath;              // where the rest came from, named in messages
  std::optional<FrameRange> frames;  // a sequence's (needed for one), or a scene's
  Float fps = 30.0;                  // an MDD's and a glTF's times become frames at it
  std::string assetRoot{};           // where a glTF's files must lie (empty: its own folder)
};

// One file and what it holds.
struct ViewSource {
  ViewSourceKind kind = ViewSourceKind::kMesh;
  std::string operand;
  std::optional<PointCache> cache;
  std::unique_ptr<Document> scene;
  std::vector<Node*> objects;  // a scene's polygon objects
  FrameRange range;            // a sequence's or a scene's frames
  std::vector<MorphedMesh> glb;

  // A scene gives an input per polygon object, a glTF one per mesh, any other file one.
  Int64 Inputs() const;
  Int64 Frames() const;
};

// Opens `operand`, of `kind` (ViewSourceKindOf): a point cache, a glTF and a scene are read (a
// sequence's and a mesh's files when they are added). Throws std::runtime_error naming the file
// when it cannot be read, a cache's point count is not the rest's or it holds no sample, a scene
// holds no polygon object or its keys span more than kMaxKeyedFrames without `reading.frames`.
ViewSource OpenViewSource(const std::string& operand, ViewSourceKind kind,
                          const ViewReading& reading);

// Adds every source's inputs and frames to `page` in order (named by ViewInputNames; the meshes
// of one glTF or scene in one panel), a progress step per frame: a scene evaluated at each frame,
// its deformers' warnings told to `warning` as "<file>: frame N: <what>" (may be empty). Throws
// std::runtime_error naming the file and frame that failed, Interrupted on Ctrl-C.
void AddViewSources(const std::vector<ViewSource>& sources, const ViewReading& reading,
                    ViewPage& page, ProgressObserver& progress,
                    const std::function<void(const std::string& line)>& warning);

}  // namespace headless
