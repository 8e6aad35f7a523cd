// Working buffers of a controller run, taken from the framework allocator with the caller's
// source location.
#pragma once

#include "host/binding/memory.h"

// Replaces `buffer` by `count` new elements (zero-filled when `clear`). An empty request takes
// nothing from the allocator and succeeds with an empty buffer, so a mesh without points or
// polygons never depends on how the host answers a zero-byte request. False when the block
// cannot be allocated.
template <typename T>
Bool AllocateBuffer(HostBuffer<T>& buffer, Int64 count, Bool clear, const char* file, Int32 line) {
  buffer = HostBuffer<T>();
  if (count == 0) return true;
  buffer = HostBuffer<T>(NewMemory<T>(count, clear, file, line));
  return static_cast<bool>(buffer);
}

#define TESSAMIRE_ALLOCATE(buffer, count) \
  AllocateBuffer((buffer), (count), false, __FILE__, __LINE__)
#define TESSAMIRE_ALLOCATE_CLEAR(buffer, count) \
  AllocateBuffer((buffer), (count), true, __FILE__, __LINE__)
