#include "headless/characters/correctives.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numeric>
#include <stdexcept>
#include <string>

#include "headless/deformers/skinning.h"
#include "headless/geometry/vector.h"

namespace headless {
namespace {

Matrix Blend(const WrittenInfluences* influences, std::span<const Matrix> joints, size_t v) {
  if (influences == nullptr) return joints[0];
  Matrix b{{0, 0, 0}, {0, 0, 0}, {0, 0, 0}, {0, 0, 0}};
  for (int s = 0; s < influences->slots; ++s) {
    const size_t slot = v * influences->slots + s;
    const Float w = influences->weights[slot];
    if (w == 0.0) continue;
    const Matrix& j = joints[influences->joints[slot]];
    b.off = Add(b.off, Scale(j.off, w));
    b.v1 = Add(b.v1, Scale(j.v1, w));
    b.v2 = Add(b.v2, Scale(j.v2, w));
    b.v3 = Add(b.v3, Scale(j.v3, w));
  }
  return b;
}

bool Singular(const Matrix& b) {
  const Float det = Dot(Cross(b.v1, b.v2), b.v3);
  const Float size = Length(b.v1) * Length(b.v2) * Length(b.v3);
  return !std::isfinite(det) || !std::isfinite(size) || !(std::abs(det) > 1e-12 * size);
}

Float32 NarrowTarget(Float value, size_t v) {
  const Float32 narrow = static_cast<Float32>(value);
  if (!std::isfinite(narrow))
    throw std::invalid_argument("vertex " + std::to_string(v) + ": a target of " +
                                std::to_string(value) + " does not fit in float32");
  return narrow;
}

Vector3 Unit(const Vector3& n) {
  const Float length = Length(n);
  return length > 0.0 && std::isfinite(length) ? Divide(n, length) : Vector3{0.0, 0.0, 1.0};
}

}  // namespace

WrittenInfluences WriteInfluences(const RigSkin& skin, int slots) {
  if (slots != 4 && slots != 8)
    throw std::invalid_argument("influences per vertex must be 4 or 8, not " +
                                std::to_string(slots));
  if (skin.joints.size() > 65535)
    throw std::invalid_argument("a skin of " + std::to_string(skin.joints.size()) +
                                " joints, more than the 65535 a glTF's joint indices hold");
  const Int64 vertices = static_cast<Int64>(skin.first.size()) - 1;
  WrittenInfluences out;
  out.slots = slots;
  out.joints.assign(static_cast<size_t>(vertices * slots), 0);
  out.weights.assign(static_cast<size_t>(vertices * slots), 0.0f);
  for (Int64 v = 0; v < vertices; ++v) {
    const Int64 begin = skin.first[v], end = skin.first[v + 1];
    std::vector<Int64> order(static_cast<size_t>(end - begin));
    std::iota(order.begin(), order.end(), begin);
    for (const Int64 i : order) {
      if (skin.joint[i] < 0 || skin.joint[i] >= static_cast<Int32>(skin.joints.size()) ||
          !std::isfinite(skin.weight[i]) || skin.weight[i] < 0.0f)
        throw std::invalid_argument("vertex " + std::to_string(v) + ": influence of joint " +
                                    std::to_string(skin.joint[i]) + " with weight " +
                                    std::to_string(skin.weight[i]));
    }
    // A joint named twice weighs the sum (a glTF names each joint once per vertex); influences
    // of weight 0 are dropped, as a joint written with weight 0 is a joint for nothing.
    std::vector<Int32> joints;
    std::vector<Float> weights;
    for (const Int64 i : order) {
      const auto at = std::find(joints.begin(), joints.end(), skin.joint[i]);
      if (at == joints.end()) {
        joints.push_back(skin.joint[i]);
        weights.push_back(skin.weight[i]);
      } else {
        weights[at - joints.begin()] += skin.weight[i];
      }
    }
    order.resize(joints.size());
    std::iota(order.begin(), order.end(), Int64{0});
    std::erase_if(order, [&](Int64 i) { return weights[i] == 0.0; });
    std::stable_sort(order.begin(), order.end(),
                     [&](Int64 a, Int64 b) { return weights[a] > weights[b]; });
    if (static_cast<int>(order.size()) > slots) {
      order.resize(slots);
      ++out.dropped;
    }
    Float sum = 0.0;
    for (const Int64 i : order) sum += weights[i];
    const size_t at = static_cast<size_t>(v * slots);
    if (!(sum > 0.0)) {
      out.weights[at] = 1.0f;
      ++out.unweighted;
      continue;
    }
    for (size_t s = 0; s < order.size(); ++s) {
      out.joints[at + s] = static_cast<std::uint16_t>(joints[order[s]]);
      out.weights[at + s] = static_cast<Float32>(weights[order[s]] / sum);
    }
  }
  return out;
}

CorrectiveTargets Correctives(const WrittenInfluences* influences, std::span<const Matrix> joints,
                              std::span<const Float32> base, std::span<const Float32> baseNormals,
                              std::span<const Vector3> world,
                              std::span<const Vector3> worldNormals) {
  const size_t vertices = world.size();
  const bool normals = !baseNormals.empty();
  CorrectiveTargets out;
  out.positions.assign(3 * vertices, 0.0f);
  if (normals) out.normals.assign(3 * vertices, 0.0f);
  std::vector<std::uint8_t> singular(vertices, 0);
  for (size_t v = 0; v < vertices; ++v) {
    const Matrix b = Blend(influences, joints, v);
    if (Singular(b)) {
      singular[v] = 1;
      continue;
    }
    const Vector3 local = TransformPoint(Inverse(b), world[v]);
    const Float rest[3] = {base[3 * v], base[3 * v + 1], base[3 * v + 2]};
    out.positions[3 * v] = NarrowTarget(local.x - rest[0], v);
    out.positions[3 * v + 1] = NarrowTarget(local.y - rest[1], v);
    out.positions[3 * v + 2] = NarrowTarget(local.z - rest[2], v);
    if (!normals) continue;
    // B3^T x N: each axis of B dotted with N.
    const Vector3 n = Unit(worldNormals[v]);
    const Vector3 turned = Unit({Dot(b.v1, n), Dot(b.v2, n), Dot(b.v3, n)});
    out.normals[3 * v] = static_cast<Float32>(turned.x - baseNormals[3 * v]);
    out.normals[3 * v + 1] = static_cast<Float32>(turned.y - baseNormals[3 * v + 1]);
    out.normals[3 * v + 2] = static_cast<Float32>(turned.z - baseNormals[3 * v + 2]);
  }
  out.singular = std::count(singular.begin(), singular.end(), 1);
  return out;
}

Float32 OmissionTolerance(std::span<const Float32> base) {
  Float32 extent = 0.0f;
  for (const Float32 c : base) extent = std::max(extent, std::abs(c));
  return (std::nextafter(extent, std::numeric_limits<Float32>::infinity()) - extent) / 2.0f;
}

std::vector<std::uint32_t> KeptVertices(const CorrectiveTargets& targets, Float32 tolerance) {
  const Float32 normalTolerance = std::ldexp(1.0f, -25);
  const size_t vertices = targets.positions.size() / 3;
  std::vector<std::uint32_t> kept;
  for (size_t v = 0; v < vertices; ++v) {
    bool keep = false;
    for (int k = 0; k < 3; ++k) {
      keep = keep || std::abs(targets.positions[3 * v + k]) >= tolerance;
      keep = keep ||
             (!targets.normals.empty() && std::abs(targets.normals[3 * v + k]) >= normalTolerance);
    }
    if (keep) kept.push_back(static_cast<std::uint32_t>(v));
  }
  return kept;
}

Float32 QuantisationScale(std::span<const Float32> a, std::span<const Float32> b) {
  Float32 scale = 0.0f;
  for (const Float32 v : a) scale = std::max(scale, std::abs(v));
  for (const Float32 v : b) scale = std::max(scale, std::abs(v));
  return scale > 0.0f ? scale : 1.0f;
}

std::vector<std::int32_t> Quantise(std::span<const Float32> values, Float32 scale, int top) {
  std::vector<std::int32_t> out(values.size());
  for (size_t i = 0; i < values.size(); ++i)
    out[i] = static_cast<std::int32_t>(std::clamp(
        std::lround(static_cast<Float>(values[i]) / scale * top), -long{top}, long{top}));
  return out;
}

}  // namespace headless
