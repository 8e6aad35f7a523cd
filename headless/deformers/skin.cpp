#include "headless/deformers/skin.h"

#include <cmath>
#include <stdexcept>

#include "headless/deformers/skinning.h"

namespace headless {
namespace {

constexpr Float kDegreesToRadians = 3.14159265358979323846 / 180.0;

std::string Label(const Node* node) {
  return "joint '" + node->name + "'";
}

void CheckJoint(const Node* node, const char* caller) {
  if (!IsJoint(node)) throw std::invalid_argument(std::string(caller) + ": the node is no joint");
}

bool Finite(const Vector3& v) {
  return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z);
}

bool Finite(const Matrix& m) {
  return Finite(m.off) && Finite(m.v1) && Finite(m.v2) && Finite(m.v3);
}

void Flatten(const Matrix& m, Float out[12]) {
  const Vector3* parts[4] = {&m.off, &m.v1, &m.v2, &m.v3};
  for (int i = 0; i < 4; ++i) {
    out[3 * i] = parts[i]->x;
    out[3 * i + 1] = parts[i]->y;
    out[3 * i + 2] = parts[i]->z;
  }
}

Matrix Unflatten(const Float in[12]) {
  Matrix m;
  Vector3* parts[4] = {&m.off, &m.v1, &m.v2, &m.v3};
  for (int i = 0; i < 4; ++i) *parts[i] = {in[3 * i], in[3 * i + 1], in[3 * i + 2]};
  return m;
}

void StoreMatrix(Container& params, Int32 first, const Matrix& m) {
  Float numbers[12];
  Flatten(m, numbers);
  for (Int32 i = 0; i < 12; ++i) params.SetFloat(first + i, numbers[i]);
}

Float ReadNumber(const Node* joint, Int32 id, const char* what) {
  const std::optional<Float> v = joint->params.GetFloat(id);
  if (!v || !std::isfinite(*v))
    throw std::invalid_argument(Label(joint) + ": " + what + " (parameter " + std::to_string(id) +
                                ") is missing or not finite");
  return *v;
}

Matrix ReadMatrix(const Node* joint, Int32 first, const char* what) {
  Float numbers[12];
  for (Int32 i = 0; i < 12; ++i) numbers[i] = ReadNumber(joint, first + i, what);
  return Unflatten(numbers);
}

Vector3 ReadVector(const Node* joint, Int32 first, const char* what) {
  return {ReadNumber(joint, first, what), ReadNumber(joint, first + 1, what),
          ReadNumber(joint, first + 2, what)};
}

// Erases every key parameter, whatever count was stored.
void EraseKeys(Node* joint) {
  std::vector<Int32> ids;
  for (const auto& [id, value] : joint->params.Entries())
    if ((id >= kJointKeyKind && id <= kJointKeyCount) || id >= kJointKeys) ids.push_back(id);
  for (Int32 id : ids) joint->params.Erase(id);
}

void CheckFrames(const std::vector<Float>& frames, const char* caller) {
  if (frames.size() > static_cast<size_t>(kMaxJointKeys))
    throw std::invalid_argument(std::string(caller) + ": more than " +
                                std::to_string(kMaxJointKeys) + " keys");
  for (size_t i = 0; i < frames.size(); ++i) {
    if (!std::isfinite(frames[i]))
      throw std::invalid_argument(std::string(caller) + ": key " + std::to_string(i) +
                                  " has a frame that is not finite");
    if (i > 0 && !(frames[i] > frames[i - 1]))
      throw std::invalid_argument(std::string(caller) + ": key " + std::to_string(i) +
                                  " is not after key " + std::to_string(i - 1));
  }
}

// The key interval holding `frame` and the fraction of the way through it.
void Locate(const std::vector<Float>& frames, Float frame, size_t& index, Float& t) {
  if (frame <= frames.front()) {
    index = 0;
    t = 0.0;
    return;
  }
  if (frame >= frames.back()) {
    index = frames.size() - 1;
    t = 0.0;
    return;
  }
  size_t i = 0;
  while (frames[i + 1] <= frame) ++i;
  index = i;
  t = (frame - frames[i]) / (frames[i + 1] - frames[i]);
}

std::vector<Node*> ListedNodes(const Node* skin, Int32 id) {
  std::vector<Node*> nodes;
  if (const InExcludeValue* list = skin->params.GetInExclude(id))
    for (UInt64 serial : list->targets) nodes.push_back(FindLiveNode(serial));
  return nodes;
}

}  // namespace

