// The headless host's skin deformer and its joints.
//
// Joints are host objects of type kJointType. Each holds, as ordinary parameters (so scene files
// save them like any other), its rest transform (the pose the mesh was bound in) and its current
// transform, both in world space, and optionally keys: transforms per frame.
//
// The skin deformer (type Oskin) deforms the polygon object it sits under by linear blend
// skinning (headless/skinning.h): its parameter kSkinJoints lists the joints and kSkinWeightMaps
// the vertex-map tags of that object holding each joint's weights, in the same order. A skin that
// lists no joints and no maps passes the points through. It reads the points the deform pass
// hands it (the object's stored points when it is the first deformer), so the rest shape is the
// object's own mesh. The skin is one of the host's native deformers (native_deformers.h).
//
// Keys. A joint is keyed in one of two ways:
// - rotation keys: (frame, angle in degrees); the current transform is the rotation by that angle
//   about the line through `pivot` along `axis`, applied after the rest transform;
// - transform keys: (frame, transform); the current transform is that transform.
// Between two keys the angle, or each of the twelve numbers of the transform, is interpolated
// linearly in the frame; before the first key the first key holds, after the last the last.
// Keys are stored in ascending frame order, frames distinct and finite.
#pragma once

#include <string>
#include <vector>

#include "headless/scene/native_deformers.h"
#include "headless/scene/scene.h"

namespace headless {

inline constexpr Int32 kJointType = 1099020;

// Skin parameters: include/exclude lists.
inline constexpr Int32 kSkinJoints = 2000;
inline constexpr Int32 kSkinWeightMaps = 2001;

// Joint parameters. A transform takes twelve float64 ids from its first: off, v1, v2, v3.
inline constexpr Int32 kJointRest = 2100;
inline constexpr Int32 kJointCurrent = 2120;
inline constexpr Int32 kJointKeyKind = 2140;   // int32: JointKeyKind
inline constexpr Int32 kJointPivot = 2141;     // three float64
inline constexpr Int32 kJointAxis = 2144;      // three float64
inline constexpr Int32 kJointKeyCount = 2150;  // int32
// Key i takes kJointKeyStride ids from kJointKeys + i * kJointKeyStride: the frame, then the
// angle (rotation keys) or the twelve numbers of the transform.
inline constexpr Int32 kJointKeys = 3000;
inline constexpr Int32 kJointKeyStride = 16;
inline constexpr Int32 kMaxJointKeys = 100000;

enum class JointKeyKind : Int32 { kNone = 0, kRotation = 1, kTransform = 2 };

struct RotationKey {
  Float frame = 0.0;
  Float degrees = 0.0;
};

struct TransformKey {
  Float frame = 0.0;
  Matrix transform;
};

struct JointKeys {
  JointKeyKind kind = JointKeyKind::kNone;
  Vector3 pivot;
  Vector3 axis{0.0, 0.0, 1.0};
  std::vector<RotationKey> rotations;
  std::vector<TransformKey> transforms;
};

// Appends a joint object with rest and current transform `rest`. Throws std::invalid_argument
// when `rest` is singular.
Node* AddJoint(Document& doc, const std::string& name, const Matrix& rest, Node* parent = nullptr);
bool IsJoint(const Node* node);

// Transforms of a joint. The readers throw std::invalid_argument naming the joint when the node
// is not a joint or a number is missing or not finite.
Matrix JointRest(const Node* joint);
Matrix JointCurrent(const Node* joint);
void SetJointCurrent(Node* joint, const Matrix& current);

// Replaces the joint's keys. Throws std::invalid_argument, changing nothing, when the node is not
// a joint, a frame or value is not finite, frames are not strictly ascending, the axis has no
// direction, or there are more than kMaxJointKeys keys.
void SetRotationKeys(Node* joint, const Vector3& pivot, const Vector3& axis,
                     const std::vector<RotationKey>& keys);
void SetTransformKeys(Node* joint, const std::vector<TransformKey>& keys);
void ClearJointKeys(Node* joint);
// The joint's keys as stored. Throws std::invalid_argument naming the joint and the fault when
// they are incomplete or out of order (a scene file edited by hand).
JointKeys ReadJointKeys(const Node* joint);
// The transform the keys give at `frame`. Throws std::invalid_argument when there are no keys.
Matrix KeyedTransform(const JointKeys& keys, const Matrix& rest, Float frame);

// Links the skin deformer to its joints and their weight maps, in order. Throws
// std::invalid_argument when `skin` is not a skin deformer, the counts differ, a joint is not a
// joint or a map is not a vertex-map tag.
void LinkSkin(Node* skin, const std::vector<Node*>& joints, const std::vector<Node*>& maps);

// The skin's native routine (native_deformers.h): throws std::invalid_argument naming the fault
// (a joint or weight map gone, counts that differ), leaving `points` as they were.
void SkinDeform(Node* skin, Node* object, std::vector<Vector3>& points);
// Registers SkinDeform for type Oskin, and ApplyKeysAtFrame as a frame animation
// (native_deformers.h).
void InstallSkinDeformer();

// Sets the current transform of every keyed joint of `doc` to its keys' value at `frame`;
// answers how many joints were set. Joints without keys keep their current transform. Throws
// std::invalid_argument for a frame that is not finite or corrupt keys (nothing is changed then).
// EvaluateDocumentAtFrame (headless/scene/evaluate.h) does this before it evaluates.
Int64 ApplyKeysAtFrame(Document& doc, Float frame);

}  // namespace headless
