#include "headless/entries/bitmap.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>
#include <stdexcept>

#include "headless/platform/paths.h"

namespace headless {

namespace {

// Largest image accepted, so that a damaged header cannot ask for an absurd allocation.
constexpr UInt64 kMaxPixels = UInt64{1} << 26;

constexpr UInt32 kImageWidth = 256;
constexpr UInt32 kImageLength = 257;
constexpr UInt32 kBitsPerSample = 258;
constexpr UInt32 kCompression = 259;
constexpr UInt32 kPhotometric = 262;
constexpr UInt32 kStripOffsets = 273;
constexpr UInt32 kSamplesPerPixel = 277;
constexpr UInt32 kRowsPerStrip = 278;
constexpr UInt32 kStripByteCounts = 279;
constexpr UInt32 kPlanarConfiguration = 284;

constexpr UInt32 kTypeByte = 1;
constexpr UInt32 kTypeShort = 3;
constexpr UInt32 kTypeLong = 4;

class Reader {
 public:
  Reader(const std::vector<std::uint8_t>& data, bool bigEndian)
      : data_(data), bigEndian_(bigEndian) {}

  bool Has(UInt64 offset, UInt64 size) const {
    return offset <= data_.size() && size <= data_.size() - offset;
  }
  UInt32 U8(UInt64 at) const { return data_[at]; }
  UInt32 U16(UInt64 at) const {
    const UInt32 b0 = data_[at], b1 = data_[at + 1];
    return bigEndian_ ? (b0 << 8) | b1 : (b1 << 8) | b0;
  }
  UInt32 U32(UInt64 at) const {
    const UInt32 lo = U16(at), hi = U16(at + 2);
    return bigEndian_ ? (lo << 16) | hi : (hi << 16) | lo;
  }

