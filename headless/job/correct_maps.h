// The per-point maps `tessamire correct` gives a character's bind tags and deformers: the
// smoothing weights a bind tag links to (a vertex map) and the deformer's restriction, each read
// from a file of one number per welded point or taken from a joint's own skin weights, which
// confine the correction to where that joint moves the mesh.
#pragma once

#include <string>
#include <vector>

#include "headless/scene/scene.h"

namespace headless {

// One map as the user names it.
struct MapSource {
  // A file's mesh; empty: the only deformed mesh. Unused for a joint.
  std::string mesh;
  std::string file;   // one number per welded point of the mesh; empty for a joint
  std::string joint;  // a joint's skin weights on every deformed mesh (0 where its skin lacks it)
};

// "MESH=FILE" or "FILE": the mesh named when the text holds a '=', the part before it is one of
// `meshes` and the whole text names no existing file; a '=' before a name that is no mesh, in
// text that names no file, is refused (std::invalid_argument naming the meshes).
MapSource ParseMapFile(const std::string& text, const std::vector<std::string>& meshes,
                       const std::string& option);

// The weights of one kind of map (`option` names it in messages) per deformed object, in the
// order of `deformed`; an empty entry where no map is given. Smoothing weights (unitRange) lie
// in [0, 1]; a restriction's may extrapolate. Throws std::invalid_argument or
// std::runtime_error naming the fault: an unnamed file for several meshes, a mesh given twice or
// not deformed, a file that cannot be read or holds another count, a joint no skin lists.
std::vector<std::vector<Float32>> MapWeights(const std::vector<MapSource>& sources,
                                             const std::vector<Node*>& deformed,
                                             const std::string& option, bool unitRange);

// Links a new vertex-map tag of `weights` to every bind tag of `object` (TTESSAMIRE_VERTEXMAP).
void LinkSmoothingMap(Document& doc, Node* object, std::vector<Float32> weights);
// Restricts every deformer of the plug-in under `object` to a new vertex-map tag of `weights`.
void RestrictDeformers(Document& doc, Node* object, std::vector<Float32> weights);

// The skin weights of the joint called `joint` on `object`'s points, as its skin lists them;
// empty when no skin under it lists that joint.
std::vector<Float32> JointWeights(const Node* object, const std::string& joint);

}  // namespace headless
