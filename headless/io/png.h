// PNG output with no library: 8-bit RGB, non-interlaced, one IDAT chunk holding a zlib stream
// (one final deflate block with the fixed Huffman codes over greedy LZ77 matches), each row
// filtered with whichever of the five PNG filters gives the smallest sum of absolute bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "headless/picture/image.h"

namespace headless {

// CRC-32 as PNG chunks use it (reflected, polynomial 0xEDB88320, initial and final xor ~0).
UInt32 Crc32(const std::uint8_t* data, size_t size);
// Adler-32 as zlib streams end with it.
UInt32 Adler32(const std::uint8_t* data, size_t size);

// The complete PNG file of `image`. Throws std::invalid_argument for an empty image or one whose
// pixel buffer does not hold width * height * 3 bytes.
std::vector<std::uint8_t> EncodePng(const Image& image);

// Writes EncodePng(image) to `path` through a temporary file beside it and a rename, so the path
// holds either its old content or the whole new picture. Throws std::runtime_error naming the path
// when the file cannot be written (and std::invalid_argument as EncodePng does).
void WritePng(const std::string& path, const Image& image);

}  // namespace headless
