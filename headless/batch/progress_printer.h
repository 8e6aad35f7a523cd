// Progress of work over many items (frames, files) on the error stream: a bar redrawn in place
// on a terminal; otherwise (logs, pipes) a plain line at most every ten seconds and one for the
// last item, so that a quick run leaves one line and a long one a line now and then
// ($TESSAMIRE_PROGRESS_SECONDS sets another interval, 0 a line per item); nothing when quiet.
//
// Bar:   "\r<label> [########------------] <unit> 7/20 <detail>" (padded to wipe a longer
//        earlier line), ended by a newline when the last item is done or at Finish.
// Lines: "<label>: <unit> 7/20: <detail>\n" (without ": <detail>" when the detail is empty).
#pragma once

#include <chrono>
#include <ostream>
#include <string>

#include "headless/batch/progress_observer.h"
#include "host/abi/types.h"

namespace headless {

enum class ProgressStyle { kQuiet, kLines, kBar };

// The style for a stream that is (or is not) a terminal.
ProgressStyle ChooseProgressStyle(bool terminal, bool quiet);

// The bar's text for `done` of `total` items (without the leading carriage return), `width`
// cells between the brackets. done is clamped to [0, total].
std::string ProgressBarText(const std::string& label, const std::string& unit, Int64 done,
                            Int64 total, const std::string& detail, Int32 width = 24);

class Progress final : public ProgressObserver {
 public:
  // Throws std::invalid_argument for a negative total.
  // `unit` names the items, e.g. "frame".
  Progress(std::ostream& os, ProgressStyle style, std::string label, std::string unit, Int64 total);
  // The unit and total come later, from the run's Begin.
  Progress(std::ostream& os, ProgressStyle style, std::string label);
  Progress(const Progress&) = delete;
  Progress& operator=(const Progress&) = delete;
  ~Progress() override;

  // Sets the unit and the total. Throws std::invalid_argument for a negative total.
  void Begin(const std::string& unit, Int64 total) override;
  // One more item is done; `detail` says which. Throws Interrupted first when Ctrl-C was pressed.
  void Step(const std::string& detail = "") override;
  // Ends a bar that did not reach its total (e.g. on a failure), so later output starts on a
  // fresh line. Does nothing otherwise; safe to call twice.
  void Finish() override;
  // The least time between two plain lines (the last item's always prints).
  void SetLineInterval(std::chrono::steady_clock::duration interval) { interval_ = interval; }

 private:
  std::ostream& os_;
  ProgressStyle style_;
  std::string label_;
  std::string unit_;
  Int64 total_ = 0;
  Int64 done_ = 0;
  size_t lastWidth_ = 0;
  bool open_ = false;  // a bar is drawn and its line not yet ended
  std::chrono::steady_clock::duration interval_;
  std::chrono::steady_clock::time_point lastLine_ = std::chrono::steady_clock::now();
};

}  // namespace headless
