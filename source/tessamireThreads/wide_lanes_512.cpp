// Built with 512-bit float64 lanes enabled for this unit alone: nothing here may be called unless
// the processor has them (LaneWidthAvailable), and nothing with external linkage but the two
// entry points is defined here, so no other unit can pick up code built for those lanes.
#include "source/tessamireThreads/wide_lanes.h"

#if defined(__AVX512F__)
#include <immintrin.h>

namespace {

constexpr int kLanes = 8;

// Eight lanes; every operation is lane-wise IEEE.
struct W {
  __m512d v;
};
using M = __mmask8;  // bit k set: lane k is true

inline W operator+(W a, W b) {
  return {_mm512_add_pd(a.v, b.v)};
}
inline W operator-(W a, W b) {
  return {_mm512_sub_pd(a.v, b.v)};
}
inline W operator*(W a, W b) {
  return {_mm512_mul_pd(a.v, b.v)};
}
inline W Divide(W a, W b) {
  return {_mm512_div_pd(a.v, b.v)};
}
// Every lane through the zero-masked form: gcc 12's plain form passes an undefined source that its
// own warnings then refuse.
inline W Sqrt(W v) {
  return {_mm512_maskz_sqrt_pd(static_cast<__mmask8>(0xFF), v.v)};
}
inline W Same(Float v) {
  return {_mm512_set1_pd(v)};
}
inline W Load(const Float v[kLanes]) {
  return {_mm512_loadu_pd(v)};
}
inline void Store(W v, Float out[kLanes]) {
  _mm512_storeu_pd(out, v.v);
}
inline M MaskOf(const bool live[kLanes]) {
  unsigned bits = 0;
  for (int k = 0; k < kLanes; ++k) bits |= live[k] ? 1u << k : 0u;
  return static_cast<M>(bits);
}
inline M EqualMask(W a, W b) {
  return _mm512_cmp_pd_mask(a.v, b.v, _CMP_EQ_OQ);
}
inline W Blend(M mask, W yes, W no) {
  return {_mm512_mask_blend_pd(mask, no.v, yes.v)};
}

}  // namespace

#include "source/tessamireThreads/wide_lane_steps.h"

void FrameAxesOfEight512(const FrameInput in[8], FrameAxes out[8]) {
  AxesOfLanes(in, out);
}

void LengthSteps512(const LengthStepArrays& arrays, Int64 i) {
  StepsOfLanes<true>(arrays, i);
}

void UniformSteps512(const LengthStepArrays& arrays, Int64 i) {
  StepsOfLanes<false>(arrays, i);
}

void FaceNormals512(const Vector3* positions, const CPolygon* polygons, Vector3* normals) {
  FaceNormalsOfLanes(positions, polygons, normals);
}

Int32 DecodedAxes512(const FrameInput in[8], Vector3* points, const Vector3* differences) {
  return DecodedAxesOfLanes(in, points, differences);
}

#else

// Built without the 512-bit lanes: never chosen, never called.
void FrameAxesOfEight512(const FrameInput in[8], FrameAxes out[8]) {
  FrameAxesOfFour(in, out);
  FrameAxesOfFour(in + 4, out + 4);
}
void LengthSteps512(const LengthStepArrays&, Int64) {}
void UniformSteps512(const LengthStepArrays&, Int64) {}
void FaceNormals512(const Vector3*, const CPolygon*, Vector3*) {}
Int32 DecodedAxes512(const FrameInput*, Vector3*, const Vector3*) {
  return 0;
}

#endif