 private:
  const std::vector<std::uint8_t>& data_;
  bool bigEndian_;
};

// One directory entry's values as unsigned integers (BYTE, SHORT or LONG).
std::vector<UInt32> EntryValues(const Reader& r, UInt64 entry) {
  const UInt32 tag = r.U16(entry);
  const UInt32 type = r.U16(entry + 2);
  const UInt64 count = r.U32(entry + 4);
  const UInt64 size = type == kTypeByte ? 1 : type == kTypeShort ? 2 : type == kTypeLong ? 4 : 0;
  if (size == 0)
    throw std::invalid_argument("tag " + std::to_string(tag) +
                                " has a value type this decoder does not read");
  const UInt64 bytes = count * size;
  const UInt64 at = bytes <= 4 ? entry + 8 : r.U32(entry + 8);
  if (!r.Has(at, bytes))
    throw std::invalid_argument("values of tag " + std::to_string(tag) + " lie outside the file");
  std::vector<UInt32> out;
  out.reserve(static_cast<size_t>(count));
  for (UInt64 i = 0; i < count; ++i) {
    const UInt64 p = at + i * size;
    out.push_back(size == 1 ? r.U8(p) : size == 2 ? r.U16(p) : r.U32(p));
  }
  return out;
}

}  // namespace

Bitmap DecodeTiff(const std::vector<std::uint8_t>& file) {
  if (file.size() < 8 ||
      !((file[0] == 'I' && file[1] == 'I') || (file[0] == 'M' && file[1] == 'M')))
    throw std::invalid_argument("not a TIFF file (no byte-order mark)");
  const Reader r(file, file[0] == 'M');
  if (r.U16(2) != 42) throw std::invalid_argument("not a TIFF file (bad version number)");
  const UInt64 ifd = r.U32(4);
  if (!r.Has(ifd, 2) || !r.Has(ifd + 2, UInt64{r.U16(ifd)} * 12))
    throw std::invalid_argument("image directory lies outside the file");
  std::map<UInt32, std::vector<UInt32>> tags;
  const UInt32 entries = r.U16(ifd);
  for (UInt32 i = 0; i < entries; ++i) {
    const UInt64 entry = ifd + 2 + UInt64{i} * 12;
    const UInt32 tag = r.U16(entry);
    if (tag != kImageWidth && tag != kImageLength && tag != kBitsPerSample && tag != kCompression &&
        tag != kPhotometric && tag != kStripOffsets && tag != kSamplesPerPixel &&
        tag != kRowsPerStrip && tag != kStripByteCounts && tag != kPlanarConfiguration)
      continue;  // tags that do not change how the pixels are read
    tags[tag] = EntryValues(r, entry);
  }
  // A tag's first value; `fallback` for an optional tag that is absent.
  const auto single = [&](UInt32 tag, std::optional<UInt32> fallback) {
    const auto it = tags.find(tag);
    if (it != tags.end() && !it->second.empty()) return it->second[0];
    if (!fallback)
      throw std::invalid_argument("required tag " + std::to_string(tag) + " is missing");
    return *fallback;
  };
  const UInt32 width = single(kImageWidth, std::nullopt);
  const UInt32 height = single(kImageLength, std::nullopt);
  const UInt32 photometric = single(kPhotometric, std::nullopt);
  const UInt32 compression = single(kCompression, 1);
  const UInt32 samples = single(kSamplesPerPixel, 1);
  const UInt32 planar = single(kPlanarConfiguration, 1);
  const UInt32 rowsPerStrip = single(kRowsPerStrip, 0xFFFFFFFFu);
  if (width == 0 || height == 0 || UInt64{width} * height > kMaxPixels)
    throw std::invalid_argument("image size " + std::to_string(width) + "x" +
                                std::to_string(height) + " is empty or too large");
  if (compression != 1)
    throw std::invalid_argument("compression " + std::to_string(compression) +
                                " is not supported (only none)");
  if (photometric != 2 || (samples != 3 && samples != 4) || planar != 1)
    throw std::invalid_argument("only chunky 8-bit RGB or RGBA images are supported");
  const std::vector<UInt32>& bits = tags[kBitsPerSample];
  if (bits.size() != samples)
    throw std::invalid_argument("bits per sample must be given once per sample");
  for (const UInt32 b : bits) {
    if (b != 8) throw std::invalid_argument("only 8 bits per sample are supported");
  }
  if (rowsPerStrip == 0) throw std::invalid_argument("rows per strip is 0");
  const std::vector<UInt32>& offsets = tags[kStripOffsets];
  const std::vector<UInt32>& counts = tags[kStripByteCounts];
  const UInt64 strips = (UInt64{height} + rowsPerStrip - 1) / rowsPerStrip;
  if (offsets.size() != strips || counts.size() != strips)
    throw std::invalid_argument("expected " + std::to_string(strips) +
                                " strip offsets and byte counts");
  const UInt64 rowBytes = UInt64{width} * samples;
  Bitmap image;
  image.width = static_cast<Int32>(width);
  image.height = static_cast<Int32>(height);
  image.rgba.resize(static_cast<size_t>(UInt64{width} * height * 4));
  for (UInt64 s = 0; s < strips; ++s) {
    const UInt64 firstRow = s * rowsPerStrip;
    const UInt64 rows = std::min<UInt64>(rowsPerStrip, height - firstRow);
    const UInt64 need = rows * rowBytes;
    if (counts[s] < need || !r.Has(offsets[s], need))
      throw std::invalid_argument("strip " + std::to_string(s) +
                                  " is shorter than its rows or lies outside the file");
    for (UInt64 row = 0; row < rows; ++row) {
      const std::uint8_t* src = file.data() + offsets[s] + row * rowBytes;
      std::uint8_t* dst = image.rgba.data() + (firstRow + row) * width * 4;
      for (UInt32 x = 0; x < width; ++x) {
        dst[4 * x + 0] = src[samples * x + 0];
        dst[4 * x + 1] = src[samples * x + 1];
        dst[4 * x + 2] = src[samples * x + 2];
        dst[4 * x + 3] = samples == 4 ? src[samples * x + 3] : 255;
      }
    }
  }
  return image;
}

Bitmap LoadBitmapFile(const std::string& path) {
  std::error_code ec;
  std::filesystem::path file;
  try {
    file = platform::PathFromUtf8(path);
  } catch (const std::exception&) {
    // not a name the file system can take: left empty, so missing
  }
  if (file.empty() || !std::filesystem::exists(file, ec))
    throw BitmapMissing(path + ": cannot be opened");
  std::vector<std::uint8_t> data;
  // A folder or a failing device makes the stream throw; either way the file is unreadable.
  try {
    std::ifstream in(file, std::ios::binary);
    if (!in || !std::filesystem::is_regular_file(file, ec))
      throw std::ios_base::failure("not a readable file");
    data.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    if (in.bad()) throw std::ios_base::failure("read error");
  } catch (const std::exception&) {
    throw std::runtime_error(path + ": cannot be read");
  }
  try {
    return DecodeTiff(data);
  } catch (const std::invalid_argument& e) {
    throw std::invalid_argument(path + ": " + e.what());
  }
}

}  // namespace headless
