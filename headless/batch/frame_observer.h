// Who watches a batch run's frames as they are written: the progress, warnings, the report's rows,
// a preview. The engine (apply_frames.h) calls every observer on the run's calling thread, in the
// order they are given: Begin once the sink has begun, Written per frame in frame order once its
// result is written, End once the results are committed. A run that fails calls nothing more.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "headless/scene/deform.h"

namespace headless {

// A frame whose result is written.
struct WrittenFrame {
  size_t index = 0;
  size_t count = 0;    // frames in the run
  std::string name;    // FrameSource::Name
  std::string target;  // ResultSink::Target
  // The frame's points as read and its result; the input may be empty (taken by the correction)
  // unless an observer WantsPointsOf the frame.
  const std::vector<Vector3>& input;
  const std::vector<Vector3>& result;
  const DeformReport& report;
  Float seconds = 0.0;  // the correction's

  bool Last() const { return index + 1 == count; }
};

class FrameObserver {
 public:
  virtual ~FrameObserver() = default;
  // Whether Written looks at the frame's input: else the correction takes the frame's points
  // rather than copy them.
  virtual bool WantsPoints() const { return false; }
  // Whether Written looks at frame `index`'s input: an observer of a few frames spares the others
  // the copy.
  virtual bool WantsPointsOf(size_t /*index*/) const { return WantsPoints(); }
  // Before the first frame. May throw to stop the run.
  virtual void Begin() {}
  // May throw to stop the run (Interrupted on Ctrl-C): frames after it are not written.
  virtual void Written(const WrittenFrame& frame) = 0;
  // After the last frame, its results committed.
  virtual void End() {}
};

}  // namespace headless
