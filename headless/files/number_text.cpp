#include "headless/files/number_text.h"

#include <charconv>
#include <cmath>

namespace headless {

bool ParseInteger(const std::string& text, Int64& out) {
  const char* begin = text.data() + (text.size() > 1 && text[0] == '+' ? 1 : 0);
  const char* end = text.data() + text.size();
  const auto [stop, error] = std::from_chars(begin, end, out);
  return error == std::errc() && stop == end && begin != end;
}

bool ParseNumber(const std::string& text, Float& out) {
  const char* begin = text.data() + (text.size() > 1 && text[0] == '+' ? 1 : 0);
  const char* end = text.data() + text.size();
  Float x = 0.0;
  const auto [stop, error] = std::from_chars(begin, end, x);
  if (error != std::errc() || stop != end || begin == end || !std::isfinite(x)) return false;
  out = x;
  return true;
}

}  // namespace headless
