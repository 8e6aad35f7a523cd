// The one-point frame rule, and the 128-bit lanes' table: two float64 lanes in one register (four
// points' frame axes as two interleaved pairs, two points' length-weighted steps). Built for the
// target's own instruction set, so this width is always there; without SSE2 its kernels run the
// one-point rules.
#include <cmath>

#include "source/tessamireThreads/float_pairs.h"
#include "source/tessamireThreads/lane_kernels.h"

namespace {

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

// The pair and quad overloads are declared before the formula so that its calls find them.
#if defined(TESSAMIRE_FLOAT_PAIRS)
using pairs::Pair;

inline Pair Sqrt(Pair v) {
  return pairs::Sqrt(v);
}
// 1/L in every lane, then 0 where L is exactly 0 (the division's result there is discarded).
inline Pair InverseLength(Pair length) {
  return pairs::Blend(pairs::EqualMask(length, pairs::Same(0.0)), pairs::Same(0.0),
                      pairs::Same(1.0) / length);
}
inline Pair Select(Pair keepMask, Pair value) {
  return pairs::Blend(keepMask, value, pairs::Same(0.0));
}

// Four lanes as two independent pairs, every operation issued on both back to back, so that the
// processor overlaps the two chains of square roots and divisions.
struct Quad {
  Pair lo, hi;
};
inline Quad operator+(Quad a, Quad b) {
  return {a.lo + b.lo, a.hi + b.hi};
}
inline Quad operator-(Quad a, Quad b) {
  return {a.lo - b.lo, a.hi - b.hi};
}
inline Quad operator*(Quad a, Quad b) {
  return {a.lo * b.lo, a.hi * b.hi};
}
inline Quad Sqrt(Quad v) {
  return {Sqrt(v.lo), Sqrt(v.hi)};
}
inline Quad InverseLength(Quad v) {
  return {InverseLength(v.lo), InverseLength(v.hi)};
}
inline Quad Select(Quad keepMask, Quad value) {
  return {Select(keepMask.lo, value.lo), Select(keepMask.hi, value.hi)};
}
#endif

}  // namespace

#include "source/tessamireThreads/lane_formula.h"

