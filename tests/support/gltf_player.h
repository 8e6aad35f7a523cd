// The product's linear blend skinning player of binary glTF (headless/characters/
// gltf_skin_player.h, written from the format's own rules and sharing nothing with the writers)
// in the shape the tests read it: the file's JSON and binary chunk to inspect, an accessor's
// values, and every mesh's vertices placed in world space at a time of an animation. The
// writers' tests hold its placements against points computed without glTF, so a fault on either
// side shows.
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <cstring>
#include <memory>
#include <nlohmann/json.hpp>
#include <stdexcept>
#include <string>
#include <vector>

#include "headless/characters/gltf_skin_player.h"

namespace gltf_player {

using Json = nlohmann::json;
using Vec3 = std::array<double, 3>;

struct Played {
  std::string name;
  std::vector<Vec3> positions, normals;  // world space
};

class Player {
 public:
  explicit Player(const std::string& glb) : document_(headless::ParseGlbDocument(glb)) {
    std::uint32_t jsonLength = 0, binLength = 0;
    std::memcpy(&jsonLength, glb.data() + 12, 4);
    json_ = Json::parse(glb.substr(20, jsonLength));
    if (glb.size() > 28 + jsonLength) {
      std::memcpy(&binLength, glb.data() + 20 + jsonLength, 4);
      bin_ = glb.substr(28 + jsonLength, binLength);
    }
  }
  const Json& json() const { return json_; }
  const std::string& bin() const { return bin_; }

  // The accessor's values as doubles, `width` per element.
  std::vector<double> Read(int index) const { return headless::ReadGlbAccessor(*document_, index); }

  // Every node drawing a mesh, in node order, with animation `animation` (-1: none) at `t`.
  std::vector<Played> Play(int animation, double t) const {
    std::vector<Played> out;
    for (const headless::PlayedGlbMesh& mesh : headless::PlayGlb(*document_, animation, t)) {
      Played played{mesh.name, {}, {}};
      for (const Vector3& p : mesh.positions) played.positions.push_back({p.x, p.y, p.z});
      for (const Vector3& n : mesh.normals) played.normals.push_back({n.x, n.y, n.z});
      out.push_back(std::move(played));
    }
    return out;
  }

 private:
  std::shared_ptr<const headless::GlbDocument> document_;
  Json json_;
  std::string bin_;
};

}  // namespace gltf_player
