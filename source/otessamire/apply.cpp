#include "source/otessamire/apply.h"

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
  // The restriction weight r first, then the falloff's w: (r*T + (1-r)*P) * w + (1-w)*P.
  const Vector3 restricted = context.hostWeights.empty()
                                 ? t
                                 : BlendPoint(static_cast<Float>(context.hostWeights[i]), t, p);
  const Vector3 out = BlendPoint(w, restricted, p);
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
