#include "source/tessamireThreads/controller.h"

#include <cstring>

#include "host/binding/binding.h"
#include "source/tessamireThreads/frames.h"
#include "source/tessamireThreads/working_memory.h"

Bool TessamireController::Configure(BaseObject* object, Frame* frameBuffer,
                                    const SmoothingSettings& settings) {
  // Without a buffer the sink takes nothing, and a run over points fails.
  return Configure(object, frameBuffer != nullptr ? FrameBufferSink(frameBuffer) : FrameSink{},
                   settings, nullptr);
}

Bool TessamireController::Configure(BaseObject* object, FrameSink sink,
                                    const SmoothingSettings& settings, KeptTopology* kept) {
  if (object == nullptr || object->GetType() != Opolygon) return false;
  object_ = object;
  sink_ = sink;
  kept_ = kept;
  settings_ = settings;
  pointCount_ = object->GetPointCount();
  polygonCount_ = object->GetPolygonCount();
  return true;
}

void TessamireController::Main() {
  succeeded_.store(false, std::memory_order_release);
  const Bool ok = Run();
  succeeded_.store(ok, std::memory_order_release);
}

Bool TessamireController::Run() {
  if (object_ == nullptr || object_->GetType() != Opolygon) return false;
  // The buffers below are sized by the counts read at Configure; a mesh that changed since then
  // would be read past its ends.
  if (object_->GetPointCount() != pointCount_ || object_->GetPolygonCount() != polygonCount_)
    return false;
  const Int32 pointCount = pointCount_;
  const Int32 polygonCount = polygonCount_;
  const Vector3* points = object_->GetPointR();
  const CPolygon* polygons = object_->GetPolygonR();
  const Float32* weights = nullptr;
  if (settings_.useVertexMap && settings_.vertexMap != nullptr) {
    // A map with fewer weights than points would be read past its end.
    if (settings_.vertexMap->GetDataCount() < pointCount) return false;
    weights = settings_.vertexMap->GetWeightsR();
    if (weights == nullptr && pointCount > 0) return false;
  }
  return ComputePointFrames(points, pointCount, polygons, polygonCount, settings_, weights, sink_,
                            kept_);
}

namespace {

struct PointCopy {
  const Vector3* from;
  Vector3* to;
};

// Copies the points in large blocks spread over the workers: on a mesh of millions of points a
// single thread's copy is a visible share of a run.
void CopyPoints(const Vector3* from, Int32 pointCount, Vector3* to) {
  if (pointCount <= 0) return;
  PointCopy copy{from, to};
  Framework().parallelFor(pointCount, 1 << 14, &copy,
                          [](void* context, Int64 begin, Int64 end) noexcept {
                            const PointCopy& c = *static_cast<const PointCopy*>(context);
                            std::memcpy(c.to + begin, c.from + begin,
                                        static_cast<size_t>(end - begin) * sizeof(Vector3));
                          });
}

}  // namespace

Bool ComputePointFrames(const Vector3* points, Int32 pointCount, const CPolygon* polygons,
                        Int32 polygonCount, const SmoothingSettings& settings,
                        const Float32* weights, Frame* frameBuffer) {
  if (pointCount > 0 && frameBuffer == nullptr) return false;
  return ComputePointFrames(points, pointCount, polygons, polygonCount, settings, weights,
                            FrameBufferSink(frameBuffer), nullptr);
}

Bool ComputePointFrames(const Vector3* points, Int32 pointCount, const CPolygon* polygons,
                        Int32 polygonCount, const SmoothingSettings& settings,
                        const Float32* weights, FrameSink sink, KeptTopology* kept) {
  if (pointCount < 0 || polygonCount < 0) return false;
  if ((pointCount > 0 && (points == nullptr || sink.consume == nullptr)) ||
      (polygonCount > 0 && polygons == nullptr))
    return false;

  // The first pass reads the points where they are; without a pass the frames are built on a copy,
  // since the sink may write the points while the frames of their neighbours are still read.
  HostBuffer<Vector3> first;
  HostBuffer<Vector3> second;
  if (!TESSAMIRE_ALLOCATE(first, pointCount) ||
      (settings.iterations >= 2 && !TESSAMIRE_ALLOCATE(second, pointCount)))
    return false;

  // A kept topology is used only for the very polygons it was built from, whose indices were
  // checked then against the same point count.
  const MeshTopology* topology =
      kept != nullptr ? kept->Find(polygons, polygonCount, pointCount) : nullptr;
  MeshTopology built;
  if (topology == nullptr) {
    if (kept != nullptr) kept->Release();
    if (!PolygonIndicesInRange(polygons, polygonCount, pointCount)) return false;
    if (!BuildMeshTopology(polygons, polygonCount, pointCount, built)) return false;
    topology = &built;
    if (kept != nullptr) {
      if (const MeshTopology* held = kept->Keep(polygons, polygonCount, pointCount, built))
        topology = held;
    }
  }

  const Vector3* smoothed = nullptr;
  if (settings.iterations <= 0) {
    CopyPoints(points, pointCount, first.get());
    smoothed = first.get();
  } else {
    smoothed = SmoothFrom(points, first.get(), second.get(), pointCount, topology->lists,
                          topology->border, settings, weights);
  }

  // The face normals are the run's last allocation: once they are taken nothing can fail, so the
  // frames go to the sink, which a failed run never calls.
  HostBuffer<Vector3> normals;
  if (!TESSAMIRE_ALLOCATE(normals, polygonCount)) return false;
  if (pointCount == 0) return true;
  ComputeFaceNormals(smoothed, polygons, polygonCount, normals.get());
  BuildFrameBlocks(smoothed, polygons, pointCount, normals.get(), *topology->adjacency.get(), sink);
  return true;
}

Bool RunController(TessamireController& controller) {
  if (!controller.Start(THREADMODE_ASYNC, THREADPRIORITY_NORMAL)) return false;
  controller.Wait(false);
  return controller.Succeeded();
}
