#include "headless/characters/gltf_precheck.h"

#if TESSAMIRE_HAVE_ASSIMP

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <vector>

#include <nlohmann/json.hpp>

#include "headless/scene/rig.h"

namespace headless {

namespace {

using Json = nlohmann::json;

constexpr std::uint32_t kGlbMagic = 0x46546C67u;   // "glTF"
constexpr std::uint32_t kJsonChunk = 0x4E4F534Au;  // "JSON"

std::uint32_t U32At(std::string_view bytes, size_t at) {
  std::uint32_t v = 0;
  for (int i = 0; i < 4; ++i)
    v |= static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[at + i])) << (8 * i);
  return v;
}

void PutU32(std::string& bytes, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) bytes.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
}

std::string Base64(const std::string& bytes) {
  constexpr char kDigits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string text;
  for (size_t i = 0; i < bytes.size(); i += 3) {
    const size_t left = bytes.size() - i;
    std::uint32_t group = static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[i])) << 16;
    if (left > 1)
      group |= static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[i + 1])) << 8;
    if (left > 2) group |= static_cast<unsigned char>(bytes[i + 2]);
    text.push_back(kDigits[(group >> 18) & 63]);
    text.push_back(kDigits[(group >> 12) & 63]);
    text.push_back(left > 1 ? kDigits[(group >> 6) & 63] : '=');
    text.push_back(left > 2 ? kDigits[group & 63] : '=');
  }
  return text;
}

// The deepest chain of children, walked without recursion; a node reached twice (a cycle, or
// one node under two parents) is counted once, Assimp refuses such files itself.
size_t NodeDepth(const Json& gltf) {
  const auto nodes = gltf.find("nodes");
  if (nodes == gltf.end() || !nodes->is_array()) return 0;
  const size_t count = nodes->size();
  std::vector<size_t> depth(count, 0);
  std::vector<bool> child(count, false);
  for (const Json& node : *nodes)
    if (node.is_object() && node.contains("children") && node["children"].is_array())
      for (const Json& c : node["children"])
        if (c.is_number_unsigned() && c.get<size_t>() < count) child[c.get<size_t>()] = true;
  size_t deepest = 0;
  std::vector<bool> seen(count, false);
  for (size_t root = 0; root < count; ++root) {
    if (child[root] || seen[root]) continue;
    std::vector<size_t> stack = {root};
    depth[root] = 1;
    seen[root] = true;
    while (!stack.empty()) {
      const size_t n = stack.back();
      stack.pop_back();
      deepest = std::max(deepest, depth[n]);
      const Json& node = (*nodes)[n];
      if (!node.is_object() || !node.contains("children") || !node["children"].is_array()) continue;
      for (const Json& c : node["children"]) {
        if (!c.is_number_unsigned() || c.get<size_t>() >= count || seen[c.get<size_t>()]) continue;
        seen[c.get<size_t>()] = true;
        depth[c.get<size_t>()] = depth[n] + 1;
        stack.push_back(c.get<size_t>());
      }
    }
  }
  return deepest;
}

// Gives every skin without inverse binds identity ones in a buffer of its own; false when none
// lacks them.
bool SupplyIdentityBinds(Json& gltf) {
  const auto skins = gltf.find("skins");
  if (skins == gltf.end() || !skins->is_array()) return false;
  bool supplied = false;
  for (Json& skin : *skins) {
    if (!skin.is_object() || skin.contains("inverseBindMatrices") || !skin.contains("joints") ||
        !skin["joints"].is_array() || skin["joints"].empty())
      continue;
    const size_t joints = skin["joints"].size();
    std::string matrices;
    for (size_t j = 0; j < joints; ++j)
      for (int k = 0; k < 16; ++k) {
        const float v = k % 5 == 0 ? 1.0f : 0.0f;
        char bytes[4];
        std::memcpy(bytes, &v, 4);
        matrices.append(bytes, 4);
      }
    for (const char* list : {"buffers", "bufferViews", "accessors"})
      if (!gltf.contains(list) || !gltf[list].is_array()) gltf[list] = Json::array();
    gltf["buffers"].push_back(
        {{"byteLength", matrices.size()},
         {"uri", "data:application/octet-stream;base64," + Base64(matrices)}});
    gltf["bufferViews"].push_back(
        {{"buffer", gltf["buffers"].size() - 1}, {"byteLength", matrices.size()}});
    gltf["accessors"].push_back({{"bufferView", gltf["bufferViews"].size() - 1},
                                 {"componentType", 5126},
                                 {"count", joints},
                                 {"type", "MAT4"}});
    skin["inverseBindMatrices"] = gltf["accessors"].size() - 1;
    supplied = true;
  }
  return supplied;
}

}  // namespace

std::uint64_t GlbJsonBytes(std::string_view head) {
  if (head.size() < 20 || U32At(head, 0) != kGlbMagic || U32At(head, 16) != kJsonChunk) return 0;
  return U32At(head, 12);
}

std::optional<std::string> PrecheckedGltf(std::string_view file, bool binary,
                                          const std::string& name) {
  std::string_view text = file;
  if (binary) {
    const std::uint64_t jsonBytes = GlbJsonBytes(file);
    if (jsonBytes == 0 || jsonBytes > file.size() - 20) return std::nullopt;
    text = file.substr(20, jsonBytes);
  }
  Json gltf = Json::parse(text.begin(), text.end(), nullptr, false);
  if (gltf.is_discarded() || !gltf.is_object()) return std::nullopt;
  const size_t depth = NodeDepth(gltf);
  if (depth > static_cast<size_t>(kMaxRigDepth))
    throw std::runtime_error(name + ": its nodes are nested " + std::to_string(depth) +
                             " deep; at most " + std::to_string(kMaxRigDepth) + " are read");
  if (!SupplyIdentityBinds(gltf)) return std::nullopt;
  std::string json = gltf.dump();
  if (!binary) return json;
  while (json.size() % 4 != 0) json.push_back(' ');
  const std::string_view rest = file.substr(20 + text.size());
  std::string out;
  PutU32(out, kGlbMagic);
  PutU32(out, 2);
  PutU32(out, static_cast<std::uint32_t>(20 + json.size() + rest.size()));
  PutU32(out, static_cast<std::uint32_t>(json.size()));
  PutU32(out, kJsonChunk);
  return out + json + std::string(rest);
}

}  // namespace headless

#endif
