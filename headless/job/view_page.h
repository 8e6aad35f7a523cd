// The pages of `tessamire view` as the program makes them: `view` itself and `apply --preview`.
// Adds to the page's data (headless/io/page.h) what the commands ask for: the detail kept against
// a rest mesh, weights, and a focus to frame first. The viewer, which the program carries built
// in, is handed in when the page is written.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "headless/geometry/box.h"
#include "headless/geometry/mesh.h"
#include "headless/io/page.h"
#include "headless/job/pair_measures.h"

namespace headless {

class ViewPage {
 public:
  explicit ViewPage(std::string title) : page_(std::move(title)) {}

  // Every frame of an input with the rest's point count carries the detail each point keeps
  // against `rest` (pair_measures.h); the legend names `restName`.
  void SetRest(const Mesh& rest, const std::string& restName);
  // Weight files of the first input's points, read when it is added (one number per line):
  // weights for the weights colours, and a focus: the camera frames first the points whose weight
  // is not 0, over every frame. Both go to every input of the first's point count.
  void SetWeightsFile(std::string path) { weightsFile_ = std::move(path); }
  void SetFocusFile(std::string path) { focusFile_ = std::move(path); }

  // `group` as PageBuilder::AddInput takes it: one panel for the inputs of one group.
  Int32 AddInput(std::string name, Int64 pointCount, std::span<const CPolygon> polygons,
                 Int32 group = -1);
  void AddFrame(Int32 input, Float frame, std::span<const Vector3> points);
  // The same with the detail kept given (the main job measures its own).
  void AddFrame(Int32 input, Float frame, std::span<const Vector3> points,
                std::span<const Float> kept);

  PageBuilder& Builder() { return page_; }
  // Writes the page (the viewer `pageTemplate` with the data) to `path`. Throws
  // std::runtime_error when no focus point was found in any frame.
  void Write(const std::string& path, std::string_view pageTemplate);

 private:
  PageBuilder page_;
  std::string weightsFile_, focusFile_;
  std::optional<PairReference> rest_;
  Int64 restCount_ = 0;
  std::vector<Float32> weights_;
  std::vector<Float32> focus_;
  std::optional<Box> focusBox_;
};

}  // namespace headless
