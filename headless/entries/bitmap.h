// Host bitmaps and the baseline TIFF decoder behind them (uncompressed, 8 bits per sample,
// RGB or RGBA, chunky, in strips; either byte order).
#pragma once

#include <cstdint>
#include <stdexcept>
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

// Thrown by LoadBitmapFile when the file cannot be opened (kBitmapMissing at the table).
struct BitmapMissing : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// Decodes a TIFF held in memory. Throws std::invalid_argument naming the fault.
Bitmap DecodeTiff(const std::vector<std::uint8_t>& file);
// Loads a TIFF file. Throws BitmapMissing "<path>: cannot be opened", std::runtime_error
// "<path>: cannot be read" (a folder, a read error) or std::invalid_argument "<path>: <fault>"
// (not a TIFF this decoder reads, or damaged).
Bitmap LoadBitmapFile(const std::string& path);

}  // namespace headless
