// Colour scales that turn one number per point into a colour, shared by the pictures and the
// page `tessamire view` writes (which receives the same stops), so that both colour alike: the
// detail kept, the distance between two meshes and per-point weights; and their legend.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "headless/picture/image.h"
#include "host/abi/types.h"

namespace headless {

struct ColourStop {
  Float at = 0.0;
  Rgb rgb;
};

struct ColourScale {
  std::vector<ColourStop> stops;                     // at least two, `at` ascending
  std::vector<std::pair<Float, std::string>> ticks;  // where the legend labels the scale
  std::string note;                                  // the legend's line saying how to read it
};

// The colour at `value`: the value clamped to the first and last stop (a value that is not
// finite takes the last), each channel mixed linearly between the two stops around it and
// rounded to the nearest byte.
Rgb ScaleColour(const ColourScale& scale, Float value);

// Detail kept, 0 to 1.5: red where flattened (0), pale yellow at half, blue as at rest (1),
// purple where exaggerated (1.5 and above).
const ColourScale& KeptScale();
// Distance as a share of the largest, 0 to 1: dark blue through teal and green to yellow.
const ColourScale& DistanceScale();
// Weights, 0 to 1: dark for 0 through magenta to yellow for 1.
const ColourScale& WeightScale();

// Height of the band DrawScaleLegend fills.
inline constexpr Int32 kScaleLegendHeight = 56;

// The scale as a bar 300 pixels wide at (16, y) with its ticks below, and beside it `title` over
// the scale's note, in `color`.
void DrawScaleLegend(Image& image, Int32 y, const ColourScale& scale, const std::string& title,
                     Rgb color);

}  // namespace headless
