// The deformation core's one entry: a host thread that smooths a copy of a polygon object's
// points and fills a caller-owned buffer with one frame per point.
#pragma once

#include <atomic>

#include "host/nodes.h"
#include "host/thread.h"
#include "source/tessamireThreads/frame.h"
#include "source/tessamireThreads/smoothing.h"

class TessamireController : public C4DThread {
 public:
  TessamireController() = default;

  // Stores the run's inputs and reads the object's point and polygon counts. False, storing
  // nothing, when `object` is null or not a polygon object. `frameBuffer` must hold
  // GetPointCount() frames; settings.vertexMap is used only when settings.useVertexMap is set.
  Bool Configure(BaseObject* object, Frame* frameBuffer, const SmoothingSettings& settings);

  // One run: checks the polygon indices, builds the adjacency, neighbour lists and border flags,
  // smooths, and, once every allocation has succeeded, builds the frames in the frame buffer.
  // A run that ends early (not a polygon object, counts changed since Configure, a polygon index
  // outside [0, pointCount), a missing point or polygon array, a vertex map with fewer weights
  // than points, an allocation or adjacency failure) frees what it took, leaves the frame buffer
  // untouched and reports failure through Succeeded().
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
  Frame* frameBuffer_ = nullptr;
  SmoothingSettings settings_;
  Int32 pointCount_ = 0;
  Int32 polygonCount_ = 0;
  std::atomic<Bool> succeeded_{false};
};

// The body of a controller run, over plain arrays: checks that every polygon index lies in
// [0, pointCount), smooths a copy of `points` (`weights`, when not null, holds the vertex map's
// pointCount weights) and builds one frame per point in `frameBuffer` (pointCount frames), which it
// writes only after its last allocation. Allocates, in order: two position buffers, the adjacency,
// the border flags, the neighbour offsets, the walk's per-polygon decisions, the neighbour indices,
// the face normals; frees them all on every path. False, with `frameBuffer` untouched, when an
// index is out of range, an array is missing, or an allocation or the adjacency fails.
Bool ComputePointFrames(const Vector3* points, Int32 pointCount, const CPolygon* polygons,
                        Int32 polygonCount, const SmoothingSettings& settings,
                        const Float32* weights, Frame* frameBuffer);

// Starts the controller on a host thread (asynchronous mode, normal priority), waits for its end
// and answers whether the run succeeded. When it answers false the frame buffer is untouched.
Bool RunController(TessamireController& controller);
