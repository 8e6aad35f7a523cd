// What the parent reads back from the character reader's process (headless/io/
// character_transport.h), an import or a listing, taken as the input's bytes: anything the
// reader could write, damaged or hostile, is refused with a message or read into a document whose
// record names its own nodes; what reads writes to bytes that read and write to the same bytes.
#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <vector>

#include "fuzz/fuzz_check.h"
#include "headless/entries/entries_state.h"
#include "headless/io/character_transport.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  headless::ResetHostState();
  return 0;
}

namespace {

void ImportRoundTrip(const std::vector<std::uint8_t>& bytes) {
  headless::ReadCharacter read;
  try {
    read = headless::CharacterImportFromBytes(bytes, "input");
  } catch (const std::runtime_error&) {
    return;
  }
  for (const headless::ImportedMesh& mesh : read.imported.meshes)
    fuzz::Check(
        mesh.object != nullptr && mesh.skin != nullptr && mesh.joints.size() == mesh.maps.size(),
        "an import's mesh names its object, skin, joints and maps");
  const std::vector<std::uint8_t> once =
      headless::CharacterImportBytes(*read.document, read.imported);
  const headless::ReadCharacter again = headless::CharacterImportFromBytes(once, "written");
  fuzz::Check(headless::CharacterImportBytes(*again.document, again.imported) == once,
              "character import write, read, write");
}

void ListingRoundTrip(const std::vector<std::uint8_t>& bytes) {
  headless::CharacterListing listing;
  try {
    listing = headless::CharacterListingFromBytes(bytes, "input");
  } catch (const std::runtime_error&) {
    return;
  }
  const std::vector<std::uint8_t> once = headless::CharacterListingBytes(listing);
  fuzz::Check(
      headless::CharacterListingBytes(headless::CharacterListingFromBytes(once, "written")) == once,
      "character listing write, read, write");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::vector<std::uint8_t> bytes(data, data + size);
  ImportRoundTrip(bytes);
  ListingRoundTrip(bytes);
  return 0;
}
