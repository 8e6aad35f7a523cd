// Binary glTF of a rigged character that leaves whole: its node tree with its transforms, its
// materials and pictures (glb_scene.h), each skinned mesh with its skin (joints, inverse binds,
// JOINTS_0/WEIGHTS_0 and, with 8 influences, JOINTS_1/WEIGHTS_1), its clips as animations of
// the joints under their own names, and the correction as one morph target per frame in bind
// space (correctives.h), so an engine can retarget, blend and re-time the motion and still show
// each frame's corrected shape at its time.
//
// - Placement. A skinned mesh is drawn by a node of its own at the scene's root without a
//   transform (a player ignores a skinned node's transform; the inverse binds hold the mesh
//   node's); its rig node stays in the tree. An unskinned mesh is drawn at its rig node, its
//   target measured against that node's global transform at the frame; a mesh no node draws
//   sits at the root.
// - Frames. A frame belongs to the first clip whose frames hold it and sits at
//   (frame - clip's first frame) / fps seconds of it (or the file's own time of it, see
//   SkinGlbOptions::frameSeconds); frames of no clip go to an animation
//   "frames" posed at rest, at (frame - its first frame) / fps. Frame k's target weighs 1 at its
//   time in its clip's animation and 0 at every other key, linearly in between.
// - Targets. Each holds POSITION (and NORMAL where the mesh has normals) as sparse accessors
//   over the vertices whose target reaches OmissionTolerance (or a normal's 2^-25), dense where
//   that is smaller. Where the blended matrix is singular the target is 0 and a note counts
//   those vertices.
// - Costs per vertex per frame, kept vertices: float32 12 bytes of position and 12 of normal
//   (plus 2 index bytes each below 65536 vertices, 4 above, when sparse); quantised
//   (KHR_mesh_quantization, normalised int16 positions and int8 normals) 8 and 4 dense, 6 and 3
//   sparse plus the index. A quantised frame with normals is two targets, one of positions and
//   one of normals, sharing the index view, each weighing its own scale (the largest |value| it
//   holds) instead of 1, and each holding for the other attribute the mesh's accessor of int8
//   zeros (4 bytes a vertex, once): some players take a missing attribute for the rest's, and
//   some readers refuse an accessor without data. Positions then land within their scale /
//   65534 per coordinate whatever the normals do (a sliver face that turns over turns its
//   normals by half a turn); normals int16 (8 and 6) past kByteNormalScale. Per mesh 4 x frames
//   x targets bytes of weight keys, as every key holds every target's weight: at most
//   kMaxCorrectiveFrames frames (64 MiB per mesh, 128 MiB with two targets a frame).
#pragma once

#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "headless/characters/correctives.h"
#include "headless/characters/glb_builder.h"
#include "headless/characters/glb_images.h"
#include "headless/characters/glb_pose.h"
#include "headless/geometry/file_vertices.h"
#include "headless/scene/rig.h"

namespace headless {

inline constexpr Int64 kMaxCorrectiveFrames = 4096;
// Quantised normals are int8 while their scale is at most this (within 2/254 per component,
// under half a degree), int16 above it.
inline constexpr Float32 kByteNormalScale = 2.0f;

struct SkinGlbOptions {
  int influences = 4;         // 4 or 8 per vertex
  bool quantised = false;     // int16 targets (KHR_mesh_quantization)
  Float fps = 30.0;           // frames per second on the clips' time
  std::string pictureFolder;  // where the materials' pictures are named from
  // The timeline's seconds of frames 0, 1, ... where the import kept them (the file's own key
  // times, each clip from its first frame's k / fps); a clip's frame then sits at that less its
  // first frame's k / fps, else at (frame - clip's first frame) / fps.
  std::vector<Float> frameSeconds;
};

class SkinGlbWriter {
 public:
  // Throws std::invalid_argument naming the fault when the options or the rig are unsound (a
  // parent not before its child, a skin of an unknown node, a clip's channel, a number beyond
  // float32).
  SkinGlbWriter(std::shared_ptr<const Rig> rig, SkinGlbOptions options);

