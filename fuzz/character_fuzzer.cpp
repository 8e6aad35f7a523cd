// The character import, the way `scene import` runs it on a rigged file: the input's bytes (FBX,
// glTF, Collada or X mutated from Assimp's test models) written to a file named for the format
// its content shows, read in the character reader's process (headless/io/character_reader.h,
// the fuzz build's own tessamire-reader). A crash, sanitizer report or hang of the reader is a
// refusal naming the file, so it passes like any refusal; a character that imports must hold
// sound meshes (polygons within the points, the file's vertices over them) and make a scene that
// saves, loads and saves to the same bytes.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string_view>
#include <vector>

#include "fuzz/fuzz_check.h"
#include "headless/characters/character.h"
#include "headless/entries/entries_state.h"
#include "headless/geometry/file_vertices.h"
#include "headless/io/character_reader.h"
#include "headless/io/scene_file.h"
#include "headless/platform/paths.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  headless::ResetHostState();
  return 0;
}

namespace {

// The extension of the format the input's first bytes show; empty for none taken.
std::string ExtensionOf(std::string_view head) {
  if (head.starts_with("glTF")) return ".glb";
  if (head.starts_with("xof ")) return ".x";
  if (head.starts_with("Kaydara FBX Binary") || head.find("FBXHeaderExtension") != head.npos)
    return ".fbx";
  if (head.find("<COLLADA") != head.npos) return ".dae";
  if (head.find('{') != head.npos) return ".gltf";
  return "";
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  const std::string extension = ExtensionOf(bytes.substr(0, 4096));
  if (extension.empty()) return 0;
  headless::CharacterOptions options;
  // The fuzz build's reader, beside this target's folder; a hang ends well within -timeout.
  options.readerProgram = headless::platform::Utf8FromPath(
      headless::platform::PathFromUtf8(headless::platform::ExecutablePath())
          .parent_path()
          .parent_path() /
      headless::kReaderProgramName);
  options.readerSeconds = 5.0;
  std::unique_ptr<headless::Document> doc;
  headless::CharacterImport imported;
  try {
    headless::ReadCharacter read =
        headless::ReadCharacterApart(fuzz::WrittenInput(data, size, "input" + extension), options);
    doc = std::move(read.document);
    imported = std::move(read.imported);
  } catch (const std::exception&) {
    return 0;  // refused with a message: what the import should do with a file it cannot carry
  }
  // From here on nothing may fail: an exception escaping stops the run.
  for (const headless::ImportedMesh& mesh : imported.meshes) {
    const Int64 points = static_cast<Int64>(mesh.object->points.size());
    bool inside = points > 0;
    for (const CPolygon& p : mesh.object->polygons)
      for (const Int32 corner : {p.a, p.b, p.c, p.d})
        inside = inside && corner >= 0 && corner < points;
    fuzz::Check(inside, "an imported mesh's polygons lie within its points");
    if (mesh.object->fileVertices != nullptr)
      headless::CheckFileVertices(*mesh.object->fileVertices, points);
  }
  const std::vector<std::uint8_t> saved = headless::SerializeDocument(*doc);
  doc.reset();
  const std::unique_ptr<headless::Document> again = headless::DeserializeDocument(saved, "saved");
  fuzz::Check(headless::SerializeDocument(*again) == saved, "character scene save, load, save");
  return 0;
}
