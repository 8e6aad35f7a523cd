#include "source/tessamireThreads/frame_lanes.h"

#include <cmath>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

// One formula for a lane type T (Float, or a pair of Float); every operation as in vmath.
template <typename T>
struct V3 {
  T x, y, z;
};

template <typename T>
inline V3<T> Add(const V3<T>& a, const V3<T>& b) {
  return {a.x + b.x, a.y + b.y, a.z + b.z};
}
template <typename T>
inline V3<T> Sub(const V3<T>& a, const V3<T>& b) {
  return {a.x - b.x, a.y - b.y, a.z - b.z};
}
template <typename T>
inline V3<T> Scale(const V3<T>& v, T s) {
  return {v.x * s, v.y * s, v.z * s};
}
template <typename T>
inline V3<T> Cross(const V3<T>& a, const V3<T>& b) {
  return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}

inline Float Sqrt(Float v) {
  return std::sqrt(v);
}
// 1/L, or 0 when L is exactly 0.
inline Float InverseLength(Float length) {
  return length == 0.0 ? 0.0 : 1.0 / length;
}

inline Float Select(Bool keep, Float value) {
  return keep ? value : 0.0;
}

// The pair overloads are declared before the formulas below so that their calls find them.
#if defined(__SSE2__)
// Two float64 lanes; the same layout as __m128d, without its aliasing attribute, which a template
// argument cannot carry.
typedef Float Pair __attribute__((vector_size(16)));

inline Pair Sqrt(Pair v) {
  return _mm_sqrt_pd(v);
}
inline Pair InverseLength(Pair length) {
  const Pair zero = _mm_setzero_pd();
  // 1/L in every lane, then 0 where L is exactly 0 (the division's result there is discarded).
  const Pair inverse = _mm_div_pd(_mm_set1_pd(1.0), length);
  return _mm_andnot_pd(_mm_cmpeq_pd(length, zero), inverse);
}
inline Pair Select(Pair keepMask, Pair value) {
  return _mm_and_pd(keepMask, value);
}

inline Pair Lanes(Float a, Float b) {
  return _mm_set_pd(b, a);
}
inline V3<Pair> Lanes(const Vector3& a, const Vector3& b) {
  return {Lanes(a.x, b.x), Lanes(a.y, b.y), Lanes(a.z, b.z)};
}
inline Float Low(Pair v) {
  return _mm_cvtsd_f64(v);
}
inline Float High(Pair v) {
  return _mm_cvtsd_f64(_mm_unpackhi_pd(v, v));
}

// __m128d arithmetic through the compiler's vector operators is lane-wise IEEE +, -, *.
#endif

template <typename T>
inline V3<T> Normalized(const V3<T>& v) {
  const T length = Sqrt(v.x * v.x + v.y * v.y + v.z * v.z);
  return Scale(v, InverseLength(length));
}

template <typename T, typename Mask>
inline void Axes(const V3<T>& normalSum, T inverseCount, const V3<T>& here, const V3<T>& first,
                 const V3<T>& second, Mask hasPair, V3<T>& axis1, V3<T>& axis2, V3<T>& axis3) {
  axis3 = Normalized(Scale(normalSum, inverseCount));
  const V3<T> tangent = Normalized(Add(Sub(here, second), Sub(first, here)));
  const V3<T> a1 = Normalized(Cross(axis3, tangent));
  const V3<T> a2 = Cross(axis3, a1);
  // Without a pair both axes are zero, as the one-point rule leaves them.
  axis1 = {Select(hasPair, a1.x), Select(hasPair, a1.y), Select(hasPair, a1.z)};
  axis2 = {Select(hasPair, a2.x), Select(hasPair, a2.y), Select(hasPair, a2.z)};
  axis1 = Normalized(axis1);
  axis2 = Normalized(axis2);
  axis3 = Normalized(axis3);
}

V3<Float> Of(const Vector3& v) {
  return {v.x, v.y, v.z};
}
Vector3 ToVector(const V3<Float>& v) {
  return {v.x, v.y, v.z};
}

}  // namespace

FrameAxes FrameAxesOf(const FrameInput& in) {
  V3<Float> axis1, axis2, axis3;
  Axes<Float, Bool>(Of(in.normalSum), in.inverseCount, Of(in.here), Of(in.first), Of(in.second),
                    in.hasPair, axis1, axis2, axis3);
  return {ToVector(axis1), ToVector(axis2), ToVector(axis3)};
}

void FrameAxesOfPair(const FrameInput& a, const FrameInput& b, FrameAxes& outA, FrameAxes& outB) {
#if defined(__SSE2__)
  const Pair keep = _mm_castsi128_pd(
      _mm_set_epi64x(b.hasPair ? -1 : 0, a.hasPair ? -1 : 0));  // high lane b, low lane a
  V3<Pair> axis1, axis2, axis3;
  Axes<Pair, Pair>(Lanes(a.normalSum, b.normalSum), Lanes(a.inverseCount, b.inverseCount),
                   Lanes(a.here, b.here), Lanes(a.first, b.first), Lanes(a.second, b.second), keep,
                   axis1, axis2, axis3);
  outA = {{Low(axis1.x), Low(axis1.y), Low(axis1.z)},
          {Low(axis2.x), Low(axis2.y), Low(axis2.z)},
          {Low(axis3.x), Low(axis3.y), Low(axis3.z)}};
  outB = {{High(axis1.x), High(axis1.y), High(axis1.z)},
          {High(axis2.x), High(axis2.y), High(axis2.z)},
          {High(axis3.x), High(axis3.y), High(axis3.z)}};
#else
  outA = FrameAxesOf(a);
  outB = FrameAxesOf(b);
#endif
}
