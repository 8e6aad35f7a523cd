#include "headless/characters/glb_skin.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>

#include "headless/characters/glb_scene.h"
#include "headless/characters/rig_pose.h"
#include "headless/deformers/skinning.h"
#include "headless/files/output_file.h"
#include "headless/files/shortest_number.h"
#include "headless/geometry/vector.h"

namespace headless {
namespace {

// The inverse transpose of m's axes applied to n: how a normal turns where points move by m.
Vector3 NormalThrough(const Matrix& inverse, const Vector3& n) {
  return {Dot(inverse.v1, n), Dot(inverse.v2, n), Dot(inverse.v3, n)};
}

const char* PathName(RigPath path) {
  switch (path) {
    case RigPath::kTranslation:
      return "translation";
    case RigPath::kRotation:
      return "rotation";
    case RigPath::kScale:
      return "scale";
  }
  return "translation";
}

void CheckRig(const Rig& rig) {
  for (size_t n = 0; n < rig.nodes.size(); ++n)
    if (rig.nodes[n].parent >= static_cast<Int32>(n) || rig.nodes[n].parent < -1)
      throw std::invalid_argument("node \"" + rig.nodes[n].name + "\": its parent " +
                                  std::to_string(rig.nodes[n].parent) + " is not an earlier node");
  for (const RigSkin& skin : rig.skins) {
    if (skin.inverseBinds.size() != skin.joints.size())
      throw std::invalid_argument("skin of mesh " + std::to_string(skin.mesh) + ": " +
                                  std::to_string(skin.joints.size()) + " joints and " +
                                  std::to_string(skin.inverseBinds.size()) + " inverse binds");
    for (const Int32 joint : skin.joints)
      if (joint < 0 || joint >= static_cast<Int32>(rig.nodes.size()))
        throw std::invalid_argument("skin of mesh " + std::to_string(skin.mesh) + ": joint node " +
                                    std::to_string(joint) + " does not exist");
    if (skin.first.empty() || skin.first.front() != 0 ||
        skin.first.back() != static_cast<Int64>(skin.joint.size()) ||
        skin.joint.size() != skin.weight.size() ||
        !std::is_sorted(skin.first.begin(), skin.first.end()))
      throw std::invalid_argument("skin of mesh " + std::to_string(skin.mesh) +
                                  ": its influences' offsets do not run from 0 to their count");
  }
}

}  // namespace

SkinGlbWriter::SkinGlbWriter(std::shared_ptr<const Rig> rig, SkinGlbOptions options)
    : rig_(std::move(rig)), options_(std::move(options)) {
  if (rig_ == nullptr) throw std::invalid_argument("a skinned glTF needs a rig");
  if (options_.influences != 4 && options_.influences != 8)
    throw std::invalid_argument("influences per vertex must be 4 or 8, not " +
                                std::to_string(options_.influences));
  if (!std::isfinite(options_.fps) || !(options_.fps > 0.0))
    throw std::invalid_argument("the frame rate must be finite and positive, not " +
                                ShortestNumber(options_.fps));
  CheckRig(*rig_);
  Int64 sheared = 0;
  for (const RigNode& node : rig_->nodes) {
    bool shear = false;
    rest_.push_back(DecomposeTrs(node.local, shear));
    sheared += shear ? 1 : 0;
  }
  if (sheared > 0)
    notes_.push_back(std::to_string(sheared) +
                     " nodes have a shear, which translation, rotation and scale cannot hold: "
                     "written without it (the correctives still reach every corrected point)");
  for (const RigClip& clip : rig_->clips) channels_.push_back(NarrowChannels(clip, rig_->nodes));
  restGlobal_ = RigRestGlobals(*rig_);
  pictures_ = LoadPictures(*rig_, options_.pictureFolder, notes_);
}

void SkinGlbWriter::AddMesh(Int32 rigMesh, std::shared_ptr<const FileVertices> file,
                            std::span<const Vector3> rest, std::span<const Vector3> restNormals) {
  if (!frames_.empty()) throw std::invalid_argument("a mesh added after the first frame");
  for (const Mesh& mesh : meshes_)
    if (mesh.rigMesh == rigMesh)
      throw std::invalid_argument("mesh " + std::to_string(rigMesh) + " added twice");
  const Int64 vertices = file->VertexCount();
  if (vertices == 0 || static_cast<Int64>(rest.size()) != vertices ||
      (!file->normals.empty() && static_cast<Int64>(restNormals.size()) != vertices))
    throw std::invalid_argument(std::to_string(rest.size()) + " positions and " +
                                std::to_string(restNormals.size()) + " normals for " +
                                std::to_string(vertices) + " vertices");
  Mesh mesh;
  mesh.rigMesh = rigMesh;
  mesh.file = file;
  for (size_t n = 0; n < rig_->nodes.size() && mesh.node < 0; ++n)
    if (rig_->nodes[n].mesh == rigMesh) mesh.node = static_cast<Int32>(n);
  for (size_t s = 0; s < rig_->skins.size() && mesh.skin < 0; ++s)
    if (rig_->skins[s].mesh == rigMesh) mesh.skin = static_cast<Int32>(s);
  if (mesh.skin >= 0) {
    const RigSkin& skin = rig_->skins[mesh.skin];
    if (static_cast<Int64>(skin.first.size()) - 1 != vertices)
      throw std::invalid_argument("mesh " + std::to_string(rigMesh) + ": its skin weighs " +
                                  std::to_string(skin.first.size() - 1) +
                                  " vertices, the mesh written has " + std::to_string(vertices) +
                                  " (welded points cannot carry the file's skin)");
    mesh.influences = WriteInfluences(skin, options_.influences);
  }
  mesh.restGlobal = mesh.node >= 0 ? restGlobal_[mesh.node] : Matrix{};
  for (size_t v = 0; v < rest.size(); ++v)
    mesh.rest.insert(mesh.rest.end(), {GlbNarrowAt(rest[v].x, meshes_.size(), v),
                                       GlbNarrowAt(rest[v].y, meshes_.size(), v),
                                       GlbNarrowAt(rest[v].z, meshes_.size(), v)});
  if (!file->normals.empty())
    for (const Vector3& n : restNormals) GlbAppendUnit(mesh.normals, n);
  for (size_t k = 0; k + 1 < file->uvs.size(); k += 2)
    mesh.uvs.insert(mesh.uvs.end(), {file->uvs[k], 1.0f - file->uvs[k + 1]});
  mesh.tolerance = OmissionTolerance(mesh.rest);
  meshes_.push_back(std::move(mesh));
}

SkinGlbWriter::Frame SkinGlbWriter::Place(Int64 frame) const {
  for (size_t c = 0; c < rig_->clips.size(); ++c) {
    const RigClip& clip = rig_->clips[c];
    if (frame < clip.firstFrame || frame > clip.lastFrame) continue;
    // The file's own key time where the import kept it, so that targets and joint keys agree.
    const Float seconds = frame >= 0 && frame < static_cast<Int64>(options_.frameSeconds.size())
                              ? options_.frameSeconds[static_cast<size_t>(frame)] -
                                    static_cast<Float>(clip.firstFrame) / options_.fps
                              : static_cast<Float>(frame - clip.firstFrame) / options_.fps;
    return {frame, static_cast<Int32>(c), static_cast<Float32>(seconds)};
  }
  Int64 first = frame;  // the first frame of no clip
  for (const Frame& f : frames_)
    if (f.clip < 0) first = std::min(first, f.number);
  return {frame, -1, static_cast<Float32>(static_cast<Float>(frame - first) / options_.fps)};
}

Int64 SkinGlbWriter::TargetsPerFrame(const Mesh& mesh) const {
  return options_.quantised && !mesh.normals.empty() ? 2 : 1;
}

SkinGlbWriter::Target SkinGlbWriter::Targeted(const Mesh& mesh, const std::vector<Matrix>& global,
                                              std::span<const Vector3> p,
                                              std::span<const Vector3> n) const {
  std::vector<Matrix> joints;
  if (mesh.skin >= 0) {
    const RigSkin& skin = rig_->skins[mesh.skin];
    for (size_t j = 0; j < skin.joints.size(); ++j)
      joints.push_back(Multiply(global[skin.joints[j]], NarrowMatrix(skin.inverseBinds[j])));
  } else {
    joints.push_back(mesh.node >= 0 ? global[mesh.node] : Matrix{});
  }
  const Matrix inverse = Inverse(mesh.restGlobal);
  std::vector<Vector3> world(p.size()), worldNormals(mesh.normals.empty() ? 0 : n.size());
  for (size_t v = 0; v < p.size(); ++v) world[v] = TransformPoint(mesh.restGlobal, p[v]);
  for (size_t v = 0; v < worldNormals.size(); ++v) worldNormals[v] = NormalThrough(inverse, n[v]);
  CorrectiveTargets all = Correctives(mesh.skin >= 0 ? &mesh.influences : nullptr, joints,
                                      mesh.rest, mesh.normals, world, worldNormals);
  Target target;
  target.singular = all.singular;
  target.kept = KeptVertices(all, mesh.tolerance);
  const Int64 vertices = static_cast<Int64>(p.size()), kept = target.kept.size();
  // Bytes per vertex: sparse values are packed, dense ones padded to 4 bytes a vertex.
  const bool q = options_.quantised, normals = !mesh.normals.empty();
  if (q) {
    target.scale = QuantisationScale(all.positions, {});
    target.normalScale = QuantisationScale(all.normals, {});
    target.byteNormals = target.normalScale <= kByteNormalScale;
  }
  const Int64 normalBytes = !q ? 12 : target.byteNormals ? 3 : 6;
  const Int64 index = vertices < 65536 ? 2 : 4;
  const Int64 sparse = index + (q ? 6 : 12) + (normals ? normalBytes : 0);
  const Int64 denseBytes = (q ? 8 : 12) + (normals ? (normalBytes + 3) / 4 * 4 : 0);
  target.dense = kept * sparse >= vertices * denseBytes;
  if (target.dense) {
    target.kept.clear();
    target.positions = std::move(all.positions);
    target.normals = std::move(all.normals);
  } else {
    for (const std::uint32_t v : target.kept) {
      target.positions.insert(target.positions.end(), &all.positions[3 * v],
                              &all.positions[3 * v + 3]);
      if (!all.normals.empty())
        target.normals.insert(target.normals.end(), &all.normals[3 * v], &all.normals[3 * v + 3]);
    }
  }
  return target;
}

void SkinGlbWriter::AddFrame(Int64 frame, const std::vector<std::span<const Vector3>>& positions,
                             const std::vector<std::span<const Vector3>>& normals) {
  if (!frames_.empty() && frame <= frames_.back().number)
    throw std::invalid_argument("frame " + std::to_string(frame) + " does not follow frame " +
                                std::to_string(frames_.back().number));
  if (FrameCount() >= kMaxCorrectiveFrames)
    throw std::invalid_argument(
        "a glTF of correctives holds at most " + std::to_string(kMaxCorrectiveFrames) +
        " frames: every weight key holds every frame's weight, 4 x frames^2 bytes per mesh; "
        "write fewer frames (--frames)");
  if (positions.size() != meshes_.size() || normals.size() != meshes_.size())
    throw std::invalid_argument("a frame of " + std::to_string(positions.size()) + " meshes for " +
                                std::to_string(meshes_.size()));
  for (size_t m = 0; m < meshes_.size(); ++m)
    if (static_cast<Int64>(positions[m].size()) != meshes_[m].file->VertexCount() ||
        (!meshes_[m].normals.empty() && normals[m].size() != positions[m].size()))
      throw std::invalid_argument("a frame of mesh " + std::to_string(m) + " has " +
                                  std::to_string(positions[m].size()) + " positions for " +
                                  std::to_string(meshes_[m].file->VertexCount()) + " vertices");
  const Frame placed = Place(frame);
  const std::vector<NodeTrs> pose =
      placed.clip >= 0 ? PoseAt(rest_, channels_[placed.clip], placed.seconds) : rest_;
  const std::vector<Matrix> global = GlobalMatrices(rig_->nodes, pose);
  std::vector<Target> targets;
  for (size_t m = 0; m < meshes_.size(); ++m) {
    try {
      targets.push_back(Targeted(meshes_[m], global, positions[m], normals[m]));
    } catch (const std::invalid_argument& e) {
      throw std::invalid_argument("mesh " + std::to_string(m) + ", " + e.what());
    }
  }
  for (size_t m = 0; m < meshes_.size(); ++m) meshes_[m].targets.push_back(std::move(targets[m]));
  frames_.push_back(placed);
}

}  // namespace headless

