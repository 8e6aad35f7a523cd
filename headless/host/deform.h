// Deformers in the headless host, and the deform pass of an evaluation.
//
// A deformer is an object plug-in registered with OBJECT_MODIFIER (bit 0 of its flags), or a
// node of a host deformer type (the point cache below; other host types register a native
// routine). A deformer acts on the polygon object that is its parent.
//
// DeformDocument, run by the evaluation after the expression tags:
// 1. every plug-in deformer of the document, in tree order, gets RefreshDirty, then JoinExecution
//    with the evaluation's execution list, then PrepareExecution; an answer other than
//    EXECUTIONRESULT_OK is reported as an error and keeps that deformer out of this pass;
// 2. every polygon object with deformer children gets a deform cache, a copy of its stored
//    points; while its deformers run, `useDeformCache` is set, so the mesh entries of the table
//    read and write the cache. Its children whose deform state is on run in child order:
//    plug-ins through DeformObject (the user's object itself, identity global matrices, detail
//    1.0, flags 0, no thread), host types natively. An answer of false or a native fault is
//    reported as an error naming the deformer and the object; the pass goes on with the cache as
//    that deformer left it;
// 3. a polygon object without deformers has its cache emptied.
// The object's own stored points never change.
//
// Restriction: a deformer may be restricted to a vertex map on the object it deforms. The table
// entry restrictionWeights answers a framework-allocated copy of the map's weights (one float32
// per point), or null when the deformer is not restricted, the map is gone or sits on another
// object, or its weight count differs from the object's point count. In that last case the
// deformer runs unrestricted and the pass reports a warning naming the map and both counts.
#pragma once

#include <string>
#include <vector>

#include "headless/host/scene.h"
#include "host/table.h"

namespace headless {

// The headless host's point-cache deformer. It holds samples of the object's points over time
// and replaces the deform cache by the sample at the document's frame. The node (not a polygon
// object, so no mesh entry of the table sees them) keeps the samples one after the other in its
// `points`; kPointCacheSampleCount gives their number and kPointCacheFrames + s the frame of
// sample s (ascending). Without a count the node holds one sample (or none) that plays at every
// frame. Between two samples each coordinate is interpolated linearly in the frame; before the
// first sample the first holds, after the last the last. No sample: the cache passes through
// unchanged. Samples of another point count than the object's are an error of the pass and the
// cache keeps the points it had.
inline constexpr Int32 kPointCacheType = 1099001;
inline constexpr Int32 kPointCacheSampleCount = 2200;  // int32
inline constexpr Int32 kPointCacheFrames = 3000;       // float64 per sample
inline constexpr Int32 kMaxPointCacheSamples = 1 << 20;

// A deformer that the host itself implements. Rewrites `points` (the deform cache) in place;
// answers false with `error` set, leaving `points` unchanged, when it cannot.
using NativeDeformer = bool (*)(Node* deformer, Node* object, std::vector<Vector3>& points,
                                std::string& error);
// Registers the native routine of a host deformer type (kPointCacheType and the skin deformer
// Oskin, headless/skin.h, are registered from the start). Throws std::invalid_argument for a null
// routine.
void RegisterNativeDeformer(Int32 type, NativeDeformer deform);

bool IsDeformer(const Node* node);

// One entry of an execution list, as JoinExecution added it.
struct ExecutionEntry {
  UInt64 node = 0;
  Int32 priority = 0;
  Int32 flags = 0;
};

// The PriorityList handle the host hands to JoinExecution.
struct ExecutionList {
  std::vector<ExecutionEntry> entries;
};

// One deformer run of the pass.
struct DeformCall {
  UInt64 deformer = 0;
  UInt64 object = 0;
  bool result = false;  // DeformObject's answer, or whether the native routine succeeded
};

struct DeformReport {
  ExecutionList executionList;
  std::vector<Int32> prepareResults;  // PrepareExecution's answer per plug-in deformer, tree order
  std::vector<DeformCall> calls;      // in the order they ran
  std::vector<std::string> errors;    // each names the deformer and the object
  std::vector<std::string> warnings;
  bool Ok() const { return errors.empty(); }
};

DeformReport DeformDocument(Document& doc);

// The points of the object's last deform pass, or its stored points when it had no deformer.
const std::vector<Vector3>& DeformedPoints(const Node* object);

// Restricts `deformer` to the vertex-map tag `vertexMap` (null lifts the restriction). Throws
// std::invalid_argument when `deformer` is not a deformer or `vertexMap` is not a vertex map.
void RestrictDeformer(Node* deformer, Node* vertexMap);
// The vertex map a deformer is restricted to, or null.
Node* RestrictionOf(const Node* deformer);

// Loads one frame into a point-cache node, played at every frame (an empty frame unloads it).
// Throws std::invalid_argument when the node is not a point cache or a coordinate is not finite.
void LoadPointCacheFrame(Node* pointCache, std::vector<Vector3> points);
// Loads samples of `pointCount` points each, sample s (points s * pointCount onwards) at
// frames[s]. Throws std::invalid_argument, changing nothing, when the node is not a point cache,
// the sizes disagree, there are more than kMaxPointCacheSamples, frames are not finite and
// strictly ascending, or a coordinate is not finite.
void LoadPointCacheSamples(Node* pointCache, Int64 pointCount, const std::vector<Float>& frames,
                           std::vector<Vector3> points);
// The frames of a point-cache node's samples (empty when it plays one sample or none). Throws
// std::invalid_argument when the stored count or frames are damaged.
std::vector<Float> PointCacheFrames(const Node* pointCache);

// Puts priorityListAdd, restrictionWeights and objectDefaultDraw into the host table.
void InstallDeformEntries(HostTable& table);

}  // namespace headless
