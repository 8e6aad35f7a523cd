// The colours of "detail kept" pictures: how much of its rest detail each point keeps
// (pair_measures.h, detail_height.h) as a colour, and the legend that explains them. The main
// job's second picture and `tessamire render --detail` draw with these.
#pragma once

#include <string>

#include "headless/picture/colour_scale.h"
#include "headless/picture/image.h"
#include "host/abi/types.h"

namespace headless {

// Height of the band DrawKeptLegend fills below the panels.
inline constexpr Int32 kKeptLegendHeight = kScaleLegendHeight;

// Detail kept -> colour through KeptScale(): red where flattened (0), pale yellow at half, blue
// as at rest (1), purple where exaggerated (1.5 and above; also for a value that is not finite).
Rgb KeptColor(Float kept);

// The colour scale from 0 to 1.5 with its ticks at (16, y), and beside it `title` over the line
// "red flattened, blue as at rest", in `color`.
void DrawKeptLegend(Image& image, Int32 y, const std::string& title, Rgb color);

}  // namespace headless
