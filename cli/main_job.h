// The main job's parts shared by its two acts, the built-in limb (run.cpp) and an imported
// rigged character (run_character.cpp): options, equipping an object with the setup command, the
// per-frame rows, the table, the colour scale of the detail pictures and the plot of the measures.
#pragma once

#include <filesystem>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "headless/host/scene.h"
#include "headless/job/measures.h"
#include "headless/picture/image.h"

namespace cli {

struct RunOptions {
  std::string character;  // a rigged file: the second act
  Int64 points = 50000;
  Int32 frames = 30;
  Float angle = 120.0;
  std::optional<Int32> iterations;
  std::optional<Int32> weighting;
  std::optional<Float> strength;
  std::string out = "out";
  std::string plugins;
  bool quiet = false;
};

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

// Evaluates the document at `frame` and answers the seconds it took.
Float TimedEvaluation(headless::Document& doc, Int32 frame);

// The table of the rows; `label` names the second column ("angle" or "time").
void PrintTable(const std::vector<FrameRow>& rows, Int64 points, const char* label,
                std::ostream& out);

// Detail kept -> colour: red where flattened (0), pale yellow at half, blue as at rest (1),
// purple where exaggerated (1.5 and above).
headless::Rgb KeptColor(Float kept);

// The three measures over the frames, skinned against corrected, as a PNG.
void WriteMeasuresPlot(const std::vector<FrameRow>& rows, const std::filesystem::path& path);

// The second act: `run --character FILE`.
int RunCharacter(const RunOptions& options, std::ostream& out, std::ostream& err);

}  // namespace cli
