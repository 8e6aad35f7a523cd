// What the fuzz targets share: a failed round trip stops the run as a crash does, with the
// target's own message, so that libFuzzer keeps the input that caused it.
#pragma once

#include <cstdio>
#include <cstdlib>

namespace fuzz {

inline void Check(bool holds, const char* what) {
  if (holds) return;
  std::fprintf(stderr, "round trip broken: %s\n", what);
  std::abort();
}

}  // namespace fuzz
