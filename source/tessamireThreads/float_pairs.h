// Two float64 lanes in one SSE2 register, for loops that run the same rule on two points at once.
// Every operation here is one IEEE operation per lane (add, subtract, multiply, divide, square
// root) or a bitwise blend, so each lane's bits equal the one-point code's. Available when the
// compiler targets SSE2 (every x86-64 target); TESSAMIRE_FLOAT_PAIRS tells.
#pragma once

#if defined(__SSE2__)
#define TESSAMIRE_FLOAT_PAIRS 1
#include <emmintrin.h>

#include "host/abi/types.h"

namespace pairs {

// The layout of __m128d, without its aliasing attribute, which a template argument cannot carry.
// The compiler's +, -, * and / on it are lane-wise IEEE operations.
typedef Float Pair __attribute__((vector_size(16)));

inline Pair Both(Float a, Float b) {
  return _mm_set_pd(b, a);
}  // lane 0 = a, lane 1 = b
inline Pair Same(Float v) {
  return _mm_set1_pd(v);
}
inline Float Lane0(Pair v) {
  return _mm_cvtsd_f64(v);
}
inline Float Lane1(Pair v) {
  return _mm_cvtsd_f64(_mm_unpackhi_pd(v, v));
}
inline Pair Sqrt(Pair v) {
  return _mm_sqrt_pd(v);
}
// All bits set in the lanes that are true.
inline Pair Mask(bool lane0, bool lane1) {
  return _mm_castsi128_pd(_mm_set_epi64x(lane1 ? -1 : 0, lane0 ? -1 : 0));
}
inline Pair EqualMask(Pair a, Pair b) {
  return _mm_cmpeq_pd(a, b);
}
// `yes` in the lanes of `mask`, `no` elsewhere, bit for bit.
inline Pair Blend(Pair mask, Pair yes, Pair no) {
  return _mm_or_pd(_mm_and_pd(mask, yes), _mm_andnot_pd(mask, no));
}

struct Vec {
  Pair x, y, z;
};

inline Vec Both(const Vector3& a, const Vector3& b) {
  return {Both(a.x, b.x), Both(a.y, b.y), Both(a.z, b.z)};
}
inline Vector3 Lane0(const Vec& v) {
  return {Lane0(v.x), Lane0(v.y), Lane0(v.z)};
}
inline Vector3 Lane1(const Vec& v) {
  return {Lane1(v.x), Lane1(v.y), Lane1(v.z)};
}

}  // namespace pairs
#endif
