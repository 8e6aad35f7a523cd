// `tessamire scene import FILE --out SCENE [--tag] [--bind] [--cache CACHE] [--fps F]`: a scene
// made from a mesh or a rigged character.
// - MESH.obj: the mesh as a polygon object named after the file's stem; --tag adds a bind tag at
//   its defaults, --bind (which implies --tag) also presses its bind button; --cache puts the
//   host's point-cache deformer under the object with every sample of a PC2 or MDD file (an MDD's
//   times become frames at --fps, default 30).
// - A rigged character (.fbx, .gltf, .glb, .dae, .x and the rest Assimp reads): per skinned mesh
//   a polygon object with its joints, weights, skin deformer and keys (headless/io/character.h),
//   sampled at the file's rate or --fps. What could not be carried is printed as notes.
// Nothing is written on any error.
#include <algorithm>
#include <cctype>
#include <cmath>
#include <filesystem>

#include "cli/scene_commands.h"
#include "cli/sequence.h"
#include "cli/subcommands.h"
#include "headless/host/deform.h"
#include "headless/host/parameters.h"
#include "headless/host/point_cache.h"
#include "headless/host/registry.h"
#include "headless/io/character.h"
#include "headless/io/obj.h"
#include "headless/io/point_cache.h"
#include "headless/io/scene_file.h"

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
                 Float fps) {
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

}  // namespace

int RunSceneImport(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  ParsedArgs parsed;
  std::string error;
  if (!ParseArgs(args, {"--out", "--plugins", "--cache", "--fps"}, {"--tag", "--bind"}, parsed,
                 error)) {
    err << "tessamire scene import: " << error << "\n";
    return kExitUsage;
  }
  if (parsed.positional.size() != 1 || parsed.values.count("--out") == 0) {
    err << "tessamire scene import: needs one MESH.obj or character file and --out FILE\n";
    return kExitUsage;
  }
  const std::string meshPath = parsed.positional.front();
  const std::string outPath = parsed.values.at("--out");
  const bool bind = parsed.flags.count("--bind") != 0;
  const bool tag = bind || parsed.flags.count("--tag") != 0;
  const bool obj = IsObj(meshPath);
  const auto cacheIt = parsed.values.find("--cache");
  Float fps = 0.0;
  if (const auto it = parsed.values.find("--fps");
      it != parsed.values.end() && !ParseFps(it->second, fps)) {
    err << "tessamire scene import: --fps wants a positive number, not \"" << it->second << "\"\n";
    return kExitUsage;
  }
  if (!obj && (tag || cacheIt != parsed.values.end())) {
    err << "tessamire scene import: --tag, --bind and --cache apply to an OBJ mesh; a character "
           "gets its correction from `tessamire command`\n";
    return kExitUsage;
  }

  headless::PluginFolder folder;
  const auto dir = parsed.values.find("--plugins");
  if (!StartPlugins(dir == parsed.values.end() ? "" : dir->second, folder, err))
    return kExitFailure;

  int code = kExitOk;
  try {
    auto doc = headless::NewDocument();
    if (!obj) {
      const headless::CharacterImport imported =
          headless::ImportCharacter(meshPath, *doc, {.fps = fps});
      headless::SaveScene(*doc, outPath);
      for (const std::string& note : imported.notes)
        err << "tessamire scene import: note: " << meshPath << ": " << note << "\n";
      for (const headless::ImportedMesh& mesh : imported.meshes)
        out << outPath << ": object \"" << mesh.object->name << "\" with "
            << mesh.object->points.size() << " points (" << mesh.fileVertices
            << " vertices in the file) and " << mesh.object->polygons.size() << " polygons, "
            << mesh.joints.size() << " joints"
            << (imported.lastFrame >= 0
                    ? ", keyed at frames 0 to " + std::to_string(imported.lastFrame) + " (" +
                          headless::ShortestNumber(imported.fps) + " per second)"
                    : std::string())
            << "\n";
    } else {
      headless::Mesh mesh = headless::ReadObj(meshPath);
      const std::string name = std::filesystem::path(meshPath).stem().string();
      headless::Node* object = nullptr;
      try {
        object = doc->AddPolygonObject(name, std::move(mesh.points), std::move(mesh.polygons));
      } catch (const std::invalid_argument& e) {
        throw std::runtime_error(meshPath + ": " + e.what());
      }
      if (object == nullptr) throw std::runtime_error(meshPath + ": out of memory");
      if (tag) {
        headless::Node* bindTag = doc->AddTag(object, kTagId);
        if (bindTag == nullptr)
          throw std::runtime_error("the bind tag (plug-in " + std::to_string(kTagId) +
                                   ") could not be created");
        if (bind && !headless::PressButton(bindTag, kBindButton))
          throw std::runtime_error(meshPath + ": binding the tag failed");
      }
      if (cacheIt != parsed.values.end())
        AttachCache(*doc, object, cacheIt->second, fps > 0.0 ? fps : 30.0);
      headless::SaveScene(*doc, outPath);
      out << outPath << ": object \"" << name << "\" with " << object->points.size()
          << " points and " << object->polygons.size() << " polygons"
          << (bind  ? ", bound tag"
              : tag ? ", tag"
                    : "")
          << (cacheIt != parsed.values.end() ? ", point cache " + cacheIt->second : "") << "\n";
    }
  } catch (const std::exception& e) {
    err << "tessamire scene import: " << e.what() << "\n";
    code = kExitFailure;
  }
  folder.Close();
  return code;
}

}  // namespace cli
