#include "headless/job/detail_picture.h"

#include "headless/picture/colour_scale.h"

namespace headless {

Rgb KeptColor(Float kept) {
  return ScaleColour(KeptScale(), kept);
}

void DrawKeptLegend(Image& image, Int32 y, const std::string& title, Rgb color) {
  DrawScaleLegend(image, y, KeptScale(), title, color);
}

}  // namespace headless
