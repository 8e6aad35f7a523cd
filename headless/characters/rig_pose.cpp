#include "headless/characters/rig_pose.h"

#include <cmath>

#include "headless/deformers/skinning.h"
#include "headless/geometry/vector.h"

namespace headless {

std::vector<Matrix> RigRestGlobals(const Rig& rig) {
  std::vector<Matrix> globals(rig.nodes.size());
  // A parent's index is below its child's (the rig's own rule), so one pass in order suffices.
  for (size_t n = 0; n < rig.nodes.size(); ++n) {
    const RigNode& node = rig.nodes[n];
    globals[n] = node.parent < 0 ? node.local
                                 : Multiply(globals[static_cast<size_t>(node.parent)], node.local);
  }
  return globals;
}

Int32 RigNodeOfMesh(const Rig& rig, Int32 mesh) {
  for (size_t n = 0; n < rig.nodes.size(); ++n)
    if (rig.nodes[n].mesh == mesh && mesh >= 0) return static_cast<Int32>(n);
  return -1;
}

Int32 RigMeshNamed(const Rig& rig, const std::string& name) {
  for (size_t m = 0; m < rig.meshObjects.size(); ++m)
    if (rig.meshObjects[m] == name) return static_cast<Int32>(m);
  return -1;
}

bool RigMeshIsRigid(const Rig& rig, Int32 mesh) {
  if (mesh < 0 || static_cast<size_t>(mesh) >= rig.meshObjects.size()) return false;
  for (const RigSkin& skin : rig.skins)
    if (skin.mesh == mesh) return false;
  return true;
}

std::vector<Matrix> WorldPlacements(const Document& doc, const std::vector<Node*>& objects) {
  std::vector<Matrix> placements(objects.size());
  if (doc.rig == nullptr) return placements;
  const std::vector<Matrix> globals = RigRestGlobals(*doc.rig);
  for (size_t i = 0; i < objects.size(); ++i) {
    const Int32 node = RigNodeOfMesh(*doc.rig, RigMeshNamed(*doc.rig, objects[i]->name));
    if (node >= 0) placements[i] = globals[static_cast<size_t>(node)];
  }
  return placements;
}

std::vector<Vector3> PlacedPoints(const Matrix& placement, std::span<const Vector3> points) {
  std::vector<Vector3> out(points.size());
  for (size_t p = 0; p < points.size(); ++p) out[p] = TransformPoint(placement, points[p]);
  return out;
}

std::vector<Vector3> PlacedNormals(const Matrix& placement, std::span<const Vector3> normals) {
  // The inverse transpose of the axes is their cofactor matrix over the determinant; the
  // determinant's size drops out with the length, only its sign stays.
  const Vector3 &a = placement.v1, &b = placement.v2, &c = placement.v3;
  const Vector3 ca = Cross(b, c), cb = Cross(c, a), cc = Cross(a, b);
  const Float sign = Dot(a, ca) < 0.0 ? -1.0 : 1.0;
  std::vector<Vector3> out(normals.size());
  for (size_t i = 0; i < normals.size(); ++i) {
    const Vector3& n = normals[i];
    const Vector3 turned = Scale(Add(Add(Scale(ca, n.x), Scale(cb, n.y)), Scale(cc, n.z)), sign);
    const Float length = Length(turned);
    out[i] = length > 0.0 && std::isfinite(length) ? Scale(turned, 1.0 / length) : Vector3{};
  }
  return out;
}

}  // namespace headless
