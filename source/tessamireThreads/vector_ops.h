// Componentwise vector arithmetic for the core. Every result rounds exactly as written here (the
// plug-in is built without contraction), which the bit-identical runs rely on.
#pragma once

#include <cmath>

#include "host/types.h"

namespace vmath {

inline Vector3 Add(const Vector3& a, const Vector3& b) {
  return {a.x + b.x, a.y + b.y, a.z + b.z};
}
inline Vector3 Sub(const Vector3& a, const Vector3& b) {
  return {a.x - b.x, a.y - b.y, a.z - b.z};
}
inline Vector3 Scale(const Vector3& v, Float s) {
  return {v.x * s, v.y * s, v.z * s};
}
inline Vector3 Cross(const Vector3& a, const Vector3& b) {
  return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}
// (a.x b.x + a.y b.y) + a.z b.z.
inline Float Dot(const Vector3& a, const Vector3& b) {
  return a.x * b.x + a.y * b.y + a.z * b.z;
}
// sqrt((x² + y²) + z²).
inline Float Length(const Vector3& v) {
  return std::sqrt(Dot(v, v));
}
// The core's normalising rule: multiplied by 1/L, or by 0 when L is exactly 0 (a zero vector
// stays zero; no tolerance).
inline Vector3 Normalized(const Vector3& v) {
  const Float length = Length(v);
  return Scale(v, length == 0.0 ? 0.0 : 1.0 / length);
}

}  // namespace vmath
