#include "source/tessamireThreads/smoothing.h"

#include <utility>

#include "host/parallel.h"
#include "source/tessamireThreads/vector_ops.h"

namespace {

// D * weight (when a map is given), then * strength: the order fixes the rounding.
inline Vector3 ScaleStep(Vector3 step, Int64 i, const SmoothOptions& settings) {
  if (settings.weights != nullptr)
    step = vmath::Scale(step, static_cast<Float>(settings.weights[i]));
  return vmath::Scale(step, static_cast<Float>(settings.strength));
}

}  // namespace

void SmoothPoint(const Vector3* source, Vector3* destination, Int64 i, const NeighbourLists& lists,
                 const BorderFlags& border, const SmoothOptions& settings) {
  const Vector3 here = source[i];
  if (settings.pinBorder && border.flag[i] == 1) {
    destination[i] = here;
    return;
  }
  const Int32 n = lists.Count(i);
  const Int32* list = lists.List(i);
  if (settings.weighting == kWeightingUniform) {
    Vector3 sum{0.0, 0.0, 0.0};
    for (Int32 k = 0; k < n; ++k) sum = vmath::Add(sum, vmath::Sub(source[list[k]], here));
    const Float m = n > 0 ? static_cast<Float>(n) : 1.0;
    const Vector3 step = ScaleStep(vmath::Scale(sum, 1.0 / m), i, settings);
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
    const Vector3 step = ScaleStep(vmath::Scale(sum, 1.0 / q), i, settings);
    destination[i] = vmath::Add(here, step);
    return;
  }
  // Length-weighted without neighbours, or a weighting with no defined step: the point stays.
  destination[i] = here;
}

void SmoothPass(const Vector3* source, Vector3* destination, Int32 pointCount,
                const NeighbourLists& lists, const BorderFlags& border,
                const SmoothOptions& settings) {
  ParallelFor(pointCount,
              [&](Int64 i) { SmoothPoint(source, destination, i, lists, border, settings); });
}

Vector3* Smooth(Vector3* source, Vector3* destination, Int32 pointCount,
                const NeighbourLists& lists, const BorderFlags& border,
                const SmoothOptions& settings) {
  for (Int32 pass = 0; pass < settings.iterations; ++pass) {
    SmoothPass(source, destination, pointCount, lists, border, settings);
    std::swap(source, destination);
  }
  return source;
}