  // The rig's mesh `rigMesh` on the vertices `file` describes, at rest at `rest` with
  // `restNormals` (per vertex; normals used where the file has them). A skinned mesh's skin must
  // give influences for exactly its vertices. Throws std::invalid_argument, adding nothing, when
  // the counts disagree, the mesh was added already, or a frame was.
  void AddMesh(Int32 rigMesh, std::shared_ptr<const FileVertices> file,
               std::span<const Vector3> rest, std::span<const Vector3> restNormals);
  // Document frame `frame` (above the last one): per mesh, in the order added, its corrected
  // positions and normals in the mesh's own space. Throws std::invalid_argument, adding nothing,
  // on a wrong count or order, or past kMaxCorrectiveFrames.
  void AddFrame(Int64 frame, const std::vector<std::span<const Vector3>>& positions,
                const std::vector<std::span<const Vector3>>& normals);

  Int64 FrameCount() const { return static_cast<Int64>(frames_.size()); }
  // Singular vertices, vertices with more influences than written, pictures left out, shears.
  std::vector<std::string> Notes() const;
  // The file's bytes. Throws std::runtime_error past kMaxGlbBytes.
  std::string Image() const;
  // Writes it atomically; std::runtime_error naming the path.
  void Write(const std::string& path) const;

 private:
  struct Target {
    std::vector<std::uint32_t> kept;  // sparse: the vertices held; dense: empty
    bool dense = true;
    std::vector<Float32> positions, normals;  // of the kept vertices (all, when dense)
    Float32 scale = 1.0f;        // quantised: the weight the frame's positions are shown at
    Float32 normalScale = 1.0f;  // quantised: the weight its normals are shown at
    bool byteNormals = false;    // quantised: normals as int8 (else int16)
    Int64 singular = 0;          // vertices whose blended matrix is singular
  };
  struct Mesh {
    Int32 rigMesh = -1;
    Int32 skin = -1;  // index into the rig's skins
    Int32 node = -1;  // the rig node drawing it
    std::shared_ptr<const FileVertices> file;
    std::vector<Float32> rest, normals, uvs;
    WrittenInfluences influences;
    Matrix restGlobal;  // where the host's points sit in world space
    Float32 tolerance = 0.0f;
    std::vector<Target> targets;
  };
  struct Frame {
    Int64 number = 0;
    Int32 clip = -1;  // -1: no clip, posed at rest
    Float32 seconds = 0.0f;
  };
  Frame Place(Int64 frame) const;
  Target Targeted(const Mesh& mesh, const std::vector<Matrix>& global, std::span<const Vector3> p,
                  std::span<const Vector3> n) const;
  std::string MeshJson(size_t m, GlbBuffer& buffer, const std::vector<Int32>& materialOf) const;
  // 2 where a frame is a target of positions and one of normals (quantised, with normals), else 1.
  Int64 TargetsPerFrame(const Mesh& mesh) const;
  // The frame's target or targets (TargetsPerFrame); `zeros` the mesh's accessor of zeros.
  std::string TargetJson(const Mesh& mesh, const Target& target, Int64 zeros,
                         GlbBuffer& buffer) const;
  std::string SkinsJson(GlbBuffer& buffer) const;
  std::string AnimationsJson(GlbBuffer& buffer, const std::vector<Int64>& meshNode) const;

  std::shared_ptr<const Rig> rig_;
  SkinGlbOptions options_;
  std::vector<NodeTrs> rest_;
  std::vector<std::vector<Channel32>> channels_;  // per clip
  std::vector<Matrix> restGlobal_;
  std::vector<Mesh> meshes_;
  std::vector<Frame> frames_;
  std::vector<std::optional<GlbImage>> pictures_;  // per rig material
  std::vector<std::string> notes_;
};

}  // namespace headless
