// The TIFF icons the headless host decodes into bitmaps, and what bitmapLoad answers for them.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

#include "headless/entries/bitmap.h"
#include "headless/entries/entries_state.h"
#include "headless/entries/host_table.h"
#include "headless/platform/paths.h"
#include "headless/scene/registry.h"
#include "tests/support/temp_folder.h"
#include "tests/support/thrown.h"

namespace {

namespace fs = std::filesystem;
using headless::platform::Utf8FromPath;

// A baseline TIFF writer for the tests: one image, uncompressed, RGB or RGBA, in strips.
struct TiffWriter {
  bool bigEndian = false;
  std::vector<std::uint8_t> bytes;

  void U16(UInt32 v) {
    if (bigEndian) {
      bytes.push_back(static_cast<std::uint8_t>(v >> 8));
      bytes.push_back(static_cast<std::uint8_t>(v));
    } else {
      bytes.push_back(static_cast<std::uint8_t>(v));
      bytes.push_back(static_cast<std::uint8_t>(v >> 8));
    }
  }
  void U32(UInt32 v) {
    if (bigEndian) {
      U16(v >> 16);
      U16(v & 0xFFFF);
    } else {
      U16(v & 0xFFFF);
      U16(v >> 16);
    }
  }
  void PutU32At(size_t at, UInt32 v) {
    std::vector<std::uint8_t> saved;
    saved.swap(bytes);
    U32(v);
    std::copy(bytes.begin(), bytes.end(), saved.begin() + static_cast<std::ptrdiff_t>(at));
    bytes.swap(saved);
  }

