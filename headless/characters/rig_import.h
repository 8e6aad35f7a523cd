// The rig of a character file (headless/scene/rig.h) made from the scene Assimp reads: its node
// tree, its materials, per skinned mesh its skin, per imported animation a clip. Internal to the
// character import (character.cpp), which decides what is imported and numbers the meshes.
#pragma once

#include <string>
#include <unordered_map>
#include <vector>

#include <assimp/matrix4x4.h>

#include "headless/scene/rig.h"

struct aiScene;
struct aiNode;
struct aiMesh;
struct aiAnimation;

namespace headless {

// Assimp's row-major matrix as the host's (axes and offset).
Matrix MatrixFromAssimp(const aiMatrix4x4& m);

struct RigBuild {
  Rig rig;
  std::unordered_map<const aiNode*, Int32> nodeOf;  // each file node's index among rig.nodes
};

// Every node of the file, depth first, parents before children. Throws std::runtime_error
// naming `path` for a tree deeper than kMaxRigDepth.
void AddRigNodes(const aiScene* scene, const std::string& path, RigBuild& build);

// Marks `node` as drawing character mesh `mesh`; a node that draws one already gets a child of
// its own transform (identity) for each further mesh.
void DrawMeshAt(const aiNode* node, Int32 mesh, RigBuild& build);

// Every material of the file, named or not (an unnamed one is called "material-N", N its index).
void AddRigMaterials(const aiScene* scene, RigBuild& build);

// The skin of character mesh `mesh`: its bones as joints, their offset matrices as inverse
// binds, and every file vertex's own influences. A bone without a node gets a node of its own at
// the top, placed at its bind.
void AddRigSkin(const aiScene* scene, const aiMesh* source, Int32 mesh, RigBuild& build);

// An animation's keys as a clip over timeline frames first .. last, its times in seconds
// (`ticksPerSecond` ticks each). Keys whose time is not finite or not after the one before, or
// whose value is not finite, are left out and counted in a note; a channel of a node the tree
// does not hold is left out and noted.
void AddRigClip(const aiAnimation* animation, Float ticksPerSecond, Int32 first, Int32 last,
                RigBuild& build);

}  // namespace headless
