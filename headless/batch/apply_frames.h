// The batch correction: frames from a source, corrected one by one by a bound rest mesh, their
// results to a sink, watched by observers, over the machine's cores (frame_pipeline.h): while
// frame i is corrected on the calling thread, frame i + 1 is read on a thread of its own and frame
// i - 1 written on another.
//
// Fresh pages cost more than reading fills them with, so frames are read into the room of frames
// done with (frame_memory.h): the points each correction takes back, and where a written frame's
// `v` lines stood. A room is put aside only for a frame still to be read, which takes it in the
// next step, when its holder would have let it go: no more is held than without them. Results are
// taken from the correction but for the last frame's, so that the next frame's correction builds
// its own while one is written, and handed back once written for a later result to be built in.
//
// A failure of any stage at frame k stops the run as a run of one frame after another would:
// every frame before k is written and watched, nothing of k or later, and the sink decides what
// it keeps (ResultSink::Abandon) before the failure goes on to the caller.
#pragma once

#include <span>

#include "headless/batch/correction.h"
#include "headless/batch/frame_observer.h"
#include "headless/batch/frame_source.h"
#include "headless/batch/result_sink.h"

namespace headless {

struct ApplySettings {
  // The deformer gives the smoothed mesh the correction is built on instead of the corrected one.
  bool smoothed = false;
  // False: one frame after another on the calling thread, the same results (for comparison).
  bool pipelined = true;
};

struct ApplySummary {
  Int64 pointsKept = 0;  // over every frame: points whose correction was not finite
};

// Readies a run before the rest is bound, in the order that holds least at once: the source keeps
// what it needs of the rest's text, the rest lets go of its text unless the sink writes like it,
// the source reads ahead, and the rest lets go of its faces as written when neither the frames
// still to be read, the sink nor the rest's own normals need them. Throws what the source's
// reading throws.
void ReadBeforeBind(ObjFile& rest, FrameSource& source, const ResultSink& sink);

// Takes every frame of `source` through `correction` to `sink`, telling `observers`; throws the
// first failure (after the sink's Abandon). `correction` is bound to the rest the frames are of.
ApplySummary ApplyFrames(FrameSource& source, ResultSink& sink, Correction& correction,
                         std::span<FrameObserver* const> observers,
                         const ApplySettings& settings = {});

}  // namespace headless
