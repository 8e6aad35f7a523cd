// RGB pictures for the headless host's renders and plots, with clipped drawing primitives and a
// tiny built-in 5 x 8 bitmap font for captions, tick labels and legends.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "host/abi/types.h"

namespace headless {

struct Rgb {
  std::uint8_t r = 0;
  std::uint8_t g = 0;
  std::uint8_t b = 0;
};

// 8 bits per channel, rows top to bottom, pixel (x, y) at byte 3 * (y * width + x). Empty is
// 0 x 0.
struct Image {
  Int32 width = 0;
  Int32 height = 0;
  std::vector<std::uint8_t> rgb;  // width * height * 3 bytes
};

// Largest width or height accepted, so that every byte offset fits comfortably in 64 bits and a
// picture stays a picture.
inline constexpr Int32 kMaxImageSide = 1 << 15;

// A width x height image filled with `fill`. Throws std::invalid_argument when a side is not in
// [1, kMaxImageSide].
Image MakeImage(Int32 width, Int32 height, Rgb fill);
// The pixel at (x, y); (x, y) must lie inside.
Rgb PixelAt(const Image& image, Int32 x, Int32 y);

// Drawing: everything outside the image is clipped away silently.
void SetPixel(Image& image, Int32 x, Int32 y, Rgb color);
void FillRect(Image& image, Int32 x, Int32 y, Int32 width, Int32 height, Rgb color);
// A straight line between two points in pixel coordinates (pixel (x, y) covers [x, x + 1)), drawn
// as squares of side `thickness` stepped along it.
void DrawLine(Image& image, Float x0, Float y0, Float x1, Float y1, Rgb color, Int32 thickness);

// Tiny font: glyphs of kGlyphWidth x kGlyphHeight cells, kGlyphAdvance cells apart, each cell
// `scale` x `scale` pixels. Printable ASCII; anything else draws as '?'.
inline constexpr Int32 kGlyphWidth = 5;
inline constexpr Int32 kGlyphHeight = 8;  // the last row holds descenders
inline constexpr Int32 kGlyphAdvance = 6;
// Width in pixels of `text` drawn at `scale` (no trailing gap).
Int32 TextWidth(const std::string& text, Int32 scale);
// Draws `text` with its top-left corner at (x, y).
void DrawText(Image& image, Int32 x, Int32 y, const std::string& text, Rgb color, Int32 scale);

}  // namespace headless
