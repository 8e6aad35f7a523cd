#include "headless/characters/clip_timing.h"

#include <algorithm>
#include <cmath>

#include "headless/files/shortest_number.h"

namespace headless {

Float KeyTimeTolerance(Float seconds) {
  // A float32 step at t is at most t * 2^-23; a time read as float32 and turned into other ticks
  // on the way (glTF's seconds into milliseconds) may be off by one step each time.
  return std::max(1e-6, std::fabs(seconds) * std::ldexp(1.0, -22));
}

std::vector<Float> DistinctKeyTimes(std::vector<Float> ticks, Float ticksPerSecond) {
  std::sort(ticks.begin(), ticks.end());
  std::vector<Float> distinct;
  for (Float t : ticks)
    if (distinct.empty() ||
        t - distinct.back() > KeyTimeTolerance(distinct.back() / ticksPerSecond) * ticksPerSecond)
      distinct.push_back(t);
  return distinct;
}

namespace {

// Whether every time is a whole multiple of `delta` seconds within the tolerance.
bool AllMultiplesOf(std::span<const Float> seconds, Float delta) {
  for (Float s : seconds)
    if (std::fabs(s - std::round(s / delta) * delta) > KeyTimeTolerance(s)) return false;
  return true;
}

}  // namespace

std::optional<Float> RegularKeyRate(std::span<const Float> distinct, Float ticksPerSecond,
                                    Float maxRate) {
  if (distinct.size() < 2 || !(ticksPerSecond > 0.0)) return std::nullopt;
  std::vector<Float> seconds;
  for (Float t : distinct) seconds.push_back(t / ticksPerSecond);
  Float gap = seconds[1] - seconds[0];
  for (size_t i = 2; i < seconds.size(); ++i) gap = std::min(gap, seconds[i] - seconds[i - 1]);
  // The step is the closest keys' distance, pinned on the farthest time, whose multiple is the
  // largest: keys 1/24 s apart with some left out are still 1/24 apart, keys at 0, 2/24 and 5/24
  // are not evenly spaced.
  const Float far = std::max(std::fabs(seconds.front()), std::fabs(seconds.back()));
  const Float delta = far > 0.0 ? far / std::round(far / gap) : gap;
  if (!AllMultiplesOf(seconds, delta)) return std::nullopt;
  const Float rate = std::round(1.0 / delta);
  if (!(rate >= 1.0 && rate <= maxRate)) return std::nullopt;
  return rate;
}

Float LastFrameOf(Float seconds, Float fps) {
  const Float frames = seconds * fps;
  const Float nearest = std::round(frames);
  if (std::fabs(frames - nearest) <= KeyTimeTolerance(seconds) * fps) return nearest;
  return std::ceil(frames);
}

std::vector<Float> FrameTicks(std::span<const Float> distinct, Float ticksPerSecond, Float fps,
                              Int32 lastFrame) {
  std::vector<Float> ticks;
  ticks.reserve(static_cast<size_t>(std::max(lastFrame + 1, 0)));
  // Frames and keys both ascend: one pass over the keys serves every frame.
  size_t next = 0;
  for (Int32 k = 0; k <= lastFrame; ++k) {
    const Float seconds = static_cast<Float>(k) / fps;
    const Float nominal = seconds * ticksPerSecond;
    const Float reach = KeyTimeTolerance(seconds) * ticksPerSecond;
    while (next < distinct.size() && distinct[next] < nominal - reach) ++next;
    const bool keyed = next < distinct.size() && std::fabs(distinct[next] - nominal) <= reach;
    ticks.push_back(keyed ? distinct[next] : nominal);
  }
  return ticks;
}

std::optional<KeyTimeFault> FindKeyTimeFault(std::span<const Float> ticks, Float ticksPerSecond) {
  const auto seconds = [&](Float t) {
    return ShortestNumber(ticksPerSecond > 0.0 ? t / ticksPerSecond : t) +
           (ticksPerSecond > 0.0 ? " s" : " ticks");
  };
  for (size_t k = 0; k < ticks.size(); ++k) {
    if (std::isnan(ticks[k])) return KeyTimeFault{k, "its time is not a number"};
    if (!std::isfinite(ticks[k])) return KeyTimeFault{k, "its time is infinite"};
    if (k > 0 && !(ticks[k] > ticks[k - 1]))
      return KeyTimeFault{k, "its time, " + seconds(ticks[k]) + ", does not come after key " +
                                 std::to_string(k - 1) + "'s, " + seconds(ticks[k - 1])};
  }
  return std::nullopt;
}

}  // namespace headless
