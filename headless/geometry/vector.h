// Vector arithmetic for the headless host, its pictures and its jobs: the shared componentwise
// operations, and the headless host's own rule for normalising.
#pragma once

#include "host/abi/vector_math.h"

namespace headless {

using namespace vector_math;

// a multiplied by 1 / |a|; the zero vector when |a| is not positive (zero or NaN).
inline Vector3 Normalized(const Vector3& a) {
  const Float len = Length(a);
  return len > 0.0 ? Scale(a, 1.0 / len) : Vector3{};
}

}  // namespace headless
