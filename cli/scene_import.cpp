// `tessamire scene import FILE --out SCENE [--tag] [--bind] [--cache CACHE] [--fps F] [--clip C]`:
// a scene made from a mesh or a rigged character; `--list` prints what FILE holds instead.
// - MESH.obj: the mesh as a polygon object named after the file's stem; --tag adds a bind tag at
//   its defaults, --bind (which implies --tag) also presses its bind button; --cache puts the
//   host's point-cache deformer under the object with every sample of a PC2 or MDD file (an MDD's
//   times become frames at --fps, default 30).
// - A rigged character (.fbx, .gltf, .glb, .dae or .x, by name and content): per skinned mesh
//   a polygon object with its joints, weights, skin deformer and keys of one animation, --clip
//   (headless/characters/character.h), sampled at the file's rate or --fps. What could not be
//   carried is printed as notes.
// The scene keeps its frame rate: the character's, or --fps (default 30).
// Nothing is written on any error.
#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <sstream>

#include "cli/command_table.h"
#include "cli/output_folder.h"
#include "headless/batch/keyed_range.h"
#include "headless/characters/character.h"
#include "headless/deformers/cache_deformer.h"
#include "headless/files/input_ranges.h"
#include "headless/files/printable.h"
#include "headless/files/shortest_number.h"
#include "headless/io/obj_read.h"
#include "headless/io/point_cache.h"
#include "headless/io/scene_file.h"
#include "headless/scene/deform.h"
#include "headless/scene/parameters.h"
#include "headless/scene/registry.h"
#include "host/abi/ids.h"

