// The point-cache targets' one body: a cache that reads writes back to exactly the bytes it was
// read from (the reader refuses anything the writer would not reproduce: trailing bytes, values
// that are not finite, ...).
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>
#include <stdexcept>
#include <vector>

#include "fuzz/fuzz_check.h"
#include "headless/io/point_cache.h"

namespace fuzz {

inline int PointCacheRoundTrip(const std::uint8_t* data, std::size_t size,
                               headless::PointCacheFormat format) {
  const auto bytes = std::as_bytes(std::span<const std::uint8_t>(data, size));
  headless::PointCache cache;
  try {
    cache = headless::ParsePointCache(bytes, format, "input");
  } catch (const std::runtime_error&) {
    return 0;
  }
  const std::vector<std::byte> written = headless::PointCacheBytes(cache);
  Check(written.size() == bytes.size() && std::equal(written.begin(), written.end(), bytes.begin()),
        "point cache read, write");
  for (std::int64_t s = 0; s < cache.SampleCount(); ++s)
    Check(cache.Sample(s).size() == static_cast<std::size_t>(cache.pointCount),
          "a sample holds every point");
  return 0;
}

}  // namespace fuzz
