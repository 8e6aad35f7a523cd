#include "cli/view_page.h"

#include <algorithm>
#include <stdexcept>

#include "headless/io/weights_file.h"
#include "web/page_template.h"

namespace cli {

std::optional<std::pair<Vector3, Vector3>> WeightedBounds(std::span<const Vector3> points,
                                                          std::span<const Float32> weights) {
  std::optional<std::pair<Vector3, Vector3>> box;
  for (size_t i = 0; i < points.size() && i < weights.size(); ++i) {
    if (weights[i] == 0.0f) continue;
    const Vector3& p = points[i];
    if (!box) box = {p, p};
    box->first = {std::min(box->first.x, p.x), std::min(box->first.y, p.y),
                  std::min(box->first.z, p.z)};
    box->second = {std::max(box->second.x, p.x), std::max(box->second.y, p.y),
                   std::max(box->second.z, p.z)};
  }
  return box;
}

void ViewPage::SetRest(const headless::Mesh& rest, const std::string& restName) {
  rest_ = headless::PreparePairReference(rest, {});
  restCount_ = static_cast<Int64>(rest.points.size());
  page_.SetKeptTitle("detail kept against " + restName);
}

Int32 ViewPage::AddInput(std::string name, Int64 pointCount, std::span<const CPolygon> polygons) {
  if (page_.InputCount() == 0) {
    const std::string first = "the first input " + name;
    const size_t count = static_cast<size_t>(pointCount);
    if (!weightsFile_.empty()) weights_ = headless::ReadWeightsFile(weightsFile_, count, first);
    if (!focusFile_.empty()) focus_ = headless::ReadWeightsFile(focusFile_, count, first);
  }
  const Int32 input = page_.AddInput(std::move(name), pointCount, polygons);
  if (!weights_.empty() && static_cast<Int64>(weights_.size()) == pointCount)
    page_.SetWeights(input, weights_);
  return input;
}

void ViewPage::AddFrame(Int32 input, Float frame, std::span<const Vector3> points) {
  if (rest_ && static_cast<Int64>(points.size()) == restCount_) {
    const std::vector<Float> kept =
        headless::DetailKept(*rest_, std::vector<Vector3>(points.begin(), points.end()));
    AddFrame(input, frame, points, kept);
  } else {
    AddFrame(input, frame, points, {});
  }
}

void ViewPage::AddFrame(Int32 input, Float frame, std::span<const Vector3> points,
                        std::span<const Float> kept) {
  page_.AddFrame(input, frame, points, kept);
  if (focus_.size() != points.size()) return;
  if (const auto box = WeightedBounds(points, focus_)) {
    if (!focusBox_) focusBox_ = box;
    focusBox_->first = {std::min(focusBox_->first.x, box->first.x),
                        std::min(focusBox_->first.y, box->first.y),
                        std::min(focusBox_->first.z, box->first.z)};
    focusBox_->second = {std::max(focusBox_->second.x, box->second.x),
                         std::max(focusBox_->second.y, box->second.y),
                         std::max(focusBox_->second.z, box->second.z)};
  }
}

void ViewPage::Write(const std::string& path) {
  if (!focus_.empty()) {
    if (!focusBox_)
      throw std::runtime_error(
          "no input has a point of weight other than 0 in the focus weights (or none has their "
          "point count)");
    page_.SetFocus(focusBox_->first, focusBox_->second);
  }
  page_.Write(path, web::PageTemplate());
}

}  // namespace cli
