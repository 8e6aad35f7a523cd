// Host bitmaps and the baseline TIFF decoder behind them (uncompressed, 8 bits per sample,
// RGB or RGBA, chunky, in strips; either byte order).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "host/abi/types.h"

namespace headless {

// Results of a bitmap load: 0 on success, non-zero otherwise.
inline constexpr Int32 kBitmapOk = 0;
inline constexpr Int32 kBitmapMissing = 1;     // the file cannot be opened
inline constexpr Int32 kBitmapUnreadable = 2;  // not a TIFF this decoder reads, or damaged

// An image as RGBA, 8 bits per channel, rows top to bottom. Empty is 0 x 0.
struct Bitmap {
  Int32 width = 0;
  Int32 height = 0;
  std::vector<std::uint8_t> rgba;  // width * height * 4 bytes
};

// Decodes a TIFF held in memory. On failure answers false, leaves `out` empty and sets `error`.
bool DecodeTiff(const std::vector<std::uint8_t>& file, Bitmap& out, std::string& error);
// Loads a TIFF file; answers a kBitmap result and leaves `out` empty on failure.
Int32 LoadBitmapFile(const std::string& path, Bitmap& out, std::string& error);

}  // namespace headless
