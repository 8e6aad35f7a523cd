#include "headless/characters/character.h"

#include <cctype>
#include <cmath>
#include <optional>
#include <stdexcept>

#include "headless/files/input_file.h"
#include "headless/platform/paths.h"

#if TESSAMIRE_HAVE_ASSIMP
#include <algorithm>
#include <cctype>
#include <cstring>
#include <filesystem>
#include <map>
#include <set>
#include <unordered_map>

#include <assimp/BaseImporter.h>
#include <assimp/DefaultIOSystem.h>
#include <assimp/MemoryIOWrapper.h>
#include <assimp/importerdesc.h>
#include <assimp/postprocess.h>
#include <assimp/scene.h>
#include <assimp/Importer.hpp>

#include "headless/characters/asset_io.h"
#include "headless/characters/clip_timing.h"
#include "headless/characters/gltf_precheck.h"
#include "headless/characters/rig_import.h"
#include "headless/deformers/skin.h"
#include "headless/deformers/skinning.h"
#include "headless/files/printable.h"
#include "headless/files/shortest_number.h"
#include "headless/geometry/vector.h"
#include "headless/scene/object_names.h"
#endif

namespace headless {

namespace {

enum class CharacterFormat { kFbx, kGltf, kGlb, kCollada, kX };

// The extension that names a format taken, any case.
std::optional<CharacterFormat> FormatOfName(const std::string& path) {
  std::string extension = platform::Utf8FromPath(platform::PathFromUtf8(path).extension());
  for (char& c : extension) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (extension == ".fbx") return CharacterFormat::kFbx;
  if (extension == ".gltf") return CharacterFormat::kGltf;
  if (extension == ".glb") return CharacterFormat::kGlb;
  if (extension == ".dae") return CharacterFormat::kCollada;
  if (extension == ".x") return CharacterFormat::kX;
  return std::nullopt;
}

// The format the first bytes of a file show: a binary format's signature, or for text (UTF-8,
// or UTF-16, whose zero bytes are left out) a glTF's JSON object, a Collada document's element
// or an FBX's own words.
std::optional<CharacterFormat> FormatOfContent(std::string_view head) {
  if (head.starts_with(std::string_view("Kaydara FBX Binary  \0", 21)))
    return CharacterFormat::kFbx;
  if (head.starts_with("xof ")) return CharacterFormat::kX;
  if (head.size() >= 8 && head.starts_with("glTF") && head[4] == 2 && head[5] == 0 &&
      head[6] == 0 && head[7] == 0)
    return CharacterFormat::kGlb;
  std::string text;
  for (char c : head)
    if (c != '\0') text.push_back(c);
  size_t start = 0;
  for (std::string_view mark : {"\xEF\xBB\xBF", "\xFF\xFE", "\xFE\xFF"})
    if (std::string_view(text).substr(start).starts_with(mark)) start += mark.size();
  start = std::min(text.find_first_not_of(" \t\r\n", start), text.size());
  const std::string_view body = std::string_view(text).substr(start);
  if (body.starts_with("{")) return CharacterFormat::kGltf;
  if (body.find("<COLLADA") != std::string_view::npos) return CharacterFormat::kCollada;
  if (body.starts_with("; FBX") || body.find("FBXHeaderExtension") != std::string_view::npos)
    return CharacterFormat::kFbx;
  return std::nullopt;
}

// Enough of a file to tell its format.
constexpr std::uint64_t kFormatHeadBytes = 4096;

[[maybe_unused]] const char* ExtensionOf(CharacterFormat format) {
  switch (format) {
    case CharacterFormat::kFbx:
      return "fbx";
    case CharacterFormat::kGltf:
      return "gltf";
    case CharacterFormat::kGlb:
      return "glb";
    case CharacterFormat::kCollada:
      return "dae";
    case CharacterFormat::kX:
      return "x";
  }
  return "";
}

const char* FormatName(CharacterFormat format) {
  switch (format) {
    case CharacterFormat::kFbx:
      return "FBX";
    case CharacterFormat::kGltf:
      return "glTF 2.0's JSON";
    case CharacterFormat::kGlb:
      return "binary glTF 2.0";
    case CharacterFormat::kCollada:
      return "Collada";
    case CharacterFormat::kX:
      return "DirectX";
  }
  return "";
}

// Throws std::runtime_error naming `path` unless it names a format taken and is a regular file
// whose content is of that format.
[[maybe_unused]] CharacterFormat CheckCharacterFile(const std::string& path) {
  const std::optional<CharacterFormat> named = FormatOfName(path);
  if (!named)
    throw std::runtime_error(path + ": not a character file this program reads; it reads " +
                             CharacterFormats());
  InputFile in(path);
  // Assimp's readers seek about the file.
  if (!in.Size()) throw std::runtime_error(path + ": a character is read from a regular file");
  std::string head;
  in.Read(kFormatHeadBytes, head);
  const std::optional<CharacterFormat> content = FormatOfContent(head);
  if (content != named)
    throw std::runtime_error(path + ": its content is not " + FormatName(*named) +
                             ", as its name says; this program reads " + CharacterFormats());
  return *named;
}

}  // namespace

std::string CharacterFormats() {
  return "FBX (.fbx), glTF 2.0 (.gltf, .glb), Collada (.dae) and DirectX (.x)";
}

#if !TESSAMIRE_HAVE_ASSIMP

bool CharacterImportAvailable() {
  return false;
}

namespace {

[[noreturn]] void NoAssimp(const std::string& path) {
  throw std::runtime_error(path +
                           ": this build has no Assimp library (libassimp-dev), which reads "
                           "FBX, glTF, Collada and X files; import the mesh as OBJ instead");
}

}  // namespace

CharacterImport ImportCharacter(const std::string& path, Document&, const CharacterOptions&) {
  NoAssimp(path);
}

CharacterListing ListCharacter(const std::string& path, const CharacterOptions&) {
  NoAssimp(path);
}

CharacterImport ImportCharacterBytes(std::string_view, const std::string& name, Document&,
                                     const CharacterOptions&) {
  NoAssimp(name);
}

#else

namespace {

constexpr Float kDefaultFps = 30.0;
constexpr Float kMaxFileRate = 240.0;
// Keys fewer a second than this are a few poses to move between, not a clip's frames.
constexpr Float kMinKeyRate = 12.0;

struct Quaternion {
  Float w = 1.0, x = 0.0, y = 0.0, z = 0.0;
};

Quaternion Slerp(const Quaternion& a, Quaternion b, Float t) {
  Float cosine = a.w * b.w + a.x * b.x + a.y * b.y + a.z * b.z;
  if (cosine < 0.0) {  // the shorter way round
    cosine = -cosine;
    b = {-b.w, -b.x, -b.y, -b.z};
  }
  Float ka = 1.0 - t, kb = t;
  if (cosine < 0.9999) {
    const Float angle = std::acos(cosine);
    const Float sine = std::sin(angle);
    ka = std::sin((1.0 - t) * angle) / sine;
    kb = std::sin(t * angle) / sine;
  }
  return {ka * a.w + kb * b.w, ka * a.x + kb * b.x, ka * a.y + kb * b.y, ka * a.z + kb * b.z};
}

// Translation, then rotation, then scale applied to a point last-to-first: T * R * S.
Matrix Compose(const Vector3& position, Quaternion q, const Vector3& scale) {
  const Float norm = std::sqrt(q.w * q.w + q.x * q.x + q.y * q.y + q.z * q.z);
  if (norm > 0.0) q = {q.w / norm, q.x / norm, q.y / norm, q.z / norm};
  const Float w = q.w, x = q.x, y = q.y, z = q.z;
  Matrix m;
  m.off = position;
  m.v1 =
      Scale({1.0 - 2.0 * (y * y + z * z), 2.0 * (x * y + w * z), 2.0 * (x * z - w * y)}, scale.x);
  m.v2 =
      Scale({2.0 * (x * y - w * z), 1.0 - 2.0 * (x * x + z * z), 2.0 * (y * z + w * x)}, scale.y);
  m.v3 =
      Scale({2.0 * (x * z + w * y), 2.0 * (y * z - w * x), 1.0 - 2.0 * (x * x + y * y)}, scale.z);
  return m;
}

// The key interval holding `time` and the fraction through it (keys ascending by time, as
// CheckKeyTimes makes sure). Frames advance, so the interval is the cursor's or one shortly after
// it: each key is passed once over a clip, and a time before the cursor is found by bisection.
template <typename Key>
void Locate(const Key* keys, unsigned count, Float time, unsigned& cursor, unsigned& i, Float& t) {
  i = 0;
  t = 0.0;
  if (count < 2 || time <= keys[0].mTime) return;
  if (time >= keys[count - 1].mTime) {
    i = count - 1;
    return;
  }
  if (cursor >= count - 1 || keys[cursor].mTime > time)
    cursor = static_cast<unsigned>(
        std::upper_bound(keys, keys + count, time,
                         [](Float v, const Key& key) { return v < key.mTime; }) -
        keys - 1);
  while (keys[cursor + 1].mTime <= time) ++cursor;
  i = cursor;
  t = (time - keys[i].mTime) / (keys[i + 1].mTime - keys[i].mTime);
}

Vector3 VectorAt(const aiVectorKey* keys, unsigned count, Float time, unsigned& cursor,
                 const Vector3& none) {
  if (count == 0) return none;
  unsigned i = 0;
  Float t = 0.0;
  Locate(keys, count, time, cursor, i, t);
  const Vector3 a{keys[i].mValue.x, keys[i].mValue.y, keys[i].mValue.z};
  if (t == 0.0) return a;
  const Vector3 b{keys[i + 1].mValue.x, keys[i + 1].mValue.y, keys[i + 1].mValue.z};
  return Add(a, Scale(Sub(b, a), t));
}

Quaternion RotationAt(const aiQuatKey* keys, unsigned count, Float time, unsigned& cursor) {
  unsigned i = 0;
  Float t = 0.0;
  Locate(keys, count, time, cursor, i, t);
  const aiQuaternion& a = keys[i].mValue;
  const Quaternion qa{a.w, a.x, a.y, a.z};
  if (t == 0.0) return qa;
  const aiQuaternion& b = keys[i + 1].mValue;
  return Slerp(qa, {b.w, b.x, b.y, b.z}, t);
}

// Global transforms of every node at a time of the animation (or at rest without one). Each
// keyed node finds its channel once, and keeps a cursor per kind of key for the next time.
class Pose {
 public:
  Pose(const aiScene* scene, const aiAnimation* animation) : scene_(scene) {
    if (animation == nullptr) return;
    std::map<std::string, const aiNodeAnim*> named;  // the last channel of a name keys it
    for (unsigned c = 0; c < animation->mNumChannels; ++c)
      named[animation->mChannels[c]->mNodeName.C_Str()] = animation->mChannels[c];
    Find(scene->mRootNode, named);
  }

