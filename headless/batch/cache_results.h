// Results as one point cache (PC2, MDD) of every frame, written to its file a sample at a time as
// each is corrected, renamed over its target only once every sample is in.
#pragma once

#include <string>

#include "headless/batch/result_sink.h"
#include "headless/io/point_cache.h"

namespace headless {

class CacheResults final : public ResultSink {
 public:
  // The cache `path` (its extension names the format) of `frames`' results: with the frames' own
  // cache's timing when it is of the same format, else with the frames' numbers (PC2: the first
  // and the step, which must be even; MDD: number / fps seconds). Throws std::runtime_error
  // "PATH: ..." when the format cannot hold them, before anything is written. `frames` must
  // outlive the sink.
  CacheResults(const std::string& path, const FrameSource& frames, Float fps);

  // Throws std::runtime_error "PATH: ... (the result of FRAME)" for a result that does not fit in
  // float32.
  void Write(size_t i, const InputFrame& frame, const std::vector<Vector3>& result) override;
  void Commit(size_t count) override;

 private:
  std::string path_;
  const FrameSource& frames_;
  PointCacheWriter writer_;
};

}  // namespace headless
