// A small skinned glTF 2.0 character whose key times the test chooses: a tube of 8 x 5 points
// along y on two joints ("root" at 0 and "tip" 1 up, the weights blending between y = 0.5 and
// 1.5), and one animation, "Bend", that turns "tip" about z by 90 degrees over its keys at
// `tipTimes` (float32 seconds, written as given, NaN and disorder included) and, when
// `rootTimes` is not empty, moves "root" along x at those times. Its buffer is inside the file
// (a data URI).
#pragma once

#include <cmath>
#include <cstdint>
#include <cstring>
#include <numbers>
#include <sstream>
#include <string>
#include <vector>

#include "headless/io/page.h"

namespace timed_gltf {

inline std::string TimedGltf(const std::vector<float>& tipTimes,
                             const std::vector<float>& rootTimes = {}) {
  std::vector<std::uint8_t> buffer;
  auto floats = [&](std::initializer_list<float> values) {
    for (float v : values) {
      std::uint8_t b[4];
      std::memcpy(b, &v, 4);
      buffer.insert(buffer.end(), b, b + 4);
    }
  };
  std::ostringstream views, accessors;
  int count = 0;
  size_t from = 0;
  // An accessor over the bytes written since the last one.
  auto accessor = [&](int component, size_t elements, const char* type, const std::string& extra) {
    views << (count ? "," : "") << "{\"buffer\":0,\"byteOffset\":" << from
          << ",\"byteLength\":" << buffer.size() - from << "}";
    accessors << (count ? "," : "") << "{\"bufferView\":" << count
              << ",\"componentType\":" << component << ",\"count\":" << elements << ",\"type\":\""
              << type << "\"" << extra << "}";
    from = buffer.size();
    return count++;
  };
  constexpr int kAround = 8, kRings = 5;
  for (int r = 0; r < kRings; ++r)
    for (int a = 0; a < kAround; ++a) {
      const double angle = 2.0 * std::numbers::pi * a / kAround;
      floats({static_cast<float>(0.3 * std::cos(angle)), 0.5f * r,
              static_cast<float>(0.3 * std::sin(angle))});
    }
  const int positions =
      accessor(5126, kAround * kRings, "VEC3", ",\"min\":[-0.3,0,-0.3],\"max\":[0.3,2,0.3]");
  for (int r = 0; r < kRings; ++r)
    for (int a = 0; a < kAround; ++a) {
      const float tip = std::min(1.0f, std::max(0.0f, 0.5f * r - 0.5f));
      floats({1.0f - tip, tip, 0.0f, 0.0f});
    }
  const int weights = accessor(5126, kAround * kRings, "VEC4", "");
  for (int v = 0; v < kAround * kRings; ++v) buffer.insert(buffer.end(), {0, 1, 0, 0});
  const int joints = accessor(5121, kAround * kRings, "VEC4", "");
  floats({1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1});
  floats({1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, -1, 0, 1});
  const int matrices = accessor(5126, 2, "MAT4", "");
  for (int r = 0; r + 1 < kRings; ++r)
    for (int a = 0; a < kAround; ++a)
      for (int corner : {r * kAround + a, (r + 1) * kAround + a,
                         (r + 1) * kAround + (a + 1) % kAround, r * kAround + a,
                         (r + 1) * kAround + (a + 1) % kAround, r * kAround + (a + 1) % kAround}) {
        buffer.push_back(static_cast<std::uint8_t>(corner & 0xff));
        buffer.push_back(static_cast<std::uint8_t>(corner >> 8));
      }
  const int indices = accessor(5123, (buffer.size() - from) / 2, "SCALAR", "");
  while (buffer.size() % 4 != 0) buffer.push_back(0);
  from = buffer.size();

  // Samplers: times, then values, per channel.
  std::string channels, samplers;
  auto channel = [&](const std::vector<float>& times, int node, const char* path, bool rotation) {
    for (float t : times) floats({t});
    const int input = accessor(5126, times.size(), "SCALAR", "");
    for (size_t k = 0; k < times.size(); ++k) {
      const double f = times.size() > 1 ? static_cast<double>(k) / (times.size() - 1) : 0.0;
      if (rotation)
        floats({0, 0, static_cast<float>(std::sin(f * std::numbers::pi / 4)),
                static_cast<float>(std::cos(f * std::numbers::pi / 4))});
      else
        floats({static_cast<float>(0.5 * f), 0, 0});
    }
    const int output = accessor(5126, times.size(), rotation ? "VEC4" : "VEC3", "");
    const int sampler = static_cast<int>(!samplers.empty());
    samplers += std::string(samplers.empty() ? "" : ",") + "{\"input\":" + std::to_string(input) +
                ",\"output\":" + std::to_string(output) + ",\"interpolation\":\"LINEAR\"}";
    channels += std::string(channels.empty() ? "" : ",") +
                "{\"sampler\":" + std::to_string(sampler) +
                ",\"target\":{\"node\":" + std::to_string(node) + ",\"path\":\"" + path + "\"}}";
  };
  channel(tipTimes, 2, "rotation", true);
  if (!rootTimes.empty()) channel(rootTimes, 1, "translation", false);

  return "{\"asset\":{\"version\":\"2.0\"},\"scene\":0,\"scenes\":[{\"nodes\":[0,1]}],"
         "\"nodes\":[{\"name\":\"body\",\"mesh\":0,\"skin\":0},"
         "{\"name\":\"root\",\"children\":[2]},"
         "{\"name\":\"tip\",\"translation\":[0,1,0]}],"
         "\"meshes\":[{\"name\":\"body\",\"primitives\":[{\"attributes\":{\"POSITION\":" +
         std::to_string(positions) + ",\"JOINTS_0\":" + std::to_string(joints) +
         ",\"WEIGHTS_0\":" + std::to_string(weights) + "},\"indices\":" + std::to_string(indices) +
         "}]}],\"skins\":[{\"joints\":[1,2],\"inverseBindMatrices\":" + std::to_string(matrices) +
         "}],\"animations\":[{\"name\":\"Bend\",\"channels\":[" + channels + "],\"samplers\":[" +
         samplers + "]}],\"buffers\":[{\"byteLength\":" + std::to_string(buffer.size()) +
         ",\"uri\":\"data:application/octet-stream;base64," + headless::Base64(buffer) +
         "\"}],\"bufferViews\":[" + views.str() + "],\"accessors\":[" + accessors.str() + "]}";
}

// `count` key times `step` seconds apart from 0, as float32.
inline std::vector<float> EvenTimes(int count, double step) {
  std::vector<float> times;
  for (int k = 0; k < count; ++k) times.push_back(static_cast<float>(k * step));
  return times;
}

}  // namespace timed_gltf
