#include "headless/batch/scene_import.h"

#include <filesystem>
#include <stdexcept>
#include <utility>
#include <vector>

#include "headless/batch/keyed_range.h"
#include "headless/deformers/cache_deformer.h"
#include "headless/files/input_ranges.h"
#include "headless/io/character_reader.h"
#include "headless/io/obj_read.h"
#include "headless/io/point_cache.h"
#include "headless/scene/parameters.h"
#include "headless/scene/registry.h"
#include "host/abi/ids.h"

namespace headless {

void AttachPointCache(Document& doc, Node* object, const std::string& cachePath, Float fps,
                      const ImportNote& note) {
  const PointCache cache = ReadPointCache(cachePath);
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
  const std::string spacing = SampleSpacingNote(frames);
  if (!spacing.empty() && note) note(cachePath + ": " + spacing);
  Node* node =
      doc.AddObject(kPointCacheType, std::filesystem::path(cachePath).filename().string(), object);
  if (node == nullptr) throw std::runtime_error("the point cache could not be created");
  try {
    LoadPointCacheSamples(node, static_cast<Int64>(object->points.size()), frames,
                          std::move(points));
  } catch (const std::invalid_argument& e) {
    throw std::runtime_error(cachePath + ": " + e.what());
  }
}

ObjScene ImportObjScene(const std::string& meshPath, const ObjSceneSettings& settings,
                        const ImportNote& note) {
  Mesh mesh = ReadObj(meshPath);
  CheckCoordinateRange(mesh.points, meshPath);
  ObjScene scene{NewDocument(), nullptr};
  Document& doc = *scene.document;
  const std::string name =
      meshPath == "-" ? "mesh" : std::filesystem::path(meshPath).stem().string();
  try {
    scene.object = doc.AddPolygonObject(name, std::move(mesh.points), std::move(mesh.polygons));
  } catch (const std::invalid_argument& e) {
    throw std::runtime_error(meshPath + ": " + e.what());
  }
  if (scene.object == nullptr) throw std::runtime_error(meshPath + ": out of memory");
  if (settings.fps > 0.0) doc.SetFrameRate(settings.fps);
  if (settings.tag) {
    Node* bindTag = doc.AddTag(scene.object, ID_TTESSAMIRE);
    if (bindTag == nullptr)
      throw std::runtime_error("the bind tag (plug-in " + std::to_string(ID_TTESSAMIRE) +
                               ") could not be created");
    if (settings.bind && !PressButton(bindTag, TTESSAMIRE_BIND))
      throw std::runtime_error(meshPath + ": binding the tag failed");
  }
  if (!settings.cachePath.empty())
    AttachPointCache(doc, scene.object, settings.cachePath,
                     settings.fps > 0.0 ? settings.fps : 30.0, note);
  return scene;
}

CharacterScene ImportCharacterScene(const std::string& path, const CharacterOptions& options) {
  ReadCharacter read = ReadCharacterApart(path, options);
  return {std::move(read.document), std::move(read.imported)};
}

}  // namespace headless
