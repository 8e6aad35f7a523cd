// Frames from the samples of one point cache (PC2, MDD), read a sample at a time.
//
// Opening a cache checks every coordinate, which takes a while for a long one: CacheOpening starts
// it on a thread of its own beside the reading of the rest, and its outcome (the samples, or what
// it threw) is taken where the cache is needed, so that its error still comes after the rest's.
#pragma once

#include <exception>
#include <memory>
#include <string>
#include <thread>

#include "headless/batch/frame_source.h"
#include "headless/io/point_cache.h"

namespace headless {

class CacheOpening {
 public:
  // Starts opening the cache at `path` on a thread of its own; nothing for an empty path, or
  // when no thread is to be had (the cache is then opened where it is taken).
  explicit CacheOpening(const std::string& path);
  // The samples of `path`: those opened on the thread when it was started, else opened here.
  // Throws what opening the cache threw. A run that ends before stops the opening at its next
  // piece.
  std::unique_ptr<PointCacheSamples> Take(const std::string& path);

 private:
  std::unique_ptr<PointCacheSamples> samples_;
  std::exception_ptr error_;
  std::jthread thread_;  // last: stopped and joined before the members it writes go
};

class CacheFrames final : public FrameSource {
 public:
  // The samples of the cache `path`, opened, each a frame at its sample's frame for `fps` frames
  // per second (MDD times are in seconds). Throws std::runtime_error "PATH: N points per sample,
  // but the rest mesh REST has M" for a cache of another point count than the rest's, and
  // "PATH: the cache holds no sample".
  CacheFrames(std::string path, std::unique_ptr<PointCacheSamples> samples,
              const std::string& restName, size_t restPoints, Float fps);

  size_t Count() const override { return numbers_.size(); }
  std::string Name(size_t i) const override { return path_ + " sample " + std::to_string(i); }
  Float Number(size_t i) const override { return numbers_[i]; }
  const PointCache* CacheTiming() const override { return &samples_->Timing(); }
  const std::string& Path() const { return path_; }

  void Read(size_t i, InputFrame& into, FrameRooms& rooms) override;
  // The sample sought; the run's first Read seeks back.
  std::vector<Vector3> PointsApart(size_t i) override;

 private:
  std::string path_;
  std::unique_ptr<PointCacheSamples> samples_;
  std::vector<Float> numbers_;
};

}  // namespace headless
