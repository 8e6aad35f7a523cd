#include "headless/characters/glb_pose.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>

#include "headless/deformers/skinning.h"
#include "headless/files/shortest_number.h"
#include "headless/geometry/vector.h"

namespace headless {
namespace {

Float32 Narrow(Float value, const std::string& what) {
  const Float32 narrow = static_cast<Float32>(value);
  if (!std::isfinite(narrow))
    throw std::invalid_argument(what + ": " + ShortestNumber(value) +
                                " does not fit in the float32 numbers a glTF holds");
  return narrow;
}

// The unit quaternion (x, y, z, w) of the rotation whose columns are a, b, c.
std::array<Float, 4> Quaternion(const Vector3& a, const Vector3& b, const Vector3& c) {
  const Float trace = a.x + b.y + c.z;
  std::array<Float, 4> q{};
  if (trace > 0.0) {
    const Float s = 2.0 * std::sqrt(1.0 + trace);
    q = {(b.z - c.y) / s, (c.x - a.z) / s, (a.y - b.x) / s, 0.25 * s};
  } else if (a.x > b.y && a.x > c.z) {
    const Float s = 2.0 * std::sqrt(1.0 + a.x - b.y - c.z);
    q = {0.25 * s, (b.x + a.y) / s, (c.x + a.z) / s, (b.z - c.y) / s};
  } else if (b.y > c.z) {
    const Float s = 2.0 * std::sqrt(1.0 + b.y - a.x - c.z);
    q = {(b.x + a.y) / s, 0.25 * s, (c.y + b.z) / s, (c.x - a.z) / s};
  } else {
    const Float s = 2.0 * std::sqrt(1.0 + c.z - a.x - b.y);
    q = {(c.x + a.z) / s, (c.y + b.z) / s, 0.25 * s, (a.y - b.x) / s};
  }
  const Float length = std::sqrt(q[0] * q[0] + q[1] * q[1] + q[2] * q[2] + q[3] * q[3]);
  for (Float& v : q) v /= length;
  return q;
}

Float MatrixSize(const Matrix& m) {
  return std::max({Length(m.off), Length(m.v1), Length(m.v2), Length(m.v3), 1e-300});
}

Float MatrixGap(const Matrix& a, const Matrix& b) {
  return std::max({Length(Sub(a.off, b.off)), Length(Sub(a.v1, b.v1)), Length(Sub(a.v2, b.v2)),
                   Length(Sub(a.v3, b.v3))});
}

// The key interval holding `t`: keys i and i + 1 and the fraction between; both i at the ends.
void Bracket(const std::vector<Float32>& times, Float32 t, size_t& i, size_t& j, Float& f) {
  f = 0.0;
  if (t <= times.front()) {
    i = j = 0;
    return;
  }
  if (t >= times.back()) {
    i = j = times.size() - 1;
    return;
  }
  j = static_cast<size_t>(std::upper_bound(times.begin(), times.end(), t) - times.begin());
  i = j - 1;
  f = (static_cast<Float>(t) - times[i]) / (static_cast<Float>(times[j]) - times[i]);
}

std::array<Float32, 4> Slerp(const Float32* a, const Float32* b, Float f) {
  Float dot = 0.0;
  for (int k = 0; k < 4; ++k) dot += static_cast<Float>(a[k]) * b[k];
  const Float sign = dot < 0.0 ? -1.0 : 1.0;
  dot = std::min(1.0, std::abs(dot));
  const Float theta = std::acos(dot);
  Float wa = 1.0 - f, wb = f;
  if (std::sin(theta) > 1e-6) {
    wa = std::sin((1.0 - f) * theta) / std::sin(theta);
    wb = std::sin(f * theta) / std::sin(theta);
  }
  std::array<Float, 4> q{};
  Float length = 0.0;
  for (int k = 0; k < 4; ++k) {
    q[k] = wa * a[k] + sign * wb * b[k];
    length += q[k] * q[k];
  }
  length = std::sqrt(length);
  return {static_cast<Float32>(q[0] / length), static_cast<Float32>(q[1] / length),
          static_cast<Float32>(q[2] / length), static_cast<Float32>(q[3] / length)};
}

}  // namespace

NodeTrs DecomposeTrs(const Matrix& local, bool& sheared) {
  const Vector3 axes[3] = {local.v1, local.v2, local.v3};
  Float scale[3];
  for (int k = 0; k < 3; ++k) scale[k] = Length(axes[k]);
  if (Dot(Cross(local.v1, local.v2), local.v3) < 0.0) scale[0] = -scale[0];
  NodeTrs trs;
  // The rotation from the axes made orthonormal, x first; identity where an axis has no length.
  std::array<Float, 4> q{0.0, 0.0, 0.0, 1.0};
  if (scale[0] != 0.0 && scale[1] != 0.0 && scale[2] != 0.0) {
    const Vector3 a = Divide(axes[0], scale[0]);
    Vector3 b = Sub(axes[1], Scale(a, Dot(a, axes[1])));
    b = Divide(b, Length(b));
    q = Quaternion(a, b, Cross(a, b));
  }
  const Float t[3] = {local.off.x, local.off.y, local.off.z};
  for (int k = 0; k < 3; ++k) {
    trs.translation[k] = Narrow(t[k], "a node's translation");
    trs.scale[k] = Narrow(scale[k], "a node's scale");
  }
  for (int k = 0; k < 4; ++k) trs.rotation[k] = static_cast<Float32>(q[k]);
  sheared = MatrixGap(TrsMatrix(trs), local) > 1e-6 * MatrixSize(local);
  return trs;
}

Matrix TrsMatrix(const NodeTrs& trs) {
  const Float x = trs.rotation[0], y = trs.rotation[1], z = trs.rotation[2], w = trs.rotation[3];
  Matrix m;
  m.v1 = Scale({1 - 2 * (y * y + z * z), 2 * (x * y + z * w), 2 * (x * z - y * w)}, trs.scale[0]);
  m.v2 = Scale({2 * (x * y - z * w), 1 - 2 * (x * x + z * z), 2 * (y * z + x * w)}, trs.scale[1]);
  m.v3 = Scale({2 * (x * z + y * w), 2 * (y * z - x * w), 1 - 2 * (x * x + y * y)}, trs.scale[2]);
  m.off = {trs.translation[0], trs.translation[1], trs.translation[2]};
  return m;
}

std::vector<Channel32> NarrowChannels(const RigClip& clip, std::span<const RigNode> nodes) {
  std::vector<Channel32> out;
  for (const RigChannel& channel : clip.channels) {
    const bool known = channel.node >= 0 && channel.node < static_cast<Int32>(nodes.size());
    const std::string what =
        "clip \"" + clip.name + "\", node " +
        (known ? "\"" + nodes[channel.node].name + "\"" : std::to_string(channel.node));
    if (!known) throw std::invalid_argument(what + ": no such node");
    const size_t width = channel.path == RigPath::kRotation ? 4 : 3;
    if (channel.times.empty() || channel.values.size() != width * channel.times.size())
      throw std::invalid_argument(what + ": " + std::to_string(channel.times.size()) +
                                  " keys with " + std::to_string(channel.values.size()) +
                                  " values");
    Channel32 narrow{channel.node, channel.path, {}, {}};
    for (const Float t : channel.times) {
      const Float32 time = Narrow(t, what + ", a key's time");
      if (!narrow.times.empty() && !(time > narrow.times.back()))
        throw std::invalid_argument(what + ": key times " + ShortestNumber(t) +
                                    " s and the one before are not strictly increasing in "
                                    "float32");
      narrow.times.push_back(time);
    }
    for (const Float v : channel.values) narrow.values.push_back(Narrow(v, what));
    out.push_back(std::move(narrow));
  }
  return out;
}

std::vector<NodeTrs> PoseAt(std::span<const NodeTrs> rest, std::span<const Channel32> channels,
                            Float32 seconds) {
  std::vector<NodeTrs> pose(rest.begin(), rest.end());
  for (const Channel32& channel : channels) {
    size_t i = 0, j = 0;
    Float f = 0.0;
    Bracket(channel.times, seconds, i, j, f);
    NodeTrs& trs = pose[channel.node];
    if (channel.path == RigPath::kRotation) {
      trs.rotation = Slerp(&channel.values[4 * i], &channel.values[4 * j], f);
      continue;
    }
    std::array<Float32, 3>& target =
        channel.path == RigPath::kTranslation ? trs.translation : trs.scale;
    for (int k = 0; k < 3; ++k)
      target[k] = static_cast<Float32>((1.0 - f) * channel.values[3 * i + k] +
                                       f * channel.values[3 * j + k]);
  }
  return pose;
}

std::vector<Matrix> GlobalMatrices(std::span<const RigNode> nodes, std::span<const NodeTrs> pose) {
  std::vector<Matrix> global(nodes.size());
  for (size_t n = 0; n < nodes.size(); ++n) {
    const Matrix local = TrsMatrix(pose[n]);
    global[n] = nodes[n].parent >= 0 ? Multiply(global[nodes[n].parent], local) : local;
  }
  return global;
}

Matrix NarrowMatrix(const Matrix& m) {
  const auto narrow = [](const Vector3& v) {
    return Vector3{Narrow(v.x, "an inverse bind matrix"), Narrow(v.y, "an inverse bind matrix"),
                   Narrow(v.z, "an inverse bind matrix")};
  };
  return {narrow(m.off), narrow(m.v1), narrow(m.v2), narrow(m.v3)};
}

}  // namespace headless