namespace headless {
namespace {

// The slots' joints and weights of one half (0: slots 0-3, 1: slots 4-7).
template <typename T>
std::vector<T> Half(const std::vector<T>& values, int slots, int half) {
  std::vector<T> out;
  for (size_t at = 0; at < values.size(); at += slots)
    out.insert(out.end(), values.begin() + at + 4 * half, values.begin() + at + 4 * half + 4);
  return out;
}

// How a target's values are written: float32, or normalised int16 / int8 of the target's scale.
struct Coding {
  int componentType = kGlbFloat;
  int top = 0;    // the largest code (quantised), 0 for float32
  int bytes = 4;  // per component
};
constexpr Coding kFloatCoding{kGlbFloat, 0, 4}, kShortCoding{kGlbShort, 32767, 2},
    kByteCoding{kGlbByte, 127, 1};

// `codes` (three per vertex) as bytes of `coding`, each vertex padded to a multiple of 4 bytes
// when `padded`: vertex attributes keep each element on 4 bytes, sparse values are packed.
std::vector<std::uint8_t> Packed(const std::vector<std::int32_t>& codes, Coding coding,
                                 bool padded) {
  const size_t element = padded ? (3 * coding.bytes + 3) / 4 * 4 : 3 * coding.bytes;
  std::vector<std::uint8_t> out(codes.size() / 3 * element, 0);
  for (size_t v = 0; v < codes.size() / 3; ++v)
    for (size_t k = 0; k < 3; ++k) {
      const auto code = static_cast<std::uint32_t>(codes[3 * v + k]);  // two's complement
      for (int b = 0; b < coding.bytes; ++b)
        out[v * element + k * coding.bytes + b] = static_cast<std::uint8_t>(code >> (8 * b));
    }
  return out;
}

// The members of a target accessor for `values` (3 per vertex) over `vertices`: dense in its own
// view, or sparse over the kept vertices (`indices` the view of their numbers), written in
// `coding` (quantised ones of `scale`).
std::string TargetAccessor(const std::vector<Float32>& values, Int64 vertices, bool dense,
                           Int64 kept, Int64 indices, int indexType, Coding coding, Float32 scale,
                           GlbBuffer& buffer) {
  std::vector<std::int32_t> codes;
  std::vector<Float32> raw = values;  // the values as the file holds them, for the bounds
  if (coding.top > 0) {
    codes = Quantise(values, scale, coding.top);
    raw.assign(codes.begin(), codes.end());
  }
  if (!dense && kept < vertices) raw.insert(raw.end(), {0.0f, 0.0f, 0.0f});  // left out: 0
  const std::string type = ",\"componentType\":" + std::to_string(coding.componentType) +
                           (coding.top > 0 ? ",\"normalized\":true" : "");
  const std::string common =
      type + ",\"count\":" + std::to_string(vertices) + ",\"type\":\"VEC3\"" + GlbBounds(raw, 3);
  const auto view = [&](bool padded, int target) {
    if (coding.top == 0) {
      const Int64 bytes = static_cast<Int64>(values.size()) * 4;
      return buffer.View(buffer.AppendValues(std::span<const Float32>(values)), bytes, target);
    }
    const std::vector<std::uint8_t> bytes = Packed(codes, coding, padded);
    const Int64 stride = padded && vertices > 0 ? static_cast<Int64>(bytes.size()) / vertices : 0;
    return buffer.View(buffer.AppendValues(std::span<const std::uint8_t>(bytes)),
                       static_cast<Int64>(bytes.size()), target, static_cast<int>(stride));
  };
  if (dense) return "\"bufferView\":" + std::to_string(view(true, kGlbArrayBuffer)) + common;
  if (kept == 0) return common.substr(1);
  return common.substr(1) + ",\"sparse\":{\"count\":" + std::to_string(kept) +
         ",\"indices\":{\"bufferView\":" + std::to_string(indices) +
         ",\"componentType\":" + std::to_string(indexType) +
         "},\"values\":{\"bufferView\":" + std::to_string(view(false, 0)) + "}}";
}

}  // namespace

std::string SkinGlbWriter::TargetJson(const Mesh& mesh, const Target& target, Int64 zeros,
                                      GlbBuffer& buffer) const {
  const Int64 vertices = mesh.file->VertexCount();
  const Int64 kept = static_cast<Int64>(target.kept.size());
  Int64 indices = -1;
  int indexType = kGlbUnsignedInt;
  if (!target.dense && kept > 0) {
    if (vertices < 65536) {
      indexType = kGlbUnsignedShort;
      const std::vector<std::uint16_t> shorts(target.kept.begin(), target.kept.end());
      indices = buffer.View(buffer.AppendValues(std::span<const std::uint16_t>(shorts)), 2 * kept);
    } else {
      indices =
          buffer.View(buffer.AppendValues(std::span<const std::uint32_t>(target.kept)), 4 * kept);
    }
  }
  const Int64 positions = buffer.Accessor(
      TargetAccessor(target.positions, vertices, target.dense, kept, indices, indexType,
                     options_.quantised ? kShortCoding : kFloatCoding, target.scale, buffer));
  if (mesh.normals.empty()) return "{\"POSITION\":" + std::to_string(positions) + "}";
  const Int64 normals = buffer.Accessor(
      TargetAccessor(target.normals, vertices, target.dense, kept, indices, indexType,
                     !options_.quantised  ? kFloatCoding
                     : target.byteNormals ? kByteCoding
                                          : kShortCoding,
                     options_.quantised ? target.normalScale : target.scale, buffer));
  if (!options_.quantised)
    return "{\"POSITION\":" + std::to_string(positions) + ",\"NORMAL\":" + std::to_string(normals) +
           "}";
  // Quantised, the frame is two targets, so that positions and normals each have their own scale
  // (their weights): one of positions and one of normals, each with zeros for the other.
  return "{\"POSITION\":" + std::to_string(positions) + ",\"NORMAL\":" + std::to_string(zeros) +
         "},{\"POSITION\":" + std::to_string(zeros) + ",\"NORMAL\":" + std::to_string(normals) +
         "}";
}

std::string SkinGlbWriter::MeshJson(size_t m, GlbBuffer& buffer,
                                    const std::vector<Int32>& materialOf) const {
  const Mesh& mesh = meshes_[m];
  const Int64 vertices = mesh.file->VertexCount();
  std::string attributes =
      "\"POSITION\":" +
      std::to_string(buffer.Values(std::span<const Float32>(mesh.rest), kGlbFloat, "VEC3", vertices,
                                   kGlbArrayBuffer, GlbBounds(mesh.rest, 3)));
  if (!mesh.normals.empty())
    attributes += ",\"NORMAL\":" +
                  std::to_string(buffer.Values(std::span<const Float32>(mesh.normals), kGlbFloat,
                                               "VEC3", vertices, kGlbArrayBuffer));
  if (!mesh.uvs.empty())
    attributes += ",\"TEXCOORD_0\":" +
                  std::to_string(buffer.Values(std::span<const Float32>(mesh.uvs), kGlbFloat,
                                               "VEC2", vertices, kGlbArrayBuffer));
  for (int half = 0; mesh.skin >= 0 && half < mesh.influences.slots / 4; ++half) {
    const std::vector<std::uint16_t> joints =
        Half(mesh.influences.joints, mesh.influences.slots, half);
    const std::vector<Float32> weights = Half(mesh.influences.weights, mesh.influences.slots, half);
    attributes +=
        ",\"JOINTS_" + std::to_string(half) + "\":" +
        std::to_string(buffer.Values(std::span<const std::uint16_t>(joints), kGlbUnsignedShort,
                                     "VEC4", vertices, kGlbArrayBuffer)) +
        ",\"WEIGHTS_" + std::to_string(half) + "\":" +
        std::to_string(buffer.Values(std::span<const Float32>(weights), kGlbFloat, "VEC4", vertices,
                                     kGlbArrayBuffer));
  }
  Int64 zeros = -1;  // the zeros of the other half of a frame's two targets
  if (TargetsPerFrame(mesh) == 2) {
    // Stored, not implied by a missing view: some readers (Assimp) refuse an accessor without one.
    const std::vector<std::uint8_t> bytes(static_cast<size_t>(4 * vertices), 0);
    const Int64 view = buffer.View(buffer.AppendValues(std::span<const std::uint8_t>(bytes)),
                                   4 * vertices, kGlbArrayBuffer, 4);
    zeros = buffer.Accessor("\"bufferView\":" + std::to_string(view) +
                            ",\"componentType\":" + std::to_string(kGlbByte) +
                            ",\"normalized\":true,\"count\":" + std::to_string(vertices) +
                            ",\"type\":\"VEC3\",\"min\":[0,0,0],\"max\":[0,0,0]");
  }
  std::string targets, weights, names;
  for (size_t k = 0; k < mesh.targets.size(); ++k) {
    const std::string frame = "frame " + std::to_string(frames_[k].number);
    targets += (k > 0 ? "," : "") + TargetJson(mesh, mesh.targets[k], zeros, buffer);
    weights += k > 0 ? ",0" : "0";
    names += std::string(k > 0 ? "," : "") + "\"" + frame + "\"";
    if (TargetsPerFrame(mesh) == 2) {
      weights += ",0";
      names += ",\"" + frame + " normals\"";
    }
  }
  // One primitive per material, in order of first use; faces as fans from their first corner.
  const FileVertices& file = *mesh.file;
  std::vector<std::vector<std::uint32_t>> byMaterial(file.materials.size() + 1);
  std::vector<Int32> order;
  for (Int64 f = 0; f < file.FaceCount(); ++f) {
    const size_t slot = static_cast<size_t>(file.faceMaterial[f] + 1);
    if (byMaterial[slot].empty()) order.push_back(static_cast<Int32>(slot));
    const Int32* corner = file.cornerVertex.data() + file.faceFirst[f];
    const Int64 count = file.faceFirst[f + 1] - file.faceFirst[f];
    for (Int64 k = 1; k + 1 < count; ++k)
      byMaterial[slot].insert(byMaterial[slot].end(), {static_cast<std::uint32_t>(corner[0]),
                                                       static_cast<std::uint32_t>(corner[k]),
                                                       static_cast<std::uint32_t>(corner[k + 1])});
  }
  std::string primitives;
  for (const Int32 slot : order) {
    const std::vector<std::uint32_t>& indices = byMaterial[slot];
    const Int64 accessor =
        buffer.Values(std::span<const std::uint32_t>(indices), kGlbUnsignedInt, "SCALAR",
                      static_cast<Int64>(indices.size()), kGlbElementArrayBuffer);
    primitives += std::string(primitives.empty() ? "" : ",") + "{\"attributes\":{" + attributes +
                  "},\"indices\":" + std::to_string(accessor) +
                  ",\"material\":" + std::to_string(materialOf[slot]) + ",\"mode\":4" +
                  (targets.empty() ? "" : ",\"targets\":[" + targets + "]") + "}";
  }
  std::string json = "{\"name\":" + GlbJsonString(file.mesh.empty() ? file.object : file.mesh) +
                     ",\"primitives\":[" + primitives + "]";
  if (!targets.empty())
    json += ",\"weights\":[" + weights + "],\"extras\":{\"targetNames\":[" + names + "]}";
  return json + "}";
}

std::string SkinGlbWriter::SkinsJson(GlbBuffer& buffer) const {
  std::string skins;
  for (const Mesh& mesh : meshes_) {
    if (mesh.skin < 0) continue;
    const RigSkin& skin = rig_->skins[mesh.skin];
    std::vector<Float32> matrices;
    std::string joints;
    for (size_t j = 0; j < skin.joints.size(); ++j) {
      const Matrix b = NarrowMatrix(skin.inverseBinds[j]);
      for (const Vector3& column : {b.v1, b.v2, b.v3})
        matrices.insert(matrices.end(),
                        {static_cast<Float32>(column.x), static_cast<Float32>(column.y),
                         static_cast<Float32>(column.z), 0.0f});
      matrices.insert(matrices.end(), {static_cast<Float32>(b.off.x), static_cast<Float32>(b.off.y),
                                       static_cast<Float32>(b.off.z), 1.0f});
      joints += (j > 0 ? "," : "") + std::to_string(skin.joints[j]);
    }
    const Int64 accessor = buffer.Values(std::span<const Float32>(matrices), kGlbFloat, "MAT4",
                                         static_cast<Int64>(skin.joints.size()));
    skins += std::string(skins.empty() ? "" : ",") +
             "{\"inverseBindMatrices\":" + std::to_string(accessor) + ",\"joints\":[" + joints +
             "]}";
  }
  return skins;
}

}  // namespace headless

