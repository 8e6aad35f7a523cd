#include "headless/host/bitmap.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>

#include "headless/platform/platform.h"

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
bool EntryValues(const Reader& r, UInt64 entry, std::vector<UInt32>& out, std::string& error) {
  const UInt32 tag = r.U16(entry);
  const UInt32 type = r.U16(entry + 2);
  const UInt64 count = r.U32(entry + 4);
  const UInt64 size = type == kTypeByte ? 1 : type == kTypeShort ? 2 : type == kTypeLong ? 4 : 0;
  if (size == 0) {
    error = "tag " + std::to_string(tag) + " has a value type this decoder does not read";
    return false;
  }
  const UInt64 bytes = count * size;
  const UInt64 at = bytes <= 4 ? entry + 8 : r.U32(entry + 8);
  if (!r.Has(at, bytes)) {
    error = "values of tag " + std::to_string(tag) + " lie outside the file";
    return false;
  }
  out.clear();
  out.reserve(static_cast<size_t>(count));
  for (UInt64 i = 0; i < count; ++i) {
    const UInt64 p = at + i * size;
    out.push_back(size == 1 ? r.U8(p) : size == 2 ? r.U16(p) : r.U32(p));
  }
  return true;
}

}  // namespace

bool DecodeTiff(const std::vector<std::uint8_t>& file, Bitmap& out, std::string& error) {
  out = Bitmap{};
  if (file.size() < 8 ||
      !((file[0] == 'I' && file[1] == 'I') || (file[0] == 'M' && file[1] == 'M'))) {
    error = "not a TIFF file (no byte-order mark)";
    return false;
  }
  const Reader r(file, file[0] == 'M');
  if (r.U16(2) != 42) {
    error = "not a TIFF file (bad version number)";
    return false;
  }
  const UInt64 ifd = r.U32(4);
  if (!r.Has(ifd, 2) || !r.Has(ifd + 2, UInt64{r.U16(ifd)} * 12)) {
    error = "image directory lies outside the file";
    return false;
  }
  std::map<UInt32, std::vector<UInt32>> tags;
  const UInt32 entries = r.U16(ifd);
  for (UInt32 i = 0; i < entries; ++i) {
    const UInt64 entry = ifd + 2 + UInt64{i} * 12;
    const UInt32 tag = r.U16(entry);
    if (tag != kImageWidth && tag != kImageLength && tag != kBitsPerSample && tag != kCompression &&
        tag != kPhotometric && tag != kStripOffsets && tag != kSamplesPerPixel &&
        tag != kRowsPerStrip && tag != kStripByteCounts && tag != kPlanarConfiguration)
      continue;  // tags that do not change how the pixels are read
    if (!EntryValues(r, entry, tags[tag], error)) return false;
  }
  const auto single = [&](UInt32 tag, UInt32 fallback, bool required, UInt32& value) {
    const auto it = tags.find(tag);
    if (it == tags.end() || it->second.empty()) {
      if (required) error = "required tag " + std::to_string(tag) + " is missing";
      value = fallback;
      return !required;
    }
    value = it->second[0];
    return true;
  };
  UInt32 width = 0, height = 0, compression = 1, photometric = 0, samples = 1, planar = 1;
  UInt32 rowsPerStrip = 0xFFFFFFFFu;
  if (!single(kImageWidth, 0, true, width) || !single(kImageLength, 0, true, height) ||
      !single(kPhotometric, 0, true, photometric) || !single(kCompression, 1, false, compression) ||
      !single(kSamplesPerPixel, 1, false, samples) ||
      !single(kPlanarConfiguration, 1, false, planar) ||
      !single(kRowsPerStrip, 0xFFFFFFFFu, false, rowsPerStrip))
    return false;
  if (width == 0 || height == 0 || UInt64{width} * height > kMaxPixels) {
    error = "image size " + std::to_string(width) + "x" + std::to_string(height) +
            " is empty or too large";
    return false;
  }
  if (compression != 1) {
    error = "compression " + std::to_string(compression) + " is not supported (only none)";
    return false;
  }
  if (photometric != 2 || (samples != 3 && samples != 4) || planar != 1) {
    error = "only chunky 8-bit RGB or RGBA images are supported";
    return false;
  }
  const std::vector<UInt32>& bits = tags[kBitsPerSample];
  if (bits.size() != samples) {
    error = "bits per sample must be given once per sample";
    return false;
  }
  for (const UInt32 b : bits) {
    if (b != 8) {
      error = "only 8 bits per sample are supported";
      return false;
    }
  }
  if (rowsPerStrip == 0) {
    error = "rows per strip is 0";
    return false;
  }
  const std::vector<UInt32>& offsets = tags[kStripOffsets];
  const std::vector<UInt32>& counts = tags[kStripByteCounts];
  const UInt64 strips = (UInt64{height} + rowsPerStrip - 1) / rowsPerStrip;
  if (offsets.size() != strips || counts.size() != strips) {
    error = "expected " + std::to_string(strips) + " strip offsets and byte counts";
    return false;
  }
  const UInt64 rowBytes = UInt64{width} * samples;
  Bitmap image;
  image.width = static_cast<Int32>(width);
  image.height = static_cast<Int32>(height);
  image.rgba.resize(static_cast<size_t>(UInt64{width} * height * 4));
  for (UInt64 s = 0; s < strips; ++s) {
    const UInt64 firstRow = s * rowsPerStrip;
    const UInt64 rows = std::min<UInt64>(rowsPerStrip, height - firstRow);
    const UInt64 need = rows * rowBytes;
    if (counts[s] < need || !r.Has(offsets[s], need)) {
      error = "strip " + std::to_string(s) + " is shorter than its rows or lies outside the file";
      return false;
    }
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
  out = std::move(image);
  return true;
}

Int32 LoadBitmapFile(const std::string& path, Bitmap& out, std::string& error) {
  out = Bitmap{};
  std::error_code ec;
  std::filesystem::path file;
  try {
    file = platform::PathFromUtf8(path);
  } catch (const std::exception&) {
    // not a name the file system can take: left empty, so missing
  }
  if (file.empty() || !std::filesystem::exists(file, ec)) {
    error = path + ": cannot be opened";
    return kBitmapMissing;
  }
  std::vector<std::uint8_t> data;
  // A folder or a failing device makes the stream throw; either way the file is unreadable.
  try {
    std::ifstream in(file, std::ios::binary);
    if (!in || !std::filesystem::is_regular_file(file, ec)) {
      error = path + ": cannot be read";
      return kBitmapUnreadable;
    }
    data.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    if (in.bad()) throw std::ios_base::failure("read error");
  } catch (const std::exception&) {
    error = path + ": cannot be read";
    return kBitmapUnreadable;
  }
  if (!DecodeTiff(data, out, error)) {
    error = path + ": " + error;
    return kBitmapUnreadable;
  }
  return kBitmapOk;
}

}  // namespace headless
