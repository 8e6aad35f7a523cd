#include "headless/files/shortest_number.h"

#include <charconv>

#ifdef TESSAMIRE_HAVE_FMT
// The search's table whole (10 KiB) rather than rebuilt for each number: a fifth faster.
#define FMT_USE_FULL_CACHE_DRAGONBOX 1
#include <fmt/format.h>

#include <array>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>
#endif

namespace headless {

#ifdef TESSAMIRE_HAVE_FMT
namespace {

// The shortest digits come from the same search std::to_chars makes (the shortest decimal that
// rounds back to the value and, of those, the nearest, ties to even); only the layout is written
// here, and the cases it would gain nothing on are std::to_chars's own.

constexpr char kPairs[] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";

constexpr auto kPowersOfTen = [] {
  std::array<std::uint64_t, 20> powers{1};
  for (std::size_t k = 1; k < powers.size(); ++k) powers[k] = powers[k - 1] * 10;
  return powers;
}();

int DigitCount(std::uint64_t v) {
  const int estimate = (std::bit_width(v) * 1233) >> 12;  // 1233 / 4096 ~ log10(2)
  return estimate + (v >= kPowersOfTen[estimate]);
}

void PutPair(char* at, std::uint32_t v) {
  std::memcpy(at, kPairs + 2 * v, 2);
}

// The 8 digits of v < 10^8, leading zeros included, ending at `end`.
void PutEight(char* end, std::uint32_t v) {
  const std::uint32_t high = v / 10000, low = v % 10000;
  PutPair(end - 2, low % 100);
  PutPair(end - 4, low / 100);
  PutPair(end - 6, high % 100);
  PutPair(end - 8, high / 100);
}

// The digits of v < 10^8, no leading zero, ending at `end`.
void PutUpToEight(char* end, std::uint32_t v) {
  for (; v >= 100; v /= 100) {
    end -= 2;
    PutPair(end, v % 100);
  }
  if (v >= 10)
    PutPair(end - 2, v);
  else
    end[-1] = static_cast<char>('0' + v);
}

// The digits of v, no leading zero, ending at `end`.
void PutDigits(char* end, std::uint64_t v) {
  constexpr std::uint64_t kEight = 100000000;
  if (v < kEight) return PutUpToEight(end, static_cast<std::uint32_t>(v));
  const std::uint64_t high = v / kEight;
  PutEight(end, static_cast<std::uint32_t>(v - high * kEight));
  if (high < kEight) return PutUpToEight(end - 8, static_cast<std::uint32_t>(high));
  const std::uint64_t top = high / kEight;
  PutEight(end - 8, static_cast<std::uint32_t>(high - top * kEight));
  PutUpToEight(end - 16, static_cast<std::uint32_t>(top));
}

}  // namespace

char* WriteShortest(char* at, Float value) {
  if (!std::isfinite(value) || value == 0.0)
    return std::to_chars(at, at + kShortestBytes, value).ptr;
  // value = digits x 10^exponent, the digits without trailing zeros. The library's search sits in
  // its detail namespace; it is the one its own shortest output uses.
  const auto decimal = fmt::detail::dragonbox::to_decimal(value);
  const int exponent = decimal.exponent;
  // Whole numbers are rare in meshes; their fixed form pads with zeros.
  if (exponent >= 0) return std::to_chars(at, at + kShortestBytes, value).ptr;
  const std::uint64_t digits = decimal.significand;
  const int count = DigitCount(digits);
  const int power = exponent + count - 1;         // of the scientific form d.ddd
  const int powerDigits = power <= -100 ? 3 : 2;  // a fraction's power is below 100
  const int scientificLength = count + (count > 1) + 2 + powerDigits;
  const int fixedLength = count > -exponent ? count + 1 : 2 - exponent;
  *at = '-';
  at += std::signbit(value);
  if (fixedLength <= scientificLength) {
    if (count > -exponent) {  // ddd.ddd: the digits one place on, the whole part moved back
      const int whole = count + exponent;
      PutDigits(at + 1 + count, digits);
      for (int k = 0; k < whole; ++k) at[k] = at[k + 1];
      at[whole] = '.';
      return at + count + 1;
    }
    // 0.000ddd, of at most 3 zeros: the fixed form is no longer than the scientific one.
    std::memcpy(at, "0.000000", 8);
    PutDigits(at + 2 - exponent, digits);
    return at + 2 - exponent;
  }
  PutDigits(at + 1 + count, digits);  // d.ddde-XX
  at[0] = at[1];
  at[1] = '.';
  at += count + (count > 1);
  *at++ = 'e';
  *at++ = power < 0 ? '-' : '+';
  int magnitude = power < 0 ? -power : power;
  if (powerDigits == 3) {
    *at++ = static_cast<char>('0' + magnitude / 100);
    magnitude %= 100;
  }
  PutPair(at, static_cast<std::uint32_t>(magnitude));
  return at + 2;
}

#else

char* WriteShortest(char* at, Float value) {
  return std::to_chars(at, at + kShortestBytes, value).ptr;
}

#endif

std::string ShortestNumber(Float value) {
  char buffer[kShortestBytes];
  return std::string(buffer, WriteShortest(buffer, value));
}

}  // namespace headless
