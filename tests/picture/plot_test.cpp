// Line plots: panel layout, series drawn where their values say and only in their own panel, and
// refusal of inconsistent input.
#include "headless/picture/plot.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

constexpr headless::Rgb kRed{220, 30, 30};
constexpr headless::Rgb kBlue{30, 60, 220};

bool Same(headless::Rgb a, headless::Rgb b) {
  return a.r == b.r && a.g == b.g && a.b == b.b;
}

// Mean row of the pixels of `color` in columns [x0, x1); -1 when there are none.
Float MeanRow(const headless::Image& image, headless::Rgb color, Int32 x0, Int32 x1) {
  Float sum = 0.0;
  Int32 count = 0;
  for (Int32 y = 0; y < image.height; ++y)
    for (Int32 x = x0; x < x1; ++x)
      if (Same(headless::PixelAt(image, x, y), color)) {
        sum += y;
        ++count;
      }
  return count == 0 ? -1.0 : sum / count;
}

std::vector<Float> Frames(Int32 n) {
  std::vector<Float> x;
  for (Int32 i = 0; i < n; ++i) x.push_back(i);
  return x;
}

TEST(Plot, SeriesGoWhereTheirValuesSayInTheirOwnPanel) {
  const std::vector<Float> x = Frames(31);
  std::vector<Float> rising;
  std::vector<Float> ones(31, 1.0);
  std::vector<Float> zeros(31, 0.0);
  for (Float f : x) rising.push_back(0.01 * f * f);
  headless::PlotOptions o;
  const headless::Image image =
      headless::PlotPanels(x,
                           {{"left", {{"rising", rising, kRed}}},
                            {"right", {{"ones", ones, kBlue}, {"zeros", zeros, kRed}}}},
                           o);
  ASSERT_EQ(image.width, 2 * o.panelWidth);
  ASSERT_EQ(image.height, o.panelHeight);
  const Int32 w = o.panelWidth;
  // Rising: higher on the picture (smaller row) towards the right end of the x axis.
  const Float middle = MeanRow(image, kRed, w / 2, w / 2 + w / 10);
  const Float end = MeanRow(image, kRed, w * 8 / 10, w * 9 / 10);
  ASSERT_GT(middle, 0.0);
  ASSERT_GT(end, 0.0);
  EXPECT_LT(end, middle - 20.0);
  // The blue series exists only in the right panel, above the red zeros there.
  EXPECT_EQ(MeanRow(image, kBlue, 0, w), -1.0);
  const Float blue = MeanRow(image, kBlue, w + w / 2, 2 * w - w / 10);
  const Float red = MeanRow(image, kRed, w + w / 2, 2 * w - w / 10);
  ASSERT_GT(blue, 0.0);
  EXPECT_LT(blue, red - 50.0);
  // A flat line is flat.
  EXPECT_NEAR(MeanRow(image, kBlue, w + w / 2, w + w / 2 + 10),
              MeanRow(image, kBlue, 2 * w - w / 5, 2 * w - w / 5 + 10), 0.5);
}

TEST(Plot, GapsAndSinglePointsAreDrawnWithoutFailing) {
  std::vector<Float> values{1.0, std::numeric_limits<Float>::quiet_NaN(), 3.0};
  const headless::Image image = headless::PlotPanels({0, 1, 2}, {{"gap", {{"a", values, kRed}}}});
  EXPECT_GT(MeanRow(image, kRed, 0, image.width), 0.0);
  const headless::Image single = headless::PlotPanels({5}, {{"one", {{"a", {2.0}, kRed}}}});
  EXPECT_GT(MeanRow(single, kRed, 0, single.width), 0.0);
}

TEST(Plot, InconsistentInputIsRefusedByName) {
  auto message = [](auto&& call) -> std::string {
    try {
      call();
    } catch (const std::invalid_argument& e) {
      return e.what();
    }
    return "no error";
  };
  EXPECT_NE(message([] {
              headless::PlotPanels({0, 1}, {{"p", {{"short", {1.0}, kRed}}}});
            }).find("'short'"),
            std::string::npos);
  EXPECT_NE(message([] { headless::PlotPanels({0, 1}, {}); }).find("no panels"), std::string::npos);
  EXPECT_NE(message([] {
              headless::PlotPanels({}, {{"p", {}}});
            }).find("no x values"),
            std::string::npos);
  headless::PlotOptions tiny;
  tiny.panelWidth = 50;
  EXPECT_NE(message([&] {
              headless::PlotPanels({0, 1}, {{"p", {}}}, tiny);
            }).find("panel size"),
            std::string::npos);
}

}  // namespace