bool IsJoint(const Node* node) {
  return node != nullptr && !node->isTag && node->type == kJointType;
}

Node* AddJoint(Document& doc, const std::string& name, const Matrix& rest, Node* parent) {
  if (!Finite(rest)) throw std::invalid_argument("AddJoint: the rest transform is not finite");
  Inverse(rest);  // throws for a singular transform
  Node* joint = doc.AddObject(kJointType, name, parent);
  if (joint == nullptr) return nullptr;
  StoreMatrix(joint->params, kJointRest, rest);
  StoreMatrix(joint->params, kJointCurrent, rest);
  return joint;
}

Matrix JointRest(const Node* joint) {
  CheckJoint(joint, "JointRest");
  return ReadMatrix(joint, kJointRest, "the rest transform");
}

Matrix JointCurrent(const Node* joint) {
  CheckJoint(joint, "JointCurrent");
  return ReadMatrix(joint, kJointCurrent, "the current transform");
}

void SetJointCurrent(Node* joint, const Matrix& current) {
  CheckJoint(joint, "SetJointCurrent");
  if (!Finite(current))
    throw std::invalid_argument("SetJointCurrent: the transform of " + Label(joint) +
                                " is not finite");
  StoreMatrix(joint->params, kJointCurrent, current);
}

void SetRotationKeys(Node* joint, const Vector3& pivot, const Vector3& axis,
                     const std::vector<RotationKey>& keys) {
  CheckJoint(joint, "SetRotationKeys");
  std::vector<Float> frames;
  for (const RotationKey& key : keys) {
    frames.push_back(key.frame);
    if (!std::isfinite(key.degrees))
      throw std::invalid_argument("SetRotationKeys: the angle at frame " +
                                  std::to_string(key.frame) + " is not finite");
  }
  CheckFrames(frames, "SetRotationKeys");
  if (!Finite(pivot) || !Finite(axis))
    throw std::invalid_argument("SetRotationKeys: the pivot or the axis is not finite");
  RotationAbout(pivot, axis, 0.0);  // throws for an axis without direction
  EraseKeys(joint);
  Container& p = joint->params;
  p.SetInt32(kJointKeyKind, static_cast<Int32>(JointKeyKind::kRotation));
  for (Int32 i = 0; i < 3; ++i) {
    p.SetFloat(kJointPivot + i, i == 0 ? pivot.x : i == 1 ? pivot.y : pivot.z);
    p.SetFloat(kJointAxis + i, i == 0 ? axis.x : i == 1 ? axis.y : axis.z);
  }
  p.SetInt32(kJointKeyCount, static_cast<Int32>(keys.size()));
  for (size_t i = 0; i < keys.size(); ++i) {
    const Int32 first = kJointKeys + static_cast<Int32>(i) * kJointKeyStride;
    p.SetFloat(first, keys[i].frame);
    p.SetFloat(first + 1, keys[i].degrees);
  }
}

