#include "headless/characters/glb_builder.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>

#include "headless/characters/gltf.h"
#include "headless/files/shortest_number.h"
#include "headless/geometry/vector.h"

namespace headless {

std::string GlbJsonString(const std::string& text) {
  std::string out = "\"";
  const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
  const size_t size = text.size();
  for (size_t i = 0; i < size;) {
    const unsigned char c = bytes[i];
    if (c < 0x80) {
      if (c == '"' || c == '\\') {
        out += '\\';
        out += static_cast<char>(c);
      } else if (c < 0x20) {
        const char* hex = "0123456789abcdef";
        out += "\\u00";
        out += hex[c >> 4];
        out += hex[c & 15];
      } else {
        out += static_cast<char>(c);
      }
      ++i;
      continue;
    }
    // The length a lead byte announces, and the range its first continuation byte must lie in
    // (which excludes overlong forms, surrogates and code points beyond U+10FFFF).
    size_t length = 0;
    unsigned char low = 0x80, high = 0xBF;
    if (c >= 0xC2 && c <= 0xDF) {
      length = 2;
    } else if (c >= 0xE0 && c <= 0xEF) {
      length = 3;
      if (c == 0xE0) low = 0xA0;
      if (c == 0xED) high = 0x9F;
    } else if (c >= 0xF0 && c <= 0xF4) {
      length = 4;
      if (c == 0xF0) low = 0x90;
      if (c == 0xF4) high = 0x8F;
    }
    bool whole = length > 0 && i + length <= size && bytes[i + 1] >= low && bytes[i + 1] <= high;
    for (size_t k = 2; whole && k < length; ++k) whole = (bytes[i + k] & 0xC0) == 0x80;
    if (whole) {
      out.append(text, i, length);
      i += length;
    } else {
      out += "\xEF\xBF\xBD";
      ++i;
    }
  }
  return out + "\"";
}

std::string GlbNumber(Float32 value) {
  return ShortestNumber(static_cast<Float>(value));
}

Float32 GlbNarrowAt(Float value, size_t mesh, size_t vertex) {
  const Float32 narrow = static_cast<Float32>(value);
  if (!std::isfinite(narrow))
    throw std::invalid_argument("mesh " + std::to_string(mesh) + ", vertex " +
                                std::to_string(vertex) + ": " + ShortestNumber(value) +
                                " does not fit in the float32 numbers a glTF holds");
  return narrow;
}

void GlbAppendUnit(std::vector<Float32>& out, const Vector3& n) {
  const Float length = Length(n);
  if (!(length > 0.0) || !std::isfinite(length)) {
    out.insert(out.end(), {0.0f, 0.0f, 1.0f});
    return;
  }
  // Each component is at most 1 in size, so narrowing cannot overflow.
  out.insert(out.end(), {static_cast<Float32>(n.x / length), static_cast<Float32>(n.y / length),
                         static_cast<Float32>(n.z / length)});
}

Int64 GlbBuffer::Append(std::span<const std::uint8_t> bytes) {
  const Int64 at = static_cast<Int64>(bin_.size());
  bin_.append(reinterpret_cast<const char*>(bytes.data()), bytes.size());
  bin_.append((4 - bin_.size() % 4) % 4, '\0');
  return at;
}

Int64 GlbTables::View(Int64 offset, Int64 bytes, int target, int stride) {
  views_ += std::string(viewCount_ > 0 ? "," : "") +
            "{\"buffer\":0,\"byteOffset\":" + std::to_string(offset) +
            ",\"byteLength\":" + std::to_string(bytes) +
            (stride != 0 ? ",\"byteStride\":" + std::to_string(stride) : std::string()) +
            (target != 0 ? ",\"target\":" + std::to_string(target) : std::string()) + "}";
  return viewCount_++;
}

Int64 GlbTables::Accessor(const std::string& members) {
  accessors_ += std::string(accessorCount_ > 0 ? "," : "") + "{" + members + "}";
  return accessorCount_++;
}

Int64 GlbTables::Accessor(Int64 view, Int64 offset, int components, Int64 count, const char* type,
                          const std::string& extra) {
  return Accessor("\"bufferView\":" + std::to_string(view) +
                  (offset != 0 ? ",\"byteOffset\":" + std::to_string(offset) : std::string()) +
                  ",\"componentType\":" + std::to_string(components) +
                  ",\"count\":" + std::to_string(count) + ",\"type\":\"" + type + "\"" + extra);
}

std::string GlbBounds(std::span<const Float32> values, int n) {
  std::string low = ",\"min\":[", high = "],\"max\":[";
  for (int k = 0; k < n; ++k) {
    Float32 a = values.empty() ? 0.0f : values[k], b = a;
    for (size_t i = k; i < values.size(); i += n) {
      a = std::min(a, values[i]);
      b = std::max(b, values[i]);
    }
    low += (k > 0 ? "," : "") + GlbNumber(a);
    high += (k > 0 ? "," : "") + GlbNumber(b);
  }
  return low + high + "]";
}

std::string GlbFileImage(std::string json, const std::string& bin) {
  json.append((4 - json.size() % 4) % 4, ' ');
  const Int64 total = 12 + 8 + static_cast<Int64>(json.size()) + 8 + static_cast<Int64>(bin.size());
  if (total > kMaxGlbBytes)
    throw std::runtime_error("the glTF would take " + std::to_string(total) +
                             " bytes, more than the 4 GiB a binary glTF can hold; write fewer "
                             "frames to it, or a point cache");
  std::string image;
  image.reserve(static_cast<size_t>(total));
  const auto words = [&](std::initializer_list<std::uint32_t> values) {
    for (std::uint32_t v : values)
      for (int k = 0; k < 4; ++k) image += static_cast<char>((v >> (8 * k)) & 0xFF);
  };
  words({0x46546C67, 2, static_cast<std::uint32_t>(total)});     // "glTF", version 2
  words({static_cast<std::uint32_t>(json.size()), 0x4E4F534A});  // "JSON"
  image += json;
  words({static_cast<std::uint32_t>(bin.size()), 0x004E4942});  // "BIN\0"
  image += bin;
  return image;
}

}  // namespace headless
