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
  // The rest's detail at the fixed scale: its offsets from its surface smoothed kKeptScaleRounds
  // rounds, and that surface's frames, for MeasureKeptAtScale.
  std::vector<Vector3> restOffsets;
  std::vector<SurfaceFrame> restFrames;
  Float restDetail = 0.0;  // mean offset length over the region
};

// The one scale every result is read at, whatever the setting that made it: rounds of uniform
// neighbour averaging. Chosen on the ground-truth cases (ground_truth.h): at 4 the estimate's
// choice came within 6% of the true best's error on every case, at 8 up to 1.7 times it, at 16
// or more the estimate favoured settings near its own scale (docs/user-guide.md, "Choosing
// settings").
inline constexpr Int32 kKeptScaleRounds = 4;

// A result read at the fixed scale against the skinned mesh it was corrected from. S is the
// averaging of kKeptScaleRounds rounds. At each point of the region the pose part is
// |S(result) - S(skinned)|, the detail part |(result - S(result)) - rest detail turned as
// S(skinned) turned| (so the detail expected follows the skinned pose, not the result's own), and
// the estimate of the error the hypotenuse of the two. Means over the region, in units.
struct KeptAtScale {
  Float pose = 0.0;
  Float detail = 0.0;
  Float estimate = 0.0;
  Float detailKept = 1.0;  // 1 - detail / the rest's mean detail: 1 as at rest
};

struct PairMeasures {
  Float heightError = 0.0;  // fraction of the rest's detail height (0.05 = 5%)
  DetailMeasures detail;    // edge change (fraction) and hinge change (degrees)
  // Against the skinned mesh, when one was given (MeasureAgainstSkinned).
  bool againstSkinned = false;
  PoseKept pose;
  Float detailKept = 0.0;  // KeptAtScale::detailKept
  Float estimate = 0.0;    // KeptAtScale::estimate, units
};

// The reference of `rest` over the points whose weight in `region` is not 0 (one weight per
// point), or over every point when `region` is empty. Throws std::invalid_argument naming the
// fault for a broken mesh or a region of another size than the points.
PairReference PreparePairReference(const Mesh& rest, const std::vector<Float32>& region);

// Measures `points` (one per rest point) against the reference. Throws std::invalid_argument
// for another point count.
PairMeasures MeasurePair(const PairReference& reference, const std::vector<Vector3>& points);

// See KeptAtScale. Throws std::invalid_argument for another point count.
KeptAtScale MeasureKeptAtScale(const PairReference& reference, const std::vector<Vector3>& skinned,
                               const std::vector<Vector3>& corrected);

// MeasurePair of `corrected`, with pose kept and detail kept against `skinned`.
PairMeasures MeasureAgainstSkinned(const PairReference& reference,
                                   const std::vector<Vector3>& skinned,
                                   const std::vector<Vector3>& corrected);

// How much of the rest's detail each point of `points` keeps (1 as at rest, 0 flattened, above 1
// exaggerated), spread over kKeptSpreadRounds rounds (detail_height.h).
std::vector<Float> DetailKept(const PairReference& reference, const std::vector<Vector3>& points);

}  // namespace headless
