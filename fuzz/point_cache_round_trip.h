// The point-cache targets' one body: a cache that reads writes back to exactly the bytes it was
// read from (the reader refuses anything the writer would not reproduce: trailing bytes, values
// that are not finite, ...). Read from a file a sample at a time, the same bytes are refused or
// give the same samples, and written a sample at a time they give the same file.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

#include "fuzz/fuzz_check.h"
#include "headless/io/point_cache.h"

namespace fuzz {

// The name of the target's format's file that is `which`: "in" or "out".
inline std::string CacheName(headless::PointCacheFormat format, const char* which) {
  return std::string("cache_") + which +
         (format == headless::PointCacheFormat::kPc2 ? ".pc2" : ".mdd");
}

inline std::vector<char> FileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline int PointCacheRoundTrip(const std::uint8_t* data, std::size_t size,
                               headless::PointCacheFormat format) {
  const auto bytes = std::as_bytes(std::span<const std::uint8_t>(data, size));
  const std::string in = WrittenInput(data, size, CacheName(format, "in"));
  std::unique_ptr<headless::PointCacheSamples> samples;
  try {
    samples = std::make_unique<headless::PointCacheSamples>(in);
  } catch (const std::runtime_error&) {
  }
  headless::PointCache cache;
  try {
    cache = headless::ParsePointCache(bytes, format, "input");
  } catch (const std::runtime_error&) {
    Check(samples == nullptr, "a cache read whole is refused where one read a sample at a time is");
    return 0;
  }
  Check(samples != nullptr && samples->SampleCount() == cache.SampleCount() &&
            samples->Timing().pointCount == cache.pointCount,
        "a cache read a sample at a time is taken where one read whole is, with its counts");
  const std::string out = ProcessFile(CacheName(format, "out"));
  {
    headless::PointCacheWriter writer(out, cache, cache.SampleCount());
    std::vector<Vector3> points;
    for (std::int64_t s = 0; s < cache.SampleCount(); ++s) {
      samples->Read(s, points);
      const std::vector<Vector3> whole = cache.Sample(s);
      Check(points.size() == whole.size() &&
                (whole.empty() ||
                 std::memcmp(points.data(), whole.data(), whole.size() * sizeof(Vector3)) == 0),
            "a sample read on its own is the whole cache's");
      writer.Append(points);
    }
    writer.Commit();
  }
  const std::vector<char> streamed = FileBytes(out);
  Check(streamed.size() == size && std::memcmp(streamed.data(), data, size) == 0,
        "a cache written a sample at a time is its input's bytes");
  const std::vector<std::byte> written = headless::PointCacheBytes(cache);
  Check(written.size() == bytes.size() && std::equal(written.begin(), written.end(), bytes.begin()),
        "point cache read, write");
  for (std::int64_t s = 0; s < cache.SampleCount(); ++s)
    Check(cache.Sample(s).size() == static_cast<std::size_t>(cache.pointCount),
          "a sample holds every point");
  return 0;
}

}  // namespace fuzz
