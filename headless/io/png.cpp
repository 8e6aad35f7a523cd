#include "headless/io/png.h"

#include "headless/files/output_file.h"

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <system_error>

namespace headless {
namespace {

std::array<UInt32, 256> MakeCrcTable() {
  std::array<UInt32, 256> table{};
  for (UInt32 n = 0; n < 256; ++n) {
    UInt32 c = n;
    for (int k = 0; k < 8; ++k) c = (c & 1u) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
    table[n] = c;
  }
  return table;
}

const std::array<UInt32, 256> kCrcTable = MakeCrcTable();

UInt32 CrcUpdate(UInt32 crc, const std::uint8_t* data, size_t size) {
  for (size_t i = 0; i < size; ++i) crc = kCrcTable[(crc ^ data[i]) & 0xFFu] ^ (crc >> 8);
  return crc;
}

void PutBigEndian32(std::vector<std::uint8_t>& out, UInt32 v) {
  out.push_back(static_cast<std::uint8_t>(v >> 24));
  out.push_back(static_cast<std::uint8_t>(v >> 16));
  out.push_back(static_cast<std::uint8_t>(v >> 8));
  out.push_back(static_cast<std::uint8_t>(v));
}

void PutChunk(std::vector<std::uint8_t>& out, const char type[4],
              const std::vector<std::uint8_t>& data) {
  PutBigEndian32(out, static_cast<UInt32>(data.size()));
  const size_t typeAt = out.size();
  out.insert(out.end(), type, type + 4);
  out.insert(out.end(), data.begin(), data.end());
  PutBigEndian32(out, Crc32(out.data() + typeAt, out.size() - typeAt));
}

// --- row filters ---

int Paeth(int a, int b, int c) {
  const int p = a + b - c;
  const int pa = std::abs(p - a);
  const int pb = std::abs(p - b);
  const int pc = std::abs(p - c);
  if (pa <= pb && pa <= pc) return a;
  return pb <= pc ? b : c;
}

// Filters every row of the image (3 bytes per pixel) into filter byte + row bytes.
std::vector<std::uint8_t> FilterRows(const Image& image) {
  const size_t stride = static_cast<size_t>(image.width) * 3;
  std::vector<std::uint8_t> out;
  out.reserve((stride + 1) * static_cast<size_t>(image.height));
  std::vector<std::uint8_t> zero(stride, 0);
  std::array<std::vector<std::uint8_t>, 5> trial;
  for (auto& t : trial) t.resize(stride);
  for (Int32 y = 0; y < image.height; ++y) {
    const std::uint8_t* row = image.rgb.data() + stride * static_cast<size_t>(y);
    const std::uint8_t* up = y > 0 ? row - stride : zero.data();
    UInt64 bestCost = ~0ull;
    int best = 0;
    for (int f = 0; f < 5; ++f) {
      UInt64 cost = 0;
      for (size_t i = 0; i < stride; ++i) {
        const int a = i >= 3 ? row[i - 3] : 0;
        const int b = up[i];
        const int c = i >= 3 ? up[i - 3] : 0;
        int predicted = 0;
        if (f == 1) predicted = a;
        if (f == 2) predicted = b;
        if (f == 3) predicted = (a + b) / 2;
        if (f == 4) predicted = Paeth(a, b, c);
        const std::uint8_t v = static_cast<std::uint8_t>(row[i] - predicted);
        trial[f][i] = v;
        cost += v < 128 ? v : 256 - v;
      }
      if (cost < bestCost) {
        bestCost = cost;
        best = f;
      }
    }
    out.push_back(static_cast<std::uint8_t>(best));
    out.insert(out.end(), trial[best].begin(), trial[best].end());
  }
  return out;
}

// --- deflate, fixed Huffman codes ---

class BitWriter {
 public:
  explicit BitWriter(std::vector<std::uint8_t>& out) : out_(out) {}
  // Writes the low `count` bits of `bits`, least significant first.
  void Put(UInt32 bits, int count) {
    for (int i = 0; i < count; ++i) {
      if ((bits >> i) & 1u) current_ |= static_cast<std::uint8_t>(1u << used_);
      if (++used_ == 8) Flush();
    }
  }
  // Huffman codes go most significant bit first.
  void PutCode(UInt32 code, int length) {
    for (int i = length - 1; i >= 0; --i) Put((code >> i) & 1u, 1);
  }
  void Finish() {
    if (used_ > 0) Flush();
  }

