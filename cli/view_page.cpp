#include "cli/view_page.h"

#include <algorithm>
#include <stdexcept>

#include "headless/io/weights_file.h"
#include "web/page_template.h"

namespace cli {

void Enclose(std::optional<Box>& box, const Box& more) {
  if (!box) {
    box = more;
    return;
  }
  box->first = {std::min(box->first.x, more.first.x), std::min(box->first.y, more.first.y),
                std::min(box->first.z, more.first.z)};
  box->second = {std::max(box->second.x, more.second.x), std::max(box->second.y, more.second.y),
                 std::max(box->second.z, more.second.z)};
}

std::optional<Box> WeightedBounds(std::span<const Vector3> points,
                                  std::span<const Float32> weights) {
  std::optional<Box> box;
  for (size_t i = 0; i < points.size() && i < weights.size(); ++i)
    if (weights[i] != 0.0f) Enclose(box, {points[i], points[i]});
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
  if (const auto box = WeightedBounds(points, focus_)) Enclose(focusBox_, *box);
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
