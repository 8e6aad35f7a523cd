// The coordinates written to OBJ files: the same text as std::to_chars, byte for byte, for every
// kind of double.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <iterator>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "headless/files/shortest_number.h"

namespace {

// Written amid bytes that must stay as they were: the text, and whatever else is stored on the
// way, keep within the kShortestBytes the caller gives.
std::string Ours(double value) {
  constexpr std::size_t kGuard = 8;
  constexpr char kUnwritten = '#';
  std::array<char, kGuard + headless::kShortestBytes + kGuard> bytes;
  bytes.fill(kUnwritten);
  char* const at = bytes.data() + kGuard;
  const std::string text(at, headless::WriteShortest(at, value));
  const auto unwritten = [](char c) { return c == kUnwritten; };
  if (!std::all_of(bytes.data(), at, unwritten) ||
      !std::all_of(at + headless::kShortestBytes, bytes.data() + bytes.size(), unwritten))
    return text + " (and bytes outside its room)";
  return text;
}

std::string Library(double value) {
  char text[64];
  return std::string(text, std::to_chars(text, text + sizeof text, value).ptr);
}

TEST(ShortestNumbers, AreWhatToCharsWritesForEveryKindOfDouble) {
  using limits = std::numeric_limits<double>;
  const double kinds[] = {0.0,
                          -0.0,
                          limits::infinity(),
                          -limits::infinity(),
                          limits::quiet_NaN(),
                          limits::denorm_min(),
                          limits::min(),
                          limits::max(),
                          limits::lowest(),
                          limits::epsilon(),
                          1.0 / 3.0,
                          123456.789,
                          1.5e-4};
  std::vector<double> values(std::begin(kinds), std::end(kinds));
  // Where fixed and scientific forms change places: the powers of ten and their neighbours.
  for (int power = -330; power <= 310; ++power) {
    const double ten = std::pow(10.0, power);
    for (const double v : {ten, std::nextafter(ten, 0.0), std::nextafter(ten, limits::infinity()),
                           1.25 * ten, 9.999 * ten})
      values.push_back(v);
  }
  std::mt19937_64 random(20261209);
  for (int k = 0; k < 300000; ++k) {
    const std::uint64_t bits = random();
    values.push_back(std::bit_cast<double>(bits));  // any double at all
    // Coordinates as meshes hold them, of every length of digits.
    const double unit = static_cast<double>(bits >> 11) * 0x1p-53;
    values.push_back((unit * 4.0 - 2.0) * std::pow(10.0, static_cast<int>(bits % 13) - 6));
    values.push_back(static_cast<double>(static_cast<std::int64_t>(bits % 2000001) - 1000000) *
                     std::pow(10.0, -static_cast<int>(bits % 19)));
  }
  int wrong = 0;
  for (const double v : values) {
    const std::string ours = Ours(v), library = Library(v);
    if (ours != library && ++wrong <= 10)
      ADD_FAILURE() << "bits " << std::bit_cast<std::uint64_t>(v) << ": " << ours << " for "
                    << library;
    EXPECT_LE(ours.size(), headless::kShortestBytes);
  }
  EXPECT_EQ(wrong, 0) << "of " << values.size();
}

// Every count of digits at every place of the point: fixed with zeros after the point, with the
// point among the digits, scientific with one digit and with many, each sign.
TEST(ShortestNumbers, AreWhatToCharsWritesForEveryCountOfDigitsAtEveryPlace) {
  std::mt19937_64 random(20261210);
  int wrong = 0, tried = 0;
  for (int count = 1; count <= 17; ++count) {
    for (int power = -330; power <= 20; ++power) {
      // 8 of each: the nearest double to 17 digits often has 16, and every place should see 17.
      for (int sample = 0; sample < 8; ++sample) {
        std::string digits;
        for (int k = 0; k < count; ++k) {
          const bool end = k == 0 || k == count - 1;  // no leading or trailing zero
          digits += static_cast<char>('0' + (end ? 1 + random() % 9 : random() % 10));
        }
        const std::string text = digits + "e" + std::to_string(power - count + 1);
        double value = 0.0;
        std::from_chars(text.data(), text.data() + text.size(), value);
        for (const double v : {value, -value}) {
          ++tried;
          const std::string ours = Ours(v), library = Library(v);
          if (ours != library && ++wrong <= 10)
            ADD_FAILURE() << text << ": " << ours << " for " << library;
        }
      }
    }
  }
  EXPECT_EQ(wrong, 0) << "of " << tried;
}

}  // namespace
