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

// `v` turned by the smallest rotation that takes the direction of `from` to that of `to`: with
// f, t the two normalised, c = f x t and d = f . t, it is (v d + c x v) + c (c . v) / (1 + d).
// `v` comes back as it was when either direction is zero (or infinite) or they are equal; opposite
// directions turn it half round the axis perpendicular both to `from` and to the coordinate axis
// `from` is least along.
Vector3 Rotated(const Vector3& v, const Vector3& from, const Vector3& to);

}  // namespace headless
