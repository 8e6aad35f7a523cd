// The pieces every binary glTF written here shares: JSON strings and numbers, and a binary chunk
// grown piece by piece with the buffer views and accessors over it, numbered as they are added,
// then framed into the file's bytes.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "host/abi/types.h"

namespace headless {

// `text` as a JSON string: quotes, backslashes and control characters escaped, every byte that
// is not part of well-formed UTF-8 replaced by U+FFFD.
std::string GlbJsonString(const std::string& text);
// The shortest text that reads back to `value`.
std::string GlbNumber(Float32 value);
// `value` narrowed to the float32 a glTF holds; std::invalid_argument naming mesh `mesh`'s
// vertex `vertex` when it does not fit (it would be written as infinite).
Float32 GlbNarrowAt(Float value, size_t mesh, size_t vertex);
// `n` normalised in float64, then narrowed and appended; +z when it has no direction.
void GlbAppendUnit(std::vector<Float32>& out, const Vector3& n);

inline constexpr int kGlbArrayBuffer = 34962;
inline constexpr int kGlbElementArrayBuffer = 34963;
inline constexpr int kGlbFloat = 5126;
inline constexpr int kGlbByte = 5120;
inline constexpr int kGlbShort = 5122;
inline constexpr int kGlbUnsignedShort = 5123;
inline constexpr int kGlbUnsignedInt = 5125;
inline constexpr int kGlbUnsignedByte = 5121;

// The buffer views and accessors of a glTF's JSON, numbered as they are added.
class GlbTables {
 public:
  // A buffer view over [offset, offset + bytes); `target` 0 for none, `stride` 0 for tight.
  Int64 View(Int64 offset, Int64 bytes, int target = 0, int stride = 0);
  // An accessor whose JSON members (without braces) are `members`.
  Int64 Accessor(const std::string& members);
  // An accessor over view `view` from `offset` bytes into it, with `extra` members (bounds,
  // normalized) added: the common case.
  Int64 Accessor(Int64 view, Int64 offset, int components, Int64 count, const char* type,
                 const std::string& extra = "");
  const std::string& Views() const { return views_; }
  const std::string& Accessors() const { return accessors_; }

 private:
  std::string views_, accessors_;
  Int64 viewCount_ = 0, accessorCount_ = 0;
};

// The tables with the binary chunk they describe, grown piece by piece.
class GlbBuffer : public GlbTables {
 public:
  // Appends `bytes`, padded to a multiple of 4 so the next piece stays aligned; answers where
  // they start.
  Int64 Append(std::span<const std::uint8_t> bytes);
  template <typename T>
  Int64 AppendValues(std::span<const T> values) {
    return Append({reinterpret_cast<const std::uint8_t*>(values.data()), values.size_bytes()});
  }
  // The values appended as a view and an accessor over it.
  template <typename T>
  Int64 Values(std::span<const T> values, int components, const char* type, Int64 count,
               int target = 0, const std::string& extra = "") {
    const Int64 view = View(AppendValues(values), static_cast<Int64>(values.size_bytes()), target);
    return Accessor(view, 0, components, count, type, extra);
  }
  const std::string& Bin() const { return bin_; }
  Int64 Bytes() const { return static_cast<Int64>(bin_.size()); }

 private:
  std::string bin_;
};

// ",\"min\":[...],\"max\":[...]" over `count` items of `n` floats each.
std::string GlbBounds(std::span<const Float32> values, int n);

// The file's bytes: the JSON (padded with spaces) and the binary chunk. Throws
// std::runtime_error when they would exceed the 4 GiB - 1 a binary glTF can hold.
std::string GlbFileImage(std::string json, const std::string& bin);

}  // namespace headless