  // Pixels as width * height * samples bytes; `rowsPerStrip` rows per strip.
  std::vector<std::uint8_t> Write(UInt32 width, UInt32 height, UInt32 samples,
                                  const std::vector<std::uint8_t>& pixels, UInt32 rowsPerStrip) {
    bytes.clear();
    bytes.push_back(bigEndian ? 'M' : 'I');
    bytes.push_back(bigEndian ? 'M' : 'I');
    U16(42);
    U32(0);  // directory offset, patched below
    const UInt32 strips = (height + rowsPerStrip - 1) / rowsPerStrip;
    std::vector<UInt32> offsets, counts;
    for (UInt32 s = 0; s < strips; ++s) {
      const UInt32 rows = std::min(rowsPerStrip, height - s * rowsPerStrip);
      offsets.push_back(static_cast<UInt32>(bytes.size()));
      counts.push_back(rows * width * samples);
      const auto* begin = pixels.data() + s * rowsPerStrip * width * samples;
      bytes.insert(bytes.end(), begin, begin + rows * width * samples);
    }
    const UInt32 bitsAt = static_cast<UInt32>(bytes.size());
    for (UInt32 i = 0; i < samples; ++i) U16(8);
    const UInt32 offsetsAt = static_cast<UInt32>(bytes.size());
    for (const UInt32 o : offsets) U32(o);
    const UInt32 countsAt = static_cast<UInt32>(bytes.size());
    for (const UInt32 c : counts) U32(c);
    if (bytes.size() % 2 != 0) bytes.push_back(0);
    PutU32At(4, static_cast<UInt32>(bytes.size()));
    struct Entry {
      UInt32 tag, type, count, value;
    };
    const std::vector<Entry> entries = {
        {256, 4, 1, width},
        {257, 4, 1, height},
        {258, 3, samples, bitsAt},
        {259, 3, 1, 1},
        {262, 3, 1, 2},
        {273, 4, strips, strips == 1 ? offsets[0] : offsetsAt},
        {277, 3, 1, samples},
        {278, 4, 1, rowsPerStrip},
        {279, 4, strips, strips == 1 ? counts[0] : countsAt},
    };
    U16(static_cast<UInt32>(entries.size()));
    for (const Entry& e : entries) {
      U16(e.tag);
      U16(e.type);
      U32(e.count);
      if (e.type == 3 && e.count == 1) {
        U16(e.value);  // a single SHORT sits in the first two bytes of the value field
        U16(0);
      } else {
        U32(e.value);
      }
    }
    U32(0);  // no further directory
    return bytes;
  }
};

std::vector<std::uint8_t> Gradient(UInt32 width, UInt32 height, UInt32 samples) {
  std::vector<std::uint8_t> pixels;
  for (UInt32 i = 0; i < width * height * samples; ++i)
    pixels.push_back(static_cast<std::uint8_t>(i * 7 + 3));
  return pixels;
}

TEST(TiffDecoder, ReadsRgbAndRgbaInEitherByteOrderAndStripLayout) {
  for (const bool bigEndian : {false, true}) {
    for (const UInt32 samples : {3u, 4u}) {
      for (const UInt32 rowsPerStrip : {1u, 2u, 5u}) {
        const UInt32 w = 3, h = 5;
        const auto pixels = Gradient(w, h, samples);
        TiffWriter writer{bigEndian, {}};
        const auto file = writer.Write(w, h, samples, pixels, rowsPerStrip);
        headless::Bitmap bmp;
        ASSERT_NO_THROW(bmp = headless::DecodeTiff(file))
            << " big-endian " << bigEndian << " samples " << samples;
        ASSERT_EQ(bmp.width, 3);
        ASSERT_EQ(bmp.height, 5);
        for (UInt32 p = 0; p < w * h; ++p) {
          for (UInt32 c = 0; c < 3; ++c) ASSERT_EQ(bmp.rgba[p * 4 + c], pixels[p * samples + c]);
          ASSERT_EQ(bmp.rgba[p * 4 + 3], samples == 4 ? pixels[p * samples + 3] : 255);
        }
      }
    }
  }
}

TEST(TiffDecoder, DamagedFilesAreRefusedWithAReason) {
  TiffWriter writer;
  const auto good = writer.Write(4, 4, 3, Gradient(4, 4, 3), 2);
  std::vector<std::vector<std::uint8_t>> damaged;
  damaged.push_back({});
  damaged.push_back({'I', 'I', 42, 0});
  damaged.push_back({'P', 'K', 3, 4, 0, 0, 0, 0});
  auto truncated = good;
  truncated.resize(20);  // directory offset points past the end
  damaged.push_back(truncated);
  auto badVersion = good;
  badVersion[2] = 43;
  damaged.push_back(badVersion);
  auto farDirectory = good;
  farDirectory[4] = 0xF0;
  farDirectory[7] = 0x7F;
  damaged.push_back(farDirectory);
  for (const UInt32 tag : {259u, 273u, 277u}) {
    // Change one field: compression 5, a strip offset beyond the file, 2 samples per pixel.
    auto changed = good;
    const size_t dir = changed[4] | (changed[5] << 8);
    for (size_t e = 0; e < changed[dir]; ++e) {
      const size_t at = dir + 2 + e * 12;
      if (static_cast<UInt32>(changed[at] | (changed[at + 1] << 8)) != tag) continue;
      if (tag == 259) changed[at + 8] = 5;
      if (tag == 277) changed[at + 8] = 2;
      if (tag == 273) {
        const size_t table = changed[at + 8] | (changed[at + 9] << 8);
        changed[table + 3] = 0x70;
      }
    }
    damaged.push_back(changed);
  }
  for (size_t i = 0; i < damaged.size(); ++i)
    EXPECT_NE(ThrownMessage<std::invalid_argument>([&] { headless::DecodeTiff(damaged[i]); }), "")
        << "case " << i;
}

TEST(TiffDecoder, BitmapLoadAnswersZeroOnlyForAReadableFile) {
  const HostTable& host = headless::HostTableInstance();
  TempFolder folder;
  TiffWriter writer;
  const auto file = writer.Write(2, 2, 4, Gradient(2, 2, 4), 2);
  folder.Write("icon.tif", std::string(file.begin(), file.end()));
  folder.Write("corrupt.tif", "II*\0garbage");

  BaseBitmap* bmp = host.bitmapAlloc();
  ASSERT_NE(bmp, nullptr);
  EXPECT_EQ(host.bitmapLoad(bmp, Utf8FromPath(folder.path / "icon.tif").c_str(), -1),
            headless::kBitmapOk);
  EXPECT_EQ(reinterpret_cast<headless::Bitmap*>(bmp)->width, 2);
  headless::ClearHostErrors();
  EXPECT_EQ(host.bitmapLoad(bmp, Utf8FromPath(folder.path / "corrupt.tif").c_str(), -1),
            headless::kBitmapUnreadable);
  EXPECT_EQ(reinterpret_cast<headless::Bitmap*>(bmp)->width, 0) << "emptied by a failed load";
  ASSERT_EQ(headless::HostErrors().size(), 1u);
  EXPECT_NE(headless::HostErrors()[0].find("corrupt.tif: "), std::string::npos)
      << headless::HostErrors()[0];
  EXPECT_EQ(host.bitmapLoad(bmp, Utf8FromPath(folder.path / "absent.tif").c_str(), -1),
            headless::kBitmapMissing);
  EXPECT_EQ(host.bitmapLoad(bmp, Utf8FromPath(folder.path).c_str(), -1),
            headless::kBitmapUnreadable)
      << "a folder is not an image";
  host.bitmapFree(bmp);
  headless::ClearHostErrors();
}

}  // namespace
