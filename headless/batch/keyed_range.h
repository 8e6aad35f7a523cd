// The frames a scene animates over: what a run evaluates when it is given no frames (`eval`,
// `correct` and `view` without --frames), and a note on point caches sampled closer than whole
// frames, which a scene cannot show one by one.
#pragma once

#include <string>
#include <vector>

#include "headless/scene/scene.h"

namespace headless {

// Whole frames, first to last, both included.
struct FrameRange {
  Int32 first = 0;
  Int32 last = 0;
};

// More frames than this a run evaluates only when it is given them (--frames): keys spread over a
// huge span would otherwise quietly run until the disk or memory is full.
inline constexpr Int64 kMaxKeyedFrames = 100000;

// The whole frames the scene's joint keys and point caches span; frame 0 alone when nothing is
// keyed. Throws std::runtime_error when the span holds no whole frame or leaves the int32 range.
FrameRange KeyedRange(const Document& doc);

// A note when samples at `frames` (ascending) lie closer than whole frames, so that a scene, which
// plays whole frames only, shows fewer frames than there are samples; empty otherwise.
std::string SampleSpacingNote(const std::vector<Float>& frames);
// SampleSpacingNote of each of the scene's point caches, naming the cache.
std::vector<std::string> SampleSpacingNotes(const Document& doc);

}  // namespace headless
