// What a character keeps beyond the deformed points of its meshes, so that it can leave whole: the
// file's node tree with its transforms, its materials, its skins (joints and inverse binds, and
// every file vertex's own influences) and its clips as the file keys them.
//
// Plain records, filled by the import, kept by the scene file and read by the writers. Indices
// refer into the same Rig; a mesh is named by its index among the document's character objects
// in import order (the importer's list of meshes). A mesh without a skin (the file's rigid
// meshes: eyes, props) has no RigSkin: it moves with the node that draws it.
#pragma once

#include <array>
#include <string>
#include <vector>

#include "host/abi/types.h"

namespace headless {

// Deeper than any character's skeleton, shallow enough for every walk over the tree.
inline constexpr Int32 kMaxRigDepth = 1000;

struct RigNode {
  std::string name;
  Int32 parent = -1;  // an earlier node's index; -1 at the root
  Matrix local;       // the file's transform relative to the parent
  Int32 mesh = -1;    // the character mesh drawn at this node; -1 for none
};

struct RigMaterial {
  std::string name;
  std::array<Float, 4> baseColour{1.0, 1.0, 1.0, 1.0};  // linear RGBA
  bool metallicGiven = false;                           // false: written non-metallic
  Float metallic = 0.0, roughness = 1.0;
  std::string texture;  // the base colour picture as the file names it; empty for none
};

// One mesh's skin: its joints (nodes) with the inverse of each joint's global transform at bind,
// in the mesh node's space as the file states it, and per file vertex its influences.
struct RigSkin {
  Int32 mesh = -1;
  std::vector<Int32> joints;
  std::vector<Matrix> inverseBinds;  // one per joint
  // Per file vertex v: influences first[v] .. first[v + 1] - 1, each a joint (an index into
  // `joints`) and its weight as the file gives it.
  std::vector<Int64> first{0};
  std::vector<Int32> joint;
  std::vector<Float32> weight;
};

enum class RigPath : Int32 { kTranslation, kRotation, kScale };

// Keys of one property of one node: times in seconds, strictly increasing and finite; values 3
// per key (rotations 4: x, y, z, w). Rotations interpolate spherically, the others linearly.
struct RigChannel {
  Int32 node = -1;
  RigPath path = RigPath::kTranslation;
  std::vector<Float> times;
  std::vector<Float> values;
};

struct RigClip {
  std::string name;
  std::vector<RigChannel> channels;
  Int32 firstFrame = 0;  // where the clip's frame 0 sits on the document's timeline
  Int32 lastFrame = 0;   // its last frame on the timeline
};

struct Rig {
  std::vector<RigNode> nodes;
  std::vector<RigMaterial> materials;
  std::vector<RigSkin> skins;
  std::vector<RigClip> clips;
  std::vector<std::string> notes;  // what the file held that the rig does not carry
  // Per character mesh: the name of its polygon object in the document (names are unique there
  // at import), so that a mesh is found again after the scene is saved and loaded.
  std::vector<std::string> meshObjects;
  // Per character mesh: its material (an index into `materials`); -1 for none.
  std::vector<Int32> meshMaterials;
  // The folder the materials' relative picture names are found in (the character file's), so
  // a writer can embed them; empty: the working folder.
  std::string pictureFolder;

  bool Empty() const { return nodes.empty(); }
};

}  // namespace headless
