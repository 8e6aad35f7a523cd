#include "source/tessamireThreads/controller.h"

#include <cstdint>
#include <cstring>

#include "host/binding/binding.h"
#include "host/binding/host_array.h"
#include "source/tessamireThreads/frames.h"

Bool TessamireController::Configure(BaseObject* object, std::span<Frame> frames,
                                    const SmoothingSettings& settings) {
  if (object == nullptr || object->GetType() != Opolygon ||
      frames.size() != static_cast<size_t>(object->GetPointCount()))
    return false;
  return Configure(object, FrameBufferSink(frames), settings, nullptr);
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
  const Vector3* points = object_->GetPointR();
  const CPolygon* polygons = object_->GetPolygonR();
  if ((pointCount_ > 0 && points == nullptr) || (polygonCount_ > 0 && polygons == nullptr))
    return false;
  PointFramesInput input;
  input.points = {points, static_cast<size_t>(pointCount_)};
  input.polygons = {polygons, static_cast<size_t>(polygonCount_)};
  input.settings = settings_;
  if (settings_.useVertexMap && settings_.vertexMap != nullptr) {
    // A map with fewer weights than points would be read past its end.
    if (settings_.vertexMap->GetDataCount() < pointCount_) return false;
    const Float32* weights = settings_.vertexMap->GetWeightsR();
    if (weights == nullptr && pointCount_ > 0) return false;
    if (pointCount_ > 0) input.weights = {weights, static_cast<size_t>(pointCount_)};
  }
  return ComputePointFrames(input, sink_, kept_);
}

namespace {

struct PointCopy {
  const Vector3* from;
  Vector3* to;
};

// Copies the points (as many as `to` holds) in large blocks spread over the workers: on a mesh of
// millions of points a single thread's copy is a visible share of a run.
void CopyPoints(std::span<const Vector3> from, std::span<Vector3> to) {
  const Int64 pointCount = static_cast<Int64>(to.size());
  if (pointCount <= 0) return;
  PointCopy copy{from.data(), to.data()};
  Framework().parallelFor(pointCount, 1 << 14, &copy,
                          [](void* context, Int64 begin, Int64 end) noexcept {
                            const PointCopy& c = *static_cast<const PointCopy*>(context);
                            std::memcpy(c.to + begin, c.from + begin,
                                        static_cast<size_t>(end - begin) * sizeof(Vector3));
                          });
}

}  // namespace

Bool ComputePointFrames(const PointFramesInput& input, std::span<Frame> frames) {
  if (frames.size() != input.points.size()) return false;
  return ComputePointFrames(input, FrameBufferSink(frames), nullptr);
}

Bool ComputePointFrames(const PointFramesInput& input, FrameSink sink, KeptTopology* kept) {
  const std::span<const Vector3> points = input.points;
  const std::span<const CPolygon> polygons = input.polygons;
  const std::span<const Float32> weights = input.weights;
  const SmoothingSettings& settings = input.settings;
  if (points.size() > INT32_MAX || polygons.size() > INT32_MAX) return false;
  if (!weights.empty() && weights.size() != points.size()) return false;
  const Int32 pointCount = static_cast<Int32>(points.size());
  if (pointCount > 0 && sink.consume == nullptr) return false;

  // The first pass reads the points where they are; without a pass the frames are built on a copy,
  // since the sink may write the points while the frames of their neighbours are still read.
  HostArray<Vector3> first;
  HostArray<Vector3> second;
  if (!first.Allocate(pointCount) || (settings.iterations >= 2 && !second.Allocate(pointCount)))
    return false;

  // A kept topology is used only for the very polygons it was built from, whose indices were
  // checked then against the same point count.
  const MeshTopology* topology = kept != nullptr ? kept->Find(polygons, pointCount) : nullptr;
  MeshTopology built;
  if (topology == nullptr) {
    if (kept != nullptr) kept->Release();
    if (!PolygonIndicesInRange(polygons, pointCount)) return false;
    if (!BuildMeshTopology(polygons, pointCount, built)) return false;
    topology = &built;
    if (kept != nullptr) {
      if (const MeshTopology* held = kept->Keep(polygons, pointCount, built)) topology = held;
    }
  }

  std::span<const Vector3> smoothed;
  if (settings.iterations <= 0) {
    CopyPoints(points, first.Span());
    smoothed = first.Span();
  } else {
    smoothed = SmoothFrom(points, first.Span(), second.Span(), topology->lists, topology->border,
                          settings, weights);
  }

  // The face normals are the run's last allocation: once they are taken nothing can fail, so the
  // frames go to the sink, which a failed run never calls.
  HostArray<Vector3> normals;
  if (!normals.Allocate(static_cast<Int64>(polygons.size()))) return false;
  if (pointCount == 0) return true;
  ComputeFaceNormals(smoothed, polygons, normals.Span());
  BuildFrameBlocks(smoothed, polygons, normals.Span(), *topology->adjacency.get(), sink);
  return true;
}

Bool RunController(TessamireController& controller) {
  if (!controller.Start(THREADMODE_ASYNC, THREADPRIORITY_NORMAL)) return false;
  controller.Wait(false);
  return controller.Succeeded();
}
