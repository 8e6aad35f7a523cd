#include "headless/host/point_cache.h"

#include <cmath>
#include <stdexcept>
#include <string>

namespace headless {

namespace {

bool LoadedFrame(Node* deformer, Node*, std::vector<Vector3>& points, std::string& error) {
  if (deformer->points.empty()) return true;
  if (deformer->points.size() != points.size()) {
    error = "the loaded frame holds " + std::to_string(deformer->points.size()) +
            " points but the object has " + std::to_string(points.size());
    return false;
  }
  points = deformer->points;
  return true;
}

}  // namespace

void LoadPointCacheFrame(Node* pointCache, std::vector<Vector3> points) {
  if (pointCache == nullptr || pointCache->isTag || pointCache->type != kPointCacheType)
    throw std::invalid_argument("LoadPointCacheFrame: the node is not a point cache");
  for (size_t i = 0; i < points.size(); ++i) {
    const Vector3& p = points[i];
    if (!std::isfinite(p.x) || !std::isfinite(p.y) || !std::isfinite(p.z))
      throw std::invalid_argument("LoadPointCacheFrame: point " + std::to_string(i) +
                                  " has a non-finite coordinate");
  }
  pointCache->points = std::move(points);
}

void InstallPointCache(NativeDeformers& natives) {
  natives[kPointCacheType] = LoadedFrame;
}

}  // namespace headless
