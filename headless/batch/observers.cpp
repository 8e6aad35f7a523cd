#include "headless/batch/observers.h"

#include <filesystem>

#include "headless/files/printable.h"
#include "headless/io/png.h"
#include "headless/picture/rasterizer.h"
#include "headless/picture/side_by_side.h"

namespace headless {

void ProgressSteps::Written(const WrittenFrame& frame) {
  progress_.Step(frame.target.empty() ? frame.name : frame.name + " -> " + frame.target);
}

void WarningLines::Written(const WrittenFrame& frame) {
  for (const std::string& warning : frame.report.warnings)
    out_ << label_ << ": warning: " << Printable(warning) << "\n";
}

void PreviewPicture::Written(const WrittenFrame& frame) {
  if (!frame.Last()) return;
  lastName_ = frame.name;
  lastInput_ = frame.input;
  lastCorrected_ = frame.result;
}

void PreviewPicture::End() {
  auto view = [&](const std::vector<Vector3>& points, const std::string& caption) {
    return ViewOf(points, rest_.polygons, caption);
  };
  const std::string name =
      lastName_ == "-" ? "input" : std::filesystem::path(lastName_).filename().string();
  WritePng(path_, RenderSideBySide({view(rest_.points, "rest"), view(lastInput_, name),
                                    view(lastCorrected_, "corrected")},
                                   NamedView("three-quarter"), 420, 420));
}

}  // namespace headless
