// 64-bit FNV-1a over bytes: the check value of scene files and the fingerprint `tessamire scene
// info` prints for a tag's differences.
#pragma once

#include <cstddef>
#include <cstdint>

namespace headless {

inline constexpr std::uint64_t kFnv1a64Offset = 14695981039346656037ull;

// Continues a running hash: pass the previous result as `hash` to hash several blocks as one.
inline std::uint64_t Fnv1a64(const void* data, std::size_t size,
                             std::uint64_t hash = kFnv1a64Offset) {
  const auto* bytes = static_cast<const std::uint8_t*>(data);
  for (std::size_t i = 0; i < size; ++i) {
    hash ^= bytes[i];
    hash *= 1099511628211ull;
  }
  return hash;
}

}  // namespace headless
