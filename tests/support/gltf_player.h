// A linear blend skinning player of binary glTF, written from the format's own rules and sharing
// nothing with the writers: it parses the JSON and the binary chunk, reads accessors (strided,
// sparse, normalised integers), poses the node tree from translation, rotation and scale (or a
// matrix) and an animation sampled at a time, and places every mesh's vertices in world space:
// skinned ones as sum w * globalJoint * inverseBind * (base + sum of weighted target deltas),
// others through their node's global matrix. Normals go through the inverse transpose.
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <nlohmann/json.hpp>
#include <stdexcept>
#include <string>
#include <vector>

namespace gltf_player {

using Json = nlohmann::json;
using Mat4 = std::array<double, 16>;  // column-major, as the format stores matrices
using Vec3 = std::array<double, 3>;

inline Mat4 Identity() {
  return {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
}

inline Mat4 Mul(const Mat4& a, const Mat4& b) {
  Mat4 c{};
  for (int col = 0; col < 4; ++col)
    for (int row = 0; row < 4; ++row)
      for (int k = 0; k < 4; ++k) c[col * 4 + row] += a[k * 4 + row] * b[col * 4 + k];
  return c;
}

inline Vec3 Apply(const Mat4& m, const Vec3& p, double w) {
  Vec3 out{};
  for (int row = 0; row < 3; ++row)
    out[row] = m[row] * p[0] + m[4 + row] * p[1] + m[8 + row] * p[2] + m[12 + row] * w;
  return out;
}

// The inverse transpose of m's upper 3 x 3, applied to n (cofactors over the determinant).
inline Vec3 NormalThrough(const Mat4& m, const Vec3& n) {
  const auto a = [&](int row, int col) { return m[col * 4 + row]; };
  double cof[3][3];
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 3; ++c) {
      const int r1 = (r + 1) % 3, r2 = (r + 2) % 3, c1 = (c + 1) % 3, c2 = (c + 2) % 3;
      cof[r][c] = a(r1, c1) * a(r2, c2) - a(r1, c2) * a(r2, c1);
    }
  Vec3 out{};
  for (int r = 0; r < 3; ++r) out[r] = cof[r][0] * n[0] + cof[r][1] * n[1] + cof[r][2] * n[2];
  const double length = std::sqrt(out[0] * out[0] + out[1] * out[1] + out[2] * out[2]);
  for (double& v : out) v /= length;
  return out;
}

inline Mat4 FromTrs(const std::vector<double>& t, const std::vector<double>& r,
                    const std::vector<double>& s) {
  const double x = r[0], y = r[1], z = r[2], w = r[3];
  Mat4 m = {1 - 2 * (y * y + z * z),
            2 * (x * y + z * w),
            2 * (x * z - y * w),
            0,
            2 * (x * y - z * w),
            1 - 2 * (x * x + z * z),
            2 * (y * z + x * w),
            0,
            2 * (x * z + y * w),
            2 * (y * z - x * w),
            1 - 2 * (x * x + y * y),
            0,
            t[0],
            t[1],
            t[2],
            1};
  for (int k = 0; k < 3; ++k)
    for (int row = 0; row < 3; ++row) m[k * 4 + row] *= s[k];
  return m;
}

struct Played {
  std::string name;
  std::vector<Vec3> positions, normals;  // world space
};

class Player {
 public:
  explicit Player(const std::string& glb) {
    std::uint32_t jsonLength = 0, binLength = 0;
    if (glb.size() < 28 || glb.compare(0, 4, "glTF") != 0) throw std::runtime_error("not a glb");
    std::memcpy(&jsonLength, glb.data() + 12, 4);
    json_ = Json::parse(glb.substr(20, jsonLength));
    if (glb.size() > 28 + jsonLength) {
      std::memcpy(&binLength, glb.data() + 20 + jsonLength, 4);
      bin_ = glb.substr(28 + jsonLength, binLength);
    }
  }
  const Json& json() const { return json_; }
  const std::string& bin() const { return bin_; }

  // The accessor's values as doubles, `width` per element (normalised integers as the format
  // maps them, sparse substitutions applied).
  std::vector<double> Read(int index) const {
    const Json& a = json_["accessors"][index];
    const int width = Width(a["type"]);
    const int type = a["componentType"];
    const bool normalized = a.value("normalized", false);
    const size_t count = a["count"];
    std::vector<double> out(count * width, 0.0);
    if (a.contains("bufferView")) {
      const Json& view = json_["bufferViews"][a["bufferView"].get<int>()];
      const size_t stride =
          view.value("byteStride", 0) != 0 ? view["byteStride"].get<size_t>() : width * Size(type);
      const size_t base = view.value("byteOffset", 0) + a.value("byteOffset", 0);
      for (size_t i = 0; i < count; ++i)
        for (int k = 0; k < width; ++k)
          out[i * width + k] = Component(base + i * stride + k * Size(type), type, normalized);
    }
    if (a.contains("sparse")) {
      const Json& sparse = a["sparse"];
      const Json& iv = json_["bufferViews"][sparse["indices"]["bufferView"].get<int>()];
      const Json& vv = json_["bufferViews"][sparse["values"]["bufferView"].get<int>()];
      const int indexType = sparse["indices"]["componentType"];
      for (size_t s = 0; s < sparse["count"].get<size_t>(); ++s) {
        const size_t at = static_cast<size_t>(
            Component(iv.value("byteOffset", 0) + s * Size(indexType), indexType, false));
        for (int k = 0; k < width; ++k)
          out[at * width + k] =
              Component(vv.value("byteOffset", 0) + (s * width + k) * Size(type), type, normalized);
      }
    }
    return out;
  }

