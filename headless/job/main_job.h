// What the main job's two acts share, the built-in limb (limb_job.h) and an imported rigged
// character (character_job.h): checking the plug-in's parts, equipping an object with the setup
// command, measuring one frame with the correction off and on, the page of the frames and the plot
// of the measures.
#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "headless/io/page.h"
#include "headless/job/measures.h"
#include "headless/scene/scene.h"

namespace headless {

// The user's settings for the bind tag: called once the setup command has made the tag, after the
// job's own settings and before the tag binds. May be empty.
using TagSettings = std::function<void(Node* tag)>;

// Throws std::runtime_error when the loaded plug-in did not register its command, deformer and
// bind tag.
void RequirePluginParts();

// What the setup command put on an object: its bind tag and its deformer.
struct Equipment {
  Node* tag = nullptr;
  Node* deformer = nullptr;
};

// Runs the setup command once on `objects` (selected together, nothing else, Shift held: a tag
// and a deformer for each) the way a user picks it from the menu. Throws std::runtime_error when
// the command fails.
void RunSetupCommand(Document& doc, const std::vector<Node*>& objects);

// Runs the setup command on `object` (selected alone, Shift held) and checks where it put
// things: a bind tag on the object and its deformer right after `skin`. Then sets the tag's
// rounds to `iterations` when given, and the user's `settings` over them. Throws
// std::runtime_error naming what went wrong.
Equipment EquipWithCommand(Document& doc, Node* object, Node* skin, std::optional<Int32> iterations,
                           const TagSettings& settings);

// One row of the main job's table (tables.h).
struct FrameRow {
  Int32 frame = 0;
  Float label = 0.0;  // the bend angle (limb) or the time in seconds (character)
  DetailMeasures skinned;
  DetailMeasures corrected;
  Float skinnedHeight = 0.0;  // detail height error, fraction of the rest detail
  Float correctedHeight = 0.0;
  Float skinnedSeconds = 0.0;
  Float correctedSeconds = 0.0;
};

// One frame evaluated with the correction off and on and measured.
struct MeasuredFrame {
  FrameRow row;
  std::vector<Vector3> skinned, corrected;
  std::vector<Float> skinnedKept, correctedKept;  // LocalDetailKept, for pictures
};

// What every frame of a skinned object is measured against: its rest mesh, and a base (the same
// mesh without its fine detail, at rest) skinned alike, which takes the bend's own share out of
// the measures (measures.h, detail_height.h), over the points where `weights` blend. `weights`
// (one array per joint, the base's and the object's) must outlive the measurer.
class FrameMeasurer {
 public:
  FrameMeasurer(std::vector<Vector3> rest, std::vector<CPolygon> polygons,
                std::vector<Vector3> base, std::vector<const Float32*> weights,
                std::vector<Node*> joints);
  // Evaluates `doc` at `frame` with `deformer` off, then on, and measures both.
  MeasuredFrame Measure(Document& doc, Node* object, Node* deformer, Int32 frame) const;
  Int64 EdgeCount() const { return static_cast<Int64>(reference_.edges.size()); }

 private:
  std::vector<Float> Heights(const std::vector<Vector3>& points) const;

  std::vector<Vector3> rest_, base_;
  std::vector<CPolygon> polygons_;
  std::vector<const Float32*> weights_;
  std::vector<Node*> joints_;
  std::vector<Int32> region_;
  DetailReference reference_;
  std::vector<std::vector<Int32>> neighbours_;
  std::vector<Float> restHeights_, restBaseHeights_;
};

// The page of a run (view.html, the viewer `tessamire view` writes): the rest mesh, and every
// frame skinned and corrected, coloured by the detail each point keeps as the pictures are; the
// distance colours compare the two.
class RunPage {
 public:
  // `up` is the meshes' up axis, 'y' or 'z'.
  RunPage(std::string title, const std::vector<Vector3>& rest,
          const std::vector<CPolygon>& polygons, char up);
  void Add(const MeasuredFrame& frame);
  // Where the camera looks from at first (towards the camera, in the mesh's coordinates).
  void SetViewDirection(const Vector3& towardsCamera) { page_.SetViewDirection(towardsCamera); }
  // Writes the page: `pageTemplate` (the viewer built into the program) with the data.
  void Write(const std::filesystem::path& path, std::string_view pageTemplate) const {
    page_.Write(path.string(), pageTemplate);
  }

 private:
  PageBuilder page_;
  Int32 skinned_ = 0, corrected_ = 0;
};

// The three measures over the frames, skinned against corrected, as a PNG.
void WriteMeasuresPlot(const std::vector<FrameRow>& rows, const std::filesystem::path& path);

}  // namespace headless
