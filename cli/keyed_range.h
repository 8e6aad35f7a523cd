// The frames a saved scene animates over: what `eval` and `view` evaluate when no --frames is
// given.
#pragma once

#include <string>
#include <vector>

#include "headless/scene/scene.h"

namespace cli {

struct FrameRange {
  Int32 first = 0;
  Int32 last = 0;
};

// More frames than this a run evaluates only when --frames names them: keys spread over a huge
// span would otherwise quietly run until the disk or memory is full.
inline constexpr Int64 kMaxKeyedFrames = 100000;

// The whole frames the scene's joint keys and point caches span; frame 0 alone when nothing is
// keyed. Throws std::runtime_error when the span holds no whole frame or leaves the int32 range.
FrameRange KeyedRange(const headless::Document& doc);

// A note when samples at `frames` (ascending) lie closer than whole frames, so that a scene, which
// plays whole frames only, shows fewer frames than there are samples; empty otherwise.
std::string SampleSpacingNote(const std::vector<Float>& frames);
// SampleSpacingNote of each of the scene's point caches, naming the cache.
std::vector<std::string> SampleSpacingNotes(const headless::Document& doc);

}  // namespace cli
