#include "headless/batch/cache_frames.h"

#include <stdexcept>
#include <system_error>
#include <utility>

namespace headless {

CacheOpening::CacheOpening(const std::string& path) {
  if (path.empty()) return;
  try {
    thread_ = std::jthread([this, path](std::stop_token stop) {
      try {
        samples_ = std::make_unique<PointCacheSamples>(path, stop);
      } catch (...) {
        error_ = std::current_exception();
      }
    });
  } catch (const std::system_error&) {
    // No thread to be had: the cache is opened where it is taken.
  }
}

std::unique_ptr<PointCacheSamples> CacheOpening::Take(const std::string& path) {
  if (!thread_.joinable()) return std::make_unique<PointCacheSamples>(path);
  thread_.join();
  if (error_) std::rethrow_exception(error_);
  return std::move(samples_);
}

CacheFrames::CacheFrames(std::string path, std::unique_ptr<PointCacheSamples> samples,
                         const std::string& restName, size_t restPoints, Float fps)
    : path_(std::move(path)), samples_(std::move(samples)) {
  const Int32 cachePoints = samples_->Timing().pointCount;
  if (static_cast<size_t>(cachePoints) != restPoints)
    throw std::runtime_error(path_ + ": " + std::to_string(cachePoints) +
                             " points per sample, but the rest mesh " + restName + " has " +
                             std::to_string(restPoints));
  for (Int64 s = 0; s < samples_->SampleCount(); ++s)
    numbers_.push_back(samples_->Timing().SampleFrame(s, fps));
  if (numbers_.empty()) throw std::runtime_error(path_ + ": the cache holds no sample");
}

void CacheFrames::Read(size_t i, InputFrame& into, FrameRooms& rooms) {
  into.sample = rooms.points.Take();
  samples_->Read(static_cast<Int64>(i), into.sample);
}

std::vector<Vector3> CacheFrames::PointsApart(size_t i) {
  std::vector<Vector3> points;
  samples_->Read(static_cast<Int64>(i), points);
  return points;
}

}  // namespace headless
