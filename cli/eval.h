// What `eval` and `correct` share: a scene evaluated at each frame of a range and every polygon
// object's deformed mesh written, per frame as `<object>.<frame>.obj` or all frames as one point
// cache per object.
#pragma once

#include <optional>
#include <ostream>
#include <string>

#include "cli/keyed_range.h"
#include "cli/options.h"
#include "headless/scene/scene.h"

namespace cli {

struct EvalRequest {
  std::string source;                // the input file: named in messages, never overwritten
  std::optional<FrameRange> frames;  // unset: the frames the keys and point caches span
  std::string format = "obj";        // obj, pc2 or mdd
  std::string dir;                   // the output folder, created when its parent exists
  std::optional<Float> fps;          // an MDD cache's rate; unset: the scene's own
  bool quiet = false;
  std::string command = "tessamire eval";  // how messages and progress begin
};

// The request of `eval`'s and `correct`'s options: the first operand, --frames, --format, --fps,
// --out and --quiet. Throws UsageError for a malformed range, a rate not above 0, or --out -.
EvalRequest ParseEvalRequest(const Options& options, const std::string& command);

// Evaluates `doc` at every frame of the range and writes the results into `request.dir`. Answers
// the exit code (KeptPointsExit); throws std::runtime_error naming the fault, before anything
// is written when the range, the objects or the outputs are wrong.
int EvaluateScene(headless::Document& doc, const EvalRequest& request, std::ostream& out,
                  std::ostream& err);

}  // namespace cli
