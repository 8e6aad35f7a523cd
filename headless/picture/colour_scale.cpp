#include "headless/picture/colour_scale.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace headless {

Rgb ScaleColour(const ColourScale& scale, Float value) {
  const std::vector<ColourStop>& stops = scale.stops;
  const Float k =
      std::isfinite(value) ? std::clamp(value, stops.front().at, stops.back().at) : stops.back().at;
  size_t i = 0;
  while (i + 2 < stops.size() && k > stops[i + 1].at) ++i;
  const ColourStop& a = stops[i];
  const ColourStop& b = stops[i + 1];
  const Float t = (k - a.at) / (b.at - a.at);
  auto mix = [t](std::uint8_t u, std::uint8_t v) {
    return static_cast<std::uint8_t>(std::lround(u + t * (static_cast<Float>(v) - u)));
  };
  return {mix(a.rgb.r, b.rgb.r), mix(a.rgb.g, b.rgb.g), mix(a.rgb.b, b.rgb.b)};
}

const ColourScale& KeptScale() {
  static const ColourScale scale{
      {{0.0, {214, 48, 39}}, {0.5, {254, 224, 144}}, {1.0, {69, 117, 180}}, {1.5, {150, 60, 170}}},
      {{0.0, "0"}, {0.5, "0.5"}, {1.0, "1"}, {1.5, "1.5"}},
      "red flattened, blue as at rest"};
  return scale;
}

const ColourScale& DistanceScale() {
  static const ColourScale scale{{{0.0, {68, 1, 84}},
                                  {0.25, {59, 82, 139}},
                                  {0.5, {33, 145, 140}},
                                  {0.75, {94, 201, 98}},
                                  {1.0, {253, 231, 37}}},
                                 {},
                                 "per point, in the meshes' units"};
  return scale;
}

const ColourScale& WeightScale() {
  static const ColourScale scale{
      {{0.0, {30, 30, 60}}, {0.5, {200, 60, 120}}, {1.0, {255, 220, 80}}},
      {{0.0, "0"}, {0.5, "0.5"}, {1.0, "1"}},
      "per point, clamped to 0 .. 1"};
  return scale;
}

void DrawScaleLegend(Image& image, Int32 y, const ColourScale& scale, const std::string& title,
                     Rgb color) {
  constexpr Int32 kX = 16;
  constexpr Int32 kScaleWidth = 300;
  const Float lo = scale.stops.front().at, hi = scale.stops.back().at;
  for (Int32 i = 0; i < kScaleWidth; ++i)
    FillRect(image, kX + i, y, 1, 12,
             ScaleColour(scale, lo + (hi - lo) * static_cast<Float>(i) /
                                         static_cast<Float>(kScaleWidth - 1)));
  for (const auto& [at, label] : scale.ticks) {
    const Int32 x = kX + static_cast<Int32>(std::lround((at - lo) / (hi - lo) * (kScaleWidth - 1)));
    const Int32 w = TextWidth(label, 2);
    DrawText(image, std::clamp(x - w / 2, 0, image.width - w), y + 18, label, color, 2);
  }
  DrawText(image, kX + kScaleWidth + 48, y, title, color, 2);
  DrawText(image, kX + kScaleWidth + 48, y + 20, scale.note, color, 2);
}

}  // namespace headless