void SetTransformKeys(Node* joint, const std::vector<TransformKey>& keys) {
  CheckJoint(joint, "SetTransformKeys");
  std::vector<Float> frames;
  for (const TransformKey& key : keys) {
    frames.push_back(key.frame);
    if (!Finite(key.transform))
      throw std::invalid_argument("SetTransformKeys: the transform at frame " +
                                  std::to_string(key.frame) + " is not finite");
  }
  CheckFrames(frames, "SetTransformKeys");
  EraseKeys(joint);
  Container& p = joint->params;
  p.SetInt32(kJointKeyKind, static_cast<Int32>(JointKeyKind::kTransform));
  p.SetInt32(kJointKeyCount, static_cast<Int32>(keys.size()));
  for (size_t i = 0; i < keys.size(); ++i) {
    const Int32 first = kJointKeys + static_cast<Int32>(i) * kJointKeyStride;
    p.SetFloat(first, keys[i].frame);
    StoreMatrix(p, first + 1, keys[i].transform);
  }
}

void ClearJointKeys(Node* joint) {
  CheckJoint(joint, "ClearJointKeys");
  EraseKeys(joint);
}

JointKeys ReadJointKeys(const Node* joint) {
  CheckJoint(joint, "ReadJointKeys");
  JointKeys keys;
  const Int32 kind = joint->params.GetInt32(kJointKeyKind).value_or(0);
  if (kind == 0) return keys;
  if (kind != 1 && kind != 2)
    throw std::invalid_argument(Label(joint) + ": unknown key kind " + std::to_string(kind));
  keys.kind = static_cast<JointKeyKind>(kind);
  const std::optional<Int32> count = joint->params.GetInt32(kJointKeyCount);
  if (!count || *count < 1 || *count > kMaxJointKeys)
    throw std::invalid_argument(Label(joint) + ": the key count is missing or out of range");
  std::vector<Float> frames;
  for (Int32 i = 0; i < *count; ++i) {
    const Int32 first = kJointKeys + i * kJointKeyStride;
    const Float frame = ReadNumber(joint, first, "a key frame");
    frames.push_back(frame);
    if (keys.kind == JointKeyKind::kRotation) {
      keys.rotations.push_back({frame, ReadNumber(joint, first + 1, "a key angle")});
    } else {
      keys.transforms.push_back({frame, ReadMatrix(joint, first + 1, "a key transform")});
    }
  }
  try {
    CheckFrames(frames, "keys");
  } catch (const std::invalid_argument& e) {
    throw std::invalid_argument(Label(joint) + ": " + e.what());
  }
  if (keys.kind == JointKeyKind::kRotation) {
    keys.pivot = ReadVector(joint, kJointPivot, "the rotation pivot");
    keys.axis = ReadVector(joint, kJointAxis, "the rotation axis");
    if (!(std::fabs(keys.axis.x) + std::fabs(keys.axis.y) + std::fabs(keys.axis.z) > 0.0))
      throw std::invalid_argument(Label(joint) + ": the rotation axis has no direction");
  }
  return keys;
}

Matrix KeyedTransform(const JointKeys& keys, const Matrix& rest, Float frame) {
  std::vector<Float> frames;
  for (const RotationKey& k : keys.rotations) frames.push_back(k.frame);
  for (const TransformKey& k : keys.transforms) frames.push_back(k.frame);
  if (keys.kind == JointKeyKind::kNone || frames.empty())
    throw std::invalid_argument("KeyedTransform: the joint has no keys");
  size_t i = 0;
  Float t = 0.0;
  Locate(frames, frame, i, t);
  if (keys.kind == JointKeyKind::kRotation) {
    Float degrees = keys.rotations[i].degrees;
    if (t > 0.0) degrees += t * (keys.rotations[i + 1].degrees - degrees);
    return Multiply(RotationAbout(keys.pivot, keys.axis, degrees * kDegreesToRadians), rest);
  }
  if (t == 0.0) return keys.transforms[i].transform;
  Float a[12], b[12], c[12];
  Flatten(keys.transforms[i].transform, a);
  Flatten(keys.transforms[i + 1].transform, b);
  for (int k = 0; k < 12; ++k) c[k] = a[k] + t * (b[k] - a[k]);
  return Unflatten(c);
}

