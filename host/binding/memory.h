// Memory from the host framework's allocator, labelled with the caller's location: the blocks of
// HostArray (host_array.h) and the plug-in's own objects.
#pragma once

#include <cstddef>
#include <new>

#include "host/binding/binding.h"

// Allocates `count` elements of T, uncleared (cleared with `clear`); null on failure or when the
// byte size does not fit in 64 bits. The size in bytes is formed in 64 bits.
template <typename T>
T* NewMemory(Int64 count, Bool clear, const char* file, Int32 line) {
  if (count < 0 || static_cast<UInt64>(count) > static_cast<UInt64>(INT64_MAX) / sizeof(T))
    return nullptr;
  const Int64 bytes = count * static_cast<Int64>(sizeof(T));
  return static_cast<T*>(Framework().memAlloc(bytes, clear, file, line));
}

inline void DeleteMemory(void* block) {
  if (block != nullptr) Framework().memFree(block);
}

// Objects of the plug-in's classes come from the framework allocator too, so that the host's
// failure injection reaches them; `new` answers null instead of throwing.
#define TESSAMIRE_HOST_ALLOCATED                                                     \
  static void* operator new(std::size_t size, const std::nothrow_t&) noexcept {      \
    return Framework().memAlloc(static_cast<Int64>(size), true, __FILE__, __LINE__); \
  }                                                                                  \
  static void operator delete(void* block) noexcept {                                \
    DeleteMemory(block);                                                             \
  }                                                                                  \
  static void operator delete(void* block, const std::nothrow_t&) noexcept {         \
    DeleteMemory(block);                                                             \
  }                                                                                  \
  static void* operator new(std::size_t) = delete;
