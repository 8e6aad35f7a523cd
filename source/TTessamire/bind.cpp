#include "source/TTessamire/bind.h"

#include <utility>

#include "source/TTessamire/tag_parameters.h"
#include "source/TTessamire/tag_run.h"

namespace {

// Encodes each rest point in its frame as the core hands the frames over, block by block, so that
// no buffer of every frame (four vectors a point) is ever held.
struct EncodeInto {
  const Vector3* points;
  Vector3* differences;

  static void Consume(void* context, Int64 begin, std::span<const Frame> frames) {
    const auto* into = static_cast<const EncodeInto*>(context);
    for (size_t k = 0; k < frames.size(); ++k) {
      const Int64 i = begin + static_cast<Int64>(k);
      into->differences[i] = EncodeDifference(frames[k], into->points[i]);
    }
  }
};

}  // namespace

Bool Bind(HostArray<Vector3>& differences, BaseObject* object, BaseList2D* tag,
          KeptTopology* kept) {
  if (object->GetType() != Opolygon) return false;
  const Int32 iterations = ReadIterations(tag);
  const SmoothingSettings settings = ReadSmoothingSettings(tag, iterations);
  const Int32 pointCount = object->GetPointCount();

  HostArray<Vector3> encoded;
  if (!encoded.Allocate(pointCount)) return false;
  EncodeInto into{object->GetPointR(), encoded.GetData()};
  if (!RunCoreForTag(object, pointCount, tag, object->GetDocument(), settings,
                     FrameSink{&into, &EncodeInto::Consume}, kept))
    return false;
  differences = std::move(encoded);
  return true;
}
