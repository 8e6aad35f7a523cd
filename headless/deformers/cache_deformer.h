// The headless host's point-cache deformer (type kPointCacheType). It holds samples of the
// object's points over time and, in the deform pass, replaces the deform cache by the sample at
// the document's frame (Document::Frame, set by EvaluateDocumentAtFrame). The node (not a polygon
// object, so no mesh entry of the table sees them) keeps the samples one after the other in its
// `points`; kPointCacheSampleCount gives their number and kPointCacheFrames + s the frame of
// sample s (ascending). Without a count the node holds one loaded frame (or none) that plays at
// every frame. Between two samples each coordinate is interpolated linearly in the frame; before
// the first sample the first holds, after the last the last. No sample: the cache passes through
// unchanged. Samples of another point count than the object's are an error of the pass and the
// cache keeps the points it had.
#pragma once

#include <vector>

#include "headless/scene/native_deformers.h"
#include "headless/scene/scene.h"

namespace headless {

inline constexpr Int32 kPointCacheType = 1099001;
inline constexpr Int32 kPointCacheSampleCount = 2200;  // int32
inline constexpr Int32 kPointCacheFrames = 3000;       // float64 per sample
inline constexpr Int32 kMaxPointCacheSamples = 1 << 20;

// Loads one frame into a point-cache node, played at every frame (an empty frame unloads it).
// Throws std::invalid_argument when the node is not a point cache or a coordinate is not finite.
void LoadPointCacheFrame(Node* pointCache, std::vector<Vector3> points);
// Loads samples of `pointCount` points each, sample s (points s * pointCount onwards) at
// frames[s]. Throws std::invalid_argument, changing nothing, when the node is not a point cache,
// the sizes disagree, there are more than kMaxPointCacheSamples, frames are not finite and
// strictly ascending, or a coordinate is not finite.
void LoadPointCacheSamples(Node* pointCache, Int64 pointCount, const std::vector<Float>& frames,
                           std::vector<Vector3> points);
// The frames of a point-cache node's samples (empty when it plays one frame or none). Throws
// std::invalid_argument when the stored count or frames are damaged.
std::vector<Float> PointCacheFrames(const Node* pointCache);

// Registers the point cache's native routine (native_deformers.h).
void InstallPointCache();

}  // namespace headless
