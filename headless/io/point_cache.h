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
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "host/abi/types.h"

namespace headless {

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

}  // namespace headless
