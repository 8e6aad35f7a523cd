// The headless host's point-cache deformer (type kPointCacheType). It holds one loaded frame of
// points (in the node's `points`; the node is not a polygon object, so no mesh entry of the
// table sees them) and, in the deform pass, replaces the deform cache by it. No frame loaded:
// the cache passes through unchanged. A frame of another point count than the object's is an
// error of the pass and the cache keeps the points it had.
#pragma once

#include <vector>

#include "headless/host/native_deformers.h"
#include "headless/host/scene.h"

namespace headless {

inline constexpr Int32 kPointCacheType = 1099001;

// Loads a frame into a point-cache node (an empty frame unloads it). Throws
// std::invalid_argument when the node is not a point cache or a coordinate is not finite.
void LoadPointCacheFrame(Node* pointCache, std::vector<Vector3> points);

// Puts the point cache's native routine into `natives` (native_deformers.h).
void InstallPointCache(NativeDeformers& natives);

}  // namespace headless
