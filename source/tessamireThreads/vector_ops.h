// Vector arithmetic for the core: the shared componentwise operations, and the core's own rule
// for normalising.
#pragma once

#include "host/abi/vector_math.h"

namespace vmath {

using namespace vector_math;

// Multiplied by 1/L, or by 0 when L is exactly 0 (a zero vector stays zero; no tolerance).
inline Vector3 Normalized(const Vector3& v) {
  const Float length = Length(v);
  return Scale(v, length == 0.0 ? 0.0 : 1.0 / length);
}

}  // namespace vmath
