#include "headless/io/weights_file.h"

#include "headless/files/input_file.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <sstream>
#include <stdexcept>

namespace headless {

namespace {

[[noreturn]] void Fail(const std::string& path, size_t line, const std::string& what) {
  throw std::runtime_error(path + ":" + std::to_string(line) + ": " + what);
}

std::string Trimmed(const std::string& text) {
  const char* space = " \t\r";
  const size_t first = text.find_first_not_of(space);
  if (first == std::string::npos) return "";
  return text.substr(first, text.find_last_not_of(space) - first + 1);
}

}  // namespace

std::vector<Float32> ReadWeightsFile(const std::string& path, size_t pointCount,
                                     const std::string& meshName, bool unitRange) {
  std::string bytes;
  try {
    bytes = ReadTextInput(path, kMaxWeightLineBytes);
  } catch (const std::exception& e) {
    Fail(path, 0, e.what());
  }
  return ParseWeights(bytes, path, pointCount, meshName, unitRange);
}

std::vector<Float32> ParseWeights(std::string_view text, const std::string& path, size_t pointCount,
                                  const std::string& meshName, bool unitRange) {
  const size_t zero = text.find('\0');
  if (zero != std::string_view::npos)
    Fail(path, static_cast<size_t>(std::count(text.begin(), text.begin() + zero, '\n')) + 1,
         "not a text file (byte " + std::to_string(zero) + " is zero): not a weight file");
  std::istringstream in{std::string(text)};
  std::vector<Float32> weights;
  std::string lineText;
  size_t line = 0;
  size_t blankFrom = 0;  // first line of the current run of blank lines, 0 when none
  while (std::getline(in, lineText)) {
    ++line;
    if (lineText.size() > kMaxWeightLineBytes)
      Fail(path, line, "the line is longer than " + std::to_string(kMaxWeightLineBytes) + " bytes");
    const std::string number = Trimmed(lineText);
    if (number.empty()) {
      if (blankFrom == 0) blankFrom = line;
      continue;
    }
    if (blankFrom != 0) Fail(path, blankFrom, "blank line, expected one number per line");
    if (weights.size() == pointCount)
      Fail(path, line,
           "more weights than the " + std::to_string(pointCount) + " points of " + meshName);
    // from_chars takes no leading '+'.
    const size_t start = number[0] == '+' ? 1 : 0;
    Float32 value = 0.0f;
    const char* begin = number.data() + start;
    const char* end = number.data() + number.size();
    const auto [stop, error] = std::from_chars(begin, end, value);
    if (error == std::errc::result_out_of_range)
      Fail(path, line, "\"" + number + "\" is out of the float32 range");
    if (error != std::errc() || stop != end || start == number.size())
      Fail(path, line, "\"" + number + "\" is not a number");
    if (!std::isfinite(value)) Fail(path, line, "\"" + number + "\" is not a finite number");
    if (unitRange && !(value >= 0.0f && value <= 1.0f))
      Fail(path, line, "\"" + number + "\" is outside the weights' range 0 to 1");
    weights.push_back(value);
  }
  if (in.bad()) Fail(path, line, "read error");
  if (weights.size() != pointCount)
    Fail(path, line,
         "the file ends after " + std::to_string(weights.size()) + " weights, but " + meshName +
             " has " + std::to_string(pointCount) + " points");
  return weights;
}

}  // namespace headless