void LinkSkin(Node* skin, const std::vector<Node*>& joints, const std::vector<Node*>& maps) {
  if (skin == nullptr || skin->isTag || skin->type != Oskin)
    throw std::invalid_argument("LinkSkin: the node is no skin deformer");
  if (joints.size() != maps.size())
    throw std::invalid_argument("LinkSkin: " + std::to_string(joints.size()) + " joints but " +
                                std::to_string(maps.size()) + " weight maps");
  std::vector<UInt64> jointSerials, mapSerials;
  for (size_t i = 0; i < joints.size(); ++i) {
    if (!IsJoint(joints[i]))
      throw std::invalid_argument("LinkSkin: entry " + std::to_string(i) + " is no joint");
    if (maps[i] == nullptr || !maps[i]->isTag || maps[i]->type != Tvertexmap)
      throw std::invalid_argument("LinkSkin: weight map " + std::to_string(i) +
                                  " is no vertex-map tag");
    jointSerials.push_back(joints[i]->serial);
    mapSerials.push_back(maps[i]->serial);
  }
  skin->params.SetInExclude(kSkinJoints, std::move(jointSerials));
  skin->params.SetInExclude(kSkinWeightMaps, std::move(mapSerials));
}

void SkinDeform(Node* skin, Node* object, std::vector<Vector3>& points) {
  const std::vector<Node*> joints = ListedNodes(skin, kSkinJoints);
  const std::vector<Node*> maps = ListedNodes(skin, kSkinWeightMaps);
  if (joints.empty() && maps.empty()) return;  // nothing bound yet
  if (joints.size() != maps.size())
    throw std::invalid_argument("the skin lists " + std::to_string(joints.size()) + " joints but " +
                                std::to_string(maps.size()) + " weight maps");
  std::vector<JointPose> poses;
  std::vector<const Float32*> weights;
  for (size_t i = 0; i < joints.size(); ++i) {
    const std::string which = std::to_string(i);
    if (!IsJoint(joints[i]))
      throw std::invalid_argument("joint " + which + " of the skin is gone or is no joint");
    const Node* map = maps[i];
    if (map == nullptr || !map->isTag || map->type != Tvertexmap || map->up != object)
      throw std::invalid_argument("weight map " + which +
                                  " of the skin is gone or is no vertex map of the object");
    if (map->weights.size() != points.size())
      throw std::invalid_argument("weight map " + which + " '" + map->name + "' holds " +
                                  std::to_string(map->weights.size()) + " weights for " +
                                  std::to_string(points.size()) + " points");
    poses.push_back({JointRest(joints[i]), JointCurrent(joints[i])});
    weights.push_back(map->weights.data());
  }
  std::vector<Vector3> out(points.size());
  SkinPoints(points.data(), static_cast<Int64>(points.size()), poses, weights, out.data());
  points.swap(out);
}

void InstallSkinDeformer() {
  RegisterNativeDeformer(Oskin, SkinDeform, NativeLifetime::kProcess);
  RegisterFrameAnimation([](Document& doc, Float frame) { ApplyKeysAtFrame(doc, frame); },
                         NativeLifetime::kProcess);
}

Int64 ApplyKeysAtFrame(Document& doc, Float frame) {
  if (!std::isfinite(frame)) throw std::invalid_argument("ApplyKeysAtFrame: frame not finite");
  // Every transform is worked out first, so that a corrupt joint changes nothing.
  std::vector<std::pair<Node*, Matrix>> updates;
  for (Node* node : doc.Objects()) {
    if (!IsJoint(node)) continue;
    const JointKeys keys = ReadJointKeys(node);
    if (keys.kind == JointKeyKind::kNone) continue;
    updates.emplace_back(node, KeyedTransform(keys, JointRest(node), frame));
  }
  for (const auto& [joint, transform] : updates) SetJointCurrent(joint, transform);
  return static_cast<Int64>(updates.size());
}

}  // namespace headless
