// Progress of work over many items (frames, files) on the error stream: a bar redrawn in place
// on a terminal, one plain line per item otherwise (logs, pipes), nothing when quiet.
//
// Bar:   "\r<label> [########------------] <unit> 7/20 <detail>" (padded to wipe a longer
//        earlier line), ended by a newline when the last item is done or at Finish.
// Lines: "<label>: <unit> 7/20: <detail>\n" (without ": <detail>" when the detail is empty).
#pragma once

#include <ostream>
#include <stdexcept>
#include <string>

#include "host/abi/types.h"

namespace headless {

// Thrown where a long run notices Ctrl-C (headless::platform::InterruptRequested): unwinding
// removes the temporary files of outputs not yet complete, and the program exits with 130.
struct Interrupted : std::runtime_error {
  Interrupted() : std::runtime_error("interrupted") {}
};
// Throws Interrupted when Ctrl-C was pressed.
void StopIfInterrupted();

enum class ProgressStyle { kQuiet, kLines, kBar };

// The style for a stream that is (or is not) a terminal.
ProgressStyle ChooseProgressStyle(bool terminal, bool quiet);

// The bar's text for `done` of `total` items (without the leading carriage return), `width`
// cells between the brackets. done is clamped to [0, total].
std::string ProgressBarText(const std::string& label, const std::string& unit, Int64 done,
                            Int64 total, const std::string& detail, Int32 width = 24);

class Progress {
 public:
  // Throws std::invalid_argument for a negative total.
  // `unit` names the items, e.g. "frame".
  Progress(std::ostream& os, ProgressStyle style, std::string label, std::string unit, Int64 total);
  Progress(const Progress&) = delete;
  Progress& operator=(const Progress&) = delete;
  ~Progress();

  // One more item is done; `detail` says which. Throws Interrupted first when Ctrl-C was pressed.
  void Step(const std::string& detail = "");
  // Ends a bar that did not reach its total (e.g. on a failure), so later output starts on a
  // fresh line. Does nothing otherwise; safe to call twice.
  void Finish();

 private:
  std::ostream& os_;
  ProgressStyle style_;
  std::string label_;
  std::string unit_;
  Int64 total_;
  Int64 done_ = 0;
  size_t lastWidth_ = 0;
  bool open_ = false;  // a bar is drawn and its line not yet ended
};

}  // namespace headless