 private:
  void Flush() {
    out_.push_back(current_);
    current_ = 0;
    used_ = 0;
  }
  std::vector<std::uint8_t>& out_;
  std::uint8_t current_ = 0;
  int used_ = 0;
};

void PutLiteralOrLength(BitWriter& w, int symbol) {
  if (symbol < 144)
    w.PutCode(0x30 + symbol, 8);
  else if (symbol < 256)
    w.PutCode(0x190 + (symbol - 144), 9);
  else if (symbol < 280)
    w.PutCode(symbol - 256, 7);
  else
    w.PutCode(0xC0 + (symbol - 280), 8);
}

constexpr int kLengthBase[29] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                 31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
constexpr int kLengthExtra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                  2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
constexpr int kDistanceBase[30] = {1,    2,    3,    4,    5,    7,    9,    13,    17,    25,
                                   33,   49,   65,   97,   129,  193,  257,  385,   513,   769,
                                   1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
constexpr int kDistanceExtra[30] = {0, 0, 0, 0, 1, 1, 2, 2,  3,  3,  4,  4,  5,  5,  6,
                                    6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};

void PutMatch(BitWriter& w, int length, int distance) {
  int l = 28;
  while (kLengthBase[l] > length) --l;
  PutLiteralOrLength(w, 257 + l);
  w.Put(static_cast<UInt32>(length - kLengthBase[l]), kLengthExtra[l]);
  int d = 29;
  while (kDistanceBase[d] > distance) --d;
  w.PutCode(static_cast<UInt32>(d), 5);
  w.Put(static_cast<UInt32>(distance - kDistanceBase[d]), kDistanceExtra[d]);
}

constexpr int kMinMatch = 3;
constexpr int kMaxMatch = 258;
constexpr int kWindow = 32768;
constexpr int kHashBits = 15;
constexpr int kMaxChain = 48;

UInt32 Hash3(const std::uint8_t* p) {
  const UInt32 v = (UInt32{p[0]} << 16) | (UInt32{p[1]} << 8) | p[2];
  return (v * 2654435761u) >> (32 - kHashBits);
}

// One final fixed-Huffman block over greedy LZ77 matches found through hash chains.
std::vector<std::uint8_t> Deflate(const std::vector<std::uint8_t>& data) {
  std::vector<std::uint8_t> out;
  BitWriter w(out);
  w.Put(1, 1);  // final block
  w.Put(1, 2);  // fixed Huffman codes
  const size_t n = data.size();
  std::vector<Int64> head(size_t{1} << kHashBits, -1);
  std::vector<Int64> previous(kWindow, -1);
  auto insert = [&](size_t pos) {
    if (pos + kMinMatch > n) return;
    const UInt32 h = Hash3(&data[pos]);
    previous[pos % kWindow] = head[h];
    head[h] = static_cast<Int64>(pos);
  };
  size_t pos = 0;
  while (pos < n) {
    int bestLength = 0;
    int bestDistance = 0;
    if (pos + kMinMatch <= n) {
      const size_t limit = std::min<size_t>(kMaxMatch, n - pos);
      Int64 candidate = head[Hash3(&data[pos])];
      for (int chain = 0; chain < kMaxChain && candidate >= 0; ++chain) {
        const size_t c = static_cast<size_t>(candidate);
        if (pos - c > kWindow - 1) break;
        size_t length = 0;
        while (length < limit && data[c + length] == data[pos + length]) ++length;
        if (static_cast<int>(length) > bestLength) {
          bestLength = static_cast<int>(length);
          bestDistance = static_cast<int>(pos - c);
          if (length == limit) break;
        }
        candidate = previous[c % kWindow];
        // A chain entry older than its slot's current occupant has been overwritten.
        if (candidate >= static_cast<Int64>(c)) break;
      }
    }
    if (bestLength >= kMinMatch) {
      PutMatch(w, bestLength, bestDistance);
      for (int k = 0; k < bestLength; ++k) insert(pos + static_cast<size_t>(k));
      pos += static_cast<size_t>(bestLength);
    } else {
      PutLiteralOrLength(w, data[pos]);
      insert(pos);
      ++pos;
    }
  }
  PutLiteralOrLength(w, 256);  // end of block
  w.Finish();
  return out;
}

}  // namespace

UInt32 Crc32(const std::uint8_t* data, size_t size) {
  return CrcUpdate(0xFFFFFFFFu, data, size) ^ 0xFFFFFFFFu;
}

UInt32 Adler32(const std::uint8_t* data, size_t size) {
  UInt32 a = 1;
  UInt32 b = 0;
  for (size_t i = 0; i < size; ++i) {
    a = (a + data[i]) % 65521u;
    b = (b + a) % 65521u;
  }
  return (b << 16) | a;
}

std::vector<std::uint8_t> EncodePng(const Image& image) {
  if (image.width < 1 || image.height < 1)
    throw std::invalid_argument("EncodePng: the image is empty");
  const UInt64 expected = static_cast<UInt64>(image.width) * static_cast<UInt64>(image.height) * 3;
  if (image.rgb.size() != expected)
    throw std::invalid_argument("EncodePng: the image holds " + std::to_string(image.rgb.size()) +
                                " bytes, " + std::to_string(image.width) + " x " +
                                std::to_string(image.height) + " RGB needs " +
                                std::to_string(expected));
  const std::vector<std::uint8_t> filtered = FilterRows(image);

  std::vector<std::uint8_t> zlib{0x78, 0x01};  // deflate, 32 KiB window, no dictionary
  const std::vector<std::uint8_t> compressed = Deflate(filtered);
  zlib.insert(zlib.end(), compressed.begin(), compressed.end());
  PutBigEndian32(zlib, Adler32(filtered.data(), filtered.size()));

  std::vector<std::uint8_t> png{0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  std::vector<std::uint8_t> header;
  PutBigEndian32(header, static_cast<UInt32>(image.width));
  PutBigEndian32(header, static_cast<UInt32>(image.height));
  header.insert(header.end(), {8, 2, 0, 0, 0});  // 8 bits, RGB, deflate, adaptive filters, none
  PutChunk(png, "IHDR", header);
  PutChunk(png, "IDAT", zlib);
  PutChunk(png, "IEND", {});
  return png;
}

void WritePng(const std::string& path, const Image& image) {
  WriteFileAtomically(path, std::span<const std::uint8_t>(EncodePng(image)));
}

}  // namespace headless
