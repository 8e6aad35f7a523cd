// Colour scales shared by the pictures and the page.
#include "headless/picture/colour_scale.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

bool Same(headless::Rgb a, headless::Rgb b) {
  return a.r == b.r && a.g == b.g && a.b == b.b;
}

TEST(ColourScale, StopsExactMixesRoundedAndTheEndsClamped) {
  for (const headless::ColourScale* scale :
       {&headless::KeptScale(), &headless::DistanceScale(), &headless::WeightScale()}) {
    for (const headless::ColourStop& stop : scale->stops)
      EXPECT_TRUE(Same(headless::ScaleColour(*scale, stop.at), stop.rgb));
    EXPECT_TRUE(Same(headless::ScaleColour(*scale, -5.0), scale->stops.front().rgb));
    EXPECT_TRUE(Same(headless::ScaleColour(*scale, 1e300), scale->stops.back().rgb));
    EXPECT_TRUE(Same(headless::ScaleColour(*scale, std::nan("")), scale->stops.back().rgb));
  }
  // Halfway between red (214, 48, 39) and pale yellow (254, 224, 144); 91.5 rounds up.
  EXPECT_TRUE(Same(headless::ScaleColour(headless::KeptScale(), 0.25), {234, 136, 92}));
}

}  // namespace
