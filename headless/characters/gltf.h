// Binary glTF 2.0 files (.glb) of meshes whose vertices move over time, in a form every glTF
// player plays: morph targets driven by an animation of their weights.
//
// Per mesh: a node and a mesh named as the file they came from named them, its vertices at rest
// (POSITION, NORMAL when it has normals, TEXCOORD_0 when it has texture coordinates, flipped to
// glTF's v-down), one triangle list per material (faces of more than 3 corners as fans from their
// first corner, each face kept as it is, degenerate or not) and one morph target per frame
// holding every vertex's offset from rest (POSITION, and NORMAL when the mesh has normals).
// One animation keys each mesh's weights at the frames' times, target k weighing 1 at frame k's
// time and the others 0, linearly in between, so a player shows frame k exactly at its time and
// blends neighbouring frames between. Materials carry their names only (not metallic, fully
// rough, so they show as plain grey). Every normal is written normalised; a zero one as +z.
//
// Costs per vertex per frame: 12 bytes of position offsets, 12 more with normals; per mesh
// per frame 4 bytes per frame of weights (the keys hold every target's weight). Names that are
// not UTF-8 get U+FFFD for each byte that is not. Numbers are float32, rounded from float64 once:
// a reader adding a target's offset to the rest position in float32 gets the frame's position
// within float32 rounding of both.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "headless/geometry/file_vertices.h"
#include "host/abi/types.h"

namespace headless {

// A binary glTF holds at most 4 GiB - 1 bytes (its length is a 32-bit number).
inline constexpr Int64 kMaxGlbBytes = (Int64{1} << 32) - 1;

class GlbTables;

class GlbWriter {
 public:
  // A mesh on the vertices `file` describes (sound, see CheckFileVertices), at rest at
  // `restPositions` with `restNormals` (one per vertex each; normals are written only when the
  // file has normals). Throws std::invalid_argument, adding nothing, when the counts disagree,
  // the file has no vertex, a coordinate exceeds float32 (naming the mesh and the vertex) or a
  // frame was added already.
  void AddMesh(std::shared_ptr<const FileVertices> file, std::span<const Vector3> restPositions,
               std::span<const Vector3> restNormals);
  // One frame at `seconds` (finite, at least 0, above the last frame's): per mesh, in the order
  // they were added, its vertices' positions and normals. Throws std::invalid_argument, adding
  // nothing, when the time or a count is wrong or a position's offset exceeds float32 (naming
  // the mesh and the vertex).
  void AddFrame(Float seconds, const std::vector<std::span<const Vector3>>& positions,
                const std::vector<std::span<const Vector3>>& normals);

  Int64 FrameCount() const { return static_cast<Int64>(times_.size()); }
  // The size of the file Write would write now.
  Int64 Bytes() const;
  // The file's bytes. Throws std::runtime_error when they would exceed kMaxGlbBytes.
  std::string Image() const;
  // Writes the file atomically (see output_file.h). Throws std::runtime_error naming the path
  // when it would exceed kMaxGlbBytes or cannot be written.
  void Write(const std::string& path) const;

 private:
  struct Primitive {
    Int32 material = -1;          // an index into materials_, -1 for none
    std::vector<UInt32> indices;  // three vertices per triangle
  };
  struct Mesh {
    std::shared_ptr<const FileVertices> file;
    std::vector<Primitive> primitives;
    std::vector<Float32> rest;     // x, y, z per vertex
    std::vector<Float32> normals;  // x, y, z per vertex, or none
    std::vector<Float32> uvs;      // u, v per vertex (v down), or none
    std::vector<Float32> offsets;  // per frame: x, y, z per vertex
    std::vector<Float32> turns;    // per frame: normal offsets, x, y, z per vertex
    Int64 Vertices() const { return static_cast<Int64>(rest.size() / 3); }
  };
  // Where each piece of the binary chunk starts, in the order Emit writes them.
  struct Layout;
  Layout Plan() const;
  struct MeshLists;
  std::string Json(const Layout& layout) const;
  // The JSON of mesh `m`: its attributes, its morph targets, and the whole mesh with its node and
  // its animation's sampler and channel.
  std::string Attributes(size_t m, const Layout& layout, GlbTables& tables) const;
  std::string Targets(size_t m, const Layout& layout, GlbTables& tables) const;
  void AddMeshJson(size_t m, const Layout& layout, Int64 timesAccessor, GlbTables& tables,
                   MeshLists& lists) const;
  template <typename Sink>
  void Emit(Sink&& sink) const;

  std::vector<Mesh> meshes_;
  std::vector<std::string> materials_;
  std::vector<Float32> times_;
};

}  // namespace headless
