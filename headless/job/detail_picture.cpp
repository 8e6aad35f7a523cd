#include "headless/job/detail_picture.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <iterator>
#include <utility>

namespace headless {

Rgb KeptColor(Float kept) {
  struct Stop {
    Float at;
    Float r, g, b;
  };
  static const Stop kStops[] = {
      {0.0, 214, 48, 39}, {0.5, 254, 224, 144}, {1.0, 69, 117, 180}, {1.5, 150, 60, 170}};
  const Float k = std::isfinite(kept) ? std::clamp(kept, 0.0, 1.5) : 1.5;
  size_t i = 0;
  while (i + 2 < std::size(kStops) && k > kStops[i + 1].at) ++i;
  const Stop& a = kStops[i];
  const Stop& b = kStops[i + 1];
  const Float t = (k - a.at) / (b.at - a.at);
  auto mix = [t](Float u, Float v) {
    return static_cast<std::uint8_t>(std::lround(u + t * (v - u)));
  };
  return {mix(a.r, b.r), mix(a.g, b.g), mix(a.b, b.b)};
}

void DrawKeptLegend(Image& image, Int32 y, const std::string& title, Rgb color) {
  constexpr Int32 kX = 16;
  constexpr Int32 kScaleWidth = 300;
  for (Int32 i = 0; i < kScaleWidth; ++i)
    FillRect(image, kX + i, y, 1, 12,
             KeptColor(1.5 * static_cast<Float>(i) / static_cast<Float>(kScaleWidth - 1)));
  for (const auto& [at, label] :
       {std::pair<Float, const char*>{0.0, "0"}, {0.5, "0.5"}, {1.0, "1"}, {1.5, "1.5"}}) {
    const Int32 x = kX + static_cast<Int32>(std::lround(at / 1.5 * (kScaleWidth - 1)));
    const Int32 w = TextWidth(label, 2);
    DrawText(image, std::clamp(x - w / 2, 0, image.width - w), y + 18, label, color, 2);
  }
  DrawText(image, kX + kScaleWidth + 48, y, title, color, 2);
  DrawText(image, kX + kScaleWidth + 48, y + 20, "red flattened, blue as at rest", color, 2);
}

}  // namespace headless
