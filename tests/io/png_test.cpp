// PNG output read back by the test's own decoder, apart from the encoder's library: signature,
// chunk layout and CRCs, header fields, the zlib stream and its Adler-32, and pixels that come
// back exactly after inflating (any deflate block type) and unfiltering; the atomic write and its
// errors.
#include "headless/io/png.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

UInt32 BigEndian32(const Bytes& b, size_t at) {
  return (UInt32{b.at(at)} << 24) | (UInt32{b.at(at + 1)} << 16) | (UInt32{b.at(at + 2)} << 8) |
         UInt32{b.at(at + 3)};
}

// Bit by bit, the slow and obvious way.
UInt32 ReferenceCrc(const std::uint8_t* data, size_t size) {
  UInt32 crc = 0xFFFFFFFFu;
  for (size_t i = 0; i < size; ++i) {
    crc ^= data[i];
    for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ ((crc & 1u) ? 0xEDB88320u : 0u);
  }
  return ~crc;
}

UInt32 ReferenceAdler(const Bytes& data) {
  UInt64 a = 1;
  UInt64 b = 0;
  for (std::uint8_t v : data) {
    a = (a + v) % 65521;
    b = (b + a) % 65521;
  }
  return static_cast<UInt32>((b << 16) | a);
}

// An inflater for every deflate block type (stored, fixed and dynamic Huffman codes), decoding
// canonical codes one bit at a time: slow and obvious.
class Inflater {
 public:
  explicit Inflater(const Bytes& in) : in_(in) {}
  Bytes Run() {
    Bytes out;
    bool last = false;
    while (!last) {
      last = Bits(1) == 1;
      const UInt32 type = Bits(2);
      if (type == 0) {
        bit_ = (bit_ + 7) & ~size_t{7};
        const UInt32 len = Bits(16);
        const UInt32 nlen = Bits(16);
        if ((len ^ 0xFFFFu) != nlen) throw std::runtime_error("stored length check");
        for (UInt32 i = 0; i < len; ++i) out.push_back(static_cast<std::uint8_t>(Bits(8)));
      } else if (type == 1) {
        std::vector<int> lengths(288, 8);
        std::fill(lengths.begin() + 144, lengths.begin() + 256, 9);
        std::fill(lengths.begin() + 256, lengths.begin() + 280, 7);
        Codes(Huffman(lengths), Huffman(std::vector<int>(30, 5)), out);
      } else if (type == 2) {
        Dynamic(out);
      } else {
        throw std::runtime_error("block type 3 is reserved");
      }
    }
    if (in_.size() - (bit_ + 7) / 8 != 0) throw std::runtime_error("bytes after the last block");
    return out;
  }

 private:
  // A canonical code: how many codes of each length, and the symbols in code order.
  struct Huffman {
    explicit Huffman(const std::vector<int>& lengths) : count(16, 0) {
      for (int l : lengths) ++count[l];
      count[0] = 0;
      std::vector<int> offset(16, 0);
      for (int l = 1; l < 15; ++l) offset[l + 1] = offset[l] + count[l];
      symbol.resize(lengths.size());
      for (size_t s = 0; s < lengths.size(); ++s)
        if (lengths[s] != 0) symbol[offset[lengths[s]]++] = static_cast<int>(s);
    }
    std::vector<int> count;
    std::vector<int> symbol;
  };

  UInt32 Bits(int n) {
    UInt32 v = 0;
    for (int i = 0; i < n; ++i, ++bit_) {
      if (bit_ / 8 >= in_.size()) throw std::runtime_error("ran past the end of the stream");
      v |= ((in_[bit_ / 8] >> (bit_ % 8)) & 1u) << i;
    }
    return v;
  }
  int Decode(const Huffman& h) {  // codes arrive most significant bit first
    int code = 0;
    int first = 0;
    int index = 0;
    for (int length = 1; length < 16; ++length) {
      code |= static_cast<int>(Bits(1));
      const int count = h.count[length];
      if (code - count < first) return h.symbol[index + (code - first)];
      index += count;
      first = (first + count) << 1;
      code <<= 1;
    }
    throw std::runtime_error("no such code");
  }
  void Dynamic(Bytes& out) {
    const int literals = static_cast<int>(Bits(5)) + 257;
    const int distances = static_cast<int>(Bits(5)) + 1;
    const int codeLengths = static_cast<int>(Bits(4)) + 4;
    static const int order[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};
    std::vector<int> lengths(19, 0);
    for (int i = 0; i < codeLengths; ++i) lengths[order[i]] = static_cast<int>(Bits(3));
    const Huffman lengthCode(lengths);
    lengths.assign(static_cast<size_t>(literals + distances), 0);
    for (int i = 0; i < literals + distances;) {
      const int symbol = Decode(lengthCode);
      if (symbol < 16) {
        lengths[i++] = symbol;
        continue;
      }
      int repeated = 0;
      int times = 0;
      if (symbol == 16) {
        if (i == 0) throw std::runtime_error("a repeat with nothing before it");
        repeated = lengths[i - 1];
        times = 3 + static_cast<int>(Bits(2));
      } else {
        times = symbol == 17 ? 3 + static_cast<int>(Bits(3)) : 11 + static_cast<int>(Bits(7));
      }
      if (i + times > literals + distances) throw std::runtime_error("too many code lengths");
      while (times-- > 0) lengths[i++] = repeated;
    }
    Codes(Huffman(std::vector<int>(lengths.begin(), lengths.begin() + literals)),
          Huffman(std::vector<int>(lengths.begin() + literals, lengths.end())), out);
  }
  void Codes(const Huffman& literal, const Huffman& distance, Bytes& out) {
    static const int lbase[] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
    static const int lextra[] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                 2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
    for (;;) {
      const int sym = Decode(literal);
      if (sym < 256) {
        out.push_back(static_cast<std::uint8_t>(sym));
        continue;
      }
      if (sym == 256) return;
      if (sym > 285) throw std::runtime_error("bad length symbol");
      const int length = lbase[sym - 257] + static_cast<int>(Bits(lextra[sym - 257]));
      const int dcode = Decode(distance);
      if (dcode > 29) throw std::runtime_error("bad distance symbol");
      // Distance bases: 1, 2, 3, 4, then doubling in pairs.
      int dist = 1;
      int extra = 0;
      if (dcode < 4) {
        dist = dcode + 1;
      } else {
        extra = (dcode - 2) / 2;
        dist = (1 << (extra + 1)) + 1 + ((dcode & 1) << extra);
      }
      dist += static_cast<int>(Bits(extra));
      if (dist > static_cast<int>(out.size())) throw std::runtime_error("distance too far back");
      for (int i = 0; i < length; ++i) out.push_back(out[out.size() - static_cast<size_t>(dist)]);
    }
  }
  const Bytes& in_;
  size_t bit_ = 0;
};

