#include "headless/batch/progress_printer.h"

#include <algorithm>
#include <cstdlib>
#include <stdexcept>

#include "headless/files/interruption.h"

namespace headless {

namespace {

// $TESSAMIRE_PROGRESS_SECONDS, a number from 0 (every item) below a million, else ten seconds.
std::chrono::steady_clock::duration LineInterval() {
  if (const char* text = std::getenv("TESSAMIRE_PROGRESS_SECONDS")) {
    char* end = nullptr;
    const double seconds = std::strtod(text, &end);
    if (end != text && *end == '\0' && seconds >= 0.0 && seconds < 1e6)
      return std::chrono::duration_cast<std::chrono::steady_clock::duration>(
          std::chrono::duration<double>(seconds));
  }
  return std::chrono::seconds(10);
}

}  // namespace

ProgressStyle ChooseProgressStyle(bool terminal, bool quiet) {
  if (quiet) return ProgressStyle::kQuiet;
  return terminal ? ProgressStyle::kBar : ProgressStyle::kLines;
}

std::string ProgressBarText(const std::string& label, const std::string& unit, Int64 done,
                            Int64 total, const std::string& detail, Int32 width) {
  done = std::clamp<Int64>(done, 0, std::max<Int64>(total, 0));
  const Int64 filled = total > 0 ? done * width / total : width;
  std::string text = label + " [";
  text.append(static_cast<size_t>(filled), '#');
  text.append(static_cast<size_t>(width - filled), '-');
  text += "] " + unit + " " + std::to_string(done) + "/" + std::to_string(total);
  if (!detail.empty()) text += " " + detail;
  return text;
}

Progress::Progress(std::ostream& os, ProgressStyle style, std::string label, std::string unit,
                   Int64 total)
    : Progress(os, style, std::move(label)) {
  Begin(unit, total);
}

Progress::Progress(std::ostream& os, ProgressStyle style, std::string label)
    : os_(os), style_(style), label_(std::move(label)), interval_(LineInterval()) {}

void Progress::Begin(const std::string& unit, Int64 total) {
  if (total < 0) throw std::invalid_argument("Progress: negative total");
  unit_ = unit;
  total_ = total;
  done_ = 0;
  lastLine_ = std::chrono::steady_clock::now();
}

Progress::~Progress() {
  Finish();
}

void Progress::Step(const std::string& detail) {
  headless::StopIfInterrupted();
  ++done_;
  if (style_ == ProgressStyle::kQuiet) return;
  if (style_ == ProgressStyle::kLines) {
    const auto now = std::chrono::steady_clock::now();
    if (done_ < total_ && now - lastLine_ < interval_) return;
    lastLine_ = now;
    os_ << label_ << ": " << unit_ << " " << done_ << "/" << total_;
    if (!detail.empty()) os_ << ": " << detail;
    os_ << "\n" << std::flush;
    return;
  }
  std::string text = ProgressBarText(label_, unit_, done_, total_, detail);
  const size_t width = text.size();
  // Spaces wipe what a longer earlier line left behind.
  if (width < lastWidth_) text.append(lastWidth_ - width, ' ');
  lastWidth_ = width;
  os_ << "\r" << text;
  open_ = true;
  if (done_ >= total_) Finish();
  os_ << std::flush;
}

void Progress::Finish() {
  if (!open_) return;
  os_ << "\n" << std::flush;
  open_ = false;
}

}  // namespace headless
