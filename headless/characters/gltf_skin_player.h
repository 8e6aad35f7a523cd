// Binary glTF played as an engine plays it, from the format's own rules: accessors (strided,
// sparse, normalised integers of KHR_mesh_quantization), the node tree posed from translation,
// rotation and scale (or a matrix) with an animation sampled at a time (LINEAR, STEP and
// CUBICSPLINE), and every mesh's vertices placed in the glTF's world space. A skinned mesh's
// vertex lands at sum w * globalJoint * inverseBind * (base + sum of weighted target deltas),
// with JOINTS_0/WEIGHTS_0 and JOINTS_1/WEIGHTS_1 where they are; an unskinned one goes through its
// node's global matrix. Normals go through the inverse transpose, renormalised.
//
// Only the file's binary chunk is read: a buffer in another file or a data URI is refused by
// name, as are extensions the file requires other than KHR_mesh_quantization. Built only with
// nlohmann's JSON reader (with Assimp); without it the parse fails naming the missing library.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "headless/geometry/mesh.h"

namespace headless {

struct GlbDocument;  // the parsed JSON and binary chunk (in the .cpp, over nlohmann's JSON)

// Parses a binary glTF held in `bytes`. Throws std::runtime_error naming the fault (framing,
// JSON, a required extension, a buffer that is not the binary chunk).
std::shared_ptr<const GlbDocument> ParseGlbDocument(std::string bytes);

// Accessor `index`'s values as doubles, its type's width per element: normalised integers
// mapped as the format maps them, sparse substitutions applied. Throws std::runtime_error naming
// the accessor when it lies outside its buffer view, or the view outside the binary chunk.
std::vector<double> ReadGlbAccessor(const GlbDocument& document, Int64 index);

struct PlayedGlbMesh {
  Int64 node = 0;       // the node drawing it
  Int64 primitive = 0;  // its first primitive; those sharing its positions are drawn with it
  std::string name;     // the node's name, else the mesh's
  bool skinned = false;
  std::vector<Vector3> positions, normals;  // world space, per vertex (normals where it has them)
};

// Every mesh drawn by a node, in node order (a node's primitives grouped by the positions they
// share), with animation `animation` (-1: none, every node at its own transform) at `seconds`.
std::vector<PlayedGlbMesh> PlayGlb(const GlbDocument& document, Int64 animation, Float seconds);

// The faces of PlayGlb's mesh `played` (triangles of its primitives, indexed or not; lines and
// points left out), each a triangle with its last corner repeated.
std::vector<CPolygon> GlbMeshFaces(const GlbDocument& document, const PlayedGlbMesh& played);

struct GlbKey {
  Int64 animation = 0;
  Float seconds = 0.0;
};

// The times at which the file shows node `node`'s mesh: each animation in turn, the keys of its
// channel of that node's morph weights; where no animation has one, each animation in turn with
// the keys of all its channels; none without animations.
std::vector<GlbKey> GlbNodeKeys(const GlbDocument& document, Int64 node);

}  // namespace headless
