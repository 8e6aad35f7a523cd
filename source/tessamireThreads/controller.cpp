#include "source/tessamireThreads/controller.h"

#include <cstring>

#include "host/binding.h"
#include "source/tessamireThreads/frames.h"
#include "source/tessamireThreads/working_memory.h"

Bool TessamireController::Configure(BaseObject* object, Frame* frameBuffer,
                                    const SmoothingSettings& settings) {
  if (object == nullptr || object->GetType() != Opolygon) return false;
  object_ = object;
  frameBuffer_ = frameBuffer;
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
  return ComputePointFrames(points, pointCount, polygons, polygonCount, settings_, weights,
                            frameBuffer_);
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
  Framework().parallelFor(pointCount, 1 << 14, &copy, [](void* context, Int64 begin, Int64 end) {
    const PointCopy& c = *static_cast<const PointCopy*>(context);
    std::memcpy(c.to + begin, c.from + begin, static_cast<size_t>(end - begin) * sizeof(Vector3));
  });
}

}  // namespace

Bool ComputePointFrames(const Vector3* points, Int32 pointCount, const CPolygon* polygons,
                        Int32 polygonCount, const SmoothingSettings& settings,
                        const Float32* weights, Frame* frameBuffer) {
  if (pointCount < 0 || polygonCount < 0) return false;
  if ((pointCount > 0 && (points == nullptr || frameBuffer == nullptr)) ||
      (polygonCount > 0 && polygons == nullptr))
    return false;
  if (!PolygonIndicesInRange(polygons, polygonCount, pointCount)) return false;

  HostBuffer<Vector3> source;
  HostBuffer<Vector3> destination;
  if (!TESSAMIRE_ALLOCATE(source, pointCount) || !TESSAMIRE_ALLOCATE(destination, pointCount))
    return false;
  CopyPoints(points, pointCount, source.get());

  AdjacencyOwner adjacency;
  if (!BuildAdjacency(polygons, polygonCount, pointCount, adjacency)) return false;

  NeighbourLists lists;
  BorderFlags border;
  if (!BuildNeighbourhoods(polygons, polygonCount, pointCount, *adjacency.get(), lists, border))
    return false;

  const Vector3* smoothed =
      Smooth(source.get(), destination.get(), pointCount, lists, border, settings, weights);

  // The face normals are the run's last allocation: once they are taken nothing can fail, so
  // the frames go straight into the caller's buffer, which a failed run never touches. Writing
  // them there rather than into a block of the run's own and copying that block at the end
  // spares 96 bytes per point of memory and twice that of traffic; the caller, waiting for the
  // run, sees the same finished block either way.
  HostBuffer<Vector3> normals;
  if (!TESSAMIRE_ALLOCATE(normals, polygonCount)) return false;
  if (pointCount == 0) return true;
  ComputeOrigins(smoothed, pointCount, frameBuffer);
  ComputeFaceNormals(smoothed, polygons, polygonCount, normals.get());
  ComputeVertexFrames(smoothed, polygons, pointCount, normals.get(), *adjacency.get(), frameBuffer);
  return true;
}

Bool RunController(TessamireController& controller) {
  if (!controller.Start(THREADMODE_ASYNC, THREADPRIORITY_NORMAL)) return false;
  controller.Wait(false);
  return controller.Succeeded();
}