  // Every node's local TRS, with animation `animation` (-1: none) applied at `t` seconds.
  std::vector<Mat4> Globals(int animation, double t,
                            std::vector<std::vector<double>>* weights) const {
    const Json& nodes = json_["nodes"];
    std::vector<std::vector<double>> T(nodes.size()), R(nodes.size()), S(nodes.size());
    for (size_t n = 0; n < nodes.size(); ++n) {
      T[n] = nodes[n].value("translation", std::vector<double>{0, 0, 0});
      R[n] = nodes[n].value("rotation", std::vector<double>{0, 0, 0, 1});
      S[n] = nodes[n].value("scale", std::vector<double>{1, 1, 1});
      if (nodes[n].contains("mesh")) {
        const Json& mesh = json_["meshes"][nodes[n]["mesh"].get<int>()];
        (*weights)[n] = mesh.value("weights", std::vector<double>{});
      }
    }
    if (animation >= 0)
      for (const Json& channel : json_["animations"][animation]["channels"]) {
        const Json& sampler =
            json_["animations"][animation]["samplers"][channel["sampler"].get<int>()];
        const int node = channel["target"]["node"];
        const std::string path = channel["target"]["path"];
        std::vector<double>& value = path == "translation" ? T[node]
                                     : path == "rotation"  ? R[node]
                                     : path == "scale"     ? S[node]
                                                           : (*weights)[node];
        value = Sample(Read(sampler["input"]), Read(sampler["output"]), value.size(), t,
                       path == "rotation");
      }
    std::vector<int> parent(nodes.size(), -1);
    for (size_t n = 0; n < nodes.size(); ++n)
      for (const Json& child : nodes[n].value("children", Json::array()))
        parent[child.get<int>()] = static_cast<int>(n);
    std::vector<Mat4> global(nodes.size());
    std::vector<bool> done(nodes.size(), false);
    for (size_t pass = 0; pass < nodes.size(); ++pass)
      for (size_t n = 0; n < nodes.size(); ++n) {
        if (done[n] || (parent[n] >= 0 && !done[parent[n]])) continue;
        const Mat4 local = nodes[n].contains("matrix")
                               ? ToMat4(nodes[n]["matrix"].get<std::vector<double>>())
                               : FromTrs(T[n], R[n], S[n]);
        global[n] = parent[n] >= 0 ? Mul(global[parent[n]], local) : local;
        done[n] = true;
      }
    return global;
  }

