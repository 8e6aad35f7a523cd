// Numbers written in the shortest form that reads back to the same double, byte for byte what
// std::to_chars writes (fixed or scientific notation, whichever is shorter, fixed on a tie), only
// faster where it matters: the coordinates of every frame a batch writes.
#pragma once

#include <cstddef>
#include <string>

#include "host/abi/types.h"

namespace headless {

// The longest such text: "-2.2250738585072014e-308".
inline constexpr std::size_t kShortestBytes = 24;

// Writes `value` at `at`, which has room for kShortestBytes, and returns the text's end.
char* WriteShortest(char* at, Float value);
// The same text as a string, e.g. for a message.
std::string ShortestNumber(Float value);

}  // namespace headless
