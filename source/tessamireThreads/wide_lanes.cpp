// Built with 256-bit float64 lanes enabled for this unit alone: nothing here may be called unless
// the processor has them (LaneWidthAvailable), and nothing with external linkage but the two
// entry points is defined here, so no other unit can pick up code built for those lanes.
#include "source/tessamireThreads/wide_lanes.h"

#if defined(__AVX__)
#include <immintrin.h>

namespace {

constexpr int kLanes = 4;

// Four lanes; every operation is lane-wise IEEE.
struct W {
  __m256d v;
};
using M = W;  // a mask: all bits set in the lanes that are true

inline W operator+(W a, W b) {
  return {_mm256_add_pd(a.v, b.v)};
}
inline W operator-(W a, W b) {
  return {_mm256_sub_pd(a.v, b.v)};
}
inline W operator*(W a, W b) {
  return {_mm256_mul_pd(a.v, b.v)};
}
inline W Divide(W a, W b) {
  return {_mm256_div_pd(a.v, b.v)};
}
inline W Sqrt(W v) {
  return {_mm256_sqrt_pd(v.v)};
}
inline W Same(Float v) {
  return {_mm256_set1_pd(v)};
}
inline W Load(const Float v[kLanes]) {
  return {_mm256_loadu_pd(v)};
}
inline void Store(W v, Float out[kLanes]) {
  _mm256_storeu_pd(out, v.v);
}
inline M MaskOf(const bool live[kLanes]) {
  return {_mm256_castsi256_pd(
      _mm256_set_epi64x(live[3] ? -1 : 0, live[2] ? -1 : 0, live[1] ? -1 : 0, live[0] ? -1 : 0))};
}
inline M EqualMask(W a, W b) {
  return {_mm256_cmp_pd(a.v, b.v, _CMP_EQ_OQ)};
}
inline W Blend(M mask, W yes, W no) {
  return {_mm256_or_pd(_mm256_and_pd(mask.v, yes.v), _mm256_andnot_pd(mask.v, no.v))};
}

}  // namespace

#include "source/tessamireThreads/wide_lane_steps.h"

void FrameAxesOfFourWide(const FrameInput in[4], FrameAxes out[4]) {
  AxesOfLanes(in, out);
}

void LengthStepsWide(const LengthStepArrays& arrays, Int64 i) {
  StepsOfLanes<true>(arrays, i);
}

void UniformStepsWide(const LengthStepArrays& arrays, Int64 i) {
  StepsOfLanes<false>(arrays, i);
}

void FaceNormalsWide(const Vector3* positions, const CPolygon* polygons, Vector3* normals) {
  FaceNormalsOfLanes(positions, polygons, normals);
}

Int32 DecodedAxesWide(const FrameInput in[4], Vector3* points, const Vector3* differences) {
  return DecodedAxesOfLanes(in, points, differences);
}

#else

// Built without the wide lanes (TESSAMIRE_WIDE_LANES unset): never chosen, never called.
void FrameAxesOfFourWide(const FrameInput in[4], FrameAxes out[4]) {
  FrameAxesOfFour(in, out);
}
void LengthStepsWide(const LengthStepArrays&, Int64) {}
void UniformStepsWide(const LengthStepArrays&, Int64) {}
void FaceNormalsWide(const Vector3*, const CPolygon*, Vector3*) {}
Int32 DecodedAxesWide(const FrameInput*, Vector3*, const Vector3*) {
  return 0;
}

#endif
