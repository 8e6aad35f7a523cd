#include "source/tessamireThreads/smoothing.h"

#include <cstdint>
#include <utility>

#include "host/binding/parallel.h"
#include "source/tessamireThreads/lane_kernels.h"
#include "source/tessamireThreads/vector_ops.h"

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

namespace {

struct SmoothPassContext {
  std::span<const Vector3> source;
  std::span<Vector3> destination;
  const NeighbourLists* lists;
  const BorderFlags* border;
  const SmoothingSettings* settings;
  std::span<const Float32> weights;
  const LaneKernels* lanes;
  bool stream;
};

// A length-weighted step that runs the whole formula: not pinned, and with at least one neighbour.
inline bool FullStep(const SmoothPassContext& c, Int64 i) {
  if (c.settings->pinBorder && c.border->flag[i] == 1) return false;
  return c.lists->Count(i) > 0;
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

// The widest table's length steps that points [i, end) can start with: the group fits, every
// point of it takes the full step, and where the destination bypasses the cache the group starts
// on its table's alignment. Null: point i goes alone.
inline const LaneKernels* StepGroupAt(const SmoothPassContext& c, Int64 i, Int64 end) {
  for (const LaneKernels* lanes = c.lanes; lanes != nullptr; lanes = lanes->narrower) {
    if (lanes->lengthSteps == nullptr || i + lanes->stepPoints > end) continue;
    if (c.stream && !AlignedTo(c.destination.data() + i, lanes->groupAlignment)) continue;
    if (FullSteps(c, i, lanes->stepPoints)) return lanes;
  }
  return nullptr;
}

// One chunk. Uniform steps go through the table's range kernel, which also takes the pinned
// points. Length-weighted: neighbouring points that all take the
// full step go in groups of the widest lanes that fit, every other point alone. Each point's bits
// are SmoothPoint's, so the grouping and the chunk cuts change nothing. When the destination
// bypasses the cache, a group starts only where its stores can go around it and single points
// lead up to there, so that the stores are whole cache lines.
void SmoothChunk(void* context, Int64 begin, Int64 end) noexcept {
  const SmoothPassContext& c = *static_cast<const SmoothPassContext*>(context);
  const LengthStepArrays arrays{c.source.data(),
                                c.destination.data(),
                                c.lists->start.GetData(),
                                c.lists->index.GetData(),
                                c.weights.empty() ? nullptr : c.weights.data(),
                                static_cast<Float>(c.settings->strength),
                                c.stream};
  if (c.settings->weighting == kWeightingUniform) {
    const std::uint8_t* pinned = c.settings->pinBorder ? c.border->flag.GetData() : nullptr;
    c.lanes->uniformSteps(arrays, pinned, begin, end);
  } else {
    Int64 i = begin;
    while (i < end) {
      if (const LaneKernels* group = StepGroupAt(c, i, end)) {
        group->lengthSteps(arrays, i);
        i += group->stepPoints;
      } else {
        SmoothPoint(c.source, c.destination, i, *c.lists, *c.border, *c.settings, c.weights);
        ++i;
      }
    }
  }
  if (c.stream) c.lanes->fence();
}

}  // namespace

void SmoothPass(std::span<const Vector3> source, std::span<Vector3> destination,
                const NeighbourLists& lists, const BorderFlags& border,
                const SmoothingSettings& settings, std::span<const Float32> weights) {
  const Int64 pointCount = static_cast<Int64>(source.size());
  const LaneKernels& lanes = ActiveLanes();
  const bool grouped = settings.weighting == kWeightingLength ||
                       (settings.weighting == kWeightingUniform && lanes.uniformSteps != nullptr);
  if (!grouped) {
    // No kernel for the step: point by point.
    ParallelFor(pointCount, [&](Int64 i) {
      SmoothPoint(source, destination, i, lists, border, settings, weights);
    });
    return;
  }
  if (pointCount <= 0) return;
  const bool stream = StreamsStores(lanes, static_cast<Int64>(destination.size()));
  SmoothPassContext context{source,    destination, &lists, &border,
                            &settings, weights,     &lanes, stream};
  Framework().parallelFor(pointCount, stream ? kStreamingChunk : kParallelGranularity, &context,
                          SmoothChunk);
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