namespace headless {

std::string SkinGlbWriter::AnimationsJson(GlbBuffer& buffer,
                                          const std::vector<Int64>& meshNode) const {
  std::string animations;
  const Int64 frames = FrameCount();
  for (Int32 c = -1; c < static_cast<Int32>(rig_->clips.size()); ++c) {
    std::string samplers, channels;
    Int64 count = 0;
    const auto add = [&](Int64 input, Int64 output, Int64 node, const char* path) {
      samplers += std::string(count > 0 ? "," : "") + "{\"input\":" + std::to_string(input) +
                  ",\"output\":" + std::to_string(output) + ",\"interpolation\":\"LINEAR\"}";
      channels += std::string(count > 0 ? "," : "") + "{\"sampler\":" + std::to_string(count) +
                  ",\"target\":{\"node\":" + std::to_string(node) + ",\"path\":\"" + path + "\"}}";
      ++count;
    };
    if (c >= 0) {
      for (const Channel32& channel : channels_[c]) {
        const Int64 input =
            buffer.Values(std::span<const Float32>(channel.times), kGlbFloat, "SCALAR",
                          static_cast<Int64>(channel.times.size()), 0, GlbBounds(channel.times, 1));
        const bool rotation = channel.path == RigPath::kRotation;
        const Int64 output =
            buffer.Values(std::span<const Float32>(channel.values), kGlbFloat,
                          rotation ? "VEC4" : "VEC3", static_cast<Int64>(channel.times.size()));
        add(input, output, channel.node, PathName(channel.path));
      }
    }
    // The weights: a key at each frame of this clip, its target at its weight, every other 0.
    std::vector<Float32> times;
    std::vector<Int64> keyed;
    for (Int64 k = 0; k < frames; ++k)
      if (frames_[k].clip == c) {
        times.push_back(frames_[k].seconds);
        keyed.push_back(k);
      }
    if (!times.empty()) {
      const Int64 input = buffer.Values(std::span<const Float32>(times), kGlbFloat, "SCALAR",
                                        static_cast<Int64>(times.size()), 0, GlbBounds(times, 1));
      for (size_t m = 0; m < meshes_.size(); ++m) {
        const Int64 per = TargetsPerFrame(meshes_[m]), row = per * frames;
        std::vector<Float32> weights(times.size() * row, 0.0f);
        for (size_t i = 0; i < keyed.size(); ++i) {
          const Target& target = meshes_[m].targets[keyed[i]];
          weights[i * row + per * keyed[i]] = target.scale;
          if (per == 2) weights[i * row + per * keyed[i] + 1] = target.normalScale;
        }
        const Int64 output = buffer.Values(std::span<const Float32>(weights), kGlbFloat, "SCALAR",
                                           static_cast<Int64>(weights.size()));
        add(input, output, meshNode[m], "weights");
      }
    }
    if (count == 0) continue;  // a clip that moves nothing and holds no frame
    const std::string name = c >= 0 ? rig_->clips[c].name : std::string("frames");
    animations += std::string(animations.empty() ? "" : ",") + "{\"name\":" + GlbJsonString(name) +
                  ",\"samplers\":[" + samplers + "],\"channels\":[" + channels + "]}";
  }
  return animations;
}

std::vector<std::string> SkinGlbWriter::Notes() const {
  std::vector<std::string> notes = notes_;
  for (const Mesh& mesh : meshes_) {
    const std::string name =
        "mesh \"" + (mesh.file->mesh.empty() ? mesh.file->object : mesh.file->mesh) + "\"";
    Int64 singular = 0, frames = 0;
    for (const Target& target : mesh.targets) {
      singular += target.singular;
      frames += target.singular > 0 ? 1 : 0;
    }
    if (singular > 0)
      notes.push_back(name + ": " + std::to_string(singular) + " vertex frames in " +
                      std::to_string(frames) +
                      " frames have a singular blended matrix, so no target reaches their "
                      "corrected point: they show as skinned");
    if (mesh.influences.dropped > 0)
      notes.push_back(name + ": " + std::to_string(mesh.influences.dropped) +
                      " vertices have more than " + std::to_string(mesh.influences.slots) +
                      " influences: the largest are kept, renormalised (the targets make up "
                      "the difference at every frame written)");
    if (mesh.influences.unweighted > 0)
      notes.push_back(name + ": " + std::to_string(mesh.influences.unweighted) +
                      " vertices have no influence: written on the skin's first joint");
  }
  return notes;
}

std::string SkinGlbWriter::Image() const {
  GlbBuffer buffer;
  // Every material a mesh uses, by name; "" for faces without one.
  std::vector<std::string> names;
  std::vector<std::vector<Int32>> materialOf(meshes_.size());
  for (size_t m = 0; m < meshes_.size(); ++m) {
    const FileVertices& file = *meshes_[m].file;
    std::vector<bool> used(file.materials.size() + 1, false);
    for (const Int32 material : file.faceMaterial) used[material + 1] = true;
    materialOf[m].assign(used.size(), -1);
    for (size_t slot = 0; slot < used.size(); ++slot) {
      if (!used[slot]) continue;
      const std::string name = slot == 0 ? std::string() : file.materials[slot - 1];
      auto it = std::find(names.begin(), names.end(), name);
      if (it == names.end()) it = names.insert(names.end(), name);
      materialOf[m][slot] = static_cast<Int32>(it - names.begin());
    }
  }
  const std::string materials = WriteMaterials(*rig_, names, pictures_, buffer);
  std::vector<GlbPlacement> placements;
  Int32 skins = 0;
  for (const Mesh& mesh : meshes_) {
    const FileVertices& file = *mesh.file;
    placements.push_back({mesh.node, mesh.skin >= 0 ? skins++ : -1,
                          mesh.node >= 0 ? rig_->nodes[mesh.node].name
                                         : (file.object.empty() ? file.mesh : file.object)});
  }
  const GlbNodes nodes = WriteNodes(*rig_, rest_, placements);
  std::string meshes;
  for (size_t m = 0; m < meshes_.size(); ++m)
    meshes += (m > 0 ? "," : "") + MeshJson(m, buffer, materialOf[m]);
  const std::string skinJson = SkinsJson(buffer);
  const std::string animations = AnimationsJson(buffer, nodes.meshNode);
  std::string json = "{\"asset\":{\"version\":\"2.0\",\"generator\":\"tessamire\"}";
  if (options_.quantised)
    json +=
        ",\"extensionsUsed\":[\"KHR_mesh_quantization\"],"
        "\"extensionsRequired\":[\"KHR_mesh_quantization\"]";
  json += ",\"scene\":0,\"scenes\":[{\"nodes\":[" + nodes.roots + "]}],\"nodes\":[" + nodes.nodes +
          "],\"meshes\":[" + meshes + "]" + materials;
  if (!skinJson.empty()) json += ",\"skins\":[" + skinJson + "]";
  if (!animations.empty()) json += ",\"animations\":[" + animations + "]";
  json += ",\"accessors\":[" + buffer.Accessors() + "],\"bufferViews\":[" + buffer.Views() +
          "],\"buffers\":[{\"byteLength\":" + std::to_string(buffer.Bytes()) + "}]}";
  return GlbFileImage(std::move(json), buffer.Bin());
}

void SkinGlbWriter::Write(const std::string& path) const {
  std::string image;
  try {
    image = Image();
  } catch (const std::runtime_error& e) {
    throw std::runtime_error(path + ": " + e.what());
  }
  OutputFile out(path);
  out.Write(image);
  out.Commit();
}

}  // namespace headless
