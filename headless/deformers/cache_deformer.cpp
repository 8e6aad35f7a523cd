#include "headless/deformers/cache_deformer.h"

#include <cmath>
#include <stdexcept>
#include <string>

namespace headless {

namespace {

void CheckFinite(const std::vector<Vector3>& points) {
  for (size_t i = 0; i < points.size(); ++i) {
    const Vector3& p = points[i];
    if (!std::isfinite(p.x) || !std::isfinite(p.y) || !std::isfinite(p.z))
      throw std::invalid_argument("point " + std::to_string(i) + " has a non-finite coordinate");
  }
}

void CheckPointCache(const Node* node, const char* caller) {
  if (node == nullptr || node->isTag || node->type != kPointCacheType)
    throw std::invalid_argument(std::string(caller) + ": the node is not a point cache");
}

void PlayPointCache(Node* deformer, Node* object, std::vector<Vector3>& points) {
  if (deformer->points.empty()) return;
  const std::vector<Float> frames = PointCacheFrames(deformer);
  const size_t samples = frames.empty() ? 1 : frames.size();
  if (deformer->points.size() != samples * points.size())
    throw std::invalid_argument(
        (samples == 1 ? "the loaded frame holds "
                      : "the cache holds " + std::to_string(samples) + " samples of ") +
        std::to_string(deformer->points.size() / samples) + " points but the object has " +
        std::to_string(points.size()));
  if (frames.size() < 2) {
    points = deformer->points;
    return;
  }
  // The sample interval holding the frame, as the joints' keys do it.
  const Float frame = object->document != nullptr ? object->document->Frame() : 0.0;
  size_t i = 0;
  Float t = 0.0;
  if (frame >= frames.back()) {
    i = frames.size() - 1;
  } else if (frame > frames.front()) {
    while (frames[i + 1] <= frame) ++i;
    t = (frame - frames[i]) / (frames[i + 1] - frames[i]);
  }
  const Vector3* a = deformer->points.data() + i * points.size();
  if (t == 0.0) {
    points.assign(a, a + points.size());
    return;
  }
  const Vector3* b = a + points.size();
  for (size_t p = 0; p < points.size(); ++p)
    points[p] = {a[p].x + t * (b[p].x - a[p].x), a[p].y + t * (b[p].y - a[p].y),
                 a[p].z + t * (b[p].z - a[p].z)};
}

}  // namespace

void LoadPointCacheFrame(Node* pointCache, std::vector<Vector3> points) {
  CheckPointCache(pointCache, "LoadPointCacheFrame");
  try {
    CheckFinite(points);
  } catch (const std::invalid_argument& e) {
    throw std::invalid_argument(std::string("LoadPointCacheFrame: ") + e.what());
  }
  std::vector<Int32> ids;
  for (const auto& [id, value] : pointCache->params.Entries())
    if (id == kPointCacheSampleCount || id >= kPointCacheFrames) ids.push_back(id);
  for (Int32 id : ids) pointCache->params.Erase(id);
  pointCache->points = std::move(points);
}

void LoadPointCacheSamples(Node* pointCache, Int64 pointCount, const std::vector<Float>& frames,
                           std::vector<Vector3> points) {
  CheckPointCache(pointCache, "LoadPointCacheSamples");
  const std::string caller = "LoadPointCacheSamples: ";
  if (frames.empty() || frames.size() > static_cast<size_t>(kMaxPointCacheSamples))
    throw std::invalid_argument(caller + std::to_string(frames.size()) + " samples (1 to " +
                                std::to_string(kMaxPointCacheSamples) + " can be held)");
  if (pointCount < 0 ||
      static_cast<Int64>(points.size()) != pointCount * static_cast<Int64>(frames.size()))
    throw std::invalid_argument(caller + std::to_string(points.size()) + " points are not " +
                                std::to_string(frames.size()) + " samples of " +
                                std::to_string(pointCount));
  for (size_t s = 0; s < frames.size(); ++s)
    if (!std::isfinite(frames[s]) || (s > 0 && !(frames[s] > frames[s - 1])))
      throw std::invalid_argument(caller + "the frame of sample " + std::to_string(s) +
                                  " is not finite or not after the one before");
  LoadPointCacheFrame(pointCache, std::move(points));
  pointCache->params.SetInt32(kPointCacheSampleCount, static_cast<Int32>(frames.size()));
  for (size_t s = 0; s < frames.size(); ++s)
    pointCache->params.SetFloat(kPointCacheFrames + static_cast<Int32>(s), frames[s]);
}

std::vector<Float> PointCacheFrames(const Node* pointCache) {
  CheckPointCache(pointCache, "PointCacheFrames");
  const std::optional<Int32> count = pointCache->params.GetInt32(kPointCacheSampleCount);
  std::vector<Float> frames;
  if (!count) return frames;
  if (*count < 1 || *count > kMaxPointCacheSamples)
    throw std::invalid_argument("point cache '" + pointCache->name + "': sample count " +
                                std::to_string(*count) + " out of range");
  for (Int32 s = 0; s < *count; ++s) {
    const std::optional<Float> frame = pointCache->params.GetFloat(kPointCacheFrames + s);
    if (!frame || !std::isfinite(*frame) || (s > 0 && !(*frame > frames.back())))
      throw std::invalid_argument("point cache '" + pointCache->name + "': the frame of sample " +
                                  std::to_string(s) + " is missing, not finite or out of order");
    frames.push_back(*frame);
  }
  return frames;
}

void InstallPointCache() {
  RegisterNativeDeformer(kPointCacheType, PlayPointCache, NativeLifetime::kProcess);
}

}  // namespace headless
