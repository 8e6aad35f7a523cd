// Built with 256-bit float64 lanes enabled for this unit alone: nothing here may be called unless
// the processor has them (WideLanesAvailable), and nothing with external linkage but the two
// entry points is defined here, so no other unit can pick up code built for those lanes.
#include "source/tessamireThreads/wide_lanes.h"

#if defined(__AVX__)
#include <immintrin.h>

namespace {

// Four lanes; the compiler's +, -, * and / on the register are lane-wise IEEE operations.
struct Wide {
  __m256d v;
};
inline Wide operator+(Wide a, Wide b) {
  return {_mm256_add_pd(a.v, b.v)};
}
inline Wide operator-(Wide a, Wide b) {
  return {_mm256_sub_pd(a.v, b.v)};
}
inline Wide operator*(Wide a, Wide b) {
  return {_mm256_mul_pd(a.v, b.v)};
}
inline Wide Same(Float v) {
  return {_mm256_set1_pd(v)};
}
inline Wide Lanes(Float a, Float b, Float c, Float d) {
  return {_mm256_set_pd(d, c, b, a)};
}
// All bits set in the lanes that are true.
inline Wide Mask(bool a, bool b, bool c, bool d) {
  return {_mm256_castsi256_pd(_mm256_set_epi64x(d ? -1 : 0, c ? -1 : 0, b ? -1 : 0, a ? -1 : 0))};
}
// `yes` in the lanes of `mask`, `no` elsewhere, bit for bit.
inline Wide Blend(Wide mask, Wide yes, Wide no) {
  return {_mm256_or_pd(_mm256_and_pd(mask.v, yes.v), _mm256_andnot_pd(mask.v, no.v))};
}
inline Wide EqualMask(Wide a, Wide b) {
  return {_mm256_cmp_pd(a.v, b.v, _CMP_EQ_OQ)};
}
inline Wide Sqrt(Wide v) {
  return {_mm256_sqrt_pd(v.v)};
}
// 1/L in every lane, then 0 where L is exactly 0 (the division's result there is discarded).
inline Wide InverseLength(Wide length) {
  return Blend(EqualMask(length, Same(0.0)), Same(0.0), {_mm256_div_pd(Same(1.0).v, length.v)});
}
inline Wide Select(Wide keepMask, Wide value) {
  return Blend(keepMask, value, Same(0.0));
}
inline void Store(Wide v, Float out[4]) {
  _mm256_storeu_pd(out, v.v);
}

}  // namespace

#include "source/tessamireThreads/lane_formula.h"

namespace {

V3<Wide> Gather(const Vector3 FrameInput::*member, const FrameInput in[4]) {
  const Vector3 &a = in[0].*member, &b = in[1].*member, &c = in[2].*member, &d = in[3].*member;
  return {Lanes(a.x, b.x, c.x, d.x), Lanes(a.y, b.y, c.y, d.y), Lanes(a.z, b.z, c.z, d.z)};
}

void Scatter(const V3<Wide>& v, Vector3 FrameAxes::*member, FrameAxes out[4]) {
  Float x[4], y[4], z[4];
  Store(v.x, x);
  Store(v.y, y);
  Store(v.z, z);
  for (int k = 0; k < 4; ++k) out[k].*member = {x[k], y[k], z[k]};
}

}  // namespace

void FrameAxesOfFourWide(const FrameInput in[4], FrameAxes out[4]) {
  V3<Wide> axis1, axis2, axis3;
  Axes<Wide, Wide>(
      Gather(&FrameInput::normalSum, in),
      Lanes(in[0].inverseCount, in[1].inverseCount, in[2].inverseCount, in[3].inverseCount),
      Gather(&FrameInput::here, in), Gather(&FrameInput::first, in),
      Gather(&FrameInput::second, in),
      Mask(in[0].hasPair, in[1].hasPair, in[2].hasPair, in[3].hasPair), axis1, axis2, axis3);
  Scatter(axis1, &FrameAxes::axis1, out);
  Scatter(axis2, &FrameAxes::axis2, out);
  Scatter(axis3, &FrameAxes::axis3, out);
}

