#include "cli/sequence.h"

#include <charconv>
#include <cmath>
#include <stdexcept>

#include "headless/batch/frame_sequence.h"

namespace cli {

bool ParseFps(const std::string& text, Float& fps) {
  Float value = 0.0;
  const char* end = text.data() + text.size();
  const auto [stop, error] = std::from_chars(text.data(), end, value);
  if (error != std::errc() || stop != end || text.empty() || !std::isfinite(value) ||
      !(value > 0.0))
    return false;
  fps = value;
  return true;
}

bool ParseFrameRange(const std::string& text, Int32& first, Int32& last) {
  auto parse = [](const std::string& word, Int32& out) {
    const char* end = word.data() + word.size();
    const auto [stop, error] = std::from_chars(word.data(), end, out);
    return error == std::errc() && stop == end && !word.empty();
  };
  const size_t colon = text.find(':');
  if (colon == std::string::npos) {
    if (!parse(text, first)) return false;
    last = first;
    return true;
  }
  return parse(text.substr(0, colon), first) && parse(text.substr(colon + 1), last) &&
         first <= last;
}

void ParseSequenceRange(const std::string& text, Int32& first, Int32& last) {
  if (!ParseFrameRange(text, first, last) ||
      static_cast<Int64>(last) - first >= headless::kMaxSequenceFrames)
    throw std::invalid_argument("--frames wants A:B with whole numbers A <= B (at most " +
                                std::to_string(headless::kMaxSequenceFrames) + " frames), not \"" +
                                text + "\"");
}

}  // namespace cli