struct Chunk {
  std::string type;
  Bytes data;
};

std::vector<Chunk> Chunks(const Bytes& png) {
  const Bytes signature{0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  EXPECT_TRUE(png.size() >= 8 && Bytes(png.begin(), png.begin() + 8) == signature);
  std::vector<Chunk> chunks;
  size_t at = 8;
  while (at < png.size()) {
    const UInt32 length = BigEndian32(png, at);
    EXPECT_LE(at + 12 + length, png.size());
    if (at + 12 + length > png.size()) break;
    Chunk c{std::string(png.begin() + at + 4, png.begin() + at + 8),
            Bytes(png.begin() + at + 8, png.begin() + at + 8 + length)};
    EXPECT_EQ(BigEndian32(png, at + 8 + length), ReferenceCrc(&png[at + 4], length + 4))
        << "CRC of chunk " << c.type;
    chunks.push_back(std::move(c));
    at += 12 + length;
  }
  return chunks;
}

int Paeth(int a, int b, int c) {
  const int p = a + b - c;
  const int pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
  return pa <= pb && pa <= pc ? a : (pb <= pc ? b : c);
}

// Decodes an 8-bit RGB PNG back to RGB bytes, checking its structure on the way.
Bytes Decode(const Bytes& png, Int32* width, Int32* height) {
  const std::vector<Chunk> chunks = Chunks(png);
  EXPECT_EQ(chunks.size(), 3u);
  if (chunks.size() != 3u) return {};
  EXPECT_EQ(chunks[0].type, "IHDR");
  EXPECT_EQ(chunks[1].type, "IDAT");
  EXPECT_EQ(chunks[2].type, "IEND");
  EXPECT_TRUE(chunks[2].data.empty());
  const Bytes& h = chunks[0].data;
  EXPECT_EQ(h.size(), 13u);
  *width = static_cast<Int32>(BigEndian32(h, 0));
  *height = static_cast<Int32>(BigEndian32(h, 4));
  EXPECT_EQ(Bytes(h.begin() + 8, h.end()), (Bytes{8, 2, 0, 0, 0}));

  const Bytes& z = chunks[1].data;
  EXPECT_GE(z.size(), 6u);
  EXPECT_EQ(z[0] & 0x0F, 8);  // deflate
  EXPECT_EQ((z[0] * 256 + z[1]) % 31, 0);
  EXPECT_EQ(z[1] & 0x20, 0);  // no preset dictionary
  const Bytes deflated(z.begin() + 2, z.end() - 4);
  const Bytes filtered = Inflater(deflated).Run();
  EXPECT_EQ(BigEndian32(z, z.size() - 4), ReferenceAdler(filtered));

  const size_t stride = static_cast<size_t>(*width) * 3;
  EXPECT_EQ(filtered.size(), (stride + 1) * static_cast<size_t>(*height));
  Bytes rgb(stride * static_cast<size_t>(*height));
  for (Int32 y = 0; y < *height; ++y) {
    const std::uint8_t filter = filtered[(stride + 1) * y];
    EXPECT_LE(filter, 4);
    for (size_t i = 0; i < stride; ++i) {
      const int a = i >= 3 ? rgb[stride * y + i - 3] : 0;
      const int b = y > 0 ? rgb[stride * (y - 1) + i] : 0;
      const int c = i >= 3 && y > 0 ? rgb[stride * (y - 1) + i - 3] : 0;
      const int predicted = filter == 1   ? a
                            : filter == 2 ? b
                            : filter == 3 ? (a + b) / 2
                            : filter == 4 ? Paeth(a, b, c)
                                          : 0;
      rgb[stride * y + i] =
          static_cast<std::uint8_t>(filtered[(stride + 1) * y + 1 + i] + predicted);
    }
  }
  return rgb;
}

headless::Image Pattern(Int32 w, Int32 h) {
  headless::Image image = headless::MakeImage(w, h, {0, 0, 0});
  UInt32 state = 12345;
  for (Int32 y = 0; y < h; ++y)
    for (Int32 x = 0; x < w; ++x) {
      state = state * 1664525u + 1013904223u;
      // Smooth gradients, flat runs (long matches) and noise (literals) in one picture.
      const std::uint8_t noise = static_cast<std::uint8_t>(state >> 24);
      headless::SetPixel(image, x, y,
                         {static_cast<std::uint8_t>(x * 3), x < w / 2 ? std::uint8_t{40} : noise,
                          static_cast<std::uint8_t>(y * 5 + x)});
    }
  return image;
}

// Bytes that no filter predicts: deflate stores them rather than grow them.
headless::Image Noise(Int32 w, Int32 h) {
  headless::Image image = headless::MakeImage(w, h, {0, 0, 0});
  UInt64 state = 0x9E3779B97F4A7C15ull;
  for (std::uint8_t& byte : image.rgb) {
    state ^= state << 13;
    state ^= state >> 7;
    state ^= state << 17;
    byte = static_cast<std::uint8_t>(state >> 56);
  }
  return image;
}

TEST(Png, PixelsSurviveTheRoundTrip) {
  for (auto [w, h] : {std::pair{1, 1}, std::pair{2, 3}, std::pair{97, 41}, std::pair{400, 300}}) {
    const headless::Image image = Pattern(w, h);
    Int32 width = 0;
    Int32 height = 0;
    const Bytes rgb = Decode(headless::EncodePng(image), &width, &height);
    EXPECT_EQ(width, w);
    EXPECT_EQ(height, h);
    EXPECT_TRUE(rgb == image.rgb) << w << " x " << h;
  }
  // Noise, which a deflate stream rather stores than compresses, in several blocks.
  const headless::Image noise = Noise(211, 157);
  Int32 w = 0;
  Int32 h = 0;
  EXPECT_TRUE(Decode(headless::EncodePng(noise), &w, &h) == noise.rgb);
  // A flat picture compresses to a small fraction of its size.
  const headless::Image flat = headless::MakeImage(300, 200, {200, 100, 50});
  const Bytes png = headless::EncodePng(flat);
  EXPECT_LT(png.size(), flat.rgb.size() / 50);
  EXPECT_TRUE(Decode(png, &w, &h) == flat.rgb);
}

TEST(Png, MalformedImagesAreRefused) {
  EXPECT_THROW(headless::EncodePng(headless::Image{}), std::invalid_argument);
  headless::Image shortBuffer = headless::MakeImage(4, 4, {});
  shortBuffer.rgb.pop_back();
  EXPECT_THROW(headless::EncodePng(shortBuffer), std::invalid_argument);
  // Over what the encoder can count, refused before its pixels are looked at.
  const Int32 side = 20000;
  ASSERT_GT((UInt64{side} * 3 + 1) * side, headless::kMaxPngRowBytes);
  headless::Image huge;
  huge.width = side;
  huge.height = side;
  try {
    headless::EncodePng(huge);
    ADD_FAILURE() << "encoded a picture over the limit";
  } catch (const std::invalid_argument& e) {
    EXPECT_NE(std::string(e.what()).find("20000 x 20000"), std::string::npos) << e.what();
  }
}

TEST(Png, WriteReplacesTheFileWholeAndNamesThePathOnFailure) {
  const std::filesystem::path dir = std::filesystem::temp_directory_path() / "tessamire_png_test";
  std::filesystem::create_directories(dir);
  const std::string path = (dir / "picture.png").string();
  {
    std::ofstream old(path);
    old << "old content";
  }
  const headless::Image image = Pattern(20, 10);
  headless::WritePng(path, image);
  Bytes written;
  {
    std::ifstream in(path, std::ios::binary);  // closed before the folder is removed
    written.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  EXPECT_TRUE(written == headless::EncodePng(image));
  EXPECT_FALSE(std::filesystem::exists(path + ".tmp"));

  const std::string missing = (dir / "no" / "such" / "folder" / "x.png").string();
  try {
    headless::WritePng(missing, image);
    ADD_FAILURE() << "wrote into a missing folder";
  } catch (const std::runtime_error& e) {
    EXPECT_NE(std::string(e.what()).find(missing), std::string::npos) << e.what();
  }
  // A bad image leaves the old file alone.
  EXPECT_THROW(headless::WritePng(path, headless::Image{}), std::invalid_argument);
  EXPECT_TRUE(std::filesystem::file_size(path) == written.size());
  std::filesystem::remove_all(dir);
}

}  // namespace
