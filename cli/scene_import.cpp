// `tessamire scene import FILE --out SCENE [--tag] [--bind] [--cache CACHE] [--fps F] [--clip C]`:
// a scene made from a mesh or a rigged character; `--list` prints what FILE holds instead.
// - MESH.obj: the mesh as a polygon object named after the file's stem; --tag adds a bind tag at
//   its defaults, --bind (which implies --tag) also presses its bind button; --cache puts the
//   host's point-cache deformer under the object with every sample of a PC2 or MDD file (an MDD's
//   times become frames at --fps, default 30).
// - A rigged character (.fbx, .gltf, .glb, .dae or .x, by name and content): per skinned mesh
//   a polygon object with its joints, weights, skin deformer and keys of its animations, --clip
//   or --all-clips (headless/characters/character.h), sampled at the file's rate or --fps. What
//   could not be carried is printed as notes.
// The scene keeps its frame rate: the character's, or --fps (default 30). The scenes are made by
// headless/batch/scene_import.h; this command maps its options, lists, saves and prints.
// Nothing is written on any error.
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <sstream>

#include "cli/clips.h"
#include "cli/command_table.h"
#include "cli/output_folder.h"
#include "headless/batch/scene_import.h"
#include "headless/characters/character.h"
#include "headless/files/printable.h"
#include "headless/files/shortest_number.h"
#include "headless/io/character_reader.h"
#include "headless/io/scene_file.h"

