// The 512-bit lanes' table, built with those lanes (and their masked 256-bit forms) enabled for
// this unit alone: nothing here may be called unless the processor has them (LaneWidthAvailable),
// and nothing with external linkage but the table's accessor is defined here, so no other unit can
// pick up code built for those lanes.
#include "source/tessamireThreads/lane_kernels.h"

#if defined(__AVX512F__) && defined(__AVX512VL__)
#include <immintrin.h>

#include <cstdint>

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

// Eight points are 24 doubles, three registers: x y z interleaved by two two-source permutes each
// (indices 0 .. 7 pick from the first source, 8 .. 15 from the second), then three 64-byte
// non-temporal stores, whole cache lines.
constexpr std::uintptr_t kStreamAlignment = 64;
inline void StreamRow(W x, W y, W z, Vector3* out) {
  const auto row = [&](__m512i fromXY, __m512i withZ) {
    return _mm512_permutex2var_pd(_mm512_permutex2var_pd(x.v, fromXY, y.v), withZ, z.v);
  };
  Float* to = &out[0].x;
  _mm512_stream_pd(to, row(_mm512_setr_epi64(0, 8, 0, 1, 9, 0, 2, 10),  // x0 y0 z0 x1 y1 z1 x2 y2
                           _mm512_setr_epi64(0, 1, 8, 3, 4, 9, 6, 7)));
  _mm512_stream_pd(to + 8, row(_mm512_setr_epi64(0, 3, 11, 0, 4, 12, 0, 5),  // z2 x3 y3 z3 ... x5
                               _mm512_setr_epi64(10, 1, 2, 11, 4, 5, 12, 7)));
  _mm512_stream_pd(to + 16, row(_mm512_setr_epi64(13, 0, 6, 14, 0, 7, 15, 0),  // y5 z5 ... y7 z7
                                _mm512_setr_epi64(0, 13, 2, 3, 14, 5, 6, 15)));
}
inline void StreamLine(W v, Float* out) {
  _mm512_stream_pd(out, v.v);
}

// Masked to the three values: a whole 256-bit store would write into the next point, which may
// be another worker's.
inline __m256d LoadPoint(const Vector3& v) {
  return _mm256_maskz_loadu_pd(0x7, &v.x);
}
inline void StorePoint(__m256d v, Float* out) {
  _mm256_mask_storeu_pd(out, 0x7, v);
}

}  // namespace

#include "source/tessamireThreads/lane_steps.h"

namespace {

void Fence() {
  _mm_sfence();
}

}  // namespace

const LaneKernels* Lanes512() {
  // What eight lanes leave goes in groups of four: every processor with these lanes has those.
  static const LaneKernels table{LaneWidth::kWide512,
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
                                 Lanes256() != nullptr ? Lanes256() : &Lanes128()};
  return &table;
}

#else

// Built without the 512-bit lanes: there is no table to choose.
const LaneKernels* Lanes512() {
  return nullptr;
}

#endif