namespace cli {
namespace {

bool IsObj(const std::string& path) {
  std::string extension = std::filesystem::path(path).extension().string();
  std::transform(extension.begin(), extension.end(), extension.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return extension == ".obj";
}

// Every sample of the cache into a point-cache deformer under `object`.
void AttachCache(headless::Document& doc, headless::Node* object, const std::string& cachePath,
                 Float fps, std::ostream& err) {
  const headless::PointCache cache = headless::ReadPointCache(cachePath);
  if (static_cast<size_t>(cache.pointCount) != object->points.size())
    throw std::runtime_error(cachePath + ": " + std::to_string(cache.pointCount) +
                             " points per sample, but the mesh has " +
                             std::to_string(object->points.size()));
  if (cache.SampleCount() == 0) throw std::runtime_error(cachePath + ": the cache holds no sample");
  std::vector<Float> frames;
  std::vector<Vector3> points;
  points.reserve(static_cast<size_t>(cache.SampleCount()) * object->points.size());
  for (Int64 s = 0; s < cache.SampleCount(); ++s) {
    frames.push_back(cache.SampleFrame(s, fps));
    const std::vector<Vector3> sample = cache.Sample(s);
    points.insert(points.end(), sample.begin(), sample.end());
  }
  const std::string note = headless::SampleSpacingNote(frames);
  if (!note.empty()) err << "tessamire scene import: note: " << cachePath << ": " << note << "\n";
  headless::Node* node = doc.AddObject(
      headless::kPointCacheType, std::filesystem::path(cachePath).filename().string(), object);
  if (node == nullptr) throw std::runtime_error("the point cache could not be created");
  try {
    headless::LoadPointCacheSamples(node, static_cast<Int64>(object->points.size()), frames,
                                    std::move(points));
  } catch (const std::invalid_argument& e) {
    throw std::runtime_error(cachePath + ": " + e.what());
  }
}

std::unique_ptr<headless::Document> CharacterScene(const std::string& path, Float fps,
                                                   const std::string& clip,
                                                   const std::string& outPath, std::ostream& out,
                                                   std::ostream& err) {
  auto doc = headless::NewDocument();
  const headless::CharacterImport imported =
      headless::ImportCharacter(path, *doc, {.fps = fps, .clip = clip});
  for (const std::string& note : imported.notes)
    err << "tessamire scene import: note: " << path << ": " << headless::Printable(note) << "\n";
  for (const headless::ImportedMesh& mesh : imported.meshes)
    out << outPath << ": object \"" << headless::Printable(mesh.object->name) << "\" with "
        << mesh.object->points.size() << " points (" << mesh.fileVertices
        << " vertices in the file) and " << mesh.object->polygons.size() << " polygons, "
        << mesh.joints.size() << " joints"
        << (imported.lastFrame >= 0
                ? ", keyed at frames 0 to " + std::to_string(imported.lastFrame) + " (" +
                      headless::ShortestNumber(imported.fps) + " per second) from animation '" +
                      headless::Printable(imported.clipName) + "'"
                : std::string())
        << "\n";
  return doc;
}

std::unique_ptr<headless::Document> ObjScene(const std::string& meshPath, bool tag, bool bind,
                                             const std::string& cachePath, Float fps,
                                             const std::string& outPath, std::ostream& out,
                                             std::ostream& err) {
  headless::Mesh mesh = headless::ReadObj(meshPath);
  headless::CheckCoordinateRange(mesh.points, meshPath);
  auto doc = headless::NewDocument();
  const std::string name =
      meshPath == "-" ? "mesh" : std::filesystem::path(meshPath).stem().string();
  headless::Node* object = nullptr;
  try {
    object = doc->AddPolygonObject(name, std::move(mesh.points), std::move(mesh.polygons));
  } catch (const std::invalid_argument& e) {
    throw std::runtime_error(meshPath + ": " + e.what());
  }
  if (object == nullptr) throw std::runtime_error(meshPath + ": out of memory");
  if (fps > 0.0) doc->SetFrameRate(fps);
  if (tag) {
    headless::Node* bindTag = doc->AddTag(object, ID_TTESSAMIRE);
    if (bindTag == nullptr)
      throw std::runtime_error("the bind tag (plug-in " + std::to_string(ID_TTESSAMIRE) +
                               ") could not be created");
    if (bind && !headless::PressButton(bindTag, TTESSAMIRE_BIND))
      throw std::runtime_error(meshPath + ": binding the tag failed");
  }
  if (!cachePath.empty()) AttachCache(*doc, object, cachePath, fps > 0.0 ? fps : 30.0, err);
  out << outPath << ": object \"" << headless::Printable(name) << "\" with "
      << object->points.size() << " points and " << object->polygons.size() << " polygons"
      << (bind  ? ", bound tag"
          : tag ? ", tag"
                : "")
      << (cachePath.empty() ? "" : ", point cache " + cachePath) << "\n";
  return doc;
}

// A column of `width` characters (at least the text and a space).
std::string Column(const std::string& text, size_t width) {
  return text + std::string(width > text.size() ? width - text.size() : 1, ' ');
}

// `--list` of a character file: meshes, joints and animations.
void ListCharacterFile(const std::string& path, Float fps, std::ostream& out) {
  const headless::CharacterListing listing =
      headless::ListCharacter(path, {.fps = fps, .clip = ""});
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
        << (mesh.joints == 0 ? "   not skinned: not imported" : "") << "\n";
  }
  out << "joints:\n";
  for (const auto& joint : listing.joints)
    out << "  " << headless::Printable(joint.name)
        << (joint.parent.empty() ? "" : "  (under " + headless::Printable(joint.parent) + ")")
        << "\n";
  width = 4;
  for (const auto& clip : listing.clips)
    width = std::max(width, std::max<size_t>(headless::Printable(clip.name).size(), 9) + 2);
  out << "animations:\n  index  " << Column("name", width) << "frames   rate\n";
  for (const auto& clip : listing.clips) {
    char numbers[64];
    std::snprintf(numbers, sizeof numbers, "%6d  %5s", static_cast<int>(clip.frames),
                  headless::ShortestNumber(clip.fps).c_str());
    out << "  " << Column(std::to_string(clip.index), 7)
        << Column(clip.name.empty() ? "(no name)" : headless::Printable(clip.name), width)
        << numbers << " per second" << (clip.fileRate || fps > 0.0 ? "" : " (the file gives none)")
        << (clip.moves ? "" : ", does not move") << "\n";
  }
}

int RunSceneImport(const Options& options, std::ostream& out, std::ostream& err) {
  const std::string meshPath = options.Operands().front();
  const std::string outPath = options.Text("--out");
  const bool bind = options.Has("--bind");
  const bool tag = bind || options.Has("--tag");
  const std::string cachePath = options.Text("--cache");
  const std::string clip = options.Text("--clip");
  const Float fps = options.Number("--fps").value_or(0.0);
  if (options.Has("--fps") && !(fps > 0.0)) throw UsageError("--fps wants a number above 0");
  // A mesh from the standard input is an OBJ mesh.
  const bool obj = meshPath == "-" || IsObj(meshPath);
  if (!obj && (tag || !cachePath.empty()))
    throw UsageError(
        "--tag, --bind and --cache apply to an OBJ mesh; a character gets its correction from "
        "`tessamire command` or `tessamire correct`");
  if (obj && (options.Has("--clip") || options.Has("--list")))
    throw UsageError("--clip and --list apply to a character file, not an OBJ mesh");
  if (options.Has("--list")) {
    if (options.Has("--out") || options.Has("--clip"))
      throw UsageError("--list prints what the file holds and writes nothing: no --out or --clip");
    ListCharacterFile(meshPath, fps, out);
    return kExitOk;
  }
  if (outPath.empty()) throw UsageError("give --out FILE (or --list)");

  RefuseOverwritingInputs(outPath, {meshPath, cachePath});
  PrepareOutputFolder(outPath);
  // The summary is printed once the scene is saved (it may be going to the standard output).
  std::ostringstream summary;
  const auto doc = obj ? ObjScene(meshPath, tag, bind, cachePath, fps, outPath, summary, err)
                       : CharacterScene(meshPath, fps, clip, outPath, summary, err);
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
      "becomes polygon objects with joints, weights, skin deformers and the keys of one "
      "animation (--clip; the first by default) sampled at the file's rate or F per second; "
      "what cannot be carried is named as a note. --list prints a character file's meshes, "
      "joints and animations and writes nothing. The scene keeps its frame rate, which "
      "`eval` and `correct` time their caches by.";
  declaration.options = {
      TextOption("--out", "FILE", "the scene file to write (- for the standard output)"),
      FlagOption("--list",
                 "print the file's meshes (vertices, points after welding, joints), joints "
                 "and animations (index, name, duration in frames, rate); write nothing"),
      TextOption("--clip", "NAME|INDEX",
                 "the animation to import, by name or 0-based index (see --list)", "the first"),
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
