// What the program writes of an evaluated scene (`eval`, and every command that evaluates a
// scene over frames): each polygon object's deformed points at every frame of a range, in one of
// four forms, into one folder.
//
//   obj  DIR/<stem>.<frame>.obj per object and frame (the frame zero-padded, see PaddedFrame)
//   pc2  DIR/<stem>.pc2 per object, every frame (start frame and one frame per sample)
//   mdd  DIR/<stem>.mdd per object, every frame at frame / fps seconds
//   glb  DIR/<name>.glb, every object and frame (gltf.h), frame at (frame - first frame, when
//        that is below 0, else frame) / fps seconds
// (MDD and glTF frames at the source's own times where ResultOptions::frameSeconds gives them)
//
// An object imported from a file that splits points along seams (Node::fileVertices) is written
// on the file's own vertices: one per vertex, in the file's order, positions from their points,
// the file's normals turned with the surface (FileVertexNormals, from the rest mesh's vertex
// frames to the deformed one's), its texture coordinates, faces, materials and names (OBJ and
// glTF; the caches hold positions only). With `welded`, and for every other object, the welded
// points are written: as plain OBJ (points and polygons), as caches of the points, or in glTF
// without normals or texture coordinates. A `<stem>` is the object's name with anything but
// letters, digits, '-' and '_' replaced by '_', and the object's position among the polygon
// objects appended where two stems collide.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "headless/characters/glb_skin.h"
#include "headless/characters/gltf.h"
#include "headless/io/point_cache.h"
#include "headless/io/scene_file.h"
#include "headless/scene/scene.h"

namespace headless {

enum class ResultFormat { kObj, kPc2, kMdd, kGlb };

// How a glTF holds the frames: the skin with the correction as targets in bind space
// (glb_skin.h), or every frame as a whole morph target (gltf.h). kAuto: the skin where the
// document has a rig.
enum class GlbForm { kAuto, kSkin, kFrames };

// "skin", "frames"; none for anything else.
std::optional<GlbForm> GlbFormNamed(const std::string& name);

// "obj", "pc2", "mdd" or "glb"; none for anything else.
std::optional<ResultFormat> ResultFormatNamed(const std::string& name);

// File-name stems: the object's name with anything but letters, digits, '-' and '_' replaced by
// '_'; objects whose stems collide get their position appended.
std::vector<std::string> FileStems(const std::vector<Node*>& objects);

// `frame` zero-padded to `width` digits after an optional '-'.
std::string PaddedFrame(Int64 frame, int width = 4);

struct ResultOptions {
  ResultFormat format = ResultFormat::kObj;
  std::string folder;          // must exist before the first frame is written
  std::string name = "scene";  // the glTF file's stem
  Float fps = 30.0;            // frames per second of MDD and glTF times
  // The time in seconds of frames 0, 1, ... where the scene's source keeps its own (a character
  // file's key times); MDD and glTF times take them for those frames instead of frame / fps.
  std::vector<Float> frameSeconds;
  bool welded = false;  // welded points even where an object has its file's vertices
  // The scene file's format version, for the note on objects a version 1 file kept no file
  // vertices for.
  std::uint32_t sceneVersion = kSceneFormatVersion;
  // Per object, the transform its points (and normals) are written through: a character's
  // meshes placed in the world (WorldPlacements). Empty: the points as they are, each mesh in
  // its own space. Caches and OBJ only; glTF keeps its meshes as they are.
  std::vector<Matrix> placements;
  // The skinned glTF: the rig (the document's; null: none), its form, influences per vertex and
  // int16 targets. The rig's mesh m is the m-th object holding a file's vertices.
  std::shared_ptr<const Rig> rig;
  GlbForm glbForm = GlbForm::kAuto;
  int influences = 4;
  bool quantised = false;
  std::string pictureFolder;  // where relative picture names are found; empty: the rig's
  // Also each object's rest mesh as `<stem>.rest.obj` (WriteRest), whatever the format: what
  // `apply` and `measure` take as the rest of the results.
  bool restMeshes = false;
};

class ResultWriter {
 public:
  // Writes `objects` (polygon objects, in the order given) over frames `first` to `last`.
  // Throws std::invalid_argument for an fps that is not finite and positive or an empty range,
  // std::runtime_error for glTF of an object without points, or a skinned glTF without a rig or
  // of a skinned object written on its welded points.
  ResultWriter(std::vector<Node*> objects, ResultOptions options, Int64 first, Int64 last);

  // Objects written on their welded points although they came from a file, and why.
  const std::vector<std::string>& Notes() const { return notes_; }
  // What the frames showed once written (Finish): a skinned glTF's vertices with singular
  // blends or more influences than written.
  std::vector<std::string> FinishNotes() const;
  // The file object `object` (an index into the objects) goes to at `frame`.
  std::string File(size_t object, Int64 frame) const;
  // Where object `object`'s rest mesh goes (ResultOptions::restMeshes).
  std::string RestFile(size_t object) const;
  // Every file the results will be, rest meshes included, in the objects' and frames' order.
  std::vector<std::string> Planned() const;
  // Whether the file called `name` in the folder is one of the results.
  bool Holds(const std::string& name) const;
  // About how many bytes the results take: exact for caches and glTF, for OBJ the rest mesh's
  // size at every frame.
  Float EstimatedBytes() const;
  // Throws std::runtime_error, before anything is written, when the results would not fit in
  // the free space of the folder (counting the files they replace as free).
  void CheckFreeSpace() const;

  // Takes every object's deformed points (DeformedPoints) as frame `frame`, the next of the
  // range; an OBJ is written at once.
  void AddFrame(Int64 frame);
  // Writes object `object`'s rest mesh at `points` (one per point) as OBJ, as its frames are
  // written: on the file's vertices unless welded, placed like them. Throws
  // std::invalid_argument for another point count.
  void WriteRest(size_t object, std::span<const Vector3> points);
  // Writes the caches or the glTF; call once after the last frame.
  void Finish();

  // What was written, for a summary: "3 meshes", "2 caches of 24 frames", "a glTF of 24 frames".
  std::string Written() const;

 private:
  struct Target {
    Node* object = nullptr;
    std::string stem;
    std::shared_ptr<const FileVertices> file;  // null: the welded points
    std::vector<SurfaceFrame> restFrames;      // per file vertex, where the file has normals
    PointCache cache;
  };
  std::vector<Vector3> Normals(const Target& target, std::span<const Vector3> points) const;
  // The bytes of one OBJ of the target at rest.
  static Float ObjBytes(const Target& target);
  // The time of `frame` in MDD and glTF results.
  Float Seconds(Int64 frame) const;
  // MDD times at Seconds, refused (std::invalid_argument) where they would not increase.
  void TakeFrameSeconds(PointCache& cache, Int64 first) const;
  void StartGlb(Int64 first);

  ResultOptions options_;
  Int64 first_ = 0, last_ = 0, next_ = 0;
  std::vector<Target> targets_;
  std::vector<std::string> notes_;
  std::unique_ptr<GlbWriter> glb_;
  std::unique_ptr<SkinGlbWriter> skinGlb_;
};

}  // namespace headless
