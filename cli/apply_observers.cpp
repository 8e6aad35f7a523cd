#include "cli/apply_observers.h"

#include <algorithm>
#include <filesystem>

#include "headless/io/page.h"
#include "headless/job/tables.h"

namespace cli {

namespace fs = std::filesystem;

void ReportRows::Begin() {
  reference_ = headless::PreparePairReference(rest_, region_);
  if (!region_.empty())
    out_ << "measured over " << reference_->region.size() << " of " << rest_.points.size()
         << " points, those of nonzero weight in " << regionPath_ << "\n";
  headless::PrintReportHeader(out_);
}

void ReportRows::Written(const headless::WrittenFrame& frame) {
  headless::PrintReportRow(frame.name, headless::MeasurePair(*reference_, frame.input),
                           headless::MeasurePair(*reference_, frame.result), frame.seconds, out_);
}

PreviewPage::PreviewPage(std::string path, const std::string& restPath, const headless::Mesh& rest,
                         const std::vector<std::string>& operands,
                         const headless::FrameSource& frames, std::ostream& err)
    : path_(std::move(path)), restPath_(restPath), rest_(rest), frames_(frames), err_(err) {
  // One cache or one file names the frames; several files, or the standard input, do not.
  if (operands.size() == 1 && operands[0] != "-")
    inputName_ = fs::path(operands[0]).filename().string();
}

void PreviewPage::Begin() {
  page_.emplace("tessamire apply: " + restPath_);
  const Int64 count = static_cast<Int64>(rest_.points.size());
  const std::string restName =
      restPath_ == "-" ? "the rest mesh" : fs::path(restPath_).filename().string();
  page_->SetRest(rest_, restName);
  page_->AddFrame(page_->AddInput("rest", count, rest_.polygons), 0.0, rest_.points);
  input_ = page_->AddInput(inputName_, count, rest_.polygons);
  corrected_ = page_->AddInput("corrected", count, rest_.polygons);
  page_->Builder().SetDistanceReference(input_);
  // About 9 bytes per point and frame of each of the two inputs.
  maxFrames_ =
      static_cast<size_t>(std::max<Int64>(1, headless::kMaxPageDataBytes / (18 * count + 1)));
  if (frames_.Count() > maxFrames_)
    err_ << "tessamire apply: note: the preview page shows the first " << maxFrames_ << " of "
         << frames_.Count() << " frames\n";
  for (size_t i = 1; i < frames_.Count(); ++i)
    if (!(frames_.Number(i) > frames_.Number(i - 1))) increasing_ = false;
}

void PreviewPage::Written(const headless::WrittenFrame& frame) {
  if (frame.index >= maxFrames_) return;
  // Frames numbered out of order (a list of files) show in their order.
  const Float number = increasing_ ? frames_.Number(frame.index) : static_cast<Float>(frame.index);
  page_->AddFrame(input_, number, frame.input);
  page_->AddFrame(corrected_, number, frame.result);
}

}  // namespace cli
