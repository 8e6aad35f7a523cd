// The deformation core's one entry: a host thread that smooths a polygon object's points and
// builds one frame per point, into a caller-owned buffer or block by block into a caller's sink.
#pragma once

#include <atomic>
#include <span>

#include "host/binding/nodes.h"
#include "host/binding/thread.h"
#include "source/tessamireThreads/frame.h"
#include "source/tessamireThreads/frames.h"
#include "source/tessamireThreads/kept_topology.h"
#include "source/tessamireThreads/smoothing.h"

class TessamireController : public C4DThread {
 public:
  TessamireController() = default;

  // Stores the run's inputs and reads the object's point and polygon counts. False, storing
  // nothing, when `object` is null or not a polygon object, or when `frames` does not hold one
  // frame per point. settings.vertexMap is used only when settings.useVertexMap is set.
  Bool Configure(BaseObject* object, std::span<Frame> frames, const SmoothingSettings& settings);
  // The same, the frames going block by block to `sink` (see FrameSink), and the object's
  // topology taken from and kept in `kept` when it is not null (see ComputePointFrames).
  Bool Configure(BaseObject* object, FrameSink sink, const SmoothingSettings& settings,
                 KeptTopology* kept);

  // One run: checks the polygon indices, builds the adjacency, neighbour lists and border flags
  // (or takes the kept ones), smooths, and, once every allocation has succeeded, builds the frames
  // into the frame buffer or the sink. A run that ends early (not a polygon object, counts
  // changed since Configure, a polygon index outside [0, pointCount), a missing point or polygon
  // array, a vertex map with fewer weights than points, an allocation or adjacency failure) frees
  // what it took, leaves the frame buffer untouched (the sink uncalled) and reports failure
  // through Succeeded().
  void Main() override;
  const char* GetThreadName() override { return "Tessamire Controller"; }
  Bool TestDBreak() override { return false; }

  // True once a run has filled the frame buffer; false before a run and after a failed one.
  Bool Succeeded() const { return succeeded_.load(std::memory_order_acquire); }
  Int32 GetPointCount() const { return pointCount_; }
  Int32 GetPolygonCount() const { return polygonCount_; }

 private:
  Bool Run();

  BaseObject* object_ = nullptr;
  FrameSink sink_;
  KeptTopology* kept_ = nullptr;
  SmoothingSettings settings_;
  Int32 pointCount_ = 0;
  Int32 polygonCount_ = 0;
  std::atomic<Bool> succeeded_{false};
};

// What a run reads: the mesh, the vertex map's weights and the smoothing settings (whose
// vertexMap is not looked at: its weights are here).
struct PointFramesInput {
  std::span<const Vector3> points;     // one per point, at most the largest Int32 of them
  std::span<const CPolygon> polygons;  // at most the largest Int32 of them
  std::span<const Float32> weights;    // one per point, or empty for no vertex map
  SmoothingSettings settings;
};

// The body of a controller run, over plain arrays: checks that every polygon index lies in
// [0, point count), smooths the points and builds one frame per point in `frames`, which it
// writes only after its last allocation; frees everything it took on every path. False, with
// `frames` untouched, when the counts do not match (frames or weights other than one per point,
// more points or polygons than an Int32 holds), an index is out of range, or an allocation or
// the adjacency fails.
Bool ComputePointFrames(const PointFramesInput& input, std::span<Frame> frames);

// The same run handing its frames block by block to `sink`, called only once the run's last
// allocation has succeeded, so a failed run never calls it. The points are only read, and the
// first pass reads them where they are (with no pass they are copied first): the sink may
// therefore write them, each block its own points. With `kept`, the topology it holds is used when
// it was built for these counts and polygons (and the indices are known to be in range);
// otherwise it is freed, the topology built afresh and kept there, with a copy of the polygons.
// When that copy cannot be had the run goes on with its own topology, freed at its end, and
// nothing is kept. Allocates, in order: the position buffers (the second only for two passes or
// more), the topology when it is not reused, the kept copy of the polygons, the face normals.
Bool ComputePointFrames(const PointFramesInput& input, FrameSink sink, KeptTopology* kept);

// Starts the controller on a host thread (asynchronous mode, normal priority), waits for its end
// and answers whether the run succeeded. When it answers false the frame buffer is untouched.
Bool RunController(TessamireController& controller);
