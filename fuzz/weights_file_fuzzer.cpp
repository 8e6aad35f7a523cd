// The weight-file reader, for a mesh of as many points as the input has lines with a word on
// them (so that well-formed inputs read to the end). Weights that read must write back, one
// per line in the shortest form, to the same float32 bits.
#include <charconv>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz/fuzz_check.h"
#include "headless/io/weights_file.h"

namespace {

std::size_t LinesWithAWord(std::string_view text) {
  std::size_t count = 0;
  bool word = false;
  for (char c : text) {
    if (c == '\n') {
      count += word ? 1 : 0;
      word = false;
    } else if (c != ' ' && c != '\t' && c != '\r') {
      word = true;
    }
  }
  return count + (word ? 1 : 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  std::vector<Float32> weights;
  try {
    weights = headless::ParseWeights(text, "input", LinesWithAWord(text), "the mesh");
  } catch (const std::runtime_error&) {
    return 0;
  }
  std::string written;
  for (Float32 w : weights) {
    char buffer[32];
    const auto [end, error] = std::to_chars(buffer, buffer + sizeof buffer, w);
    fuzz::Check(error == std::errc(), "a weight has a shortest form");
    written.append(buffer, end);
    written += '\n';
  }
  const std::vector<Float32> read =
      headless::ParseWeights(written, "written", weights.size(), "the mesh");
  fuzz::Check(read.size() == weights.size() &&
                  (weights.empty() ||
                   std::memcmp(read.data(), weights.data(), weights.size() * sizeof(Float32)) == 0),
              "weights write, read");
  return 0;
}
