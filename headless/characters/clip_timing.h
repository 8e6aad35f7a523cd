// The timing of a character's clip, over plain arrays of key times (no Assimp here): the whole
// rate its keys are evenly spaced at, the frames its duration spans at a rate without the slips
// of float32 times, the file's own time of each frame, and the key times a clip may hold.
//
// Times are in the file's ticks, `ticksPerSecond` of them to a second (above 0). Files keep times
// in float32 (glTF's seconds, often turned into milliseconds on the way), so "one time" means
// within KeyTimeTolerance: 1e-6 s, widened for long clips by what float32 can tell apart there.
#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "host/abi/types.h"

namespace headless {

// Seconds within which a time near `seconds` is the same time: 1e-6, or two of float32's steps at
// that time when they are wider (past about 4 s).
Float KeyTimeTolerance(Float seconds);

// The distinct times of `ticks` (all channels' keys of a clip), ascending; times within
// KeyTimeTolerance of the one kept before them are that one.
std::vector<Float> DistinctKeyTimes(std::vector<Float> ticks, Float ticksPerSecond);

// The whole rate 1 / Delta, Delta the distance of the closest two times of `distinct`
// (DistinctKeyTimes), when every time is k * Delta within KeyTimeTolerance, k whole, and that
// rate lies in 1 .. maxRate; none for a single time, times that are not evenly spaced (keys at 0,
// 2/24 and 5/24 s), or a rate outside those bounds.
std::optional<Float> RegularKeyRate(std::span<const Float> distinct, Float ticksPerSecond,
                                    Float maxRate);

// The last frame of a clip of `seconds` at `fps`: seconds * fps rounded to the nearest whole when
// it lies within KeyTimeTolerance(seconds) * fps of one (47/24 s in float32 is 1.9583334 s, 47
// frames at 24), else rounded up. Answered as a Float for the caller to bound.
Float LastFrameOf(Float seconds, Float fps);

// The time in ticks of each frame 0 .. lastFrame at `fps`: the key time of `distinct` within
// KeyTimeTolerance of k / fps where there is one, else k / fps.
std::vector<Float> FrameTicks(std::span<const Float> distinct, Float ticksPerSecond, Float fps,
                              Int32 lastFrame);

// The first key of a channel whose time is not finite or not after the time before it, and why.
struct KeyTimeFault {
  size_t key = 0;
  std::string what;  // e.g. "its time is not a number"
};
std::optional<KeyTimeFault> FindKeyTimeFault(std::span<const Float> ticks, Float ticksPerSecond);

}  // namespace headless
