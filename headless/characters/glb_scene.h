// The scene part of a glTF written from a rig: its nodes as TRS with their names and children,
// where each mesh is drawn, and its materials with their base colours, metallic and roughness
// and base colour pictures (embedded, see glb_images.h).
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "headless/characters/glb_builder.h"
#include "headless/characters/glb_images.h"
#include "headless/characters/glb_pose.h"
#include "headless/scene/rig.h"

namespace headless {

// Where a written mesh is drawn: on a rig node (unskinned, in its place), or on a node of its own
// at the scene's root without a transform (skinned, with skin `skin`, or a mesh no node draws).
struct GlbPlacement {
  Int32 node = -1;  // the rig node for an unskinned mesh drawn at one; -1: a root node of its own
  Int32 skin = -1;  // the written skin's index, or -1
  std::string name;
};

// The "nodes" and the scene's root list: the rig's nodes first, in order, as `rest` gives their
// TRS, then one root node per placement without a rig node, in order; mesh m is placements[m].
struct GlbNodes {
  std::string nodes;
  std::string roots;
  std::vector<Int64> meshNode;  // per mesh: the written node that draws it
};
GlbNodes WriteNodes(const Rig& rig, const std::vector<NodeTrs>& rest,
                    const std::vector<GlbPlacement>& placements);

// Per rig material its picture read from `folder`'s tree (the asset root: relative names from it,
// absolute ones by file name in it, headless/files/asset_root.h), none where it names none; one
// that cannot be had, or lies elsewhere, is none with a note naming the material and why.
std::vector<std::optional<GlbImage>> LoadPictures(const Rig& rig, const std::string& folder,
                                                  std::vector<std::string>& notes);

// The glTF materials for `names` (the materials meshes use, in order; the empty name stands for
// faces without one): the rig's material of that name where it has one, with its picture
// (`pictures`, per rig material) embedded into `buffer`, else a plain grey non-metallic one.
// Members ("materials", "textures", "images", "samplers") ready to join the file's JSON, each
// with a leading comma.
std::string WriteMaterials(const Rig& rig, const std::vector<std::string>& names,
                           const std::vector<std::optional<GlbImage>>& pictures, GlbBuffer& buffer);

}  // namespace headless
