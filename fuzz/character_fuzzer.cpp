// The character import, the way `scene import` runs it on a rigged file, from the input's bytes
// (FBX, glTF or Collada mutated from Assimp's test models; ImportCharacterBytes takes the format
// the content shows and reads it with that format's reader alone). A character that imports must
// hold sound meshes (polygons within the points, the file's vertices over them) and make a scene
// that saves, loads and saves to the same bytes.
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
#include "headless/io/scene_file.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  headless::ResetHostState();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::unique_ptr<headless::Document> doc = headless::NewDocument();
  headless::CharacterImport imported;
  try {
    imported = headless::ImportCharacterBytes(
        std::string_view(reinterpret_cast<const char*>(data), size), "input", *doc);
  } catch (const std::runtime_error&) {
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
