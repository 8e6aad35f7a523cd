// The frame axes, the length-weighted smoothing step and the face normals of N points (or
// polygons) at once, written once for a register of N float64 lanes: the kernels of the wider
// widths' tables (see LaneKernels). Included only by the units built for a wider instruction set
// (lanes_256.cpp: 256 bits, lanes_512.cpp: 512 bits), each of which first defines, inside
// an anonymous namespace, its lane type W and mask type M with:
//   kLanes; W + W, W - W, W * W; Divide(W, W); Sqrt(W); Same(Float); Load(const Float[kLanes]);
//   Store(W, Float[kLanes]); MaskOf(const bool[kLanes]); EqualMask(W, W) -> M;
//   Blend(M, yes, no) (`yes` in the lanes of the mask, `no` elsewhere, bit for bit);
//   kStreamAlignment and StreamRow(x, y, z, Vector3* out), which writes the kLanes points
//   (x[k], y[k], z[k]) to out[0 .. kLanes - 1] with stores that bypass the cache, `out` lying on
//   kStreamAlignment bytes; StreamLine(W, Float* out), the same for one register's kLanes values;
//   and, for one point in the lower three lanes of a 256-bit register (the fourth neither read
//   nor written in memory), LoadPoint(const Vector3&) and StorePoint(__m256d, Float* x y z).
// Every operation is one correctly rounded IEEE operation per lane or a bitwise selection, in the
// order of the one-point rules, so each lane's bits are those rules' whatever the width.
//
// Everything here has internal linkage, and nothing outside calls an inline function with
// external linkage, so no code built for the wider instructions can be picked up by another unit.
#pragma once

#include <cmath>
#include <cstdint>

#include "source/tessamireThreads/lane_kernels.h"

namespace {

// 1/L in every lane, then 0 where L is exactly 0 (the division's result there is discarded).
inline W InverseLength(W length) {
  return Blend(EqualMask(length, Same(0.0)), Same(0.0), Divide(Same(1.0), length));
}
inline W Select(M keepMask, W value) {
  return Blend(keepMask, value, Same(0.0));
}

}  // namespace

#include "source/tessamireThreads/lane_formula.h"

