// The host framework's dynamic parallel loop: the body runs once per index of [0, count),
// concurrently, in chunks of at most `granularity` consecutive indices, each chunk in increasing
// order; the call returns when every index is done. Bodies must write only their own index, and
// never throw: a chunk runs as a noexcept callback of the host, where an exception ends the
// program.
#pragma once

#include "host/binding/binding.h"

inline constexpr Int64 kParallelGranularity = 16;

template <typename Body>
void ParallelFor(Int64 count, const Body& body, Int64 granularity = kParallelGranularity) {
  if (count <= 0) return;
  auto chunk = [](void* context, Int64 begin, Int64 end) noexcept {
    const Body& b = *static_cast<const Body*>(context);
    for (Int64 i = begin; i < end; ++i) b(i);
  };
  Framework().parallelFor(count, granularity, const_cast<Body*>(&body), chunk);
}
