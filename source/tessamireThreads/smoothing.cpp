#include "source/tessamireThreads/smoothing.h"

#include <cstdint>
#include <utility>

#include "host/binding/parallel.h"
#include "source/tessamireThreads/float_pairs.h"
#include "source/tessamireThreads/vector_ops.h"
#include "source/tessamireThreads/wide_lanes.h"

namespace {

// D * weight (when a map is given), then * strength: the order fixes the rounding.
inline Vector3 ScaleStep(Vector3 step, Int64 i, const SmoothingSettings& settings,
                         std::span<const Float32> weights) {
  if (!weights.empty()) step = vmath::Scale(step, static_cast<Float>(weights[i]));
  return vmath::Scale(step, static_cast<Float>(settings.strength));
}

}  // namespace

void SmoothPoint(std::span<const Vector3> source, std::span<Vector3> destination, Int64 i,
                 const NeighbourLists& lists, const BorderFlags& border,
                 const SmoothingSettings& settings, std::span<const Float32> weights) {
  const Vector3 here = source[i];
  if (settings.pinBorder && border.flag[i] == 1) {
    destination[i] = here;
    return;
  }
  const std::span<const Int32> list = lists.List(i);
  const Int32 n = static_cast<Int32>(list.size());
  if (settings.weighting == kWeightingUniform) {
    Vector3 sum{0.0, 0.0, 0.0};
    for (Int32 k = 0; k < n; ++k) sum = vmath::Add(sum, vmath::Sub(source[list[k]], here));
    const Float m = n > 0 ? static_cast<Float>(n) : 1.0;
    const Vector3 step = ScaleStep(vmath::Scale(sum, 1.0 / m), i, settings, weights);
    destination[i] = vmath::Add(here, step);
    return;
  }
  if (settings.weighting == kWeightingLength && n > 0) {
    Vector3 sum{0.0, 0.0, 0.0};
    Float totalLength = 0.0;
    for (Int32 k = 0; k < n; ++k) {
      const Vector3 edge = vmath::Sub(source[list[k]], here);
      const Float length = vmath::Length(edge);
      sum = vmath::Add(sum, vmath::Scale(edge, length));
      totalLength += length;
    }
    Float q = static_cast<Float>(n) * totalLength;
    if (q == 0.0) q = 1.0;
    const Vector3 step = ScaleStep(vmath::Scale(sum, 1.0 / q), i, settings, weights);
    destination[i] = vmath::Add(here, step);
    return;
  }
  // Length-weighted without neighbours, or a weighting with no defined step: the point stays.
  destination[i] = here;
}

