// The PC2 point-cache reader (see point_cache_round_trip.h).
#include "fuzz/point_cache_round_trip.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  return fuzz::PointCacheRoundTrip(data, size, headless::PointCacheFormat::kPc2);
}
