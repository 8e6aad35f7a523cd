// The main job's parts shared by its two acts, the built-in limb (run.cpp) and an imported
// rigged character (run_character.cpp): options, equipping an object with the setup command, the
// per-frame rows, the table, the colour scale of the detail pictures and the plot of the measures.
#pragma once

#include <filesystem>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "cli/options.h"
#include "cli/view_page.h"
#include "headless/job/measures.h"
#include "headless/picture/image.h"
#include "headless/scene/scene.h"

namespace cli {

struct RunOptions {
  std::string character;  // a rigged file: the second act
  Int64 points = 50000;
  Int32 frames = 30;
  Float angle = 120.0;
  std::string out = "out";
  bool quiet = false;
  const Options* options = nullptr;  // the bind tag's settings as given
};

// Throws std::runtime_error when the loaded plug-in did not register its command, deformer and
// bind tag.
void RequirePluginParts();

// Runs the setup command once on `objects` (selected together, nothing else, Shift held: a tag
// and a deformer for each) the way a user picks it from the menu. Throws std::runtime_error when
// the command fails.
void RunSetupCommand(headless::Document& doc, const std::vector<headless::Node*>& objects);

// Runs the setup command on `object` (selected alone, Shift held) and checks where it put
// things: a bind tag on the object (answered in `tag`) and its deformer right after `skin`.
void EquipWithCommand(headless::Document& doc, headless::Node* object, headless::Node* skin,
                      headless::Node*& tag, headless::Node*& deformer);

struct FrameRow {
  Int32 frame = 0;
  Float label = 0.0;  // the bend angle (limb) or the time in seconds (character)
  headless::DetailMeasures skinned;
  headless::DetailMeasures corrected;
  Float skinnedHeight = 0.0;  // detail height error, fraction of the rest detail
  Float correctedHeight = 0.0;
  Float skinnedSeconds = 0.0;
  Float correctedSeconds = 0.0;
};

// Sets the tag's settings the options give; `iterations`, when set, replaces the tag's default
// rounds unless the options give theirs.
void ApplyRunSettings(headless::Node* tag, const RunOptions& options,
                      std::optional<Int32> iterations);

// One frame evaluated with the correction off and on and measured.
struct MeasuredFrame {
  FrameRow row;
  std::vector<Vector3> skinned, corrected;
  std::vector<Float> skinnedKept, correctedKept;  // LocalDetailKept, for pictures
};

// What every frame of a skinned object is measured against: its rest mesh, and a base (the same
// mesh without its fine detail, at rest) skinned alike, which takes the bend's own share out of
// the measures (headless/job/measures.h, detail_height.h), over the points where `weights` blend.
class FrameMeasurer {
 public:
  FrameMeasurer(std::vector<Vector3> rest, std::vector<CPolygon> polygons,
                std::vector<Vector3> base, std::vector<const Float32*> weights,
                std::vector<headless::Node*> joints);
  // Evaluates `doc` at `frame` with `deformer` off, then on, and measures both.
  MeasuredFrame Measure(headless::Document& doc, headless::Node* object, headless::Node* deformer,
                        Int32 frame) const;
  Int64 EdgeCount() const { return static_cast<Int64>(reference_.edges.size()); }

 private:
  std::vector<Float> Heights(const std::vector<Vector3>& points) const;

  std::vector<Vector3> rest_, base_;
  std::vector<CPolygon> polygons_;
  std::vector<const Float32*> weights_;
  std::vector<headless::Node*> joints_;
  std::vector<Int32> region_;
  headless::DetailReference reference_;
  std::vector<std::vector<Int32>> neighbours_;
  std::vector<Float> restHeights_, restBaseHeights_;
};

// The page of a run (view.html): the rest mesh, and every frame skinned and corrected, coloured
// by the detail each point keeps as the pictures are; the distance colours compare the two.
class RunPage {
 public:
  RunPage(std::string title, const std::vector<Vector3>& rest,
          const std::vector<CPolygon>& polygons, char up);
  void Add(const MeasuredFrame& frame);
  // Where the camera looks from at first (towards the camera, in the mesh's coordinates).
  void SetViewDirection(const Vector3& towardsCamera) {
    page_.Builder().SetViewDirection(towardsCamera);
  }
  void Write(const std::filesystem::path& path) { page_.Write(path.string()); }

 private:
  ViewPage page_;
  Int32 skinned_ = 0, corrected_ = 0;
};

// The table of the rows; `label` names the second column ("angle" or "time").
void PrintTable(const std::vector<FrameRow>& rows, Int64 points, const char* label,
                std::ostream& out);

// The three measures over the frames, skinned against corrected, as a PNG.
void WriteMeasuresPlot(const std::vector<FrameRow>& rows, const std::filesystem::path& path);

// The second act: `run --character FILE`.
int RunCharacter(const RunOptions& options, std::ostream& out, std::ostream& err);

}  // namespace cli
