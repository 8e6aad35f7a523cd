// Point caches: baked animation as the same points sampled over time, in the two forms riggers
// carry between applications.
//
// PC2 (little-endian): 12 bytes "POINTCACHE2\0", int32 version 1, int32 point count, float32 start
// frame, float32 sample rate (frames from one sample to the next), int32 sample count, then per
// sample per point three float32 x, y, z.
// MDD (big-endian): int32 frame count, int32 point count, one float32 time in seconds per frame,
// then per frame per point three float32 x, y, z.
//
// Readers work over bytes, so that anything (a file, a fuzzer) can hand them data; every fault
// throws std::runtime_error "name: what" with the numbers involved: a wrong signature or version,
// a negative count or no points, a size other than the header's counts give (truncated or with
// trailing bytes), a start frame, rate or time that is not finite, a rate that is not positive,
// times that do not increase, and a coordinate that is not finite (naming the sample and the
// point). The values are kept as float32, so a read and a write give back the same bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <stop_token>
#include <string>
#include <vector>

#include "host/abi/types.h"

namespace headless {

class InputFile;
class OutputFile;

enum class PointCacheFormat { kPc2, kMdd };

struct PointCache {
  PointCacheFormat format = PointCacheFormat::kPc2;
  Int32 pointCount = 0;
  Float32 startFrame = 0.0f;         // PC2
  Float32 sampleRate = 1.0f;         // PC2
  std::vector<Float32> times;        // MDD: one per sample, seconds
  std::vector<Float32> coordinates;  // per sample, per point: x, y, z

  Int64 SampleCount() const;
  // The points of sample `s` (widened to float64).
  std::vector<Vector3> Sample(Int64 s) const;
  // The frame of sample `s`: start + s * rate for PC2, time * fps for MDD (rounded to the whole
  // frame when within 1e-4 of it).
  Float SampleFrame(Int64 s, Float fps) const;
};

// The format a path's extension names (.pc2 or .mdd, any case), or none.
std::optional<PointCacheFormat> PointCacheFormatOf(const std::string& path);

PointCache ParsePointCache(std::span<const std::byte> bytes, PointCacheFormat format,
                           const std::string& name);
// Reads the file at `path` in the format its extension names.
PointCache ReadPointCache(const std::string& path);

// A point cache file whose samples are read one at a time (in order, or sought), rather than held
// all at once.
// Opening checks all that ReadPointCache checks, with its messages, reading every coordinate a
// piece at a time; a file that is not whole at the size its header gives (which is refused) or
// that cannot be read twice (a pipe) is read by ReadPointCache, and held. A stop requested of
// `stop` during the check ends it at the next piece, throwing std::runtime_error.
class PointCacheSamples {
 public:
  explicit PointCacheSamples(const std::string& path, std::stop_token stop = {});
  ~PointCacheSamples();
  PointCacheSamples(const PointCacheSamples&) = delete;
  PointCacheSamples& operator=(const PointCacheSamples&) = delete;

  // The format, point count and timing (SampleFrame); the coordinates are not held.
  const PointCache& Timing() const { return timing_; }
  Int64 SampleCount() const { return samples_; }
  // The points of sample `s` (widened to float64) into `points`, from one thread at a time; in
  // order is cheapest, another sample is sought. Throws std::runtime_error naming the file when it
  // no longer holds them (it changed since it was opened).
  void Read(Int64 s, std::vector<Vector3>& points);

 private:
  std::string path_;
  PointCache timing_;
  Int64 samples_ = 0;
  Int64 next_ = 0;
  std::uint64_t start_ = 0;        // the first coordinate's byte
  std::unique_ptr<InputFile> in_;  // at sample next_; none when timing_ holds the samples
};

std::vector<std::byte> PointCacheBytes(const PointCache& cache);
// Writes atomically (a temporary file renamed over `path`).
void WritePointCache(const std::string& path, const PointCache& cache);

// Sets the timing of a cache that will hold `count` samples, sample s at `frame(s)` (ascending):
// PC2's start frame and rate, MDD's times at frame / fps seconds. Throws std::invalid_argument
// naming the first sample the format cannot hold where it is, rather than move it: PC2 holds only
// even steps (sample s at start + s * rate), so uneven frames, and a start or rate whose float32
// value would put a sample elsewhere (frame 16777217 is 16777216 in float32), are refused;
// MDD's float32 times must be finite and strictly increasing. A sample's frame counts as kept
// within 1e-4 frame, as ReadPointCache's MDD frames are.
void SetCacheTiming(PointCache& cache, Int64 count, const std::function<Float(Int64)>& frame,
                    Float fps);
// SetCacheTiming of `count` whole frames one apart from `first`, in a time that for PC2 does not
// grow with the count.
void SetWholeFrameTiming(PointCache& cache, Int64 first, Int64 count, Float fps);

// A cache of `format` from samples of equal point count (narrowed to float32), the first at
// `firstFrame` and one frame apart; MDD times are frame / fps. Throws std::invalid_argument when
// the samples differ in point count or a value does not fit in float32.
PointCache MakePointCache(PointCacheFormat format, const std::vector<std::vector<Vector3>>& samples,
                          Float firstFrame, Float fps);

// Adds one sample (its point count must match the cache's; the first sets it). Throws
// std::invalid_argument naming the sample and the point whose coordinate does not fit in
// float32.
void AppendSample(PointCache& cache, std::span<const Vector3> points);

// A cache written to its file a sample at a time, as WritePointCache would write the cache of
// the same samples, without holding them: through an OutputFile, so nothing reaches `path` until
// every sample is in and Commit succeeds, and an unfinished file is removed.
class PointCacheWriter {
 public:
  // `timing`'s format and timing (its coordinates are not used), for `samples` samples.
  PointCacheWriter(std::string path, PointCache timing, Int64 samples);
  ~PointCacheWriter();
  PointCacheWriter(const PointCacheWriter&) = delete;
  PointCacheWriter& operator=(const PointCacheWriter&) = delete;

  // The next sample; throws std::invalid_argument as AppendSample, and std::runtime_error when
  // the file cannot be written.
  void Append(std::span<const Vector3> points);
  // Throws std::logic_error unless every sample was appended, std::runtime_error as OutputFile.
  void Commit();

 private:
  // The file, with its header, from the first sample (or a commit of none) on.
  void Open();

  std::string path_;
  PointCache timing_;
  Int64 samples_ = 0;
  Int64 written_ = 0;
  std::unique_ptr<OutputFile> file_;
};

}  // namespace headless