#if defined(TESSAMIRE_FLOAT_PAIRS)
namespace {

struct SmoothPassContext {
  std::span<const Vector3> source;
  std::span<Vector3> destination;
  const NeighbourLists* lists;
  const BorderFlags* border;
  const SmoothingSettings* settings;
  std::span<const Float32> weights;
};

// A length-weighted step that runs the whole formula: not pinned, and with at least one neighbour.
inline bool FullStep(const SmoothPassContext& c, Int64 i) {
  if (c.settings->pinBorder && c.border->flag[i] == 1) return false;
  return c.lists->Count(i) > 0;
}

// The length-weighted steps of points i and i + 1, one per lane, each with exactly the
// operations of SmoothPoint in its order. Past the end of the shorter list its lane keeps its
// sums (a blend, not an addition of zero, so even a negative zero stays).
void LengthStepPair(const SmoothPassContext& c, Int64 i) {
  using namespace pairs;
  const Vector3* P = c.source.data();
  const Int64 j = i + 1;
  const Int32 na = c.lists->Count(i);
  const Int32 nb = c.lists->Count(j);
  const Int32* la = c.lists->List(i).data();
  const Int32* lb = c.lists->List(j).data();
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
  if (!c.weights.empty()) {
    const Pair w = Both(static_cast<Float>(c.weights[i]), static_cast<Float>(c.weights[j]));
    step = {step.x * w, step.y * w, step.z * w};
  }
  const Pair strength = Same(static_cast<Float>(c.settings->strength));
  step = {step.x * strength, step.y * strength, step.z * strength};
  const Vec moved{here.x + step.x, here.y + step.y, here.z + step.z};
  c.destination[i] = Lane0(moved);
  c.destination[j] = Lane1(moved);
}

// Whether points [i, i + count) all take the full step.
inline bool FullSteps(const SmoothPassContext& c, Int64 i, Int64 count) {
  for (Int64 k = 0; k < count; ++k) {
    if (!FullStep(c, i + k)) return false;
  }
  return true;
}

// Whether `p` lies on a multiple of `bytes`.
inline bool AlignedTo(const Vector3* p, std::uintptr_t bytes) {
  return reinterpret_cast<std::uintptr_t>(p) % bytes == 0;
}

// One chunk (length-weighted, or uniform in the wide units). Uniform steps go point by point in
// the wide units, which also take the pinned points. Length-weighted: eight (or four) neighbouring
// points that all take the full step go in the widest lanes in use; two as a pair (their square
// roots and division share the latency); every other point alone. Each point's bits are
// SmoothPoint's, so the grouping and the chunk cuts change nothing. When the destination bypasses
// the cache, a group starts only where its stores can go around it (64 bytes for eight, 32 for
// four) and single points lead up to there, so that the stores are whole cache lines.
void SmoothChunk(void* context, Int64 begin, Int64 end) noexcept {
  const SmoothPassContext& c = *static_cast<const SmoothPassContext*>(context);
  const LaneWidth width = ActiveLaneWidth();
  const bool stream = StreamsStores(width, static_cast<Int64>(c.destination.size()));
  const LengthStepArrays arrays{c.source.data(),
                                c.destination.data(),
                                c.lists->start.GetData(),
                                c.lists->index.GetData(),
                                c.weights.empty() ? nullptr : c.weights.data(),
                                static_cast<Float>(c.settings->strength),
                                stream};
  if (c.settings->weighting == kWeightingUniform && width != LaneWidth::kPairs) {
    const std::uint8_t* pinned = c.settings->pinBorder ? c.border->flag.GetData() : nullptr;
    if (width == LaneWidth::kWide512)
      UniformSteps512(arrays, pinned, begin, end);
    else
      UniformStepsWide(arrays, pinned, begin, end);
    if (stream) FenceStreamedStores();
    return;
  }
  Int64 i = begin;
  while (i < end) {
    const bool at32 = !stream || AlignedTo(arrays.destination + i, 32);
    if (width == LaneWidth::kWide512 && i + 7 < end &&
        (!stream || AlignedTo(arrays.destination + i, 64)) && FullSteps(c, i, 8)) {
      LengthSteps512(arrays, i);
      i += 8;
    } else if (width != LaneWidth::kPairs && at32 && i + 3 < end && FullSteps(c, i, 4)) {
      LengthStepsWide(arrays, i);
      i += 4;
    } else if (at32 && i + 1 < end && FullSteps(c, i, 2)) {
      LengthStepPair(c, i);
      i += 2;
    } else {
      SmoothPoint(c.source, c.destination, i, *c.lists, *c.border, *c.settings, c.weights);
      ++i;
    }
  }
  if (stream) FenceStreamedStores();
}

}  // namespace
#endif

void SmoothPass(std::span<const Vector3> source, std::span<Vector3> destination,
                const NeighbourLists& lists, const BorderFlags& border,
                const SmoothingSettings& settings, std::span<const Float32> weights) {
  const Int64 pointCount = static_cast<Int64>(source.size());
#if defined(TESSAMIRE_FLOAT_PAIRS)
  // Uniform steps gain from the wide units only; in pairs they run one by one below.
  if (settings.weighting == kWeightingLength ||
      (settings.weighting == kWeightingUniform && ActiveLaneWidth() != LaneWidth::kPairs)) {
    if (pointCount <= 0) return;
    SmoothPassContext context{source, destination, &lists, &border, &settings, weights};
    const Int64 chunk = StreamsStores(ActiveLaneWidth(), static_cast<Int64>(destination.size()))
                            ? kStreamingChunk
                            : kParallelGranularity;
    Framework().parallelFor(pointCount, chunk, &context, SmoothChunk);
    return;
  }
#endif
  ParallelFor(pointCount, [&](Int64 i) {
    SmoothPoint(source, destination, i, lists, border, settings, weights);
  });
}

std::span<Vector3> Smooth(std::span<Vector3> source, std::span<Vector3> destination,
                          const NeighbourLists& lists, const BorderFlags& border,
                          const SmoothingSettings& settings, std::span<const Float32> weights) {
  for (Int32 pass = 0; pass < settings.iterations; ++pass) {
    SmoothPass(source, destination, lists, border, settings, weights);
    std::swap(source, destination);
  }
  return source;
}

std::span<const Vector3> SmoothFrom(std::span<const Vector3> points, std::span<Vector3> first,
                                    std::span<Vector3> second, const NeighbourLists& lists,
                                    const BorderFlags& border, const SmoothingSettings& settings,
                                    std::span<const Float32> weights) {
  if (settings.iterations <= 0) return points;
  SmoothPass(points, first, lists, border, settings, weights);
  SmoothingSettings rest = settings;
  rest.iterations = settings.iterations - 1;
  return Smooth(first, second, lists, border, rest, weights);
}