namespace cli {
namespace {

bool IsObj(const std::string& path) {
  std::string extension = std::filesystem::path(path).extension().string();
  std::transform(extension.begin(), extension.end(), extension.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return extension == ".obj";
}

// The notes on what was made, on `err`.
headless::ImportNote NoteTo(std::ostream& err) {
  return
      [&err](const std::string& line) { err << "tessamire scene import: note: " << line << "\n"; };
}

std::unique_ptr<headless::Document> CharacterScene(const std::string& path,
                                                   const headless::CharacterOptions& character,
                                                   const std::string& outPath, std::ostream& out,
                                                   std::ostream& err) {
  headless::CharacterScene scene = headless::ImportCharacterScene(path, character);
  const headless::CharacterImport& imported = scene.imported;
  std::string clips;
  for (const headless::CharacterImport::Clip& clip : imported.clips)
    clips += (clips.empty() ? "'" : ", '") + headless::Printable(clip.name) + "' (" +
             std::to_string(clip.firstFrame) + " to " + std::to_string(clip.lastFrame) + ")";
  for (const std::string& note : imported.notes)
    NoteTo(err)(path + ": " + headless::Printable(note));
  for (const headless::ImportedMesh& mesh : imported.meshes)
    out << outPath << ": object \"" << headless::Printable(mesh.object->name) << "\" with "
        << mesh.object->points.size() << " points (" << mesh.fileVertices
        << " vertices in the file) and " << mesh.object->polygons.size() << " polygons, "
        << mesh.joints.size() << (mesh.rigid ? " joint (rigid, its node)" : " joints")
        << (imported.lastFrame >= 0
                ? ", keyed at frames 0 to " + std::to_string(imported.lastFrame) + " (" +
                      headless::ShortestNumber(imported.fps) + " per second) from " +
                      (imported.clips.size() == 1
                           ? "animation '" + headless::Printable(imported.clipName) + "'"
                           : "animations " + clips)
                : std::string())
        << "\n";
  return std::move(scene.document);
}

std::unique_ptr<headless::Document> ObjScene(const std::string& meshPath,
                                             const headless::ObjSceneSettings& settings,
                                             const std::string& outPath, std::ostream& out,
                                             std::ostream& err) {
  headless::ObjScene scene = headless::ImportObjScene(meshPath, settings, NoteTo(err));
  const headless::Node* object = scene.object;
  out << outPath << ": object \"" << headless::Printable(object->name) << "\" with "
      << object->points.size() << " points and " << object->polygons.size() << " polygons"
      << (settings.bind  ? ", bound tag"
          : settings.tag ? ", tag"
                         : "")
      << (settings.cachePath.empty() ? "" : ", point cache " + settings.cachePath) << "\n";
  return std::move(scene.document);
}

// A column of `width` characters (at least the text and a space).
std::string Column(const std::string& text, size_t width) {
  return text + std::string(width > text.size() ? width - text.size() : 1, ' ');
}

// `--list` of a character file: meshes, joints and animations.
void ListCharacterFile(const std::string& path, const headless::CharacterOptions& character,
                       std::ostream& out) {
  headless::CharacterOptions listed;
  listed.fps = character.fps;
  listed.readerSeconds = character.readerSeconds;
  listed.assetRoot = character.assetRoot;
  const headless::CharacterListing listing = headless::ListCharacterApart(path, listed);
  out << path << ": " << listing.meshes.size() << " meshes, " << listing.joints.size()
      << " joints, " << listing.clips.size() << " animations\n";
  size_t width = 4;
  for (const auto& mesh : listing.meshes)
    width = std::max(width, headless::Printable(mesh.name).size() + 2);
  out << "meshes:\n  " << Column("name", width)
      << "vertices    points   joints (points: after welding by position)\n";
  for (const auto& mesh : listing.meshes) {
    char numbers[96];
    std::snprintf(numbers, sizeof numbers, "%8lld  %8lld  %7lld",
                  static_cast<long long>(mesh.vertices), static_cast<long long>(mesh.points),
                  static_cast<long long>(mesh.joints));
    out << "  " << Column(headless::Printable(mesh.name), width) << numbers
        << (mesh.joints == 0 ? "   not skinned: moves with its node" : "") << "\n";
  }
  out << "joints:\n";
  for (const auto& joint : listing.joints)
    out << "  " << headless::Printable(joint.name)
        << (joint.parent.empty() ? "" : "  (under " + headless::Printable(joint.parent) + ")")
        << "\n";
  width = 4;
  for (const auto& clip : listing.clips)
    width = std::max(width, std::max<size_t>(headless::Printable(clip.name).size(), 9) + 2);
  out << "animations:\n  index  " << Column("name", width)
      << "frames   rate (frames: the count a run writes, 0 to the last)\n";
  for (const auto& clip : listing.clips) {
    char numbers[64];
    std::snprintf(numbers, sizeof numbers, "%6d  %5s", static_cast<int>(clip.frames),
                  headless::ShortestNumber(clip.fps).c_str());
    out << "  " << Column(std::to_string(clip.index), 7)
        << Column(clip.name.empty() ? "(no name)" : headless::Printable(clip.name), width)
        << numbers << " per second"
        << (clip.fileRate || character.fps > 0.0 ? ""
            : clip.keyRate                       ? " (the file gives none; its keys' spacing)"
                                                 : " (the file gives none)")
        << (clip.moves ? "" : ", does not move") << "\n";
  }
}

int RunSceneImport(const Options& options, std::ostream& out, std::ostream& err) {
  const std::string meshPath = options.Operands().front();
  const std::string outPath = options.Text("--out");
  const bool bind = options.Has("--bind");
  const bool tag = bind || options.Has("--tag");
  const std::string cachePath = options.Text("--cache");
  headless::CharacterOptions character;
  SetClips(options, character);
  const Float fps = options.Number("--fps").value_or(0.0);
  if (options.Has("--fps") && !(fps > 0.0)) throw UsageError("--fps wants a number above 0");
  character.fps = fps;
  // A mesh from the standard input is an OBJ mesh.
  const bool obj = meshPath == "-" || IsObj(meshPath);
  if (!obj && (tag || !cachePath.empty()))
    throw UsageError(
        "--tag, --bind and --cache apply to an OBJ mesh; a character gets its correction from "
        "`tessamire command` or `tessamire correct`");
  if (obj && (AsksForClips(options) || options.Has("--list") || options.Has("--asset-root")))
    throw UsageError(
        "--clip, --all-clips, --list and --asset-root apply to a character file, not an OBJ "
        "mesh");
  if (options.Has("--list")) {
    if (options.Has("--out") || AsksForClips(options))
      throw UsageError("--list prints what the file holds and writes nothing: no --out or --clip");
    ListCharacterFile(meshPath, character, out);
    return kExitOk;
  }
  if (outPath.empty()) throw UsageError("give --out FILE (or --list)");

  RefuseOverwritingInputs(outPath, {meshPath, cachePath});
  PrepareOutputFolder(outPath);
  // The summary is printed once the scene is saved (it may be going to the standard output).
  std::ostringstream summary;
  const auto doc = obj ? ObjScene(meshPath, {tag, bind, cachePath, fps}, outPath, summary, err)
                       : CharacterScene(meshPath, character, outPath, summary, err);
  headless::SaveScene(*doc, outPath);
  (outPath == "-" ? err : out) << summary.str();
  return kExitOk;
}

}  // namespace

Subcommand SceneImportSubcommand() {
  CommandSpec declaration;
  declaration.name = "scene import";
  declaration.operands = "MESH.obj|CHARACTER";
  declaration.minOperands = 1;
  declaration.maxOperands = 1;
  declaration.summary =
      "make a scene file from an OBJ mesh (- for the standard input) or a rigged character";
  declaration.details =
      "An OBJ mesh becomes a polygon object, with a bind tag (--tag), bound at once "
      "(--bind), and a point cache playing CACHE (--cache). A rigged character (.fbx, "
      ".gltf, .glb, .dae or .x, taken when its content is of the format its name says) "
      "becomes polygon objects with joints, weights, skin deformers and the keys of its "
      "animations (--clip, several end to end, or --all-clips; the first by default) sampled "
      "at the file's rate or F per second, a mesh without a skin moving rigidly with its node, "
      "and the scene keeps the file's node tree, materials, skins and clips; "
      "what cannot be carried is named as a note. --list prints a character file's meshes, "
      "joints and animations and writes nothing. The scene keeps its frame rate, which "
      "`eval` and `correct` time their caches by.";
  declaration.options = {
      TextOption("--out", "FILE", "the scene file to write (- for the standard output)"),
      FlagOption("--list",
                 "print the file's meshes (vertices, points after welding, joints), joints "
                 "and animations (index, name, duration in frames, rate); write nothing"),
      ClipOptions()[0],
      ClipOptions()[1],
      ClipOptions()[2],
      AssetRootOption(),
      FlagOption("--tag", "put a bind tag at its defaults on the object"),
      FlagOption("--bind", "put a bind tag on the object and bind it at once (implies --tag)"),
      TextOption("--cache", "CACHE",
                 "a PC2 or MDD point cache whose samples the object plays over frames"),
      NumberOption("--fps", "F",
                   "frames per second of the scene: an MDD cache's times, or a character's "
                   "keys",
                   std::nullopt, std::nullopt, "30, or a character file's own rate")};
  return {declaration, RunSceneImport};
}

}  // namespace cli
