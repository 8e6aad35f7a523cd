// What the character reader (character_reader.h) hands back from its own process: a character's
// import (the document as a scene file image, and the import's record over its nodes) or its
// listing, as bytes the parent checks like any file it reads, so that nothing a damaged or
// hostile reader writes is taken on trust.
//
// Layout (integers little-endian, floats as IEEE bit patterns, texts as a u32 length and bytes):
//   magic 8 bytes: "TSMCHIMP" (an import) or "TSMCHLST" (a listing), u32 kCharacterTransportVersion
//   import: u32 mesh count, per mesh: i64 object, i64 skin, u32 count + i64 per joint, u32 count
//     + i64 per weight map (node indices in the scene file's order: each object, then its tags),
//     i64 file vertices, f64 size, u8 rigid; u32 count + text per note; f64 fps, i32 last frame,
//     u32 count + f64 per frame's seconds, i32 clip, text clip name, u32 clip count, per clip:
//     i32 index, text name, i32 first and last frame; u64 size + the scene file image.
//   listing: u32 mesh count, per mesh: text name, i64 vertices, i64 points, i64 joints; u32
//     joint count, per joint: text name, text parent; u32 clip count, per clip: i32 index, text
//     name, i32 frames, f64 fps, u8 file rate, u8 moves, u8 key rate.
//   Nothing follows.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "headless/characters/character.h"
#include "headless/scene/scene.h"

namespace headless {

inline constexpr std::uint32_t kCharacterTransportVersion = 1;

// A character read into a document of its own, with the import's record over its nodes.
struct ReadCharacter {
  std::unique_ptr<Document> document;
  CharacterImport imported;
};

std::vector<std::uint8_t> CharacterImportBytes(const Document& doc,
                                               const CharacterImport& imported);
std::vector<std::uint8_t> CharacterListingBytes(const CharacterListing& listing);

// Reads what the writers above wrote; throws std::runtime_error "source: what" for anything no
// writer could have written: a short or long image, a count beyond the bytes that follow, the
// scene file image's own faults (scene_file.h), a node index outside the document or of the
// wrong kind (an object that is no polygon object, a skin that is no skin deformer under it, a
// joint that is no joint, a map that is no weight map on the object), a rate, size or time that
// is not finite, frames that do not match the timeline.
ReadCharacter CharacterImportFromBytes(const std::vector<std::uint8_t>& bytes,
                                       const std::string& source);
CharacterListing CharacterListingFromBytes(const std::vector<std::uint8_t>& bytes,
                                           const std::string& source);

}  // namespace headless