  // Every node drawing a mesh, in node order: its first primitive's vertices placed.
  std::vector<Played> Play(int animation, double t) const {
    const Json& nodes = json_["nodes"];
    std::vector<std::vector<double>> weights(nodes.size());
    const std::vector<Mat4> global = Globals(animation, t, &weights);
    std::vector<Played> out;
    for (size_t n = 0; n < nodes.size(); ++n) {
      if (!nodes[n].contains("mesh")) continue;
      const Json& mesh = json_["meshes"][nodes[n]["mesh"].get<int>()];
      const Json& primitive = mesh["primitives"][0];
      const Json& attributes = primitive["attributes"];
      std::vector<double> p = Read(attributes["POSITION"]);
      std::vector<double> nn =
          attributes.contains("NORMAL") ? Read(attributes["NORMAL"]) : std::vector<double>{};
      const Json targets = primitive.value("targets", Json::array());
      for (size_t k = 0; k < targets.size(); ++k) {
        const double w = weights[n][k];
        if (w == 0.0) continue;
        const std::vector<double> d = Read(targets[k]["POSITION"]);
        for (size_t i = 0; i < p.size(); ++i) p[i] += w * d[i];
        if (!nn.empty()) {
          const std::vector<double> dn = Read(targets[k]["NORMAL"]);
          for (size_t i = 0; i < nn.size(); ++i) nn[i] += w * dn[i];
        }
      }
      Played played;
      played.name = nodes[n].value("name", "");
      const size_t vertices = p.size() / 3;
      std::vector<Mat4> joints;
      std::vector<double> J0, W0, J1, W1;
      if (nodes[n].contains("skin")) {
        const Json& skin = json_["skins"][nodes[n]["skin"].get<int>()];
        const std::vector<double> ibm = Read(skin["inverseBindMatrices"]);
        for (size_t j = 0; j < skin["joints"].size(); ++j)
          joints.push_back(Mul(global[skin["joints"][j].get<int>()],
                               ToMat4({ibm.begin() + 16 * j, ibm.begin() + 16 * j + 16})));
        J0 = Read(attributes["JOINTS_0"]);
        W0 = Read(attributes["WEIGHTS_0"]);
        if (attributes.contains("JOINTS_1")) {
          J1 = Read(attributes["JOINTS_1"]);
          W1 = Read(attributes["WEIGHTS_1"]);
        }
      }
      for (size_t v = 0; v < vertices; ++v) {
        Mat4 b{};
        if (joints.empty()) {
          b = global[n];
        } else {
          for (int s = 0; s < 4; ++s) {
            for (int e = 0; e < 16; ++e) b[e] += W0[4 * v + s] * joints[J0[4 * v + s]][e];
            if (!J1.empty())
              for (int e = 0; e < 16; ++e) b[e] += W1[4 * v + s] * joints[J1[4 * v + s]][e];
          }
        }
        played.positions.push_back(Apply(b, {p[3 * v], p[3 * v + 1], p[3 * v + 2]}, 1.0));
        if (!nn.empty())
          played.normals.push_back(NormalThrough(b, {nn[3 * v], nn[3 * v + 1], nn[3 * v + 2]}));
      }
      out.push_back(std::move(played));
    }
    return out;
  }

 private:
  static int Width(const std::string& type) {
    return type == "SCALAR" ? 1 : type == "VEC2" ? 2 : type == "VEC3" ? 3 : type == "VEC4" ? 4 : 16;
  }
  static size_t Size(int type) {
    return type == 5126 || type == 5125 ? 4 : type == 5121 || type == 5120 ? 1 : 2;
  }
  double Component(size_t at, int type, bool normalized) const {
    const char* p = bin_.data() + at;
    switch (type) {
      case 5126: {
        float f;
        std::memcpy(&f, p, 4);
        return f;
      }
      case 5125: {
        std::uint32_t u;
        std::memcpy(&u, p, 4);
        return u;
      }
      case 5123: {
        std::uint16_t u;
        std::memcpy(&u, p, 2);
        return normalized ? u / 65535.0 : u;
      }
      case 5122: {
        std::int16_t s;
        std::memcpy(&s, p, 2);
        return normalized ? std::max(s / 32767.0, -1.0) : s;
      }
      case 5121: {
        std::uint8_t u;
        std::memcpy(&u, p, 1);
        return normalized ? u / 255.0 : u;
      }
      case 5120: {
        std::int8_t b;
        std::memcpy(&b, p, 1);
        return normalized ? std::max(b / 127.0, -1.0) : b;
      }
    }
    throw std::runtime_error("component type " + std::to_string(type));
  }
  static Mat4 ToMat4(const std::vector<double>& v) {
    Mat4 m{};
    for (int k = 0; k < 16; ++k) m[k] = v[k];
    return m;
  }
  // LINEAR sampling: clamped at the ends, rotations by spherical interpolation.
  static std::vector<double> Sample(const std::vector<double>& times,
                                    const std::vector<double>& values, size_t width, double t,
                                    bool rotation) {
    width = values.size() / times.size();
    const auto key = [&](size_t i) {
      return std::vector<double>(values.begin() + i * width, values.begin() + (i + 1) * width);
    };
    if (t <= times.front()) return key(0);
    if (t >= times.back()) return key(times.size() - 1);
    size_t i = 0;
    while (times[i + 1] <= t) ++i;
    const double f = (t - times[i]) / (times[i + 1] - times[i]);
    std::vector<double> a = key(i), b = key(i + 1), out(width);
    if (!rotation) {
      for (size_t k = 0; k < width; ++k) out[k] = (1 - f) * a[k] + f * b[k];
      return out;
    }
    double dot = 0;
    for (int k = 0; k < 4; ++k) dot += a[k] * b[k];
    if (dot < 0) {
      dot = -dot;
      for (double& v : b) v = -v;
    }
    const double angle = std::acos(std::min(dot, 1.0));
    double wa = 1 - f, wb = f;
    if (std::sin(angle) > 1e-9) {
      wa = std::sin((1 - f) * angle) / std::sin(angle);
      wb = std::sin(f * angle) / std::sin(angle);
    }
    double length = 0;
    for (int k = 0; k < 4; ++k) {
      out[k] = wa * a[k] + wb * b[k];
      length += out[k] * out[k];
    }
    for (double& v : out) v /= std::sqrt(length);
    return out;
  }

  Json json_;
  std::string bin_;
};

}  // namespace gltf_player
