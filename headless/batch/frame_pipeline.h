// Frames taken through three stages, read, correct and write, over the machine's cores: while
// frame i is corrected on the calling thread, frame i + 1 is read on a thread of its own and
// frame i - 1 written on another. Each stage sees the frames in order, one at a time, so a stage
// may keep state from one frame to the next; the three stages of one step run at once and touch
// different frames (frame i keeps its slot, i % kPipelineSlots, from its reading to its writing).
//
// A stage failing for frame k stops the run as a run of one frame after another would: every
// frame before k is still taken through all its stages, no stage runs for k or a later frame
// after that, and the failure is thrown again once every thread has finished.
#pragma once

#include <cstddef>
#include <functional>

namespace headless {

inline constexpr size_t kPipelineSlots = 3;

struct FrameStages {
  std::function<void(size_t frame)> read;
  std::function<void(size_t frame)> correct;
  std::function<void(size_t frame)> write;
  // Called on the calling thread after each step with the frame just written, e.g. to report it.
  std::function<void(size_t frame)> written;
  // Called, when given, in each step after every frame was read without a failure, on the thread
  // that read, beside the step's correction and writing: with how many frames were written in
  // the steps before (frames 0 .. writtenBefore - 1), e.g. to publish their results. Its failure
  // stops the run as a failure of the frame that step writes. Pipelined runs only.
  std::function<void(size_t writtenBefore)> onceAllRead;
  // True when one frame's writing needs nothing of the frame's before it (each to a file of its
  // own): the last frame is then written as soon as it is corrected, while the frame before it
  // is still being written, and a failure of that frame's writing drops the last one's unreported
  // (`written` is never called for it).
  bool writesApart = false;
};

// Takes frames 0 .. count - 1 through the stages; with `pipelined` false, one frame after
// another on the calling thread (the same results, for comparison).
void RunFrames(size_t count, const FrameStages& stages, bool pipelined = true);

// `work` for frames 0 .. count - 1, two at a time (frame i on the calling thread, i + 1 on
// another), e.g. to check every frame before anything is written. The failure of the first frame
// failing is thrown once both threads have finished; every frame before it has run.
void RunInPairs(size_t count, const std::function<void(size_t frame)>& work);

}  // namespace headless
