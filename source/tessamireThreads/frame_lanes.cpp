#include "source/tessamireThreads/frame_lanes.h"

#include <atomic>
#include <cmath>
#include <cstdlib>
#include <string_view>

#include "source/tessamireThreads/float_pairs.h"
#include "source/tessamireThreads/wide_lanes.h"

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

// Not yet read from the environment.
constexpr Int32 kUnread = -1;
// 0: the processor decides; otherwise the forced LaneWidth.
std::atomic<Int32> g_forcedWidth{kUnread};

Int32 WidthFromEnvironment() {
  const char* text = std::getenv("TESSAMIRE_LANE_WIDTH");
  if (text == nullptr) return 0;
  const std::string_view bits(text);
  if (bits == "128") return static_cast<Int32>(LaneWidth::kPairs);
  if (bits == "256") return static_cast<Int32>(LaneWidth::kWide);
  if (bits == "512") return static_cast<Int32>(LaneWidth::kWide512);
  return 0;
}

Int32 ForcedWidth() {
  Int32 forced = g_forcedWidth.load(std::memory_order_relaxed);
  if (forced == kUnread) {
    Int32 unread = kUnread;
    // A width forced meanwhile by a call wins over the environment.
    if (!g_forcedWidth.compare_exchange_strong(unread, WidthFromEnvironment(),
                                               std::memory_order_relaxed))
      return unread;
    forced = g_forcedWidth.load(std::memory_order_relaxed);
  }
  return forced;
}

}  // namespace

Bool BuildCarriesLaneWidth(LaneWidth width) {
  if (width == LaneWidth::kPairs) return true;
#if defined(TESSAMIRE_WIDE_LANES)
  return width == LaneWidth::kWide || width == LaneWidth::kWide512;
#else
  return false;
#endif
}

Bool ProcessorHasLaneWidth(LaneWidth width) {
  if (width == LaneWidth::kPairs) return true;
#if (defined(__x86_64__) || defined(__i386__)) && (defined(__GNUC__) || defined(__clang__))
  // The checks also ask whether the system saves the registers.
  static const bool avx = __builtin_cpu_supports("avx");
  static const bool avx512 =
      __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512vl");
  if (width == LaneWidth::kWide) return avx;
  if (width == LaneWidth::kWide512) return avx512;
#endif
  return false;
}

Bool LaneWidthAvailable(LaneWidth width) {
  return BuildCarriesLaneWidth(width) && ProcessorHasLaneWidth(width);
}

Bool WideLanesAvailable() {
  return LaneWidthAvailable(LaneWidth::kWide);
}

LaneWidth ActiveLaneWidth() {
  const Int32 forced = ForcedWidth();
  const Int32 ceiling = forced == 0 ? static_cast<Int32>(LaneWidth::kWide512) : forced;
  for (LaneWidth width : {LaneWidth::kWide512, LaneWidth::kWide}) {
    if (static_cast<Int32>(width) <= ceiling && LaneWidthAvailable(width)) return width;
  }
  return LaneWidth::kPairs;
}

LaneWidth ForceLaneWidth(LaneWidth width) {
  g_forcedWidth.store(static_cast<Int32>(width), std::memory_order_relaxed);
  return ActiveLaneWidth();
}

LaneWidth UnforceLaneWidth() {
  g_forcedWidth.store(0, std::memory_order_relaxed);
  return ActiveLaneWidth();
}