namespace {

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

#if defined(TESSAMIRE_FLOAT_PAIRS)
namespace {

using pairs::Both;
using pairs::Lane0;
using pairs::Lane1;

V3<Pair> Both3(const Vector3& a, const Vector3& b) {
  return {Both(a.x, b.x), Both(a.y, b.y), Both(a.z, b.z)};
}
Pair KeepMask(const FrameInput& a, const FrameInput& b) {
  return pairs::Mask(a.hasPair, b.hasPair);
}
void Unpack(const V3<Pair>& axis1, const V3<Pair>& axis2, const V3<Pair>& axis3, FrameAxes& a,
            FrameAxes& b) {
  a = {{Lane0(axis1.x), Lane0(axis1.y), Lane0(axis1.z)},
       {Lane0(axis2.x), Lane0(axis2.y), Lane0(axis2.z)},
       {Lane0(axis3.x), Lane0(axis3.y), Lane0(axis3.z)}};
  b = {{Lane1(axis1.x), Lane1(axis1.y), Lane1(axis1.z)},
       {Lane1(axis2.x), Lane1(axis2.y), Lane1(axis2.z)},
       {Lane1(axis3.x), Lane1(axis3.y), Lane1(axis3.z)}};
}

V3<Quad> Join(const V3<Pair>& lo, const V3<Pair>& hi) {
  return {{lo.x, hi.x}, {lo.y, hi.y}, {lo.z, hi.z}};
}
V3<Pair> Low(const V3<Quad>& v) {
  return {v.x.lo, v.y.lo, v.z.lo};
}
V3<Pair> High(const V3<Quad>& v) {
  return {v.x.hi, v.y.hi, v.z.hi};
}

}  // namespace
#endif

void FrameAxesOfPair(const FrameInput& a, const FrameInput& b, FrameAxes& outA, FrameAxes& outB) {
#if defined(TESSAMIRE_FLOAT_PAIRS)
  V3<Pair> axis1, axis2, axis3;
  Axes<Pair, Pair>(Both3(a.normalSum, b.normalSum), Both(a.inverseCount, b.inverseCount),
                   Both3(a.here, b.here), Both3(a.first, b.first), Both3(a.second, b.second),
                   KeepMask(a, b), axis1, axis2, axis3);
  Unpack(axis1, axis2, axis3, outA, outB);
#else
  outA = FrameAxesOf(a);
  outB = FrameAxesOf(b);
#endif
}

void FrameAxesOfFour(const FrameInput in[4], FrameAxes out[4]) {
#if defined(TESSAMIRE_FLOAT_PAIRS)
  const FrameInput& a = in[0];
  const FrameInput& b = in[1];
  const FrameInput& c = in[2];
  const FrameInput& d = in[3];
  V3<Quad> axis1, axis2, axis3;
  Axes<Quad, Quad>(Join(Both3(a.normalSum, b.normalSum), Both3(c.normalSum, d.normalSum)),
                   Quad{Both(a.inverseCount, b.inverseCount), Both(c.inverseCount, d.inverseCount)},
                   Join(Both3(a.here, b.here), Both3(c.here, d.here)),
                   Join(Both3(a.first, b.first), Both3(c.first, d.first)),
                   Join(Both3(a.second, b.second), Both3(c.second, d.second)),
                   Quad{KeepMask(a, b), KeepMask(c, d)}, axis1, axis2, axis3);
  Unpack(Low(axis1), Low(axis2), Low(axis3), out[0], out[1]);
  Unpack(High(axis1), High(axis2), High(axis3), out[2], out[3]);
#else
  for (int k = 0; k < 4; ++k) out[k] = FrameAxesOf(in[k]);
#endif
}

namespace {

#if defined(TESSAMIRE_FLOAT_PAIRS)
// The length-weighted steps of points i and i + 1, one per lane, each with exactly the operations
// of SmoothPoint in its order. Past the end of the shorter list its lane keeps its sums (a blend,
// not an addition of zero, so even a negative zero stays).
void LengthStepPair(const LengthStepArrays& c, Int64 i) {
  using namespace pairs;
  const Vector3* P = c.source;
  const Int64 j = i + 1;
  const Int32 na = static_cast<Int32>(c.start[i + 1] - c.start[i]);
  const Int32 nb = static_cast<Int32>(c.start[j + 1] - c.start[j]);
  const Int32* la = c.index + c.start[i];
  const Int32* lb = c.index + c.start[j];
  const Vec here = Both(P[i], P[j]);
  Vec sum{Same(0.0), Same(0.0), Same(0.0)};
  Pair total = Same(0.0);
  const Int32 longest = na > nb ? na : nb;
  for (Int32 k = 0; k < longest; ++k) {
    const bool inA = k < na;
    const bool inB = k < nb;
    const Vec other = Both(inA ? P[la[k]] : P[i], inB ? P[lb[k]] : P[j]);
    const Vec e{other.x - here.x, other.y - here.y, other.z - here.z};
    const Pair length = Sqrt(e.x * e.x + e.y * e.y + e.z * e.z);
    const Vec grown{sum.x + e.x * length, sum.y + e.y * length, sum.z + e.z * length};
    const Pair totalGrown = total + length;
    if (inA && inB) {
      sum = grown;
      total = totalGrown;
    } else {
      const Pair live = Mask(inA, inB);
      sum = {Blend(live, grown.x, sum.x), Blend(live, grown.y, sum.y), Blend(live, grown.z, sum.z)};
      total = Blend(live, totalGrown, total);
    }
  }
  Pair q = Both(static_cast<Float>(na), static_cast<Float>(nb)) * total;
  q = Blend(EqualMask(q, Same(0.0)), Same(1.0), q);
  const Pair inverse = Same(1.0) / q;
  Vec step{sum.x * inverse, sum.y * inverse, sum.z * inverse};
  if (c.weights != nullptr) {
    const Pair w = Both(static_cast<Float>(c.weights[i]), static_cast<Float>(c.weights[j]));
    step = {step.x * w, step.y * w, step.z * w};
  }
  const Pair strength = Same(c.strength);
  step = {step.x * strength, step.y * strength, step.z * strength};
  const Vec moved{here.x + step.x, here.y + step.y, here.z + step.z};
  c.destination[i] = Lane0(moved);
  c.destination[j] = Lane1(moved);
}
#endif

// The pairs' stores never bypass the cache.
void NoFence() {}

}  // namespace

const LaneKernels& Lanes128() {
#if defined(TESSAMIRE_FLOAT_PAIRS)
  constexpr auto kLengthSteps = LengthStepPair;
#else
  constexpr void (*kLengthSteps)(const LengthStepArrays&, Int64) = nullptr;
#endif
  // Length steps in pairs start on 32 bytes where a wider width streams: the lines it fills whole.
  static const LaneKernels table{LaneWidth::kPairs, 4,       2,       32,           false,
                                 FrameAxesOfFour,   nullptr, nullptr, kLengthSteps, nullptr,
                                 NoFence,           nullptr};
  return table;
}
