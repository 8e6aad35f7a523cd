// Componentwise arithmetic on the ABI's Vector3, shared by the plug-in's core and the headless
// host. Every result rounds exactly as written here (both are built without contraction) and
// results are compared bit for bit, so an operation's order of evaluation is part of its
// contract. How a vector is normalised is each side's own rule, so it is not here.
#pragma once

#include <cmath>

#include "host/abi/types.h"

namespace vector_math {

inline Vector3 Add(const Vector3& a, const Vector3& b) {
  return {a.x + b.x, a.y + b.y, a.z + b.z};
}
inline Vector3 Sub(const Vector3& a, const Vector3& b) {
  return {a.x - b.x, a.y - b.y, a.z - b.z};
}
inline Vector3 Scale(const Vector3& a, Float s) {
  return {a.x * s, a.y * s, a.z * s};
}
// Each component divided by s (not multiplied by 1 / s, which rounds differently).
inline Vector3 Divide(const Vector3& a, Float s) {
  return {a.x / s, a.y / s, a.z / s};
}
inline Vector3 Cross(const Vector3& a, const Vector3& b) {
  return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}
// (a.x b.x + a.y b.y) + a.z b.z.
inline Float Dot(const Vector3& a, const Vector3& b) {
  return a.x * b.x + a.y * b.y + a.z * b.z;
}
// sqrt((x² + y²) + z²).
inline Float Length(const Vector3& a) {
  return std::sqrt(Dot(a, a));
}

}  // namespace vector_math
