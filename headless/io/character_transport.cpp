#include "headless/io/character_transport.h"

#include <cmath>
#include <cstring>
#include <stdexcept>
#include <unordered_map>

#include "headless/deformers/skin.h"
#include "headless/io/scene_bytes.h"
#include "headless/io/scene_file.h"

namespace headless {

namespace {

constexpr char kImportMagic[] = "TSMCHIMP";
constexpr char kListingMagic[] = "TSMCHLST";
constexpr std::size_t kMagicBytes = 8;

// Every node in the scene file's order: each object, then its tags.
std::vector<Node*> IndexedNodes(const Document& doc) {
  std::vector<Node*> nodes;
  for (Node* object : doc.Objects()) {
    nodes.push_back(object);
    for (Node* tag : Document::Tags(object)) nodes.push_back(tag);
  }
  return nodes;
}

void Header(ByteWriter& w, const char* magic) {
  w.Bytes(magic, kMagicBytes);
  w.U32(kCharacterTransportVersion);
}

void CheckHeader(ByteReader& r, const char* magic) {
  if (std::memcmp(r.Take(kMagicBytes), magic, kMagicBytes) != 0)
    r.Fail("it is not what the character reader writes");
  const std::uint32_t version = r.U32();
  if (version != kCharacterTransportVersion)
    r.Fail("version " + std::to_string(version) + " of the reader's answer; this program reads " +
           std::to_string(kCharacterTransportVersion));
}

Float Finite(ByteReader& r, const char* what) {
  const Float v = r.F64();
  if (!std::isfinite(v)) r.Fail(std::string(what) + " is not finite");
  return v;
}

// Where the content fails, the source is named before the reader's own words.
template <typename Read>
auto Named(const std::string& source, Read read) {
  try {
    return read();
  } catch (const std::runtime_error& e) {
    throw std::runtime_error(source + ": the character reader's answer is damaged: " + e.what());
  }
}

void WriteIndices(ByteWriter& w, const std::vector<Node*>& nodes,
                  const std::unordered_map<const Node*, Int64>& index) {
  w.Count(nodes.size(), "nodes");
  for (const Node* node : nodes) w.I64(index.at(node));
}

// The node an index names, of the kind `fits` takes.
template <typename Fits>
Node* NodeAt(ByteReader& r, const std::vector<Node*>& nodes, const char* what, Fits fits) {
  const Int64 i = r.I64();
  if (i < 0 || i >= static_cast<Int64>(nodes.size()) || !fits(nodes[static_cast<size_t>(i)]))
    r.Fail(std::string("node ") + std::to_string(i) + " is no " + what);
  return nodes[static_cast<size_t>(i)];
}

ImportedMesh ReadMesh(ByteReader& r, const std::vector<Node*>& nodes) {
  ImportedMesh mesh;
  mesh.object = NodeAt(r, nodes, "polygon object",
                       [](const Node* n) { return !n->isTag && n->type == Opolygon; });
  const Node* object = mesh.object;
  mesh.skin = NodeAt(r, nodes, "skin deformer under the mesh", [&](const Node* n) {
    return !n->isTag && n->type == Oskin && n->up == object;
  });
  const std::size_t joints = r.Count(8, "joints");
  for (std::size_t j = 0; j < joints; ++j)
    mesh.joints.push_back(NodeAt(r, nodes, "joint", [](const Node* n) { return IsJoint(n); }));
  const std::size_t maps = r.Count(8, "weight maps");
  for (std::size_t m = 0; m < maps; ++m)
    mesh.maps.push_back(NodeAt(r, nodes, "weight map on the mesh", [&](const Node* n) {
      return n->isTag && n->type == Tvertexmap && n->up == object;
    }));
  if (maps != joints) r.Fail("a mesh's joints and weight maps differ in number");
  mesh.fileVertices = r.I64();
  if (mesh.fileVertices < 0) r.Fail("a mesh's count of file vertices is negative");
  mesh.size = Finite(r, "a mesh's size");
  mesh.rigid = r.U8() != 0;
  return mesh;
}

void ReadTimeline(ByteReader& r, CharacterImport& imported) {
  imported.fps = Finite(r, "the frame rate");
  if (!(imported.fps > 0.0)) r.Fail("the frame rate is not above 0");
  imported.lastFrame = r.I32();
  if (imported.lastFrame < -1) r.Fail("the last frame is below -1");
  const std::size_t frames = r.Count(8, "frame times");
  if (frames != static_cast<std::size_t>(imported.lastFrame + 1))
    r.Fail("the frame times do not match the last frame");
  for (std::size_t f = 0; f < frames; ++f) imported.frameSeconds.push_back(Finite(r, "a time"));
  imported.clip = r.I32();
  imported.clipName = r.Text();
  const std::size_t clips = r.Count(12, "clips");
  Int32 next = 0;
  for (std::size_t c = 0; c < clips; ++c) {
    CharacterImport::Clip clip;
    clip.index = r.I32();
    clip.name = r.Text();
    clip.firstFrame = r.I32();
    clip.lastFrame = r.I32();
    // End to end on the timeline, the last ending at the import's last frame.
    if (clip.index < 0 || clip.firstFrame != next || clip.lastFrame < clip.firstFrame ||
        clip.lastFrame > imported.lastFrame)
      r.Fail("clip " + std::to_string(c) + " does not lie on the timeline");
    next = clip.lastFrame + 1;
    imported.clips.push_back(std::move(clip));
  }
  if (!imported.clips.empty() && next != imported.lastFrame + 1)
    r.Fail("the clips do not reach the last frame");
}

}  // namespace

std::vector<std::uint8_t> CharacterImportBytes(const Document& doc,
                                               const CharacterImport& imported) {
  const std::vector<Node*> nodes = IndexedNodes(doc);
  std::unordered_map<const Node*, Int64> index;
  for (size_t i = 0; i < nodes.size(); ++i) index[nodes[i]] = static_cast<Int64>(i);
  ByteWriter w;
  Header(w, kImportMagic);
  w.Count(imported.meshes.size(), "meshes");
  for (const ImportedMesh& mesh : imported.meshes) {
    w.I64(index.at(mesh.object));
    w.I64(index.at(mesh.skin));
    WriteIndices(w, mesh.joints, index);
    WriteIndices(w, mesh.maps, index);
    w.I64(mesh.fileVertices);
    w.F64(mesh.size);
    w.U8(mesh.rigid ? 1 : 0);
  }
  w.Count(imported.notes.size(), "notes");
  for (const std::string& note : imported.notes) w.Text(note);
  w.F64(imported.fps);
  w.I32(imported.lastFrame);
  w.Count(imported.frameSeconds.size(), "frames");
  for (Float seconds : imported.frameSeconds) w.F64(seconds);
  w.I32(imported.clip);
  w.Text(imported.clipName);
  w.Count(imported.clips.size(), "clips");
  for (const CharacterImport::Clip& clip : imported.clips) {
    w.I32(clip.index);
    w.Text(clip.name);
    w.I32(clip.firstFrame);
    w.I32(clip.lastFrame);
  }
  const std::vector<std::uint8_t> scene = SerializeDocument(doc);
  w.U64(scene.size());
  w.Bytes(scene.data(), scene.size());
  return std::move(w.Buffer());
}

ReadCharacter CharacterImportFromBytes(const std::vector<std::uint8_t>& bytes,
                                       const std::string& source) {
  return Named(source, [&] {
    ByteReader r(bytes.data(), bytes.size());
    CheckHeader(r, kImportMagic);
    // The record comes before the scene it names: its counts are bounded now, its nodes checked
    // once the scene is read.
    const std::size_t meshStart = bytes.size() - r.Remaining();
    const std::size_t meshes = r.Count(41, "meshes");
    for (std::size_t m = 0; m < meshes; ++m) {
      r.Take(16);
      r.Take(8 * r.Count(8, "joints"));
      r.Take(8 * r.Count(8, "weight maps"));
      r.Take(17);
    }
    CharacterImport imported;
    const std::size_t notes = r.Count(4, "notes");
    for (std::size_t n = 0; n < notes; ++n) imported.notes.push_back(r.Text());
    ReadTimeline(r, imported);
    const std::uint64_t sceneBytes = r.U64();
    if (sceneBytes != r.Remaining()) r.Fail("the scene's size is not what follows");
    const std::uint8_t* scene = r.Take(static_cast<std::size_t>(sceneBytes));
    ReadCharacter read;
    read.document = DeserializeDocument(std::vector<std::uint8_t>(scene, scene + sceneBytes),
                                        "the reader's scene");
    if (!(read.document->FrameRate() == imported.fps))
      r.Fail("the scene's frame rate is not the import's");
    const std::vector<Node*> nodes = IndexedNodes(*read.document);
    ByteReader record(bytes.data() + meshStart, bytes.size() - meshStart);
    record.Count(33, "meshes");
    for (std::size_t m = 0; m < meshes; ++m) imported.meshes.push_back(ReadMesh(record, nodes));
    read.imported = std::move(imported);
    return read;
  });
}

std::vector<std::uint8_t> CharacterListingBytes(const CharacterListing& listing) {
  ByteWriter w;
  Header(w, kListingMagic);
  w.Count(listing.meshes.size(), "meshes");
  for (const CharacterListing::Mesh& mesh : listing.meshes) {
    w.Text(mesh.name);
    w.I64(mesh.vertices);
    w.I64(mesh.points);
    w.I64(mesh.joints);
  }
  w.Count(listing.joints.size(), "joints");
  for (const CharacterListing::Joint& joint : listing.joints) {
    w.Text(joint.name);
    w.Text(joint.parent);
  }
  w.Count(listing.clips.size(), "clips");
  for (const CharacterListing::Clip& clip : listing.clips) {
    w.I32(clip.index);
    w.Text(clip.name);
    w.I32(clip.frames);
    w.F64(clip.fps);
    w.U8(clip.fileRate ? 1 : 0);
    w.U8(clip.moves ? 1 : 0);
    w.U8(clip.keyRate ? 1 : 0);
  }
  return std::move(w.Buffer());
}

CharacterListing CharacterListingFromBytes(const std::vector<std::uint8_t>& bytes,
                                           const std::string& source) {
  return Named(source, [&] {
    ByteReader r(bytes.data(), bytes.size());
    CheckHeader(r, kListingMagic);
    CharacterListing listing;
    const auto count = [&](const char* what) {
      const Int64 n = r.I64();
      if (n < 0) r.Fail(std::string("a mesh's count of ") + what + " is negative");
      return n;
    };
    const std::size_t meshes = r.Count(28, "meshes");
    for (std::size_t m = 0; m < meshes; ++m) {
      CharacterListing::Mesh mesh;
      mesh.name = r.Text();
      mesh.vertices = count("vertices");
      mesh.points = count("points");
      mesh.joints = count("joints");
      listing.meshes.push_back(std::move(mesh));
    }
    const std::size_t joints = r.Count(8, "joints");
    for (std::size_t j = 0; j < joints; ++j) {
      CharacterListing::Joint joint;
      joint.name = r.Text();
      joint.parent = r.Text();
      listing.joints.push_back(std::move(joint));
    }
    const std::size_t clips = r.Count(23, "clips");
    for (std::size_t c = 0; c < clips; ++c) {
      CharacterListing::Clip clip;
      clip.index = r.I32();
      clip.name = r.Text();
      clip.frames = r.I32();
      clip.fps = Finite(r, "a clip's rate");
      if (clip.index < 0 || clip.frames < 0 || !(clip.fps > 0.0))
        r.Fail("clip " + std::to_string(c) + "'s index, frames or rate is out of range");
      clip.fileRate = r.U8() != 0;
      clip.moves = r.U8() != 0;
      clip.keyRate = r.U8() != 0;
      listing.clips.push_back(std::move(clip));
    }
    if (r.Remaining() != 0) r.Fail("bytes follow the listing");
    return listing;
  });
}

}  // namespace headless
