#include "headless/batch/frame_pipeline.h"

#include <exception>
#include <optional>
#include <thread>

namespace headless {

namespace {

// A stage's run for one frame, its failure kept for the step's end.
struct StageRun {
  std::optional<size_t> frame;
  std::exception_ptr failure;

  void Run(const std::function<void(size_t)>& stage) {
    try {
      stage(*frame);
    } catch (...) {
      failure = std::current_exception();
    }
  }
};

}  // namespace

void RunFrames(size_t count, const FrameStages& stages, bool pipelined) {
  if (!pipelined) {
    for (size_t i = 0; i < count; ++i) {
      stages.read(i);
      stages.correct(i);
      stages.write(i);
      if (stages.written) stages.written(i);
    }
    return;
  }
  size_t stop = count;  // the first frame that failed (count: none)
  std::exception_ptr failure;
  // Step s reads frame s, corrects frame s - 1 and writes frame s - 2.
  for (size_t s = 0; s < stop + 2; ++s) {
    StageRun read, correct, write, allRead, writeLast;
    if (s < stop) read.frame = s;
    if (s >= 1 && s - 1 < stop) correct.frame = s - 1;
    if (s >= 2 && s - 2 < stop) write.frame = s - 2;
    // The last frame's writing follows its correction in the same step, beside the frame before.
    const bool lastStep = stages.writesApart && s >= 1 && s == stop;
    if (lastStep) writeLast.frame = s - 1;
    // Frames before s - 2 were written in earlier steps.
    if (stages.onceAllRead && stop == count && s >= count && s >= 3) allRead.frame = s - 2;
    {
      std::optional<std::jthread> reader, writer;
      if (read.frame)
        reader.emplace([&] { read.Run(stages.read); });
      else if (allRead.frame)
        reader.emplace([&] { allRead.Run(stages.onceAllRead); });
      if (write.frame) writer.emplace([&] { write.Run(stages.write); });
      if (correct.frame) correct.Run(stages.correct);
      if (writeLast.frame && !correct.failure) writeLast.Run(stages.write);
    }
    // The earliest frame failing wins; later frames' work of this step is dropped.
    for (StageRun* run : {&write, &correct, &read, &allRead, &writeLast})
      if (run->failure && *run->frame < stop) {
        stop = *run->frame;
        failure = run->failure;
      }
    for (const StageRun* run : {&write, &writeLast})
      if (run->frame && *run->frame < stop && stages.written) stages.written(*run->frame);
    if (lastStep) break;
  }
  if (failure) std::rethrow_exception(failure);
}

void RunInPairs(size_t count, const std::function<void(size_t)>& work) {
  for (size_t i = 0; i < count; i += 2) {
    StageRun first, second;
    first.frame = i;
    {
      std::optional<std::jthread> other;
      if (i + 1 < count) {
        second.frame = i + 1;
        other.emplace([&] { second.Run(work); });
      }
      first.Run(work);
    }
    for (const StageRun* run : {&first, &second})
      if (run->failure) std::rethrow_exception(run->failure);
  }
}

}  // namespace headless
