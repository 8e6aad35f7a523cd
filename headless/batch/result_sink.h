// Where a batch run's results go: OBJ files (obj_results.h), one point cache (cache_results.h),
// one glTF (gltf_results.h).
//
// The engine (apply_frames.h) calls Begin once before the first frame, then Write for frames 0,
// 1, ... in order, each once, on a thread of its own beside the correction of the next frame (a
// sink WritesApart may have two frames written at once, each by a thread of its own). A run that
// succeeds ends with Commit, one that fails with Abandon; nothing of a sink's may reach its
// files before either.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "headless/batch/frame_source.h"

namespace headless {

class ResultSink {
 public:
  virtual ~ResultSink() = default;

  // Whether results are written like the rest's own file (frames without a file of their own):
  // the rest keeps its text (rest_file.h).
  virtual bool WritesLikeRest() const { return false; }
  // Whether the rest's faces as written and its points are still needed once the frames are
  // bound (a result on the rest's own vertices).
  virtual bool NeedsRestMesh() const { return false; }
  // True when one frame's writing needs nothing of the frames' before it (each to a file of its
  // own): the last frame is then written beside the one before (frame_pipeline.h).
  virtual bool WritesApart() const { return false; }
  // Where frame i's result goes, for the progress; empty when every result goes to one file.
  virtual std::string Target(size_t /*i*/) const { return {}; }

  // Before the first frame, once the rest is bound. May throw to stop the run.
  virtual void Begin() {}
  // Frame i's `result`; `frame` is the frame as read.
  virtual void Write(size_t i, const InputFrame& frame, const std::vector<Vector3>& result) = 0;
  // Every frame has been read without a fault, and frames 0 .. writtenBefore - 1 are written:
  // called on a thread beside the correction and writing, its failure that of the run.
  virtual void OnceAllRead(size_t /*writtenBefore*/) {}
  // Every one of `count` frames is written: the results reach their files.
  virtual void Commit(size_t count) = 0;
  // The run failed after frames 0 .. written - 1 were written; `faultyFrame` when a frame was at
  // fault as input (FrameSource::FoundFaultyFrame). Called while the failure is handled, before
  // it goes on; a failure of its own replaces it.
  virtual void Abandon(size_t /*written*/, bool /*faultyFrame*/) {}
};

}  // namespace headless
