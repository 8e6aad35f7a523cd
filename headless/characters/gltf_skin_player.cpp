#include "headless/characters/gltf_skin_player.h"

#include <stdexcept>

#if TESSAMIRE_HAVE_JSON_READER
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <nlohmann/json.hpp>
#endif

namespace headless {

#if !TESSAMIRE_HAVE_JSON_READER

struct GlbDocument {};

namespace {
[[noreturn]] void NoReader() {
  throw std::runtime_error("this build has no JSON reader (nlohmann-json3-dev), which reads glTF");
}
}  // namespace

std::shared_ptr<const GlbDocument> ParseGlbDocument(std::string) {
  NoReader();
}
std::vector<double> ReadGlbAccessor(const GlbDocument&, Int64) {
  NoReader();
}
std::vector<PlayedGlbMesh> PlayGlb(const GlbDocument&, Int64, Float) {
  NoReader();
}
std::vector<CPolygon> GlbMeshFaces(const GlbDocument&, const PlayedGlbMesh&) {
  NoReader();
}
std::vector<GlbKey> GlbNodeKeys(const GlbDocument&, Int64) {
  NoReader();
}

#else

using Json = nlohmann::json;

struct GlbDocument {
  Json json;
  std::string bin;
};

namespace {

using Mat4 = std::array<double, 16>;  // column-major, as the format stores matrices

// Accessors past this many values are refused before anything that large is held.
constexpr Int64 kMaxAccessorValues = Int64{1} << 28;

std::uint32_t Le32(const std::string& bytes, size_t at) {
  std::uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = v << 8 | static_cast<unsigned char>(bytes[at + i]);
  return v;
}

// Item `index` of the top-level array `kind`, refused by name when there is none.
const Json& Item(const Json& json, const char* kind, Int64 index) {
  const auto it = json.find(kind);
  const size_t count = it != json.end() && it->is_array() ? it->size() : 0;
  if (index < 0 || static_cast<size_t>(index) >= count)
    throw std::runtime_error(std::string(kind) + " " + std::to_string(index) + " is named, but " +
                             "the file holds " + std::to_string(count));
  return (*it)[index];
}

Int64 Index(const Json& object, const char* key) {
  const Json& value = object.at(key);
  if (!value.is_number_integer()) throw std::runtime_error(std::string(key) + " is not an index");
  return value.get<Int64>();
}

int Width(const std::string& type) {
  if (type == "SCALAR") return 1;
  if (type == "VEC2") return 2;
  if (type == "VEC3") return 3;
  if (type == "VEC4") return 4;
  if (type == "MAT4") return 16;
  throw std::runtime_error("accessor type " + type + " is not one this reader takes");
}

size_t ComponentSize(int type) {
  switch (type) {
    case 5120:
    case 5121:
      return 1;
    case 5122:
    case 5123:
      return 2;
    case 5125:
    case 5126:
      return 4;
  }
  throw std::runtime_error("component type " + std::to_string(type) + " is not the format's");
}

double Component(const char* p, int type, bool normalized) {
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
    default: {
      std::int8_t b;
      std::memcpy(&b, p, 1);
      return normalized ? std::max(b / 127.0, -1.0) : b;
    }
  }
}

struct ViewSpan {
  size_t offset = 0, length = 0, stride = 0;
};

// Buffer view `index`, checked to lie inside the binary chunk.
ViewSpan View(const GlbDocument& d, Int64 index) {
  const Json& view = Item(d.json, "bufferViews", index);
  const Int64 buffer = Index(view, "buffer");
  if (buffer != 0 || Item(d.json, "buffers", 0).contains("uri"))
    throw std::runtime_error("buffer view " + std::to_string(index) +
                             " is in a buffer outside the file's binary chunk, which this reader "
                             "does not follow");
  ViewSpan span{view.value("byteOffset", size_t{0}), view.at("byteLength").get<size_t>(),
                view.value("byteStride", size_t{0})};
  if (span.offset > d.bin.size() || span.length > d.bin.size() - span.offset)
    throw std::runtime_error("buffer view " + std::to_string(index) + " reaches past the " +
                             std::to_string(d.bin.size()) + " bytes of the binary chunk");
  return span;
}

// `count` elements of `element` bytes at `offset` of a view, `stride` apart, fit in it.
void CheckFits(const ViewSpan& view, size_t offset, size_t count, size_t stride, size_t element,
               Int64 accessor) {
  if (count > 0 && (offset > view.length || (count - 1) > (view.length - offset) / stride ||
                    (count - 1) * stride + element > view.length - offset))
    throw std::runtime_error("accessor " + std::to_string(accessor) +
                             " reaches past its buffer view");
}

void ApplySparse(const GlbDocument& d, const Json& sparse, Int64 accessor, size_t count, int width,
                 int type, bool normalized, std::vector<double>& out) {
  const size_t changed = sparse.at("count").get<size_t>();
  const Json& indices = sparse.at("indices");
  const Json& values = sparse.at("values");
  const int indexType = indices.at("componentType").get<int>();
  if (indexType != 5121 && indexType != 5123 && indexType != 5125)
    throw std::runtime_error("accessor " + std::to_string(accessor) +
                             "'s sparse indices are not "
                             "unsigned integers");
  const ViewSpan iv = View(d, Index(indices, "bufferView"));
  const ViewSpan vv = View(d, Index(values, "bufferView"));
  const size_t isize = ComponentSize(indexType), vsize = ComponentSize(type);
  const size_t ioffset = indices.value("byteOffset", size_t{0});
  const size_t voffset = values.value("byteOffset", size_t{0});
  CheckFits(iv, ioffset, changed, isize, isize, accessor);
  CheckFits(vv, voffset, changed, width * vsize, width * vsize, accessor);
  for (size_t s = 0; s < changed; ++s) {
    const auto at = static_cast<size_t>(
        Component(d.bin.data() + iv.offset + ioffset + s * isize, indexType, false));
    if (at >= count)
      throw std::runtime_error("accessor " + std::to_string(accessor) + "'s sparse index " +
                               std::to_string(at) + " is past its " + std::to_string(count) +
                               " elements");
    for (int k = 0; k < width; ++k)
      out[at * width + k] =
          Component(d.bin.data() + vv.offset + voffset + (s * width + k) * vsize, type, normalized);
  }
}

Mat4 Mul(const Mat4& a, const Mat4& b) {
  Mat4 c{};
  for (int col = 0; col < 4; ++col)
    for (int row = 0; row < 4; ++row)
      for (int k = 0; k < 4; ++k) c[col * 4 + row] += a[k * 4 + row] * b[col * 4 + k];
  return c;
}

Vector3 Apply(const Mat4& m, const Vector3& p) {
  return {m[0] * p.x + m[4] * p.y + m[8] * p.z + m[12],
          m[1] * p.x + m[5] * p.y + m[9] * p.z + m[13],
          m[2] * p.x + m[6] * p.y + m[10] * p.z + m[14]};
}

// The inverse transpose of m's upper 3 x 3 applied to n (cofactors, the determinant's scale
// dropped by the renormalisation).
Vector3 NormalThrough(const Mat4& m, const Vector3& n) {
  const auto a = [&](int row, int col) { return m[col * 4 + row]; };
  const auto cof = [&](int r, int c) {
    const int r1 = (r + 1) % 3, r2 = (r + 2) % 3, c1 = (c + 1) % 3, c2 = (c + 2) % 3;
    return a(r1, c1) * a(r2, c2) - a(r1, c2) * a(r2, c1);
  };
  const Vector3 out{cof(0, 0) * n.x + cof(0, 1) * n.y + cof(0, 2) * n.z,
                    cof(1, 0) * n.x + cof(1, 1) * n.y + cof(1, 2) * n.z,
                    cof(2, 0) * n.x + cof(2, 1) * n.y + cof(2, 2) * n.z};
  const double length = std::sqrt(out.x * out.x + out.y * out.y + out.z * out.z);
  return length > 0.0 ? Vector3{out.x / length, out.y / length, out.z / length} : n;
}

Mat4 FromTrs(const std::vector<double>& t, const std::vector<double>& r,
             const std::vector<double>& s) {
  if (t.size() != 3 || r.size() != 4 || s.size() != 3)
    throw std::runtime_error("a node's translation, rotation or scale has the wrong length");
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

Mat4 ToMat4(const std::vector<double>& v, size_t from = 0) {
  if (v.size() < from + 16) throw std::runtime_error("a matrix holds fewer than 16 numbers");
  Mat4 m{};
  for (int k = 0; k < 16; ++k) m[k] = v[from + k];
  return m;
}

std::vector<double> Slerp(std::vector<double> a, std::vector<double> b, double f) {
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
  std::vector<double> out(4);
  double length = 0;
  for (int k = 0; k < 4; ++k) {
    out[k] = wa * a[k] + wb * b[k];
    length += out[k] * out[k];
  }
  for (double& v : out) v /= std::sqrt(length);
  return out;
}

// A sampler's value at `t`: clamped at the ends; LINEAR (rotations spherically), STEP, or
// CUBICSPLINE (Hermite over the key's in-tangent, value and out-tangent).
std::vector<double> Sample(const std::vector<double>& times, const std::vector<double>& values,
                           const std::string& interpolation, double t, bool rotation) {
  const bool cubic = interpolation == "CUBICSPLINE";
  const size_t per = cubic ? 3 : 1;
  if (times.empty() || values.size() % (times.size() * per) != 0)
    throw std::runtime_error("an animation sampler's outputs do not match its " +
                             std::to_string(times.size()) + " keys");
  const size_t width = values.size() / (times.size() * per);
  const auto at = [&](size_t key, size_t part) {
    const auto from = values.begin() + static_cast<std::ptrdiff_t>((key * per + part) * width);
    return std::vector<double>(from, from + static_cast<std::ptrdiff_t>(width));
  };
  const size_t valuePart = cubic ? 1 : 0;
  if (!(t > times.front())) return at(0, valuePart);
  if (t >= times.back()) return at(times.size() - 1, valuePart);
  const size_t i =
      static_cast<size_t>(std::upper_bound(times.begin(), times.end(), t) - times.begin()) - 1;
  const double span = times[i + 1] - times[i];
  const double f = span > 0.0 ? (t - times[i]) / span : 0.0;
  std::vector<double> a = at(i, valuePart), b = at(i + 1, valuePart), out(width);
  if (interpolation == "STEP") return a;
  if (cubic) {
    const std::vector<double> outTangent = at(i, 2), inTangent = at(i + 1, 0);
    const double f2 = f * f, f3 = f2 * f;
    for (size_t k = 0; k < width; ++k)
      out[k] = (2 * f3 - 3 * f2 + 1) * a[k] + (f3 - 2 * f2 + f) * span * outTangent[k] +
               (-2 * f3 + 3 * f2) * b[k] + (f3 - f2) * span * inTangent[k];
  } else if (rotation && width == 4) {
    return Slerp(a, b, f);
  } else {
    for (size_t k = 0; k < width; ++k) out[k] = (1 - f) * a[k] + f * b[k];
  }
  if (rotation && width == 4) {
    double length = 0;
    for (double v : out) length += v * v;
    for (double& v : out) v /= std::sqrt(length);
  }
  return out;
}

struct Pose {
  std::vector<Mat4> global;                   // per node
  std::vector<std::vector<double> > weights;  // per node drawing a mesh: its morph weights
};

// Per node its parent (-1 at a root), each node reached once from the roots.
std::vector<Int64> Parents(const Json& nodes) {
  std::vector<Int64> parent(nodes.size(), -1);
  for (size_t n = 0; n < nodes.size(); ++n)
    for (const Json& child : nodes[n].value("children", Json::array())) {
      const Int64 c = child.get<Int64>();
      if (c < 0 || static_cast<size_t>(c) >= nodes.size() || parent[c] != -1 ||
          c == static_cast<Int64>(n))
        throw std::runtime_error("node " + std::to_string(n) + " names child " + std::to_string(c) +
                                 ", past the nodes or a child twice");
      parent[c] = static_cast<Int64>(n);
    }
  return parent;
}

void Animate(const GlbDocument& d, Int64 animation, double t, std::vector<std::vector<double> >& T,
             std::vector<std::vector<double> >& R, std::vector<std::vector<double> >& S,
             std::vector<std::vector<double> >& W) {
  const Json& a = Item(d.json, "animations", animation);
  for (const Json& channel : a.at("channels")) {
    const Json& target = channel.at("target");
    if (!target.contains("node")) continue;  // a channel of an extension's target
    const Int64 node = Index(target, "node");
    Item(d.json, "nodes", node);
    const std::string path = target.at("path").get<std::string>();
    const Int64 s = Index(channel, "sampler");
    const Json& samplers = a.at("samplers");
    if (s < 0 || static_cast<size_t>(s) >= samplers.size())
      throw std::runtime_error("animation " + std::to_string(animation) + " names sampler " +
                               std::to_string(s) + ", which it does not hold");
    const Json& sampler = samplers[s];
    std::vector<double>& value = path == "translation" ? T[node]
                                 : path == "rotation"  ? R[node]
                                 : path == "scale"     ? S[node]
                                                       : W[node];
    if (path != "translation" && path != "rotation" && path != "scale" && path != "weights")
      continue;
    value = Sample(ReadGlbAccessor(d, Index(sampler, "input")),
                   ReadGlbAccessor(d, Index(sampler, "output")),
                   sampler.value("interpolation", std::string("LINEAR")), t, path == "rotation");
  }
}

Pose PoseAt(const GlbDocument& d, Int64 animation, double t) {
  const Json nodes = d.json.value("nodes", Json::array());
  const size_t count = nodes.size();
  std::vector<std::vector<double> > T(count), R(count), S(count);
  Pose pose;
  pose.weights.resize(count);
  for (size_t n = 0; n < count; ++n) {
    T[n] = nodes[n].value("translation", std::vector<double>{0, 0, 0});
    R[n] = nodes[n].value("rotation", std::vector<double>{0, 0, 0, 1});
    S[n] = nodes[n].value("scale", std::vector<double>{1, 1, 1});
    if (nodes[n].contains("mesh")) {
      const Json& mesh = Item(d.json, "meshes", Index(nodes[n], "mesh"));
      pose.weights[n] = nodes[n].value("weights", mesh.value("weights", std::vector<double>{}));
    }
  }
  if (animation >= 0) Animate(d, animation, t, T, R, S, pose.weights);
  const std::vector<Int64> parent = Parents(nodes);
  // Roots first, then each node after its parent: a cycle leaves nodes unreached.
  std::vector<Int64> order;
  for (size_t n = 0; n < count; ++n)
    if (parent[n] < 0) order.push_back(static_cast<Int64>(n));
  for (size_t i = 0; i < order.size(); ++i)
    for (const Json& child : nodes[order[i]].value("children", Json::array()))
      order.push_back(child.get<Int64>());
  if (order.size() != count)
    throw std::runtime_error("its nodes' children form a loop, which no scene can hold");
  pose.global.resize(count);
  for (const Int64 n : order) {
    const Mat4 local = nodes[n].contains("matrix")
                           ? ToMat4(nodes[n]["matrix"].get<std::vector<double> >())
                           : FromTrs(T[n], R[n], S[n]);
    pose.global[n] = parent[n] >= 0 ? Mul(pose.global[parent[n]], local) : local;
  }
  return pose;
}

// The skin's joint matrices: each joint's global times its inverse bind.
std::vector<Mat4> JointMatrices(const GlbDocument& d, const Pose& pose, Int64 skinIndex) {
  const Json& skin = Item(d.json, "skins", skinIndex);
  const Json& joints = skin.at("joints");
  const std::vector<double> ibm = skin.contains("inverseBindMatrices")
                                      ? ReadGlbAccessor(d, Index(skin, "inverseBindMatrices"))
                                      : std::vector<double>{};
  std::vector<Mat4> out;
  for (size_t j = 0; j < joints.size(); ++j) {
    const Int64 node = joints[j].get<Int64>();
    Item(d.json, "nodes", node);
    const Mat4 inverseBind =
        ibm.empty() ? FromTrs({0, 0, 0}, {0, 0, 0, 1}, {1, 1, 1}) : ToMat4(ibm, 16 * j);
    out.push_back(Mul(pose.global[node], inverseBind));
  }
  return out;
}

// Per vertex the blended matrix of its influences (JOINTS_0/WEIGHTS_0 and _1).
std::vector<Mat4> Blended(const GlbDocument& d, const Json& attributes,
                          const std::vector<Mat4>& joints, size_t vertices) {
  std::vector<Mat4> out(vertices, Mat4{});
  for (const char* set : {"0", "1"}) {
    const std::string j = std::string("JOINTS_") + set, w = std::string("WEIGHTS_") + set;
    if (!attributes.contains(j)) continue;
    const std::vector<double> J = ReadGlbAccessor(d, Index(attributes, j.c_str()));
    const std::vector<double> W = ReadGlbAccessor(d, Index(attributes, w.c_str()));
    if (J.size() != 4 * vertices || W.size() != 4 * vertices)
      throw std::runtime_error(j + " or " + w + " does not hold 4 values per vertex");
    for (size_t v = 0; v < vertices; ++v)
      for (int s = 0; s < 4; ++s) {
        if (W[4 * v + s] == 0.0) continue;
        const auto joint = static_cast<size_t>(J[4 * v + s]);
        if (joint >= joints.size())
          throw std::runtime_error(j + " names joint " + std::to_string(joint) + " of a skin of " +
                                   std::to_string(joints.size()));
        for (int e = 0; e < 16; ++e) out[v][e] += W[4 * v + s] * joints[joint][e];
      }
  }
  return out;
}

std::vector<Vector3> Vectors(const std::vector<double>& values) {
  std::vector<Vector3> out(values.size() / 3);
  for (size_t v = 0; v < out.size(); ++v)
    out[v] = {values[3 * v], values[3 * v + 1], values[3 * v + 2]};
  return out;
}

// Adds each target's weighted `attribute` to `values` (the target's own count checked).
void AddTargets(const GlbDocument& d, const Json& primitive, const std::vector<double>& weights,
                const char* attribute, std::vector<double>& values) {
  const Json targets = primitive.value("targets", Json::array());
  for (size_t k = 0; k < targets.size() && k < weights.size(); ++k) {
    if (weights[k] == 0.0 || !targets[k].contains(attribute)) continue;
    const std::vector<double> delta = ReadGlbAccessor(d, Index(targets[k], attribute));
    if (delta.size() != values.size())
      throw std::runtime_error("morph target " + std::to_string(k) + "'s " + attribute +
                               " holds a count other than its mesh's");
    for (size_t i = 0; i < values.size(); ++i) values[i] += weights[k] * delta[i];
  }
}

void PlayPrimitive(const GlbDocument& d, const Pose& pose, const Json& node, const Json& primitive,
                   PlayedGlbMesh& played) {
  const Json& attributes = primitive.at("attributes");
  std::vector<double> p = ReadGlbAccessor(d, Index(attributes, "POSITION"));
  std::vector<double> n = attributes.contains("NORMAL")
                              ? ReadGlbAccessor(d, Index(attributes, "NORMAL"))
                              : std::vector<double>{};
  const size_t vertices = p.size() / 3;
  if (!n.empty() && n.size() != p.size())
    throw std::runtime_error("NORMAL holds a count other than POSITION's");
  const std::vector<double>& weights = pose.weights[played.node];
  AddTargets(d, primitive, weights, "POSITION", p);
  if (!n.empty()) AddTargets(d, primitive, weights, "NORMAL", n);
  std::vector<Mat4> blended;
  if (played.skinned) {
    blended = Blended(d, attributes, JointMatrices(d, pose, Index(node, "skin")), vertices);
  } else {
    blended.assign(vertices, pose.global[played.node]);
  }
  const std::vector<Vector3> positions = Vectors(p), normals = Vectors(n);
  played.positions.resize(vertices);
  played.normals.resize(normals.size());
  for (size_t v = 0; v < vertices; ++v) played.positions[v] = Apply(blended[v], positions[v]);
  for (size_t v = 0; v < normals.size(); ++v)
    played.normals[v] = NormalThrough(blended[v], normals[v]);
}

// The primitive groups of node `n`'s mesh: the first primitive of each POSITION accessor.
std::vector<size_t> FirstPrimitives(const Json& primitives) {
  std::vector<size_t> first;
  std::vector<Int64> seen;
  for (size_t p = 0; p < primitives.size(); ++p) {
    const Int64 position = Index(primitives[p].at("attributes"), "POSITION");
    if (std::find(seen.begin(), seen.end(), position) != seen.end()) continue;
    seen.push_back(position);
    first.push_back(p);
  }
  return first;
}

template <typename Body>
auto Guarded(Body body) {
  try {
    return body();
  } catch (const Json::exception& e) {
    // nlohmann's messages name the key or type; the prefix says where it came from.
    throw std::runtime_error(std::string("its glTF JSON is not as the format lays it out (") +
                             e.what() + ")");
  }
}

}  // namespace

std::shared_ptr<const GlbDocument> ParseGlbDocument(std::string bytes) {
  if (bytes.size() < 20 || bytes.compare(0, 4, "glTF") != 0)
    throw std::runtime_error("not a binary glTF file (it does not start with \"glTF\")");
  const size_t jsonLength = Le32(bytes, 12);
  if (Le32(bytes, 16) != 0x4E4F534Au || jsonLength > bytes.size() - 20)
    throw std::runtime_error("its first chunk is not JSON within the file");
  auto document = std::make_shared<GlbDocument>();
  try {
    document->json = Json::parse(bytes.begin() + 20,
                                 bytes.begin() + 20 + static_cast<std::ptrdiff_t>(jsonLength));
  } catch (const Json::exception& e) {
    throw std::runtime_error(std::string("its JSON chunk cannot be read (") + e.what() + ")");
  }
  if (!document->json.is_object()) throw std::runtime_error("its JSON chunk is not an object");
  const size_t binAt = 20 + jsonLength;
  if (bytes.size() >= binAt + 8 && Le32(bytes, binAt + 4) == 0x004E4942u) {
    const size_t binLength = Le32(bytes, binAt);
    if (binLength > bytes.size() - binAt - 8)
      throw std::runtime_error("its binary chunk reaches past the file's end");
    document->bin = bytes.substr(binAt + 8, binLength);
  }
  for (const Json& name : document->json.value("extensionsRequired", Json::array()))
    if (name != "KHR_mesh_quantization")
      throw std::runtime_error("it requires the extension " + name.dump() +
                               ", which this reader does not play");
  return document;
}

std::vector<double> ReadGlbAccessor(const GlbDocument& d, Int64 index) {
  return Guarded([&] {
    const Json& a = Item(d.json, "accessors", index);
    const int width = Width(a.at("type").get<std::string>());
    const int type = a.at("componentType").get<int>();
    const size_t size = ComponentSize(type);
    const bool normalized = a.value("normalized", false);
    const size_t count = a.at("count").get<size_t>();
    if (count > static_cast<size_t>(kMaxAccessorValues / width))
      throw std::runtime_error("accessor " + std::to_string(index) + " holds " +
                               std::to_string(count) + " elements, more than this reader takes");
    std::vector<double> out(count * width, 0.0);
    if (a.contains("bufferView")) {
      const ViewSpan view = View(d, Index(a, "bufferView"));
      const size_t stride = view.stride != 0 ? view.stride : width * size;
      const size_t offset = a.value("byteOffset", size_t{0});
      CheckFits(view, offset, count, stride, width * size, index);
      const char* base = d.bin.data() + view.offset + offset;
      for (size_t i = 0; i < count; ++i)
        for (int k = 0; k < width; ++k)
          out[i * width + k] = Component(base + i * stride + k * size, type, normalized);
    }
    if (a.contains("sparse"))
      ApplySparse(d, a["sparse"], index, count, width, type, normalized, out);
    return out;
  });
}

std::vector<PlayedGlbMesh> PlayGlb(const GlbDocument& d, Int64 animation, Float seconds) {
  return Guarded([&] {
    const Pose pose = PoseAt(d, animation, seconds);
    const Json nodes = d.json.value("nodes", Json::array());
    std::vector<PlayedGlbMesh> out;
    for (size_t n = 0; n < nodes.size(); ++n) {
      if (!nodes[n].contains("mesh")) continue;
      const Json& mesh = Item(d.json, "meshes", Index(nodes[n], "mesh"));
      const Json& primitives = mesh.at("primitives");
      for (const size_t p : FirstPrimitives(primitives)) {
        PlayedGlbMesh played;
        played.node = static_cast<Int64>(n);
        played.primitive = static_cast<Int64>(p);
        played.name = nodes[n].value("name", mesh.value("name", std::string()));
        played.skinned = nodes[n].contains("skin");
        PlayPrimitive(d, pose, nodes[n], primitives[p], played);
        out.push_back(std::move(played));
      }
    }
    return out;
  });
}

std::vector<CPolygon> GlbMeshFaces(const GlbDocument& d, const PlayedGlbMesh& played) {
  return Guarded([&] {
    const Json& node = Item(d.json, "nodes", played.node);
    const Json& primitives = Item(d.json, "meshes", Index(node, "mesh")).at("primitives");
    const Int64 position = Index(primitives.at(played.primitive).at("attributes"), "POSITION");
    const auto vertices = static_cast<Int64>(played.positions.size());
    std::vector<CPolygon> faces;
    for (const Json& primitive : primitives) {
      if (Index(primitive.at("attributes"), "POSITION") != position) continue;
      if (primitive.value("mode", 4) != 4) continue;  // lines, points, strips and fans left out
      std::vector<double> corners;
      if (primitive.contains("indices")) {
        corners = ReadGlbAccessor(d, Index(primitive, "indices"));
      } else {
        for (Int64 v = 0; v < vertices; ++v) corners.push_back(static_cast<double>(v));
      }
      for (size_t c = 0; c + 2 < corners.size(); c += 3) {
        const auto corner = [&](size_t i) {
          if (!(corners[c + i] >= 0.0) || corners[c + i] >= static_cast<double>(vertices))
            throw std::runtime_error("a face names vertex " + std::to_string(corners[c + i]) +
                                     " of a mesh of " + std::to_string(vertices));
          return static_cast<Int32>(corners[c + i]);
        };
        faces.push_back({corner(0), corner(1), corner(2), corner(2)});
      }
    }
    return faces;
  });
}

std::vector<GlbKey> GlbNodeKeys(const GlbDocument& d, Int64 node) {
  return Guarded([&] {
    const Json animations = d.json.value("animations", Json::array());
    const auto keys = [&](bool weightsOnly) {
      std::vector<GlbKey> out;
      for (size_t a = 0; a < animations.size(); ++a) {
        std::vector<double> times;
        for (const Json& channel : animations[a].at("channels")) {
          const Json& target = channel.at("target");
          const bool weights = target.value("path", std::string()) == "weights" &&
                               target.value("node", Int64{-1}) == node;
          if (weightsOnly && !weights) continue;
          const Json& sampler = animations[a].at("samplers").at(Index(channel, "sampler"));
          const std::vector<double> input = ReadGlbAccessor(d, Index(sampler, "input"));
          times.insert(times.end(), input.begin(), input.end());
          if (weightsOnly) break;
        }
        std::sort(times.begin(), times.end());
        times.erase(std::unique(times.begin(), times.end()), times.end());
        for (const double t : times)
          if (std::isfinite(t)) out.push_back({static_cast<Int64>(a), t});
      }
      return out;
    };
    std::vector<GlbKey> weighted = keys(true);
    return weighted.empty() ? keys(false) : weighted;
  });
}

#endif

}  // namespace headless
