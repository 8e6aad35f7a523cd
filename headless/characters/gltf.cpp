#include "headless/characters/gltf.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <stdexcept>

#include "headless/characters/glb_builder.h"
#include "headless/files/output_file.h"
#include "headless/files/shortest_number.h"

namespace headless {
namespace {

constexpr std::uint32_t kGlbMagic = 0x46546C67;   // "glTF"
constexpr std::uint32_t kJsonChunk = 0x4E4F534A;  // "JSON"
constexpr std::uint32_t kBinChunk = 0x004E4942;   // "BIN\0"

// glTF holds float32: a number beyond its range is refused rather than written as infinite.
Float32 Narrow(Float value) {
  const Float32 narrow = static_cast<Float32>(value);
  if (!std::isfinite(narrow))
    throw std::invalid_argument(ShortestNumber(value) +
                                " does not fit in the float32 numbers a glTF holds");
  return narrow;
}

}  // namespace

struct GlbWriter::Layout {
  struct MeshPieces {
    Int64 rest = 0, normals = 0, uvs = 0, targets = 0, turns = 0, weights = 0;
    std::vector<Int64> indices;  // per primitive
  };
  std::vector<MeshPieces> meshes;
  Int64 times = 0;
  Int64 binBytes = 0;
};

void GlbWriter::AddMesh(std::shared_ptr<const FileVertices> file,
                        std::span<const Vector3> restPositions,
                        std::span<const Vector3> restNormals) {
  if (!times_.empty()) throw std::invalid_argument("a mesh added after the first frame");
  const Int64 vertices = file->VertexCount();
  if (vertices == 0) throw std::invalid_argument("a mesh without vertices");
  if (static_cast<Int64>(restPositions.size()) != vertices ||
      (!file->normals.empty() && static_cast<Int64>(restNormals.size()) != vertices))
    throw std::invalid_argument(std::to_string(restPositions.size()) + " positions and " +
                                std::to_string(restNormals.size()) + " normals for " +
                                std::to_string(vertices) + " vertices");
  Mesh mesh;
  mesh.file = file;
  for (size_t v = 0; v < restPositions.size(); ++v) {
    const Vector3& p = restPositions[v];
    mesh.rest.insert(mesh.rest.end(),
                     {GlbNarrowAt(p.x, meshes_.size(), v), GlbNarrowAt(p.y, meshes_.size(), v),
                      GlbNarrowAt(p.z, meshes_.size(), v)});
  }
  if (!file->normals.empty())
    for (const Vector3& n : restNormals) GlbAppendUnit(mesh.normals, n);
  for (size_t k = 0; k + 1 < file->uvs.size(); k += 2)
    mesh.uvs.insert(mesh.uvs.end(), {file->uvs[k], 1.0f - file->uvs[k + 1]});

  // One primitive per material, in order of first use; faces as fans from their first corner.
  std::vector<Int32> primitiveOf;  // by material + 1
  for (Int64 f = 0; f < file->FaceCount(); ++f) {
    Int32 material = -1;
    if (file->faceMaterial[f] >= 0) {
      const std::string& name = file->materials[file->faceMaterial[f]];
      const auto it = std::find(materials_.begin(), materials_.end(), name);
      material = static_cast<Int32>(it - materials_.begin());
      if (it == materials_.end()) materials_.push_back(name);
    }
    const size_t slot = static_cast<size_t>(file->faceMaterial[f] + 1);
    if (primitiveOf.size() <= slot) primitiveOf.resize(slot + 1, -1);
    if (primitiveOf[slot] < 0) {
      primitiveOf[slot] = static_cast<Int32>(mesh.primitives.size());
      mesh.primitives.push_back({material, {}});
    }
    std::vector<UInt32>& indices = mesh.primitives[primitiveOf[slot]].indices;
    const Int32* corner = file->cornerVertex.data() + file->faceFirst[f];
    const Int64 count = file->faceFirst[f + 1] - file->faceFirst[f];
    for (Int64 k = 1; k + 1 < count; ++k)
      indices.insert(indices.end(), {static_cast<UInt32>(corner[0]), static_cast<UInt32>(corner[k]),
                                     static_cast<UInt32>(corner[k + 1])});
  }
  meshes_.push_back(std::move(mesh));
}

void GlbWriter::AddFrame(Float seconds, const std::vector<std::span<const Vector3>>& positions,
                         const std::vector<std::span<const Vector3>>& normals) {
  if (!std::isfinite(seconds) || seconds < 0.0 ||
      (!times_.empty() && !(Narrow(seconds) > times_.back())))
    throw std::invalid_argument("frame time " + ShortestNumber(seconds) +
                                " s does not follow the last frame's");
  if (positions.size() != meshes_.size() || normals.size() != meshes_.size())
    throw std::invalid_argument("a frame of " + std::to_string(positions.size()) + " meshes for " +
                                std::to_string(meshes_.size()));
  for (size_t m = 0; m < meshes_.size(); ++m) {
    const Mesh& mesh = meshes_[m];
    if (static_cast<Int64>(positions[m].size()) != mesh.Vertices() ||
        (!mesh.normals.empty() && static_cast<Int64>(normals[m].size()) != mesh.Vertices()))
      throw std::invalid_argument("a frame of mesh " + std::to_string(m) + " has " +
                                  std::to_string(positions[m].size()) + " positions for " +
                                  std::to_string(mesh.Vertices()) + " vertices");
  }
  // Worked out whole before anything is kept, so a refused frame leaves the file as it was.
  struct Frame {
    std::vector<Float32> offsets, turns;
  };
  std::vector<Frame> added(meshes_.size());
  for (size_t m = 0; m < meshes_.size(); ++m) {
    const Mesh& mesh = meshes_[m];
    Frame& frame = added[m];
    frame.offsets.reserve(3 * positions[m].size());
    for (size_t v = 0; v < positions[m].size(); ++v) {
      const Vector3& p = positions[m][v];
      const Float32 offset[3] = {GlbNarrowAt(p.x - mesh.rest[3 * v], m, v),
                                 GlbNarrowAt(p.y - mesh.rest[3 * v + 1], m, v),
                                 GlbNarrowAt(p.z - mesh.rest[3 * v + 2], m, v)};
      frame.offsets.insert(frame.offsets.end(), offset, offset + 3);
    }
    if (mesh.normals.empty()) continue;
    for (const Vector3& n : normals[m]) GlbAppendUnit(frame.turns, n);
    for (size_t k = 0; k < frame.turns.size(); ++k) frame.turns[k] -= mesh.normals[k];
  }
  for (size_t m = 0; m < meshes_.size(); ++m) {
    Mesh& mesh = meshes_[m];
    const Frame& frame = added[m];
    mesh.offsets.insert(mesh.offsets.end(), frame.offsets.begin(), frame.offsets.end());
    mesh.turns.insert(mesh.turns.end(), frame.turns.begin(), frame.turns.end());
  }
  times_.push_back(Narrow(seconds));
}

GlbWriter::Layout GlbWriter::Plan() const {
  Layout layout;
  Int64 at = 0;
  const Int64 frames = FrameCount();
  for (const Mesh& mesh : meshes_) {
    Layout::MeshPieces pieces;
    const Int64 vertexBytes = 12 * mesh.Vertices();
    pieces.rest = at;
    at += vertexBytes;
    pieces.normals = at;
    if (!mesh.normals.empty()) at += vertexBytes;
    pieces.uvs = at;
    at += 4 * static_cast<Int64>(mesh.uvs.size());
    for (const Primitive& primitive : mesh.primitives) {
      pieces.indices.push_back(at);
      at += 4 * static_cast<Int64>(primitive.indices.size());
    }
    pieces.targets = at;
    at += frames * vertexBytes;
    pieces.turns = at;
    if (!mesh.normals.empty()) at += frames * vertexBytes;
    layout.meshes.push_back(std::move(pieces));
  }
  layout.times = at;
  at += 4 * frames;
  for (Layout::MeshPieces& pieces : layout.meshes) {
    pieces.weights = at;
    at += 4 * frames * frames;
  }
  layout.binBytes = at;
  return layout;
}

// The JSON of one mesh and its node, appended to the lists of the whole file.
struct GlbWriter::MeshLists {
  std::string nodes, meshes, animationSamplers, animationChannels;
};

std::string GlbWriter::Attributes(size_t m, const Layout& layout, GlbTables& tables) const {
  const Mesh& mesh = meshes_[m];
  const Layout::MeshPieces& pieces = layout.meshes[m];
  const Int64 vertices = mesh.Vertices();
  const Int64 vertexBytes = 12 * vertices;
  std::string attributes =
      "\"POSITION\":" +
      std::to_string(tables.Accessor(tables.View(pieces.rest, vertexBytes, kGlbArrayBuffer), 0,
                                     kGlbFloat, vertices, "VEC3", GlbBounds(mesh.rest, 3)));
  if (!mesh.normals.empty())
    attributes += ",\"NORMAL\":" + std::to_string(tables.Accessor(
                                       tables.View(pieces.normals, vertexBytes, kGlbArrayBuffer), 0,
                                       kGlbFloat, vertices, "VEC3", ""));
  if (!mesh.uvs.empty())
    attributes += ",\"TEXCOORD_0\":" + std::to_string(tables.Accessor(
                                           tables.View(pieces.uvs, 8 * vertices, kGlbArrayBuffer),
                                           0, kGlbFloat, vertices, "VEC2", ""));
  return attributes;
}

std::string GlbWriter::Targets(size_t m, const Layout& layout, GlbTables& tables) const {
  const Mesh& mesh = meshes_[m];
  const Layout::MeshPieces& pieces = layout.meshes[m];
  const Int64 frames = FrameCount();
  const Int64 vertices = mesh.Vertices();
  const Int64 vertexBytes = 12 * vertices;
  std::string targets;
  const Int64 targetView = tables.View(pieces.targets, frames * vertexBytes, kGlbArrayBuffer, 12);
  const Int64 turnView = mesh.normals.empty()
                             ? -1
                             : tables.View(pieces.turns, frames * vertexBytes, kGlbArrayBuffer, 12);
  for (Int64 k = 0; k < frames; ++k) {
    targets +=
        std::string(k > 0 ? "," : "") + "{\"POSITION\":" +
        std::to_string(tables.Accessor(targetView, k * vertexBytes, kGlbFloat, vertices, "VEC3",
                                       GlbBounds(std::span(mesh.offsets)
                                                     .subspan(static_cast<size_t>(3 * vertices * k),
                                                              static_cast<size_t>(3 * vertices)),
                                                 3)));
    if (turnView >= 0)
      targets += ",\"NORMAL\":" + std::to_string(tables.Accessor(turnView, k * vertexBytes,
                                                                 kGlbFloat, vertices, "VEC3", ""));
    targets += "}";
  }
  return targets;
}

void GlbWriter::AddMeshJson(size_t m, const Layout& layout, Int64 timesAccessor, GlbTables& tables,
                            MeshLists& lists) const {
  const Mesh& mesh = meshes_[m];
  const Layout::MeshPieces& pieces = layout.meshes[m];
  const Int64 frames = FrameCount();
  const std::string attributes = Attributes(m, layout, tables);
  const std::string targets = frames > 0 ? Targets(m, layout, tables) : std::string();
  std::string primitives;
  for (size_t p = 0; p < mesh.primitives.size(); ++p) {
    const Primitive& primitive = mesh.primitives[p];
    const Int64 count = static_cast<Int64>(primitive.indices.size());
    if (count == 0) continue;
    UInt32 highest = 0, lowest = primitive.indices[0];
    for (UInt32 i : primitive.indices) {
      highest = std::max(highest, i);
      lowest = std::min(lowest, i);
    }
    const Int64 indices = tables.Accessor(
        tables.View(pieces.indices[p], 4 * count, kGlbElementArrayBuffer), 0, kGlbUnsignedInt,
        count, "SCALAR",
        ",\"min\":[" + std::to_string(lowest) + "],\"max\":[" + std::to_string(highest) + "]");
    primitives += std::string(primitives.empty() ? "" : ",") + "{\"attributes\":{" + attributes +
                  "},\"indices\":" + std::to_string(indices) +
                  (primitive.material >= 0 ? ",\"material\":" + std::to_string(primitive.material)
                                           : std::string()) +
                  ",\"mode\":4" + (frames > 0 ? ",\"targets\":[" + targets + "]" : "") + "}";
  }
  if (primitives.empty())  // no face: the vertices as points
    primitives = "{\"attributes\":{" + attributes + "},\"mode\":0" +
                 (frames > 0 ? ",\"targets\":[" + targets + "]" : "") + "}";
  const FileVertices& file = *mesh.file;
  std::string meshJson = "{\"name\":" + GlbJsonString(file.mesh.empty() ? file.object : file.mesh) +
                         ",\"primitives\":[" + primitives + "]";
  if (frames > 0) {
    std::string weights, names;
    for (Int64 k = 0; k < frames; ++k) {
      weights += k > 0 ? ",0" : "0";
      names += std::string(k > 0 ? "," : "") + "\"frame " + std::to_string(k) + "\"";
    }
    meshJson += ",\"weights\":[" + weights + "],\"extras\":{\"targetNames\":[" + names + "]}";
    const Int64 output = tables.Accessor(tables.View(pieces.weights, 4 * frames * frames, 0), 0,
                                         kGlbFloat, frames * frames, "SCALAR", "");
    lists.animationSamplers +=
        std::string(m > 0 ? "," : "") + "{\"input\":" + std::to_string(timesAccessor) +
        ",\"output\":" + std::to_string(output) + ",\"interpolation\":\"LINEAR\"}";
    lists.animationChannels += std::string(m > 0 ? "," : "") + "{\"sampler\":" + std::to_string(m) +
                               ",\"target\":{\"node\":" + std::to_string(m) +
                               ",\"path\":\"weights\"}}";
  }
  lists.meshes += std::string(m > 0 ? "," : "") + meshJson + "}";
  lists.nodes += std::string(m > 0 ? "," : "") +
                 "{\"name\":" + GlbJsonString(file.object.empty() ? file.mesh : file.object) +
                 ",\"mesh\":" + std::to_string(m) + "}";
}

std::string GlbWriter::Json(const Layout& layout) const {
  GlbTables tables;
  const Int64 frames = FrameCount();
  MeshLists lists;
  Int64 timesAccessor = -1;
  if (frames > 0) {
    timesAccessor = tables.Accessor(tables.View(layout.times, 4 * frames, 0), 0, kGlbFloat, frames,
                                    "SCALAR", GlbBounds(times_, 1));
  }
  for (size_t m = 0; m < meshes_.size(); ++m) AddMeshJson(m, layout, timesAccessor, tables, lists);

  std::string sceneNodes, materials;
  for (size_t m = 0; m < meshes_.size(); ++m) sceneNodes += (m > 0 ? "," : "") + std::to_string(m);
  for (size_t k = 0; k < materials_.size(); ++k)
    materials += std::string(k > 0 ? "," : "") + "{\"name\":" + GlbJsonString(materials_[k]) +
                 ",\"pbrMetallicRoughness\":{\"metallicFactor\":0,\"roughnessFactor\":1}}";
  std::string json =
      "{\"asset\":{\"version\":\"2.0\",\"generator\":\"tessamire\"},\"scene\":0,"
      "\"scenes\":[{\"nodes\":[" +
      sceneNodes + "]}],\"nodes\":[" + lists.nodes + "],\"meshes\":[" + lists.meshes + "]";
  if (!materials.empty()) json += ",\"materials\":[" + materials + "]";
  if (frames > 0)
    json += ",\"animations\":[{\"name\":\"frames\",\"samplers\":[" + lists.animationSamplers +
            "],\"channels\":[" + lists.animationChannels + "]}]";
  json += ",\"accessors\":[" + tables.Accessors() + "],\"bufferViews\":[" + tables.Views() +
          "],\"buffers\":[{\"byteLength\":" + std::to_string(layout.binBytes) + "}]}";
  return json;
}

template <typename Sink>
void GlbWriter::Emit(Sink&& sink) const {
  const Layout layout = Plan();
  std::string json = Json(layout);
  json.append((4 - json.size() % 4) % 4, ' ');
  const Int64 total = 12 + 8 + static_cast<Int64>(json.size()) + 8 + layout.binBytes;
  if (total > kMaxGlbBytes)
    throw std::runtime_error("the glTF would take " + std::to_string(total) +
                             " bytes, more than the 4 GiB a binary glTF can hold; write fewer "
                             "frames to it, or a point cache");
  const auto words = [&](std::initializer_list<std::uint32_t> values) {
    for (std::uint32_t v : values) {
      const std::uint8_t bytes[4] = {
          static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8),
          static_cast<std::uint8_t>(v >> 16), static_cast<std::uint8_t>(v >> 24)};
      sink(bytes, 4);
    }
  };
  const auto floats = [&](const std::vector<Float32>& values) {
    if (!values.empty()) sink(values.data(), values.size() * sizeof(Float32));
  };
  words({kGlbMagic, 2, static_cast<std::uint32_t>(total)});
  words({static_cast<std::uint32_t>(json.size()), kJsonChunk});
  sink(json.data(), json.size());
  words({static_cast<std::uint32_t>(layout.binBytes), kBinChunk});
  for (const Mesh& mesh : meshes_) {
    floats(mesh.rest);
    floats(mesh.normals);
    floats(mesh.uvs);
    for (const Primitive& primitive : mesh.primitives)
      if (!primitive.indices.empty())
        sink(primitive.indices.data(), primitive.indices.size() * sizeof(UInt32));
    floats(mesh.offsets);
    floats(mesh.turns);
  }
  floats(times_);
  std::vector<Float32> key(times_.size(), 0.0f);
  for (size_t m = 0; m < meshes_.size(); ++m)
    for (size_t k = 0; k < times_.size(); ++k) {
      key[k] = 1.0f;
      floats(key);
      key[k] = 0.0f;
    }
}

Int64 GlbWriter::Bytes() const {
  const Layout layout = Plan();
  const Int64 json = static_cast<Int64>(Json(layout).size());
  return 12 + 8 + (json + 3) / 4 * 4 + 8 + layout.binBytes;
}

std::string GlbWriter::Image() const {
  std::string image;
  Emit(
      [&](const void* data, size_t bytes) { image.append(static_cast<const char*>(data), bytes); });
  return image;
}

void GlbWriter::Write(const std::string& path) const {
  OutputFile out(path);
  try {
    Emit([&](const void* data, size_t bytes) {
      out.Write(std::string_view(static_cast<const char*>(data), bytes));
    });
  } catch (const std::runtime_error& e) {
    const std::string what = e.what();
    if (what.rfind(path + ":", 0) == 0) throw;
    throw std::runtime_error(path + ": " + what);
  }
  out.Commit();
}

}  // namespace headless