void LengthStepsWide(const LengthStepArrays& c, Int64 i) {
  const Vector3* P = c.source;
  Int32 n[4];
  const Int32* list[4];
  for (int k = 0; k < 4; ++k) {
    n[k] = static_cast<Int32>(c.start[i + k + 1] - c.start[i + k]);
    list[k] = c.index + c.start[i + k];
  }
  const V3<Wide> here{Lanes(P[i].x, P[i + 1].x, P[i + 2].x, P[i + 3].x),
                      Lanes(P[i].y, P[i + 1].y, P[i + 2].y, P[i + 3].y),
                      Lanes(P[i].z, P[i + 1].z, P[i + 2].z, P[i + 3].z)};
  V3<Wide> sum{Same(0.0), Same(0.0), Same(0.0)};
  Wide total = Same(0.0);
  Int32 longest = n[0];
  for (int k = 1; k < 4; ++k) longest = n[k] > longest ? n[k] : longest;
  for (Int32 e = 0; e < longest; ++e) {
    const bool live[4] = {e < n[0], e < n[1], e < n[2], e < n[3]};
    // A lane past its list's end reads its own point (an edge of zero) and keeps its sums.
    const Vector3& a = P[live[0] ? list[0][e] : i];
    const Vector3& b = P[live[1] ? list[1][e] : i + 1];
    const Vector3& d2 = P[live[2] ? list[2][e] : i + 2];
    const Vector3& d3 = P[live[3] ? list[3][e] : i + 3];
    const V3<Wide> edge = Sub(V3<Wide>{Lanes(a.x, b.x, d2.x, d3.x), Lanes(a.y, b.y, d2.y, d3.y),
                                       Lanes(a.z, b.z, d2.z, d3.z)},
                              here);
    const Wide length = Sqrt(edge.x * edge.x + edge.y * edge.y + edge.z * edge.z);
    const V3<Wide> grown = Add(sum, Scale(edge, length));
    const Wide totalGrown = total + length;
    if (live[0] && live[1] && live[2] && live[3]) {
      sum = grown;
      total = totalGrown;
    } else {
      const Wide m = Mask(live[0], live[1], live[2], live[3]);
      sum = {Blend(m, grown.x, sum.x), Blend(m, grown.y, sum.y), Blend(m, grown.z, sum.z)};
      total = Blend(m, totalGrown, total);
    }
  }
  Wide q = Lanes(static_cast<Float>(n[0]), static_cast<Float>(n[1]), static_cast<Float>(n[2]),
                 static_cast<Float>(n[3])) *
           total;
  q = Blend(EqualMask(q, Same(0.0)), Same(1.0), q);
  const Wide inverse{_mm256_div_pd(Same(1.0).v, q.v)};
  V3<Wide> step = Scale(sum, inverse);
  if (c.weights != nullptr) {
    const Wide w =
        Lanes(static_cast<Float>(c.weights[i]), static_cast<Float>(c.weights[i + 1]),
              static_cast<Float>(c.weights[i + 2]), static_cast<Float>(c.weights[i + 3]));
    step = Scale(step, w);
  }
  step = Scale(step, Same(c.strength));
  const V3<Wide> moved = Add(here, step);
  Float x[4], y[4], z[4];
  Store(moved.x, x);
  Store(moved.y, y);
  Store(moved.z, z);
  for (int k = 0; k < 4; ++k) c.destination[i + k] = {x[k], y[k], z[k]};
}

#else

// Built without the wide lanes (TESSAMIRE_WIDE_LANES unset): never chosen, never called.
void FrameAxesOfFourWide(const FrameInput in[4], FrameAxes out[4]) {
  FrameAxesOfFour(in, out);
}
void LengthStepsWide(const LengthStepArrays&, Int64) {}

#endif
