#include "source/otessamire/apply.h"

#include <cmath>

namespace {

inline Bool Finite(const Vector3& v) {
  return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z);
}

}  // namespace

Bool ApplyPoint(const ApplyContext& context, Int64 i, const Frame& f) {
  if (!context.showSmoothed && FrameDeterminant(f) == 0.0) return false;
  Float w = 1.0;
  if (context.falloffActive) {
    Float sampled = 1.0;
    context.falloff->Sample(context.points[i], &sampled, !context.showSmoothed, 0.0, nullptr,
                            static_cast<Int32>(i));
    w = sampled;
  }
  const Vector3 p = context.points[i];
  const Vector3 t = context.showSmoothed ? f.origin : DecodeDifference(f, context.differences[i]);
  Vector3 out;
  if (!context.hostWeights.empty()) {
    const Float r = static_cast<Float>(context.hostWeights[i]);
    out.x = (r * t.x + (1.0 - r) * p.x) * w + (1.0 - w) * p.x;
    out.y = (r * t.y + (1.0 - r) * p.y) * w + (1.0 - w) * p.y;
    out.z = (r * t.z + (1.0 - r) * p.z) * w + (1.0 - w) * p.z;
  } else {
    out.x = w * t.x + (1.0 - w) * p.x;
    out.y = w * t.y + (1.0 - w) * p.y;
    out.z = w * t.z + (1.0 - w) * p.z;
  }
  if (!Finite(out)) return true;
  context.points[i] = out;
  return false;
}

FalloffInput MakeFalloffInput(std::span<const Vector3> points, const Matrix& m) {
  const Int64 pointCount = static_cast<Int64>(points.size());
  FalloffInput input;
  input.positions = points.data();
  input.positionCount = pointCount;
  input.count = pointCount;
  input.blockCount = pointCount;
  const Vector3* rows[4] = {&m.off, &m.v1, &m.v2, &m.v3};
  for (int r = 0; r < 4; ++r) {
    input.transform[3 * r + 0] = rows[r]->x;
    input.transform[3 * r + 1] = rows[r]->y;
    input.transform[3 * r + 2] = rows[r]->z;
  }
  input.fullArraySize = pointCount;
  return input;
}

void PrepareApply(BaseDocument* doc, BaseList2D* deformer, const Matrix& objectMatrix,
                  Falloff* falloff, ApplyContext& context) {
  const FalloffInput input = MakeFalloffInput(context.points, objectMatrix);
  context.falloff = falloff;
  context.falloffActive = falloff != nullptr && falloff->PreSample(doc, deformer, input, 0);
}

FrameSink ApplySink(const ApplyContext& context) {
  FrameSink sink{const_cast<ApplyContext*>(&context),
                 [](void* c, Int64 begin, std::span<const Frame> frames) {
                   const ApplyContext& context = *static_cast<const ApplyContext*>(c);
                   Int64 kept = 0;
                   for (size_t k = 0; k < frames.size(); ++k)
                     if (ApplyPoint(context, begin + static_cast<Int64>(k), frames[k])) ++kept;
                   if (kept > 0 && context.keptPoints != nullptr)
                     context.keptPoints->fetch_add(kept, std::memory_order_relaxed);
                 }};
  // Without weights or the smoothed mesh, ApplyPoint is DecodeInPlace, which the core does in
  // the lanes that build the frames.
  if (!context.showSmoothed && !context.falloffActive && context.hostWeights.empty()) {
    sink.decodePoints = context.points.data();
    sink.decodeDifferences = context.differences.data();
    sink.decodeNotFinite = context.keptPoints;
  }
  return sink;
}
