// What `eval` and `correct` share: a scene evaluated at each frame of a range and every polygon
// object's deformed mesh written (headless/io/results.h): per frame as `<object>.<frame>.obj`,
// all frames as one point cache per object, or everything as one glTF.
#pragma once

#include <cstdint>
#include <optional>
#include <ostream>
#include <string>

#include "cli/keyed_range.h"
#include "cli/options.h"
#include "headless/io/scene_file.h"
#include "headless/scene/scene.h"

namespace cli {

struct EvalRequest {
  std::string source;                // the input file: named in messages, never overwritten
  std::optional<FrameRange> frames;  // unset: the frames the keys and point caches span
  std::string format = "obj";        // obj, pc2, mdd or glb
  std::string dir;                   // the output folder, created when its parent exists
  std::optional<Float> fps;          // MDD and glTF times' rate; unset: the scene's own
  bool welded = false;               // the welded points even where a file's vertices are kept
  // The format version of the scene file the scene came from (its current one for a scene made
  // in memory), for the note on objects an old file kept no file vertices for.
  std::uint32_t sceneVersion = headless::kSceneFormatVersion;
  bool quiet = false;
  std::string command = "tessamire eval";  // how messages and progress begin
};

// The request of `eval`'s and `correct`'s options: the first operand, --frames, --format, --fps,
// --welded, --out and --quiet. Throws UsageError for a malformed range, a rate not above 0, or
// --out -.
EvalRequest ParseEvalRequest(const Options& options, const std::string& command);

// Evaluates `doc` at every frame of the range and writes the results into `request.dir`. Answers
// the exit code (KeptPointsExit); throws std::runtime_error naming the fault, before anything
// is written when the range, the objects or the outputs are wrong.
int EvaluateScene(headless::Document& doc, const EvalRequest& request, std::ostream& out,
                  std::ostream& err);

}  // namespace cli
