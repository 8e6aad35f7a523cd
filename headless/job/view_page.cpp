#include "headless/job/view_page.h"

#include <stdexcept>

#include "headless/io/weights_file.h"

namespace headless {

void ViewPage::SetRest(const Mesh& rest, const std::string& restName) {
  rest_ = PreparePairReference(rest, {});
  restCount_ = static_cast<Int64>(rest.points.size());
  page_.SetKeptTitle("detail kept against " + restName);
}

Int32 ViewPage::AddInput(std::string name, Int64 pointCount, std::span<const CPolygon> polygons,
                         Int32 group) {
  if (page_.InputCount() == 0) {
    const std::string first = "the first input " + name;
    const size_t count = static_cast<size_t>(pointCount);
    if (!weightsFile_.empty()) weights_ = ReadWeightsFile(weightsFile_, count, first);
    if (!focusFile_.empty()) focus_ = ReadWeightsFile(focusFile_, count, first);
  }
  const Int32 input = page_.AddInput(std::move(name), pointCount, polygons, group);
  if (!weights_.empty() && static_cast<Int64>(weights_.size()) == pointCount)
    page_.SetWeights(input, weights_);
  return input;
}

void ViewPage::AddFrame(Int32 input, Float frame, std::span<const Vector3> points) {
  if (rest_ && static_cast<Int64>(points.size()) == restCount_) {
    const std::vector<Float> kept =
        DetailKept(*rest_, std::vector<Vector3>(points.begin(), points.end()));
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

void ViewPage::Write(const std::string& path, std::string_view pageTemplate) {
  if (!focus_.empty()) {
    if (!focusBox_)
      throw std::runtime_error(
          "no input has a point of weight other than 0 in the focus weights (or none has their "
          "point count)");
    page_.SetFocus(focusBox_->first, focusBox_->second);
  }
  page_.Write(path, pageTemplate);
}

}  // namespace headless
