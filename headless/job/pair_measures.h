// The main job's three measures for any rest mesh and a deformed copy of it (same points, same
// polygons), without a base: the detail height error (detail_height.h), the edge change and the
// hinge change (measures.h), over every point or over a chosen set. This is what
// `tessamire measure` and `tessamire apply --report` print, so that settings can be judged on
// one's own meshes. Also how much detail each point keeps, for pictures.
//
// Without a base the bend's own change of shape counts too: compare a corrected mesh with the
// uncorrected one it came from rather than reading either number alone.
#pragma once

#include <vector>

#include "headless/batch/pose_kept.h"
#include "headless/geometry/mesh.h"
#include "headless/job/measures.h"
#include "host/abi/types.h"

namespace headless {

// What a deformed copy is compared with: the rest mesh's detail heights, neighbours, measured
// edges and hinges, and the points measured.
struct PairReference {
  std::vector<CPolygon> polygons;
  std::vector<std::vector<Int32>> neighbours;
  std::vector<Float> restHeights;
  std::vector<Int32> region;  // ascending point indices
  DetailReference detail;
  PoseReference pose;
  // The rest's offsets from its surface smoothed kDetailKeptRounds rounds, and that surface's
  // frames, for DetailKeptAgainst.
  std::vector<Vector3> restOffsets;
  std::vector<SurfaceFrame> restFrames;
};

// Rounds of uniform neighbour averaging behind "detail kept": chosen on the ground-truth cases
// (ground_truth.h), where the measure's choice of settings came closest to the true best.
inline constexpr Int32 kDetailKeptRounds = 32;

struct PairMeasures {
  Float heightError = 0.0;  // fraction of the rest's detail height (0.05 = 5%)
  DetailMeasures detail;    // edge change (fraction) and hinge change (degrees)
  // Against the skinned mesh, when one was given (MeasureAgainstSkinned).
  bool againstSkinned = false;
  PoseKept pose;
  Float detailKept = 0.0;  // DetailKeptAgainst
};

// The reference of `rest` over the points whose weight in `region` is not 0 (one weight per
// point), or over every point when `region` is empty. Throws std::invalid_argument naming the
// fault for a broken mesh or a region of another size than the points.
PairReference PreparePairReference(const Mesh& rest, const std::vector<Float32>& region);

// Measures `points` (one per rest point) against the reference. Throws std::invalid_argument
// for another point count.
PairMeasures MeasurePair(const PairReference& reference, const std::vector<Vector3>& points);

// Detail kept, measured so that a result that lost the pose cannot score well: the rest's detail
// is its offset from its own surface smoothed kDetailKeptRounds rounds; the detail expected of a
// corrected mesh is that offset turned as the skinned mesh's smoothed surface turned (so it follows
// the skinned pose, not the corrected mesh's own), put on that surface. 1 - sum |corrected -
// expected| / sum |rest offset| over the region: 1 as at rest, 0 as far off as losing the detail,
// below 0 further still. Throws std::invalid_argument for another point count.
Float DetailKeptAgainst(const PairReference& reference, const std::vector<Vector3>& skinned,
                        const std::vector<Vector3>& corrected);

// MeasurePair of `corrected`, with pose kept and detail kept against `skinned`.
PairMeasures MeasureAgainstSkinned(const PairReference& reference,
                                   const std::vector<Vector3>& skinned,
                                   const std::vector<Vector3>& corrected);

// How much of the rest's detail each point of `points` keeps (1 as at rest, 0 flattened, above 1
// exaggerated), spread over kKeptSpreadRounds rounds (detail_height.h).
std::vector<Float> DetailKept(const PairReference& reference, const std::vector<Vector3>& points);

}  // namespace headless
