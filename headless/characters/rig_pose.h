// Where a character's meshes lie in the world, worked out from its rig (headless/scene/rig.h):
// each node's global transform at rest, the node that draws a mesh, and the transform that takes
// an imported object's points (its mesh's own space) into the world.
//
// Why one transform per mesh, whatever the frame: the import keys every joint, and a rigid mesh's
// joint, as inverse(M_mesh) * G(t), M_mesh the mesh node's global transform at rest, so an
// object's points at any frame are M_mesh^-1 times the file's own world result (the skinning's
// for a skinned mesh, G(t) * v for a rigid one). M_mesh times them gives that world result back.
#pragma once

#include <span>
#include <string>
#include <vector>

#include "headless/scene/scene.h"

namespace headless {

// Each node's global transform with every node at its own local transform (parents come first).
std::vector<Matrix> RigRestGlobals(const Rig& rig);

// The node drawing character mesh `mesh`; -1 when no node does.
Int32 RigNodeOfMesh(const Rig& rig, Int32 mesh);

// The character mesh whose object is called `name`; -1 when it is none of the rig's.
Int32 RigMeshNamed(const Rig& rig, const std::string& name);

// Whether character mesh `mesh` has no skin: it moves with its node, rigidly.
bool RigMeshIsRigid(const Rig& rig, Int32 mesh);

// Per object: the transform into the world (above), the identity for an object that is none of
// the rig's meshes or drawn by no node, and for every object of a document without a rig.
std::vector<Matrix> WorldPlacements(const Document& doc, const std::vector<Node*>& objects);

// Points through `placement`.
std::vector<Vector3> PlacedPoints(const Matrix& placement, std::span<const Vector3> points);
// Normals through `placement`'s inverse transpose, so that they stay normal to a surface it
// stretches, and of length 1 again (a zero normal stays zero).
std::vector<Vector3> PlacedNormals(const Matrix& placement, std::span<const Vector3> normals);

}  // namespace headless