namespace {

// The points point(0) .. point(kLanes - 1), one per lane.
template <typename Point>
inline V3<W> Lanes(Point point) {
  Float x[kLanes], y[kLanes], z[kLanes];
  for (int k = 0; k < kLanes; ++k) {
    const Vector3& v = point(k);
    x[k] = v.x;
    y[k] = v.y;
    z[k] = v.z;
  }
  return {Load(x), Load(y), Load(z)};
}

// One member of kLanes records.
template <typename Record>
inline V3<W> Gather(const Record* records, const Vector3 Record::*member) {
  return Lanes([records, member](int k) -> const Vector3& { return records[k].*member; });
}

// The points p[0] .. p[kLanes - 1].
inline V3<W> OfPoints(const Vector3* const* p) {
  return Lanes([p](int k) -> const Vector3& { return *p[k]; });
}

inline void Scatter(const V3<W>& v, Vector3* out, Int64 stride) {
  Float x[kLanes], y[kLanes], z[kLanes];
  Store(v.x, x);
  Store(v.y, y);
  Store(v.z, z);
  for (int k = 0; k < kLanes; ++k) out[k * stride] = {x[k], y[k], z[k]};
}

// The points of one register to out[0 .. kLanes - 1]: around the cache when `stream` and `out` is
// aligned for it, the same bits either way.
inline void Emit(const V3<W>& v, Vector3* out, bool stream) {
  if (stream && reinterpret_cast<std::uintptr_t>(out) % kStreamAlignment == 0)
    StreamRow(v.x, v.y, v.z, out);
  else
    Scatter(v, out, 1);
}

inline void LaneAxes(const FrameInput* in, V3<W>& axis1, V3<W>& axis2, V3<W>& axis3) {
  Float inverseCount[kLanes];
  bool hasPair[kLanes];
  for (int k = 0; k < kLanes; ++k) {
    inverseCount[k] = in[k].inverseCount;
    hasPair[k] = in[k].hasPair;
  }
  Axes<W, M>(Gather(in, &FrameInput::normalSum), Load(inverseCount), Gather(in, &FrameInput::here),
             Gather(in, &FrameInput::first), Gather(in, &FrameInput::second), MaskOf(hasPair),
             axis1, axis2, axis3);
}

// The points v[0] .. v[kLanes - 1] of one array.
inline V3<W> OfRow(const Vector3* v) {
  return Lanes([v](int k) -> const Vector3& { return v[k]; });
}

inline void AxesOfLanes(const FrameInput* in, FrameAxes* out) {
  V3<W> axis1, axis2, axis3;
  LaneAxes(in, axis1, axis2, axis3);
  // FrameAxes holds three Vector3, so one axis of consecutive records lies 3 Vector3 apart.
  constexpr Int64 kStride = sizeof(FrameAxes) / sizeof(Vector3);
  static_assert(kStride * sizeof(Vector3) == sizeof(FrameAxes));
  Scatter(axis1, &out[0].axis1, kStride);
  Scatter(axis2, &out[0].axis2, kStride);
  Scatter(axis3, &out[0].axis3, kStride);
}

// See DecodeInPlace: per lane the frame's determinant axis1 . (axis2 x axis3), the decoded
// difference T (the frame's origin is `here`), and P' = w*T + (1-w)*P with w = 1; the lanes are
// then written one by one, a singular frame or a P' not finite keeping P.
inline Int32 DecodedAxesOfLanes(const FrameInput* in, Vector3* points, const Vector3* differences) {
  V3<W> axis1, axis2, axis3;
  LaneAxes(in, axis1, axis2, axis3);
  const V3<W> c = Cross(axis2, axis3);
  const W det = axis1.x * c.x + axis1.y * c.y + axis1.z * c.z;
  const V3<W> o = Gather(in, &FrameInput::here);
  const V3<W> d = OfRow(differences);
  const V3<W> t = {((d.x * axis1.x + o.x) + d.y * axis2.x) + d.z * axis3.x,
                   ((d.x * axis1.y + o.y) + d.y * axis2.y) + d.z * axis3.y,
                   ((d.x * axis1.z + o.z) + d.y * axis2.z) + d.z * axis3.z};
  const V3<W> p = OfRow(points);
  const W w = Same(1.0);
  const W rest = Same(1.0) - w;
  Float determinant[kLanes], x[kLanes], y[kLanes], z[kLanes];
  Store(det, determinant);
  Store(w * t.x + rest * p.x, x);
  Store(w * t.y + rest * p.y, y);
  Store(w * t.z + rest * p.z, z);
  Int32 notFinite = 0;
  for (int k = 0; k < kLanes; ++k) {
    if (determinant[k] == 0.0) continue;
    if (!(std::isfinite(x[k]) && std::isfinite(y[k]) && std::isfinite(z[k]))) {
      ++notFinite;
      continue;
    }
    points[k] = {x[k], y[k], z[k]};
  }
  return notFinite;
}

// See SmoothPoint: per lane, for each list entry in order e = P[k] - P[i], L = |e|, S += e * L,
// W += L, then q = n * W (1 when exactly 0); D = S * (1 / q), * weight, * strength; P[i] + D. A
// lane past its list's end reads its own point and keeps its sums by a blend (not an addition of
// zero, so a negative zero stays).
inline void LengthStepsOfLanes(const LengthStepArrays& c, Int64 i) {
  const Vector3* P = c.source;
  Int32 n[kLanes];
  const Int32* list[kLanes];
  Int32 longest = 0;
  Float count[kLanes];
  const Vector3* own[kLanes];
  for (int k = 0; k < kLanes; ++k) {
    own[k] = &P[i + k];
    n[k] = static_cast<Int32>(c.start[i + k + 1] - c.start[i + k]);
    list[k] = c.index + c.start[i + k];
    longest = n[k] > longest ? n[k] : longest;
    count[k] = static_cast<Float>(n[k]);
  }
  const V3<W> here = OfPoints(own);
  V3<W> sum{Same(0.0), Same(0.0), Same(0.0)};
  W total = Same(0.0);
  for (Int32 e = 0; e < longest; ++e) {
    bool live[kLanes];
    bool allLive = true;
    const Vector3* other[kLanes];
    for (int k = 0; k < kLanes; ++k) {
      live[k] = e < n[k];
      allLive = allLive && live[k];
      other[k] = live[k] ? &P[list[k][e]] : own[k];
    }
    const V3<W> edge = Sub(OfPoints(other), here);
    const W length = Sqrt(edge.x * edge.x + edge.y * edge.y + edge.z * edge.z);
    const V3<W> grown = Add(sum, Scale(edge, length));
    const W totalGrown = total + length;
    if (allLive) {
      sum = grown;
      total = totalGrown;
    } else {
      const M m = MaskOf(live);
      sum = {Blend(m, grown.x, sum.x), Blend(m, grown.y, sum.y), Blend(m, grown.z, sum.z)};
      total = Blend(m, totalGrown, total);
    }
  }
  W q = Load(count) * total;
  q = Blend(EqualMask(q, Same(0.0)), Same(1.0), q);
  V3<W> step = Scale(sum, Divide(Same(1.0), q));
  if (c.weights != nullptr) {
    Float w[kLanes];
    for (int k = 0; k < kLanes; ++k) w[k] = static_cast<Float>(c.weights[i + k]);
    step = Scale(step, Load(w));
  }
  step = Scale(step, Same(c.strength));
  Emit(Add(here, step), c.destination + i, c.stream);
}

// See SmoothPoint, uniform: the step of point p into out[0 .. 2], with its x, y and z in one
// register: a pinned point (`pinned` non-null and its flag 1) keeps P[p]; else S = sum over the
// list in order of (P[k] - P[p]) from zero, D = S * (1 / m) (m = n, or 1 when n = 0), * weight,
// * strength; P[p] + D.
// `c` is taken by value: as a copy its fields need not be read again after every store.
inline void UniformStepOfPoint(const LengthStepArrays c, const std::uint8_t* pinned, Int64 p,
                               Float* out) {
  const __m256d here = LoadPoint(c.source[p]);
  if (pinned != nullptr && pinned[p] == 1) {
    StorePoint(here, out);
    return;
  }
  const Int32* list = c.index + c.start[p];
  const Int64 n = c.start[p + 1] - c.start[p];
  const auto edge = [&](Int64 e) { return _mm256_sub_pd(LoadPoint(c.source[list[e]]), here); };
  __m256d sum = _mm256_setzero_pd();
  Float inverse = 0.25;  // 1 / 4 exactly
  if (n == 4) {
    // A quad mesh's usual valence, without the loop's branches or the division.
    sum = _mm256_add_pd(_mm256_add_pd(_mm256_add_pd(_mm256_add_pd(sum, edge(0)), edge(1)), edge(2)),
                        edge(3));
  } else {
    for (Int64 e = 0; e < n; ++e) sum = _mm256_add_pd(sum, edge(e));
    inverse = 1.0 / (n > 0 ? static_cast<Float>(n) : 1.0);
  }
  __m256d step = _mm256_mul_pd(sum, _mm256_set1_pd(inverse));
  if (c.weights != nullptr)
    step = _mm256_mul_pd(step, _mm256_set1_pd(static_cast<Float>(c.weights[p])));
  step = _mm256_mul_pd(step, _mm256_set1_pd(c.strength));
  StorePoint(_mm256_add_pd(here, step), out);
}

// The uniform steps of points [begin, end), one point at a time: with no square root or division
// to share, gathering points into the lanes would cost more than their additions save. Where the
// destination bypasses the cache, kLanes points (three registers of values, whole lines) go out
// together from where they start on kStreamAlignment bytes.
inline void UniformStepsOfRange(const LengthStepArrays& c, const std::uint8_t* pinned, Int64 begin,
                                Int64 end) {
  Float* destination = &c.destination[0].x;
  Int64 p = begin;
  if (c.stream) {
    const auto aligned = [&](Int64 q) {
      return reinterpret_cast<std::uintptr_t>(destination + 3 * q) % kStreamAlignment == 0;
    };
    for (; p < end && !aligned(p); ++p) UniformStepOfPoint(c, pinned, p, destination + 3 * p);
    alignas(64) Float block[3 * kLanes];
    for (; p + kLanes <= end; p += kLanes) {
      for (int k = 0; k < kLanes; ++k) UniformStepOfPoint(c, pinned, p + k, block + 3 * k);
      for (int r = 0; r < 3; ++r)
        StreamLine(Load(block + r * kLanes), destination + 3 * p + r * kLanes);
    }
  }
  for (; p < end; ++p) UniformStepOfPoint(c, pinned, p, destination + 3 * p);
}

// See FaceNormal: per lane, normalise((P[b] - P[x]) x (P[c] - P[a])) with x = d for a quad
// (c != d) and a for a triangle.
inline void FaceNormalsOfLanes(const Vector3* P, const CPolygon* polygons, Vector3* out) {
  const Vector3* a[kLanes];
  const Vector3* b[kLanes];
  const Vector3* c[kLanes];
  const Vector3* x[kLanes];
  for (int k = 0; k < kLanes; ++k) {
    const CPolygon& p = polygons[k];
    a[k] = &P[p.a];
    b[k] = &P[p.b];
    c[k] = &P[p.c];
    x[k] = &P[p.c != p.d ? p.d : p.a];
  }
  const V3<W> corner = OfPoints(a);
  Scatter(Normalized(Cross(Sub(OfPoints(b), OfPoints(x)), Sub(OfPoints(c), corner))), out, 1);
}

}  // namespace