  // Node -> global transform; `animated` false gives every node its own transform.
  std::map<const aiNode*, Matrix> At(Float ticks, bool animated) {
    std::map<const aiNode*, Matrix> globals;
    Walk(scene_->mRootNode, Matrix(), ticks, animated, globals);
    return globals;
  }

 private:
  struct Channel {
    const aiNodeAnim* keys;
    unsigned cursors[3];  // position, rotation, scale
  };

  // Every node of a channel's name (names need not be unique) is keyed by it.
  void Find(const aiNode* node, const std::map<std::string, const aiNodeAnim*>& named) {
    const auto it = named.find(node->mName.C_Str());
    if (it != named.end()) channels_.emplace(node, Channel{it->second, {0, 0, 0}});
    for (unsigned i = 0; i < node->mNumChildren; ++i) Find(node->mChildren[i], named);
  }

  void Walk(const aiNode* node, const Matrix& parent, Float ticks, bool animated,
            std::map<const aiNode*, Matrix>& globals) {
    Matrix local = MatrixFromAssimp(node->mTransformation);
    const auto it = channels_.find(node);
    if (animated && it != channels_.end()) {
      const aiNodeAnim* c = it->second.keys;
      unsigned* cursors = it->second.cursors;
      aiVector3D s0, p0;
      aiQuaternion r0;
      node->mTransformation.Decompose(s0, r0, p0);
      const Vector3 position =
          VectorAt(c->mPositionKeys, c->mNumPositionKeys, ticks, cursors[0], {p0.x, p0.y, p0.z});
      const Vector3 scale =
          VectorAt(c->mScalingKeys, c->mNumScalingKeys, ticks, cursors[2], {s0.x, s0.y, s0.z});
      const Quaternion rotation =
          c->mNumRotationKeys == 0
              ? Quaternion{r0.w, r0.x, r0.y, r0.z}
              : RotationAt(c->mRotationKeys, c->mNumRotationKeys, ticks, cursors[1]);
      local = Compose(position, rotation, scale);
    }
    const Matrix global = Multiply(parent, local);
    globals[node] = global;
    for (unsigned i = 0; i < node->mNumChildren; ++i)
      Walk(node->mChildren[i], global, ticks, animated, globals);
  }

