// PNG output: 8-bit RGB, non-interlaced, encoded by stb_image_write (Debian's libstb-dev), which
// filters each row with whichever of the five PNG filters leaves the smallest sum of absolute
// bytes and compresses the rows with its own deflate.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "headless/picture/image.h"

namespace headless {

// The most bytes the rows of a picture may hold once filtered, (width * 3 + 1) * height: the
// encoder counts in int, and its compressed stream can be larger than what it compresses.
inline constexpr UInt64 kMaxPngRowBytes = UInt64{1} << 30;

// The complete PNG file of `image`. Throws std::invalid_argument for an empty image, one whose
// pixel buffer does not hold width * height * 3 bytes, or one over kMaxPngRowBytes, and
// std::bad_alloc when the encoder runs out of memory.
std::vector<std::uint8_t> EncodePng(const Image& image);

// Writes EncodePng(image) to `path` through a temporary file beside it and a rename, so the path
// holds either its old content or the whole new picture. Throws std::runtime_error naming the path
// when the file cannot be written (and std::invalid_argument as EncodePng does).
void WritePng(const std::string& path, const Image& image);

}  // namespace headless
