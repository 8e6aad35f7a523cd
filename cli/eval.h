// What `eval` and `correct` share: their options for evaluating a scene's frames and writing the
// results (headless/batch/evaluate_scene.h), and the printing of such a run.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "cli/options.h"
#include "headless/batch/evaluate_scene.h"
#include "headless/batch/progress_printer.h"

namespace cli {

struct EvalCommand {
  headless::EvalRequest request;
  bool quiet = false;  // no progress and no summary
};

// The run of `eval`'s and `correct`'s options: the first operand, --frames, --format, --fps,
// --welded, --space, --out and --quiet; `command` begins the messages. Throws UsageError for a
// malformed range, a rate not above 0, or --out -.
EvalCommand ParseEvalRequest(const Options& options, const std::string& command);

// --space mesh|world, of the OBJ files and caches `eval` and `correct` write.
OptionSpec SpaceOption();
// --glb-form, --influences and --glb-int16: how a glTF is shaped (`eval` and `correct`).
std::vector<OptionSpec> GlbOptions();

// Prints a run of EvaluateScene: its notes, warnings and progress on `err` while it goes, then
// the summary on `out` (unless quiet).
class EvalPrinter {
 public:
  EvalPrinter(const EvalCommand& command, std::ostream& err);
  EvalPrinter(const EvalPrinter&) = delete;
  EvalPrinter& operator=(const EvalPrinter&) = delete;

  const headless::EvalObserver& Observer() const { return observer_; }
  // "wrote ... to DIR" unless quiet; answers the exit code (KeptPointsExit).
  int Finish(const headless::EvalResult& result, std::ostream& out);

 private:
  const EvalCommand& command_;
  std::ostream& err_;
  headless::Progress progress_;
  headless::EvalObserver observer_;
};

}  // namespace cli
