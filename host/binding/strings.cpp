#include <vector>

#include "host/binding/nodes.h"

std::string LoadResourceString(const Resource* res, Int32 id) {
  char small[256];
  const Int64 length = Host().resourceString(res, id, small, sizeof small);
  if (length < static_cast<Int64>(sizeof small)) return std::string(small, length);
  std::vector<char> large(static_cast<size_t>(length) + 1);
  Host().resourceString(res, id, large.data(), static_cast<Int64>(large.size()));
  return std::string(large.data(), length);
}

std::string FormatNumber(Int64 value) {
  char text[64];
  const Int64 length = Host().formatInt64(value, text, sizeof text);
  return std::string(text, length < static_cast<Int64>(sizeof text) ? length : 0);
}
