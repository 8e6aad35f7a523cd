// Binary glTF files (.glb) read back as meshes whose points move, as GlbWriter writes them: per
// mesh its vertices at rest and one frame per morph target, the target's offsets added to the
// rest (Assimp reads the file). A mesh drawn in several primitives (one per material) is one mesh
// when its primitives share their vertices, as GlbWriter's do.
//
// Frames are timed by the weight animation: frame k at the time of the first key where target k
// weighs 1 alone, as GlbWriter keys them; a file without such keys gives frame k at k seconds.
// Faces of 3 or 4 corners are kept as they are, longer ones split into fans from their first
// corner; lines and points are left out.
//
// A skinned file (one with skins) is played as an engine plays it instead (gltf_skin_player.h):
// per mesh its points at rest (no animation) and one frame per key of its morph weights in each
// animation in turn (of all its channels where it has no weights), skinned with its targets in
// the glTF's world space; an animation after another continues the timeline a key step after
// the other's last key. Only its binary chunk is read.
#pragma once

#include <string>
#include <vector>

#include "headless/geometry/mesh.h"

namespace headless {

struct MorphedMesh {
  std::string name;
  Mesh rest;
  std::vector<Float> seconds;                // per frame
  std::vector<std::vector<Vector3>> frames;  // per frame, one position per rest point
};

// Whether this build can read glTF files (it was built with Assimp).
bool GlbReadingAvailable();

// Whether `path` is a regular file whose first bytes are a binary glTF's magic ("glTF"); false
// for "-", pipes and devices, and for what cannot be opened.
bool IsGlbFile(const std::string& path);

// The meshes of the binary glTF `path` ("-" for the standard input), in the file's order.
// Throws std::runtime_error "path: reason" when it cannot be read, is not a binary glTF as long as
// its header says, holds no mesh of faces, or this build has no Assimp, or names a file outside
// `assetRoot`'s tree (empty: the file's own folder; headless/files/asset_root.h).
std::vector<MorphedMesh> ReadGlb(const std::string& path, const std::string& assetRoot = "");

}  // namespace headless
