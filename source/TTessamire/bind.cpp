#include "source/TTessamire/bind.h"

#include "host/binding/parallel.h"
#include "source/TTessamire/tag_parameters.h"
#include "source/TTessamire/tag_run.h"

Bool Bind(HostArray<Vector3>& differences, BaseObject* object, BaseList2D* tag,
          KeptTopology* kept) {
  if (object->GetType() != Opolygon) return false;
  const Int32 iterations = ReadIterations(tag);
  const SmoothingSettings settings = ReadSmoothingSettings(tag, iterations);
  const Int32 pointCount = object->GetPointCount();
  const Vector3* points = object->GetPointR();

  HostArray<Frame> frames;
  if (!RunCoreForTag(object, pointCount, tag, object->GetDocument(), settings, frames, kept))
    return false;

  differences.Release();
  if (!differences.Resize(pointCount)) return false;
  const std::span<Vector3> out = differences.Span();
  const std::span<const Frame> frame = frames.Span();
  ParallelFor(pointCount, [&](Int64 i) { out[i] = EncodeDifference(frame[i], points[i]); });
  return true;
}