  const aiScene* scene_;
  std::unordered_map<const aiNode*, Channel> channels_;
};

// Every mesh of the scene by index, to the first node (depth first) that draws it: one walk for
// all meshes, where a walk per mesh would cost meshes times nodes.
std::vector<const aiNode*> NodesOfMeshes(const aiScene* scene) {
  std::vector<const aiNode*> nodes(scene->mNumMeshes, nullptr);
  std::vector<const aiNode*> stack{scene->mRootNode};
  while (!stack.empty()) {
    const aiNode* node = stack.back();
    stack.pop_back();
    for (unsigned i = 0; i < node->mNumMeshes; ++i)
      if (node->mMeshes[i] < scene->mNumMeshes && nodes[node->mMeshes[i]] == nullptr)
        nodes[node->mMeshes[i]] = node;
    for (unsigned i = node->mNumChildren; i-- > 0;) stack.push_back(node->mChildren[i]);
  }
  return nodes;
}

struct PositionKey {
  std::uint32_t x, y, z;
  bool operator==(const PositionKey&) const = default;
};
struct PositionHash {
  size_t operator()(const PositionKey& k) const {
    return (size_t{k.x} * 73856093u) ^ (size_t{k.y} * 19349663u) ^ (size_t{k.z} * 83492791u);
  }
};

std::uint32_t Bits(float v) {
  v += 0.0f;  // -0 and +0 are one position
  std::uint32_t bits = 0;
  std::memcpy(&bits, &v, sizeof bits);
  return bits;
}

struct Welded {
  std::vector<Vector3> points;
  std::vector<Int32> vertexToPoint;
  std::vector<unsigned> firstVertex;  // per point
};

Welded Weld(const aiMesh* mesh) {
  Welded w;
  std::unordered_map<PositionKey, Int32, PositionHash> index;
  w.vertexToPoint.resize(mesh->mNumVertices);
  for (unsigned v = 0; v < mesh->mNumVertices; ++v) {
    const aiVector3D& p = mesh->mVertices[v];
    const auto [it, added] = index.emplace(PositionKey{Bits(p.x), Bits(p.y), Bits(p.z)},
                                           static_cast<Int32>(w.points.size()));
    if (added) {
      w.points.push_back({p.x, p.y, p.z});
      w.firstVertex.push_back(v);
    }
    w.vertexToPoint[v] = it->second;
  }
  return w;
}

// glTF's vertices are the file's own, already one per distinct corner (a GPU draws them as they
// are), so nothing is joined: Assimp then delivers them in the file's order, unused ones included.
// Other formats arrive one vertex per face corner, joined where every attribute agrees.
unsigned ImportSteps(const std::string& path) {
  std::string extension = std::filesystem::path(path).extension().string();
  std::transform(extension.begin(), extension.end(), extension.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  const bool gltf = extension == ".gltf" || extension == ".glb";
  return aiProcess_ValidateDataStructure | (gltf ? 0u : unsigned{aiProcess_JoinIdenticalVertices});
}

// The file's vertices over the welded points: normals and texture coordinates as the file gave
// them (one that is not finite becomes zero, counted in `unusable`), its faces of 3 corners or
// more, its material and names.
FileVertices MakeFileVertices(const aiScene* scene, const aiMesh* mesh, const aiNode* node,
                              std::vector<Int32> vertexToPoint, Int64& unusable) {
  FileVertices file;
  file.object = node != nullptr ? node->mName.C_Str() : "";
  file.mesh = mesh->mName.C_Str();
  aiString material;
  // An unnamed material is kept under the name the rig gives it (rig_import.h).
  if (mesh->mMaterialIndex < scene->mNumMaterials)
    file.materials.push_back(
        scene->mMaterials[mesh->mMaterialIndex]->Get(AI_MATKEY_NAME, material) == AI_SUCCESS &&
                material.length > 0
            ? std::string(material.C_Str())
            : "material-" + std::to_string(mesh->mMaterialIndex));
  file.vertexPoint = std::move(vertexToPoint);
  const auto finite = [&](Float v) {
    if (std::isfinite(v)) return v;
    ++unusable;
    return 0.0;
  };
  if (mesh->HasNormals())
    for (unsigned v = 0; v < mesh->mNumVertices; ++v) {
      const aiVector3D& n = mesh->mNormals[v];
      file.normals.push_back({finite(n.x), finite(n.y), finite(n.z)});
    }
  if (mesh->HasTextureCoords(0))
    for (unsigned v = 0; v < mesh->mNumVertices; ++v) {
      const aiVector3D& uv = mesh->mTextureCoords[0][v];
      file.uvs.push_back(static_cast<Float32>(finite(uv.x)));
      file.uvs.push_back(static_cast<Float32>(finite(uv.y)));
    }
  for (unsigned f = 0; f < mesh->mNumFaces; ++f) {
    const aiFace& face = mesh->mFaces[f];
    if (face.mNumIndices < 3) continue;
    file.cornerVertex.insert(file.cornerVertex.end(), face.mIndices,
                             face.mIndices + face.mNumIndices);
    file.faceFirst.push_back(static_cast<Int64>(file.cornerVertex.size()));
    file.faceMaterial.push_back(file.materials.empty() ? -1 : 0);
  }
  return file;
}

Float Diagonal(const std::vector<Vector3>& points) {
  if (points.empty()) return 0.0;
  Vector3 lo = points[0], hi = points[0];
  for (const Vector3& p : points) {
    lo = {std::min(lo.x, p.x), std::min(lo.y, p.y), std::min(lo.z, p.z)};
    hi = {std::max(hi.x, p.x), std::max(hi.y, p.y), std::max(hi.z, p.z)};
  }
  return Length(Sub(hi, lo));
}

// An Assimp importer holding the readers of the formats taken only, so that nothing else ever
// reads a file: each of Assimp's other readers is taken out (and freed here, as Assimp leaves
// that to whoever takes one out).
class CharacterReader {
 public:
  // Every file Assimp opens passes `root` (asset_io.h).
  explicit CharacterReader(AssetRoot root) : io_(new RootedIOSystem(std::move(root))) {
    importer_.SetIOHandler(io_);  // the importer owns it
    std::vector<Assimp::BaseImporter*> others;
    for (size_t i = 0; i < importer_.GetImporterCount(); ++i) {
      const std::string_view name = importer_.GetImporterInfo(i)->mName;
      if (name != "Autodesk FBX Importer" && name != "glTF2 Importer" &&
          name != "Collada Importer" && name != "Direct3D XFile Importer")
        others.push_back(importer_.GetImporter(i));
    }
    for (Assimp::BaseImporter* other : others)
      if (importer_.UnregisterLoader(other) == AI_SUCCESS) removed_.emplace_back(other);
  }

  // The scene of the file at `path`, after CheckCharacterFile and, for glTF, PrecheckedGltf.
  const aiScene* Read(const std::string& path) {
    const CharacterFormat format = CheckCharacterFile(path);
    // Absolute, so that the names Assimp makes from the file's folder never start from the
    // current folder.
    std::error_code ec;
    const std::string absolute = platform::Utf8FromPath(
        std::filesystem::absolute(platform::PathFromUtf8(path), ec).lexically_normal());
    const std::string read = ec ? path : absolute;
    if (format == CharacterFormat::kGltf || format == CharacterFormat::kGlb)
      Precheck(read, path, format == CharacterFormat::kGlb);
    return Checked(importer_.ReadFile(read, ImportSteps(path)), path);
  }
  // The scene of a file's bytes, of the format its content shows; `name` names it in messages.
  const aiScene* Read(std::string_view bytes, const std::string& name) {
    const std::optional<CharacterFormat> format =
        FormatOfContent(bytes.substr(0, kFormatHeadBytes));
    if (!format) throw std::runtime_error(name + ": its content is none of " + CharacterFormats());
    const std::string hint = ExtensionOf(*format);
    if (*format == CharacterFormat::kGltf || *format == CharacterFormat::kGlb)
      if (std::optional<std::string> checked =
              PrecheckedGltf(bytes, *format == CharacterFormat::kGlb, name)) {
        supplied_ = std::move(*checked);
        bytes = supplied_;
      }
    return Checked(importer_.ReadFileFromMemory(bytes.data(), bytes.size(),
                                                ImportSteps("memory." + hint), hint.c_str()),
                   name);
  }

 private:
  const aiScene* Checked(const aiScene* scene, const std::string& name) {
    if (!io_->Refusal().empty())
      throw std::runtime_error(name + ": " + io_->Refusal() + "; nothing of it is read");
    if (scene == nullptr || scene->mRootNode == nullptr)
      throw std::runtime_error(name + ": cannot be read as a rigged character (" +
                               Shortened(importer_.GetErrorString()) + ")");
    return scene;
  }

  // A glTF whose skins need inverse binds supplied is read from the supplied bytes; one nested
  // too deep is refused here.
  // `read` is the path Assimp is given, `path` the one messages name.
  void Precheck(const std::string& read, const std::string& path, bool binary) {
    std::string file;
    if (binary) {
      // The JSON chunk alone first: the whole file only when it is to be changed.
      InputFile in(read);
      in.Read(20, file);
      in.Read(GlbJsonBytes(file), file);
      if (!PrecheckedGltf(file, true, path)) return;
    }
    file = ReadInputFile(read);
    std::optional<std::string> checked = PrecheckedGltf(file, binary, path);
    if (!checked) return;
    supplied_ = std::move(*checked);
    io_->Supply(read, &supplied_);
  }

  // Assimp quotes what it could not parse whole, a damaged file's array of any length: the
  // message keeps its start, cut at a character's boundary.
  static std::string Shortened(std::string reason) {
    constexpr size_t kReasonBytes = 240;
    if (reason.size() <= kReasonBytes) return reason;
    size_t end = kReasonBytes;
    while (end > 0 && (static_cast<unsigned char>(reason[end]) & 0xC0) == 0x80) --end;
    return reason.substr(0, end) + "...";
  }

  std::vector<std::unique_ptr<Assimp::BaseImporter> > removed_;
  std::string supplied_;  // a glTF with inverse binds supplied, read in place of the file
  Assimp::Importer importer_;
  RootedIOSystem* io_;  // owned by importer_
};

std::string ClipLabel(const aiScene* scene, unsigned index) {
  return "'" + std::string(scene->mAnimations[index]->mName.C_Str()) + "' (" +
         std::to_string(index) + ")";
}

// The rate an animation is sampled at, its ticks per second, its last whole frame, its key times
// (all channels, distinct) and the note on where the rate came from when the file gives none.
struct ClipTiming {
  Float fps = kDefaultFps;
  bool fileRate = false;
  bool keyRate = false;  // the rate is the keys' spacing
  Float ticksPerSecond = kDefaultFps;
  Int32 lastFrame = 0;
  std::vector<Float> keyTicks;
  std::string note;
};

// Refuses a key time that is not finite or does not come after the one before it (Assimp takes
// both, and sampling needs keys in order), naming the animation, the channel and the key.
void CheckKeyTimes(const std::string& path, const aiAnimation* animation) {
  const auto check = [&](const aiNodeAnim* channel, const char* kind, const auto* keys,
                         unsigned count) {
    std::vector<Float> ticks(count);
    for (unsigned k = 0; k < count; ++k) ticks[k] = keys[k].mTime;
    if (const std::optional<KeyTimeFault> fault =
            FindKeyTimeFault(ticks, animation->mTicksPerSecond))
      throw std::runtime_error(path + ": animation '" + animation->mName.C_Str() +
                               "', channel of node '" + channel->mNodeName.C_Str() + "', " + kind +
                               " key " + std::to_string(fault->key) + ": " + fault->what);
  };
  for (unsigned c = 0; c < animation->mNumChannels; ++c) {
    const aiNodeAnim* channel = animation->mChannels[c];
    check(channel, "position", channel->mPositionKeys, channel->mNumPositionKeys);
    check(channel, "rotation", channel->mRotationKeys, channel->mNumRotationKeys);
    check(channel, "scale", channel->mScalingKeys, channel->mNumScalingKeys);
  }
}

std::vector<Float> AllKeyTimes(const aiAnimation* animation) {
  std::vector<Float> ticks;
  for (unsigned c = 0; c < animation->mNumChannels; ++c) {
    const aiNodeAnim* channel = animation->mChannels[c];
    for (unsigned k = 0; k < channel->mNumPositionKeys; ++k)
      ticks.push_back(channel->mPositionKeys[k].mTime);
    for (unsigned k = 0; k < channel->mNumRotationKeys; ++k)
      ticks.push_back(channel->mRotationKeys[k].mTime);
    for (unsigned k = 0; k < channel->mNumScalingKeys; ++k)
      ticks.push_back(channel->mScalingKeys[k].mTime);
  }
  return ticks;
}

// What the rate of a clip whose file gives none comes from: its keys' spacing (`keyRate`, none
// when they are not evenly spaced), or kDefaultFps.
std::string RateNote(Float ticksPerSecond, std::optional<Float> keyRate) {
  const std::string fallback =
      "the animation is sampled at " + ShortestNumber(kDefaultFps) + " frames per second";
  if (!(ticksPerSecond > 0.0)) return "the file gives no frame rate: " + fallback;
  if (!keyRate)
    return "the file gives no frame rate and its keys are not evenly spaced: " + fallback;
  const std::string apart = "its keys are 1/" + ShortestNumber(*keyRate) + " s apart";
  if (*keyRate < kMinKeyRate)
    return "the file gives no frame rate and " + apart +
           ", too few a second for a frame rate: " + fallback;
  return "the file gives no frame rate; " + apart + ", the rate the animation is sampled at";
}

// The rate is `fps` when given, else the file's own when it has a sane one, else the whole rate
// its keys are evenly spaced at, else kDefaultFps.
ClipTiming TimingOf(const std::string& path, const aiAnimation* animation, Float fps) {
  CheckKeyTimes(path, animation);
  ClipTiming timing;
  const Float ticks = animation->mTicksPerSecond;
  timing.fileRate = ticks > 0.0 && ticks <= kMaxFileRate;
  if (ticks > 0.0) timing.keyTicks = DistinctKeyTimes(AllKeyTimes(animation), ticks);
  std::optional<Float> keyRate;
  if (fps <= 0.0 && !timing.fileRate && ticks > 0.0)
    keyRate = RegularKeyRate(timing.keyTicks, ticks, kMaxFileRate);
  if (fps <= 0.0 && !timing.fileRate) timing.note = RateNote(ticks, keyRate);
  if (keyRate < kMinKeyRate) keyRate.reset();
  timing.keyRate = keyRate.has_value();
  timing.fps = fps > 0.0 ? fps : timing.fileRate ? ticks : keyRate.value_or(kDefaultFps);
  timing.ticksPerSecond = ticks > 0.0 ? ticks : timing.fps;  // ticks are frames
  const Float seconds = animation->mDuration / timing.ticksPerSecond;
  const Float frames = LastFrameOf(seconds, timing.fps);
  if (!(frames >= 0.0) || frames > kMaxJointKeys - 1)
    throw std::runtime_error(path + ": animation '" + animation->mName.C_Str() + "' spans " +
                             std::to_string(frames) + " frames at " + std::to_string(timing.fps) +
                             " per second (at most " + std::to_string(kMaxJointKeys - 1) + ")");
  timing.lastFrame = static_cast<Int32>(frames);
  return timing;
}

// Whether any of the animation's channels holds two different keys.
bool Moves(const aiAnimation* animation) {
  auto varies = [](const auto* keys, unsigned count) {
    for (unsigned k = 1; k < count; ++k)
      if (!(keys[k].mValue == keys[0].mValue)) return true;
    return false;
  };
  for (unsigned c = 0; c < animation->mNumChannels; ++c) {
    const aiNodeAnim* channel = animation->mChannels[c];
    if (varies(channel->mPositionKeys, channel->mNumPositionKeys) ||
        varies(channel->mRotationKeys, channel->mNumRotationKeys) ||
        varies(channel->mScalingKeys, channel->mNumScalingKeys))
      return true;
  }
  return false;
}

// The animation `clip` names: its exact name, else its name in any case when only one has it,
// else its index.
unsigned FindClip(const std::string& path, const aiScene* scene, const std::string& clip) {
  const unsigned count = scene->mNumAnimations;
  if (count == 0)
    throw std::runtime_error(path + ": holds no animation, so there is no clip '" + clip +
                             "' to pick");
  for (unsigned a = 0; a < count; ++a)
    if (clip == scene->mAnimations[a]->mName.C_Str()) return a;
  std::vector<unsigned> alike;
  for (unsigned a = 0; a < count; ++a)
    if (LowerAscii(clip) == LowerAscii(scene->mAnimations[a]->mName.C_Str())) alike.push_back(a);
  if (alike.size() == 1) return alike.front();
  if (!clip.empty() && clip.find_first_not_of("0123456789") == std::string::npos &&
      clip.size() <= 9 && std::stoul(clip) < count)
    return static_cast<unsigned>(std::stoul(clip));
  std::string known;
  for (unsigned a = 0; a < count; ++a) known += (a == 0 ? "" : ", ") + ClipLabel(scene, a);
  throw std::runtime_error(path + ": holds no animation called or numbered '" + clip +
                           "'; its animations are " + known);
}

// `text` as the names of clips: itself when it has no comma or an animation is called so (in any
// case), else its parts between commas, each without the spaces around it.
void SplitClipNames(const aiScene* scene, const std::string& text, std::vector<std::string>& out) {
  bool whole = text.find(',') == std::string::npos;
  for (unsigned a = 0; a < scene->mNumAnimations && !whole; ++a)
    whole = LowerAscii(text) == LowerAscii(scene->mAnimations[a]->mName.C_Str());
  if (whole) {
    out.push_back(text);
    return;
  }
  size_t start = 0;
  while (start <= text.size()) {
    const size_t end = std::min(text.find(',', start), text.size());
    const std::string part = text.substr(start, end - start);
    const size_t first = part.find_first_not_of(' ');
    if (first == std::string::npos)
      throw std::invalid_argument("an empty clip name in '" + text + "'");
    out.push_back(part.substr(first, part.find_last_not_of(' ') - first + 1));
    start = end + 1;
  }
}

class Importer {
 public:
  Importer(const std::string& path, Document& doc, const CharacterOptions& options, AssetRoot root)
      : path_(path), doc_(doc), options_(options), root_(std::move(root)) {}

  // A transform the file gives, inverted; a file whose transform has no inverse (a damaged or
  // degenerate one) is refused naming it.
  Matrix InverseOf(const Matrix& m, const std::string& what) const {
    try {
      return Inverse(m);
    } catch (const std::invalid_argument&) {
      throw std::runtime_error(path_ + ": " + what + " cannot be inverted (its axes are singular)");
    }
  }

  CharacterImport Run(const aiScene* scene) {
    scene_ = scene;
    names_ = NamesOf(doc_);
    meshNodes_ = NodesOfMeshes(scene);
    // Pictures are found in the asset root (absolute, so a saved scene finds them), where they
    // are checked as they are read (glb_scene.h).
    rig_.rig.pictureFolder = root_.folder;
    ChooseAnimations();
    NoteUnused();
    AddRigNodes(scene_, path_, rig_);
    AddRigMaterials(scene_, rig_);
    RebasePictures();
    for (unsigned m = 0; m < scene->mNumMeshes; ++m) ImportMesh(m);
    if (result_.meshes.empty()) {
      std::string why;
      for (const std::string& note : result_.notes) why += (why.empty() ? " (" : "; ") + note;
      throw std::runtime_error(path_ + ": holds no mesh of polygons" +
                               (why.empty() ? why : why + ")"));
    }
    for (const ClipSpan& span : spans_)
      AddRigClip(span.animation, span.ticksPerSecond, span.first, span.last, rig_);
    KeepRig();
    doc_.SetFrameRate(result_.fps);
    return std::move(result_);
  }

 private:
  void Note(const std::string& note) { result_.notes.push_back(note); }

  // The file names pictures from its own folder; the rig from the asset root. Only the names
  // change here (no file is looked at): an absolute name stays for the lookup by file name.
  void RebasePictures() {
    if (root_.folder.empty() || root_.base.empty()) return;
    for (RigMaterial& material : rig_.rig.materials) {
      const std::filesystem::path name = platform::PathFromUtf8(material.texture);
      if (material.texture.empty() || name.is_absolute()) continue;
      material.texture =
          platform::Utf8FromPath((platform::PathFromUtf8(root_.base) / name)
                                     .lexically_normal()
                                     .lexically_relative(platform::PathFromUtf8(root_.folder)));
    }
  }

  // The animations asked for, by index in the file, in the order asked: every one with
  // `allClips`, else `clip` and `clips`, else the first.
  std::vector<unsigned> AskedClips() const {
    std::vector<std::string> names;
    if (!options_.clip.empty()) SplitClipNames(scene_, options_.clip, names);
    for (const std::string& clip : options_.clips) SplitClipNames(scene_, clip, names);
    if (options_.allClips && !names.empty())
      throw std::invalid_argument("every animation is imported, so none can be named as well");
    std::vector<unsigned> chosen;
    if (options_.allClips)
      for (unsigned a = 0; a < scene_->mNumAnimations; ++a) chosen.push_back(a);
    for (const std::string& name : names) {
      const unsigned index = FindClip(path_, scene_, name);
      if (std::find(chosen.begin(), chosen.end(), index) != chosen.end())
        throw std::runtime_error(path_ + ": animation " + ClipLabel(scene_, index) +
                                 " is asked for twice");
      chosen.push_back(index);
    }
    if (chosen.empty() && scene_->mNumAnimations > 0) chosen.push_back(0);
    return chosen;
  }

  void ChooseAnimations() {
    const std::vector<unsigned> chosen = AskedClips();
    if (scene_->mNumAnimations == 0) {
      Note("the file holds no animation: the joints are not keyed");
      result_.fps = options_.fps > 0.0 ? options_.fps : kDefaultFps;
      return;
    }
    animation_ = scene_->mAnimations[chosen.front()];
    result_.clip = static_cast<Int32>(chosen.front());
    result_.clipName = animation_->mName.C_Str();
    NoteOtherClips(chosen);
    const ClipTiming timing = TimingOf(path_, animation_, options_.fps);
    if (!timing.note.empty()) Note(timing.note);
    result_.fps = timing.fps;
    Int32 next = 0;
    for (unsigned index : chosen) {
      const aiAnimation* animation = scene_->mAnimations[index];
      if (animation->mNumMeshChannels > 0 || animation->mNumMorphMeshChannels > 0)
        Note("animation '" + std::string(animation->mName.C_Str()) + "': its " +
             std::to_string(animation->mNumMeshChannels + animation->mNumMorphMeshChannels) +
             " mesh and morph channels are skipped (the host keys joints only)");
      // Every clip at the first one's rate: the document has one.
      const ClipTiming own = TimingOf(path_, animation, result_.fps);
      const Int64 last = Int64{next} + own.lastFrame;
      if (last > kMaxJointKeys - 1)
        throw std::runtime_error(path_ + ": the animations asked for span " +
                                 std::to_string(last + 1) + " frames end to end (at most " +
                                 std::to_string(kMaxJointKeys) + ")");
      spans_.push_back({animation, own.ticksPerSecond, next, static_cast<Int32>(last),
                        FrameTicks(own.keyTicks, own.ticksPerSecond, result_.fps, own.lastFrame)});
      result_.clips.push_back(
          {static_cast<Int32>(index), animation->mName.C_Str(), next, static_cast<Int32>(last)});
      next = static_cast<Int32>(last) + 1;
    }
    result_.lastFrame = spans_.back().last;
    SetFrameTimes();
  }

  // Frame k of a clip is sampled at the file's key time when one falls on k / fps, so that a
  // frame shows the key itself and results carry the file's own times; later clips follow on
  // the timeline from their first frame's k / fps.
  void SetFrameTimes() {
    result_.frameSeconds.clear();
    for (const ClipSpan& span : spans_)
      for (Float ticks : span.frameTicks)
        result_.frameSeconds.push_back(static_cast<Float>(span.first) / result_.fps +
                                       ticks / span.ticksPerSecond);
  }

  // Names the animations left out, or the moving ones when the first is still.
  void NoteOtherClips(const std::vector<unsigned>& chosen) {
    std::string others, moving;
    for (unsigned a = 0; a < scene_->mNumAnimations; ++a) {
      if (std::find(chosen.begin(), chosen.end(), a) != chosen.end()) continue;
      others += (others.empty() ? "" : ", ") + ClipLabel(scene_, a);
      if (Moves(scene_->mAnimations[a]))
        moving += (moving.empty() ? "" : ", ") + ClipLabel(scene_, a);
    }
    std::string imported;
    for (unsigned a : chosen) imported += (imported.empty() ? "" : ", ") + ClipLabel(scene_, a);
    const bool defaulted = options_.clip.empty() && options_.clips.empty() && !options_.allClips;
    if (defaulted && !moving.empty() && !Moves(animation_))
      Note("the first animation, " + imported + ", does not move; these do: " + moving +
           " (pick one with --clip NAME|INDEX)");
    else if (!others.empty())
      Note((chosen.size() == 1 ? "animation " + imported + " is imported; not "
                               : "animations " + imported + " are imported; not ") +
           others + " (--clip picks others, --all-clips takes every one)");
  }

  // The rig goes to the document unless it holds one already.
  void KeepRig() {
    for (const ImportedMesh& mesh : result_.meshes)
      rig_.rig.meshObjects.push_back(mesh.object->name);
    for (const std::string& note : rig_.rig.notes) Note(note);
    if (doc_.rig != nullptr) {
      Note(
          "the document holds a character's rig already: this file's node tree, materials and "
          "clips are not kept");
      return;
    }
    doc_.rig = std::make_shared<const Rig>(std::move(rig_.rig));
  }

  void NoteUnused() {
    if (scene_->mNumCameras > 0 || scene_->mNumLights > 0)
      Note(std::to_string(scene_->mNumCameras) + " cameras and " +
           std::to_string(scene_->mNumLights) + " lights are not imported");
  }

  // Names the morph targets of a mesh, which neither the objects nor the rig carry.
  void NoteMorphTargets(const aiMesh* mesh, const std::string& label) {
    if (mesh->mNumAnimMeshes == 0) return;
    std::string names;
    for (unsigned k = 0; k < mesh->mNumAnimMeshes && k < 20; ++k) {
      const std::string name = mesh->mAnimMeshes[k]->mName.C_Str();
      names += (k == 0 ? "'" : ", '") + Printable(name.empty() ? std::to_string(k) : name) + "'";
    }
    if (mesh->mNumAnimMeshes > 20) names += ", ...";
    const std::string note = label + ": its " + std::to_string(mesh->mNumAnimMeshes) +
                             " morph targets (" + names +
                             ") are skipped (the host has no morph deformer)";
    rig_.rig.notes.push_back(note);
  }

  void ImportMesh(unsigned index) {
    const aiMesh* mesh = scene_->mMeshes[index];
    const std::string label = "mesh '" + std::string(mesh->mName.C_Str()) + "'";
    NoteMorphTargets(mesh, label);
    Welded welded = Weld(mesh);
    std::vector<CPolygon> polygons;
    Int64 small = 0;
    for (unsigned f = 0; f < mesh->mNumFaces; ++f) {
      const aiFace& face = mesh->mFaces[f];
      const unsigned n = face.mNumIndices;
      if (n < 3) {
        ++small;
        continue;
      }
      auto at = [&](unsigned k) { return welded.vertexToPoint[face.mIndices[k]]; };
      if (n <= 4) {
        polygons.push_back({at(0), at(1), at(2), at(n - 1)});
      } else {
        for (unsigned k = 1; k + 1 < n; ++k)
          polygons.push_back({at(0), at(k), at(k + 1), at(k + 1)});
      }
    }
    if (polygons.empty()) {
      Note(label + " is made of lines or points, which a polygon object cannot carry: skipped");
      return;
    }
    if (small > 0)
      Note(label + ": " + std::to_string(small) + " lines and points among its faces are skipped");

    ImportedMesh out;
    out.rigid = !mesh->HasBones();
    out.fileVertices = mesh->mNumVertices;
    out.size = Diagonal(welded.points);
    const size_t pointCount = welded.points.size();
    const std::string name = UniqueObjectName(names_, mesh->mName.C_Str(), "mesh");
    out.object = doc_.AddPolygonObject(name, welded.points, std::move(polygons));
    if (out.object == nullptr) throw std::runtime_error(path_ + ": out of memory");
    Int64 unusable = 0;
    out.object->fileVertices = std::make_shared<const FileVertices>(
        MakeFileVertices(scene_, mesh, meshNodes_[index], welded.vertexToPoint, unusable));
    if (unusable > 0)
      Note(label + ": " + std::to_string(unusable) +
           " coordinates of its normals and texture coordinates are not numbers; they are 0");
    const Int32 meshIndex = static_cast<Int32>(result_.meshes.size());
    DrawMeshAt(meshNodes_[index], meshIndex, rig_);
    rig_.rig.meshMaterials.push_back(mesh->mMaterialIndex < scene_->mNumMaterials
                                         ? static_cast<Int32>(mesh->mMaterialIndex)
                                         : -1);
    if (out.rigid) {
      MakeRigidJoint(index, name, out);
      result_.meshes.push_back(std::move(out));
      return;
    }
    AddRigSkin(scene_, mesh, meshIndex, rig_);

    // Weights per bone, from the first copy of each point; copies that differ are counted.
    std::vector<std::vector<Float32> > weights(mesh->mNumBones, std::vector<Float32>(pointCount));
    std::vector<bool> differs(pointCount, false);
    std::vector<Float32> perVertex(mesh->mNumVertices);
    for (unsigned b = 0; b < mesh->mNumBones; ++b) {
      const aiBone* bone = mesh->mBones[b];
      std::fill(perVertex.begin(), perVertex.end(), 0.0f);
      for (unsigned k = 0; k < bone->mNumWeights; ++k)
        if (bone->mWeights[k].mVertexId < mesh->mNumVertices)
          perVertex[bone->mWeights[k].mVertexId] += bone->mWeights[k].mWeight;
      for (size_t p = 0; p < pointCount; ++p) weights[b][p] = perVertex[welded.firstVertex[p]];
      for (unsigned v = 0; v < mesh->mNumVertices; ++v)
        if (perVertex[v] != weights[b][welded.vertexToPoint[v]])
          differs[welded.vertexToPoint[v]] = true;
    }
    const Int64 differing = std::count(differs.begin(), differs.end(), true);
    if (differing > 0)
      Note(label + ": " + std::to_string(differing) +
           " points have copies with other weights; the first copy's are used");
    NormaliseWeights(label, weights, pointCount);

    MakeJoints(index, mesh, name, out, weights);
    result_.meshes.push_back(std::move(out));
  }

  // Makes every point's weights sum to 1, so that the bind pose gives back the mesh; a point
  // without weight gets a joint of its own that never moves.
  void NormaliseWeights(const std::string& label, std::vector<std::vector<Float32> >& weights,
                        size_t pointCount) {
    Int64 unweighted = 0, off = 0;
    Float worst = 0.0;
    std::vector<Float32> still(pointCount, 0.0f);
    for (size_t p = 0; p < pointCount; ++p) {
      Float sum = 0.0;
      for (const auto& w : weights) sum += w[p];
      if (!(sum > 0.0)) {
        ++unweighted;
        for (auto& w : weights) w[p] = 0.0f;
        still[p] = 1.0f;
        continue;
      }
      if (std::fabs(sum - 1.0) > 1e-4) {
        ++off;
        worst = std::max(worst, std::fabs(sum - 1.0));
      }
      if (sum != 1.0)
        for (auto& w : weights) w[p] = static_cast<Float32>(w[p] / sum);
    }
    if (off > 0)
      Note(label + ": the weights of " + std::to_string(off) +
           " points did not sum to 1 (off by up to " + std::to_string(worst) + "); normalised");
    if (unweighted > 0) {
      Note(label + ": " + std::to_string(unweighted) +
           " points carry no weight; they stay at rest through joint 'unweighted'");
      weights.push_back(std::move(still));
      unweightedJoint_ = true;
    } else {
      unweightedJoint_ = false;
    }
  }

  void MakeJoints(unsigned meshIndex, const aiMesh* mesh, const std::string& objectName,
                  ImportedMesh& out, const std::vector<std::vector<Float32> >& weights) {
    Pose pose(scene_, animation_);
    const aiNode* meshNode = meshNodes_[meshIndex];
    const std::map<const aiNode*, Matrix> rest = pose.At(0.0, false);
    const Matrix toMesh =
        meshNode == nullptr
            ? Matrix()
            : InverseOf(rest.at(meshNode), "the transform of mesh '" + objectName + "''s node");

    std::vector<const aiNode*> boneNodes;
    std::map<const aiNode*, Node*> jointOfNode;
    for (unsigned b = 0; b < mesh->mNumBones; ++b) {
      const aiBone* bone = mesh->mBones[b];
      const std::string boneName = bone->mName.C_Str();
      const aiNode* node = scene_->mRootNode->FindNode(bone->mName);
      if (node == nullptr)
        Note("bone '" + boneName + "' of mesh '" + objectName +
             "' has no node in the file's hierarchy: its joint stays at the bind pose");
      // The nearest ancestor that is a joint already made becomes the parent.
      Node* parent = nullptr;
      for (const aiNode* up = node ? node->mParent : nullptr; up != nullptr && !parent;
           up = up->mParent) {
        const auto it = jointOfNode.find(up);
        if (it != jointOfNode.end()) parent = it->second;
      }
      Node* joint = AddJoint(
          doc_, UniqueObjectName(names_, boneName, "mesh"),
          InverseOf(MatrixFromAssimp(bone->mOffsetMatrix), "bone '" + boneName + "''s offset"),
          parent);
      Node* map = doc_.AddVertexMap(out.object, weights[b], boneName + " weights");
      if (joint == nullptr || map == nullptr) throw std::runtime_error(path_ + ": out of memory");
      if (node != nullptr) jointOfNode[node] = joint;
      boneNodes.push_back(node);
      out.joints.push_back(joint);
      out.maps.push_back(map);
    }
    if (unweightedJoint_) {
      Node* joint = AddJoint(doc_, UniqueObjectName(names_, "unweighted", "mesh"), Matrix());
      Node* map = doc_.AddVertexMap(out.object, weights.back(), "unweighted weights");
      if (joint == nullptr || map == nullptr) throw std::runtime_error(path_ + ": out of memory");
      boneNodes.push_back(nullptr);
      out.joints.push_back(joint);
      out.maps.push_back(map);
    }

    KeyOverClips(toMesh, boneNodes, out.joints);
    out.skin = doc_.AddObject(Oskin, "skin", out.object);
    if (out.skin == nullptr) throw std::runtime_error(path_ + ": out of memory");
    names_.taken.insert(out.skin->name);
    LinkSkin(out.skin, out.joints, out.maps);
  }

  // Keys each joint (with a node) over every clip's frames on the timeline: at the clip's frame
  // k, the node's global transform at k / fps seconds into the clip, brought into the mesh's
  // space by `toMesh`.
  void KeyOverClips(const Matrix& toMesh, const std::vector<const aiNode*>& nodes,
                    const std::vector<Node*>& joints) {
    if (spans_.empty()) return;
    std::vector<std::vector<TransformKey> > keys(joints.size());
    for (const ClipSpan& span : spans_) {
      Pose pose(scene_, span.animation);
      for (Int32 frame = span.first; frame <= span.last; ++frame) {
        const std::map<const aiNode*, Matrix> globals =
            pose.At(span.frameTicks[static_cast<size_t>(frame - span.first)], true);
        for (size_t j = 0; j < joints.size(); ++j)
          if (nodes[j] != nullptr)
            keys[j].push_back({static_cast<Float>(frame), Multiply(toMesh, globals.at(nodes[j]))});
      }
    }
    for (size_t j = 0; j < joints.size(); ++j)
      if (!keys[j].empty()) SetTransformKeys(joints[j], keys[j]);
  }

  // A mesh without bones: one joint at its node weighs every point 1, so the mesh moves with the
  // node. The joint rests at the identity (the points are in the mesh's space already).
  void MakeRigidJoint(unsigned meshIndex, const std::string& objectName, ImportedMesh& out) {
    const aiNode* node = meshNodes_[meshIndex];
    const std::string nodeName = node != nullptr ? node->mName.C_Str() : objectName;
    Matrix toMesh;
    if (node != nullptr)
      toMesh = InverseOf(Pose(scene_, nullptr).At(0.0, false).at(node),
                         "the transform of mesh '" + objectName + "''s node");
    Node* joint = AddJoint(
        doc_, UniqueObjectName(names_, nodeName.empty() ? objectName : nodeName, "mesh"), Matrix());
    Node* map = doc_.AddVertexMap(out.object, std::vector<Float32>(out.object->points.size(), 1.0f),
                                  nodeName + " weights");
    if (joint == nullptr || map == nullptr) throw std::runtime_error(path_ + ": out of memory");
    out.joints.push_back(joint);
    out.maps.push_back(map);
    KeyOverClips(toMesh, {node}, out.joints);
    out.skin = doc_.AddObject(Oskin, "skin", out.object);
    if (out.skin == nullptr) throw std::runtime_error(path_ + ": out of memory");
    names_.taken.insert(out.skin->name);
    LinkSkin(out.skin, out.joints, out.maps);
  }

  struct ClipSpan {
    const aiAnimation* animation = nullptr;
    Float ticksPerSecond = 0.0;
    Int32 first = 0, last = 0;      // on the timeline
    std::vector<Float> frameTicks;  // per frame of the clip, the time it is sampled at
  };

  std::string path_;
  Document& doc_;
  CharacterOptions options_;
  AssetRoot root_;
  const aiScene* scene_ = nullptr;
  ObjectNames names_;                       // the document's, and each one given
  std::vector<const aiNode*> meshNodes_;    // per mesh of the file, the node drawing it
  const aiAnimation* animation_ = nullptr;  // the first clip's
  std::vector<ClipSpan> spans_;
  RigBuild rig_;
  bool unweightedJoint_ = false;
  CharacterImport result_;
};

}  // namespace

bool CharacterImportAvailable() {
  return true;
}

CharacterImport ImportCharacter(const std::string& path, Document& doc,
                                const CharacterOptions& options) {
  if (!std::isfinite(options.fps) || options.fps < 0.0)
    throw std::invalid_argument("the frame rate must be positive and finite, not " +
                                std::to_string(options.fps));
  AssetRoot root = AssetRootFor(path, options.assetRoot);
  CharacterReader reader(root);
  return Importer(path, doc, options, std::move(root)).Run(reader.Read(path));
}

CharacterImport ImportCharacterBytes(std::string_view bytes, const std::string& name, Document& doc,
                                     const CharacterOptions& options) {
  if (!std::isfinite(options.fps) || options.fps < 0.0)
    throw std::invalid_argument("the frame rate must be positive and finite, not " +
                                std::to_string(options.fps));
  AssetRoot root = AssetRootForBytes(options.assetRoot);
  CharacterReader reader(root);
  return Importer(name, doc, options, std::move(root)).Run(reader.Read(bytes, name));
}

CharacterListing ListCharacter(const std::string& path, const CharacterOptions& options) {
  if (!std::isfinite(options.fps) || options.fps < 0.0)
    throw std::invalid_argument("the frame rate must be positive and finite, not " +
                                std::to_string(options.fps));
  CharacterReader reader(AssetRootFor(path, options.assetRoot));
  const aiScene* scene = reader.Read(path);
  CharacterListing listing;
  std::set<std::string> jointNames;
  for (unsigned m = 0; m < scene->mNumMeshes; ++m) {
    const aiMesh* mesh = scene->mMeshes[m];
    listing.meshes.push_back({mesh->mName.C_Str(), mesh->mNumVertices,
                              static_cast<Int64>(Weld(mesh).points.size()), mesh->mNumBones});
    for (unsigned b = 0; b < mesh->mNumBones; ++b)
      if (jointNames.insert(mesh->mBones[b]->mName.C_Str()).second)
        listing.joints.push_back({mesh->mBones[b]->mName.C_Str(), ""});
  }
  for (CharacterListing::Joint& joint : listing.joints) {
    const aiNode* node = scene->mRootNode->FindNode(joint.name.c_str());
    for (const aiNode* up = node ? node->mParent : nullptr; up != nullptr; up = up->mParent)
      if (jointNames.count(up->mName.C_Str()) != 0) {
        joint.parent = up->mName.C_Str();
        break;
      }
  }
  for (unsigned a = 0; a < scene->mNumAnimations; ++a) {
    const aiAnimation* animation = scene->mAnimations[a];
    const ClipTiming timing = TimingOf(path, animation, options.fps);
    listing.clips.push_back({static_cast<Int32>(a), animation->mName.C_Str(), timing.lastFrame + 1,
                             timing.fps, timing.fileRate && options.fps <= 0.0, Moves(animation),
                             timing.keyRate});
  }
  return listing;
}

#endif

}  // namespace headless
