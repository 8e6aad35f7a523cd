#include "headless/characters/gltf_reader.h"

#include <cstdint>
#include <cstring>
#include <stdexcept>

#include "headless/files/input_file.h"

#if TESSAMIRE_HAVE_ASSIMP
#include <algorithm>
#include <cmath>

#include <assimp/postprocess.h>
#include <assimp/scene.h>
#include <assimp/Importer.hpp>

#include "headless/characters/asset_io.h"
#include "headless/characters/gltf_skin_player.h"
#endif

namespace headless {
namespace {

constexpr char kGlbMagic[] = "glTF";

}  // namespace

bool IsGlbFile(const std::string& path) {
  if (path == "-") return false;
  try {
    // Only a regular file: telling a pipe's format would take bytes its reader then misses.
    InputFile in(path);
    if (!in.Size()) return false;
    std::string head;
    return in.Read(4, head) == 4 && head == kGlbMagic;
  } catch (const std::exception&) {
    return false;
  }
}

#if !TESSAMIRE_HAVE_ASSIMP

bool GlbReadingAvailable() {
  return false;
}

std::vector<MorphedMesh> ReadGlb(const std::string& path, const std::string&) {
  throw std::runtime_error(path +
                           ": this build has no Assimp library (libassimp-dev), which reads glTF");
}

#else

namespace {

Vector3 FromAssimp(const aiVector3D& v) {
  return {v.x, v.y, v.z};
}

std::vector<Vector3> Positions(const aiVector3D* vertices, unsigned count) {
  std::vector<Vector3> out;
  out.reserve(count);
  for (unsigned v = 0; v < count; ++v) out.push_back(FromAssimp(vertices[v]));
  return out;
}

// Appends the mesh's faces over its vertices shifted by `first`: 3 and 4 corners as they are,
// more as fans from the first corner, fewer left out.
void AddFaces(const aiMesh& mesh, Int32 first, std::vector<CPolygon>& polygons) {
  for (unsigned f = 0; f < mesh.mNumFaces; ++f) {
    const aiFace& face = mesh.mFaces[f];
    const auto corner = [&](unsigned i) { return first + static_cast<Int32>(face.mIndices[i]); };
    if (face.mNumIndices == 4) {
      polygons.push_back({corner(0), corner(1), corner(2), corner(3)});
      continue;
    }
    for (unsigned i = 2; i < face.mNumIndices; ++i)
      polygons.push_back({corner(0), corner(i - 1), corner(i), corner(i)});
  }
}

bool SameVertices(const aiMesh& a, const aiMesh& b) {
  if (a.mNumVertices != b.mNumVertices || a.mNumAnimMeshes != b.mNumAnimMeshes) return false;
  const auto same = [&](const aiVector3D* x, const aiVector3D* y) {
    return std::memcmp(x, y, sizeof(aiVector3D) * a.mNumVertices) == 0;
  };
  if (!same(a.mVertices, b.mVertices)) return false;
  for (unsigned k = 0; k < a.mNumAnimMeshes; ++k)
    if (a.mAnimMeshes[k]->mVertices == nullptr || b.mAnimMeshes[k]->mVertices == nullptr ||
        !same(a.mAnimMeshes[k]->mVertices, b.mAnimMeshes[k]->mVertices))
      return false;
  return true;
}

// Frame k's time: the first key of the node's weight channel where target k weighs 1 alone.
std::vector<Float> FrameSeconds(const aiScene& scene, const std::string& node, size_t frames) {
  std::vector<Float> seconds(frames);
  for (size_t k = 0; k < frames; ++k) seconds[k] = static_cast<Float>(k);
  for (unsigned a = 0; a < scene.mNumAnimations; ++a) {
    const aiAnimation& animation = *scene.mAnimations[a];
    const Float ticks = animation.mTicksPerSecond > 0.0 ? animation.mTicksPerSecond : 1.0;
    for (unsigned c = 0; c < animation.mNumMorphMeshChannels; ++c) {
      const aiMeshMorphAnim& channel = *animation.mMorphMeshChannels[c];
      if (node != channel.mName.C_Str()) continue;
      std::vector<bool> timed(frames, false);
      for (unsigned key = 0; key < channel.mNumKeys; ++key) {
        const aiMeshMorphKey& k = channel.mKeys[key];
        Int64 alone = -1;
        for (unsigned i = 0; i < k.mNumValuesAndWeights; ++i) {
          if (k.mWeights[i] == 0.0) continue;
          alone = alone == -1 && k.mWeights[i] == 1.0 ? static_cast<Int64>(k.mValues[i]) : -2;
        }
        if (alone >= 0 && static_cast<size_t>(alone) < frames && !timed[alone] &&
            std::isfinite(k.mTime)) {
          seconds[alone] = k.mTime / ticks;
          timed[alone] = true;
        }
      }
      return seconds;
    }
  }
  return seconds;
}

// One node's meshes: those sharing the first's vertices drawn as one mesh, any other on its own.
void AddNodeMeshes(const aiScene& scene, const aiNode& node, std::vector<MorphedMesh>& out) {
  std::vector<bool> taken(node.mNumMeshes, false);
  for (unsigned i = 0; i < node.mNumMeshes; ++i) {
    if (taken[i]) continue;
    const aiMesh& first = *scene.mMeshes[node.mMeshes[i]];
    MorphedMesh mesh;
    mesh.name = node.mName.length > 0 ? node.mName.C_Str() : first.mName.C_Str();
    mesh.rest.points = Positions(first.mVertices, first.mNumVertices);
    for (unsigned k = 0; k < first.mNumAnimMeshes; ++k) {
      const aiAnimMesh& target = *first.mAnimMeshes[k];
      mesh.frames.push_back(target.mVertices != nullptr && target.mNumVertices == first.mNumVertices
                                ? Positions(target.mVertices, target.mNumVertices)
                                : mesh.rest.points);
    }
    for (unsigned j = i; j < node.mNumMeshes; ++j) {
      const aiMesh& other = *scene.mMeshes[node.mMeshes[j]];
      if (j != i && (taken[j] || !SameVertices(first, other))) continue;
      taken[j] = true;
      AddFaces(other, 0, mesh.rest.polygons);
    }
    mesh.seconds = FrameSeconds(scene, node.mName.C_Str(), mesh.frames.size());
    if (!mesh.rest.polygons.empty()) out.push_back(std::move(mesh));
  }
}

void AddTree(const aiScene& scene, const aiNode& node, std::vector<MorphedMesh>& out, int depth) {
  if (depth > 1000) throw std::runtime_error("its nodes nest deeper than 1000");
  AddNodeMeshes(scene, node, out);
  for (unsigned c = 0; c < node.mNumChildren; ++c)
    AddTree(scene, *node.mChildren[c], out, depth + 1);
}

// Frames of all meshes together past this many bytes are refused before they are played.
constexpr Int64 kMaxSkinnedFrameBytes = Int64{4} << 30;

// Each key's seconds on one timeline: an animation after another starts a step (its
// predecessor's last key spacing, else a second) after the other's last key.
std::vector<Float> KeySeconds(const std::vector<GlbKey>& keys) {
  std::vector<Float> seconds(keys.size());
  Float offset = 0.0, end = -HUGE_VAL, step = 1.0;
  for (size_t k = 0; k < keys.size(); ++k) {
    if (k > 0 && keys[k].animation != keys[k - 1].animation) offset = end + step - keys[k].seconds;
    seconds[k] = offset + keys[k].seconds;
    if (k > 0 && keys[k].animation == keys[k - 1].animation) step = seconds[k] - end;
    end = seconds[k];
  }
  return seconds;
}

// A skinned glTF played at each of its keys as an engine plays it (gltf_skin_player.h): per mesh
// its points at rest (every node at its own transform, no animation) and one frame per key.
std::vector<MorphedMesh> ReadSkinnedGlb(const std::string& bytes) {
  const std::shared_ptr<const GlbDocument> document = ParseGlbDocument(bytes);
  const std::vector<PlayedGlbMesh> rest = PlayGlb(*document, -1, 0.0);
  std::vector<MorphedMesh> meshes(rest.size());
  std::vector<std::vector<GlbKey> > keys(rest.size());
  std::vector<GlbKey> all;
  Int64 bytesHeld = 0;
  for (size_t m = 0; m < rest.size(); ++m) {
    meshes[m].name = rest[m].name;
    meshes[m].rest.points = rest[m].positions;
    meshes[m].rest.polygons = GlbMeshFaces(*document, rest[m]);
    keys[m] = GlbNodeKeys(*document, rest[m].node);
    meshes[m].seconds = KeySeconds(keys[m]);
    all.insert(all.end(), keys[m].begin(), keys[m].end());
    bytesHeld += static_cast<Int64>(keys[m].size() * rest[m].positions.size() * sizeof(Vector3));
  }
  if (bytesHeld > kMaxSkinnedFrameBytes)
    throw std::runtime_error("its frames would hold " + std::to_string(bytesHeld) +
                             " bytes of points, more than " +
                             std::to_string(kMaxSkinnedFrameBytes) + " this reader plays");
  const auto before = [](const GlbKey& a, const GlbKey& b) {
    return a.animation != b.animation ? a.animation < b.animation : a.seconds < b.seconds;
  };
  std::sort(all.begin(), all.end(), before);
  all.erase(std::unique(all.begin(), all.end(),
                        [](const GlbKey& a, const GlbKey& b) {
                          return a.animation == b.animation && a.seconds == b.seconds;
                        }),
            all.end());
  // One play per distinct key, its meshes handed to those keyed there.
  std::vector<size_t> next(rest.size(), 0);
  for (const GlbKey& key : all) {
    std::vector<PlayedGlbMesh> played = PlayGlb(*document, key.animation, key.seconds);
    for (size_t m = 0; m < rest.size(); ++m) {
      if (next[m] >= keys[m].size() || keys[m][next[m]].animation != key.animation ||
          keys[m][next[m]].seconds != key.seconds)
        continue;
      meshes[m].frames.push_back(std::move(played[m].positions));
      ++next[m];
    }
  }
  std::vector<MorphedMesh> out;
  for (MorphedMesh& mesh : meshes)
    if (!mesh.rest.polygons.empty()) out.push_back(std::move(mesh));
  return out;
}

}  // namespace

bool GlbReadingAvailable() {
  return true;
}

// Whether the JSON chunk of a binary glTF has a top-level-looking "skins" key, played rather than
// read through Assimp, whose targets alone are no frames (a name that says
// skins is a value, never followed by a colon; an escaped quote inside a name is preceded by a
// backslash).
static bool HoldsSkins(const std::string& glb) {
  if (glb.size() < 20) return false;
  std::uint64_t length = 0;
  for (int i = 3; i >= 0; --i) length = length << 8 | static_cast<unsigned char>(glb[12 + i]);
  const std::string_view json(glb.data() + 20, std::min<std::uint64_t>(length, glb.size() - 20));
  for (size_t at = json.find("\"skins\":"); at != std::string_view::npos;
       at = json.find("\"skins\":", at + 1))
    if (at == 0 || json[at - 1] != '\\') return true;
  return false;
}

std::vector<MorphedMesh> ReadGlb(const std::string& path, const std::string& assetRoot) {
  // The header first, then exactly the length it announces, so that a device or an endless pipe
  // is refused before anything large is held.
  InputFile in(path);
  std::string bytes;
  in.Read(12, bytes);
  if (bytes.size() < 12 || bytes.compare(0, 4, kGlbMagic) != 0)
    throw std::runtime_error(path + ": not a binary glTF file (it does not start with \"glTF\")");
  std::uint64_t length = 0;
  for (int i = 3; i >= 0; --i) length = length << 8 | static_cast<unsigned char>(bytes[8 + i]);
  if (length < 12 || (in.Size() && *in.Size() != length))
    throw std::runtime_error(path + ": its header announces " + std::to_string(length) +
                             " bytes, but the file holds " +
                             (in.Size() ? std::to_string(*in.Size()) : std::string("other")));
  if (in.Read(length - 12 + 1, bytes) != length - 12 || bytes.size() != length)
    throw std::runtime_error(path + ": its header announces " + std::to_string(length) +
                             " bytes, but the file holds " + std::to_string(bytes.size()) +
                             (bytes.size() > length ? " or more" : ""));
  if (HoldsSkins(bytes)) {
    std::vector<MorphedMesh> meshes;
    try {
      meshes = ReadSkinnedGlb(bytes);
    } catch (const std::runtime_error& e) {
      throw std::runtime_error(path + ": " + e.what());
    }
    if (meshes.empty()) throw std::runtime_error(path + ": holds no mesh of faces");
    return meshes;
  }
  Assimp::Importer importer;
  // Buffers in other files come from the file's own folder's tree only, never the current folder.
  auto* io = new RootedIOSystem(path == "-" ? AssetRootForBytes(assetRoot)
                                            : AssetRootFor(path, assetRoot));
  importer.SetIOHandler(io);  // the importer owns it
  const aiScene* scene = importer.ReadFileFromMemory(bytes.data(), bytes.size(),
                                                     aiProcess_ValidateDataStructure, "glb");
  if (!io->Refusal().empty())
    throw std::runtime_error(path + ": " + io->Refusal() + "; nothing of it is read");
  if (scene == nullptr || scene->mRootNode == nullptr)
    throw std::runtime_error(path + ": cannot be read as glTF (" + importer.GetErrorString() + ")");
  std::vector<MorphedMesh> meshes;
  try {
    AddTree(*scene, *scene->mRootNode, meshes, 0);
  } catch (const std::runtime_error& e) {
    throw std::runtime_error(path + ": " + e.what());
  }
  if (meshes.empty()) throw std::runtime_error(path + ": holds no mesh of faces");
  return meshes;
}

#endif

}  // namespace headless
