// The 256-bit lanes' table, built with those lanes enabled for this unit alone: nothing here may be
// called unless the processor has them (LaneWidthAvailable), and nothing with external linkage but
// the table's accessor is defined here, so no other unit can pick up code built for those lanes.
#include "source/tessamireThreads/lane_kernels.h"

#if defined(__AVX__)
#include <immintrin.h>

#include <cstdint>

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

// Four points are 12 doubles, three registers, interleaved from the pairs (x y), (y z) and (z x)
// of each 128-bit half, then three 32-byte non-temporal stores: half a cache line each, so two
// groups in a row fill three lines.
constexpr std::uintptr_t kStreamAlignment = 32;
inline void StreamRow(W x, W y, W z, Vector3* out) {
  const __m256d xy = _mm256_unpacklo_pd(x.v, y.v);     // x0 y0 x2 y2
  const __m256d yz = _mm256_unpackhi_pd(y.v, z.v);     // y1 z1 y3 z3
  const __m256d zx = _mm256_shuffle_pd(z.v, x.v, 10);  // z0 x1 z2 x3
  Float* to = &out[0].x;
  _mm256_stream_pd(to, _mm256_permute2f128_pd(xy, zx, 0x20));      // x0 y0 z0 x1
  _mm256_stream_pd(to + 4, _mm256_permute2f128_pd(yz, xy, 0x30));  // y1 z1 x2 y2
  _mm256_stream_pd(to + 8, _mm256_permute2f128_pd(zx, yz, 0x31));  // z2 x3 y3 z3
}
inline void StreamLine(W v, Float* out) {
  _mm256_stream_pd(out, v.v);
}

// Whole 256-bit stores would write into the next point, which may be another worker's.
inline __m256d LoadPoint(const Vector3& v) {
  return _mm256_maskload_pd(&v.x, _mm256_setr_epi64x(-1, -1, -1, 0));
}
inline void StorePoint(__m256d v, Float* out) {
  _mm_storeu_pd(out, _mm256_castpd256_pd128(v));
  _mm_store_sd(out + 2, _mm256_extractf128_pd(v, 1));
}

}  // namespace

#include "source/tessamireThreads/lane_steps.h"

namespace {

void Fence() {
  _mm_sfence();
}

}  // namespace

const LaneKernels* Lanes256() {
  static const LaneKernels table{LaneWidth::kWide,
                                 kLanes,
                                 kLanes,
                                 kStreamAlignment,
                                 true,
                                 AxesOfLanes,
                                 DecodedAxesOfLanes,
                                 FaceNormalsOfLanes,
                                 LengthStepsOfLanes,
                                 UniformStepsOfRange,
                                 Fence,
                                 &Lanes128()};
  return &table;
}

#else

// Built without the 256-bit lanes: there is no table to choose.
const LaneKernels* Lanes256() {
  return nullptr;
}

#endif
