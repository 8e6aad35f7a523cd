#include "headless/batch/cache_results.h"

#include <stdexcept>

namespace headless {

namespace {

PointCache ResultTiming(const std::string& path, const FrameSource& frames, Float fps) {
  PointCache out;
  out.format = *PointCacheFormatOf(path);
  const PointCache* own = frames.CacheTiming();
  if (own && own->format == out.format) {
    out.startFrame = own->startFrame;
    out.sampleRate = own->sampleRate;
    out.times = own->times;
    return out;
  }
  try {
    SetCacheTiming(
        out, static_cast<Int64>(frames.Count()),
        [&](Int64 s) { return frames.Number(static_cast<size_t>(s)); }, fps);
  } catch (const std::invalid_argument& e) {
    throw std::runtime_error(path + ": " + e.what());
  }
  return out;
}

}  // namespace

CacheResults::CacheResults(const std::string& path, const FrameSource& frames, Float fps)
    : path_(path),
      frames_(frames),
      writer_(path, ResultTiming(path, frames, fps), static_cast<Int64>(frames.Count())) {}

void CacheResults::Write(size_t i, const InputFrame& /*frame*/,
                         const std::vector<Vector3>& result) {
  try {
    writer_.Append(result);
  } catch (const std::invalid_argument& e) {
    throw std::runtime_error(path_ + ": " + e.what() + " (the result of " + frames_.Name(i) + ")");
  }
}

void CacheResults::Commit(size_t /*count*/) {
  writer_.Commit();
}

}  // namespace headless
