// Scenes made from files, as `tessamire scene import` makes them before saving:
// - an OBJ mesh as a polygon object named after the file's stem ("mesh" for the standard input),
//   with a bind tag at its defaults, pressed bound at once if asked, and the host's point-cache
//   deformer under it playing every sample of a PC2 or MDD file;
// - a rigged character through headless/characters/character.h, in a document of its own.
// The document keeps its frame rate: the one given, else the character file's, else 30.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "headless/characters/character.h"
#include "headless/scene/scene.h"
#include "host/abi/types.h"

namespace headless {

// A note on what was made, as one line without its end: "<file>: <what>".
using ImportNote = std::function<void(const std::string& line)>;

// Every sample of the PC2 or MDD cache at `cachePath` into a point-cache deformer under `object`,
// named after the cache's file name; an MDD's times become frames at `fps`. Samples closer than
// whole frames get a note. Throws std::runtime_error naming the cache when its point count is not
// the object's, it holds no sample or its samples cannot be played.
void AttachPointCache(Document& doc, Node* object, const std::string& cachePath, Float fps,
                      const ImportNote& note);

struct ObjSceneSettings {
  bool tag = false;       // a bind tag at its defaults on the object
  bool bind = false;      // the tag's bind button pressed (with `tag`)
  std::string cachePath;  // a point cache the object plays (empty: none)
  Float fps = 0.0;        // the document's rate, and an MDD's times' (0: 30, the document's own)
};

struct ObjScene {
  std::unique_ptr<Document> document;
  Node* object = nullptr;  // the mesh's polygon object in it
};

// The OBJ mesh at `meshPath` ("-": the standard input) as a scene. Throws std::runtime_error
// naming the file when the mesh cannot be read or is out of range, or the tag cannot be made or
// bound (the bind tag's plug-in must be loaded for a tag).
ObjScene ImportObjScene(const std::string& meshPath, const ObjSceneSettings& settings,
                        const ImportNote& note);

struct CharacterScene {
  std::unique_ptr<Document> document;
  CharacterImport imported;  // its objects are the document's
};

// The rigged character at `path` as a scene, read in the character reader's process
// (headless/io/character_reader.h). Throws as ImportCharacter does, and when the reader stops.
CharacterScene ImportCharacterScene(const std::string& path, const CharacterOptions& options);

}  // namespace headless
