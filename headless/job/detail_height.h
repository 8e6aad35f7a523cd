// Detail height: how far each point stands out of its own smoothed surface, and how much of a
// rest mesh's detail heights a deformed copy keeps. It looks at the fine detail directly (the
// ridges, grooves and bumps a viewer sees) rather than at edges and hinges, which the bend itself
// also changes.
//
// For a mesh X: S(X) is X after `iterations` rounds of uniform neighbour averaging (each point
// moves to the mean of its edge neighbours, all points at once); n(p) is the unit point normal of
// S(X) at p (the sum of the adjacent polygons' diagonal cross products, normalised); the detail
// height is h_X(p) = (X(p) - S(X)(p)) . n(p). It is unchanged by a rigid motion of X.
//
// Compared against the rest over a set of points: error = sum |h_X - h_rest| / sum |h_rest|, as a
// fraction of the rest's detail (0 = every height kept, 1 = as far off as losing all the detail).
// Given a base (the same mesh without detail, at rest and deformed alike), each height has the
// base's height at the same point subtracted first, so that the bend's own curvature, which
// smoothing also flattens, does not count as detail. Sums run in point order.
#pragma once

#include <vector>

#include "host/abi/types.h"

namespace headless {

// Rounds of neighbour averaging behind the detail heights: the main job's, enough to flatten
// ridges a few edges wide while keeping a limb's shape.
inline constexpr Int32 kDetailHeightRounds = 8;
// Rounds that spread each point's reading of kept detail over about one ridge, for pictures.
inline constexpr Int32 kKeptSpreadRounds = 2;

// Edge neighbours of every point, from the polygons (each once, ascending).
std::vector<std::vector<Int32>> PointNeighbours(Int64 pointCount,
                                                const std::vector<CPolygon>& polygons);

// S(X): `points` after `rounds` rounds of uniform neighbour averaging (a point without neighbours
// stays). Throws std::invalid_argument for neighbour lists of another count than the points or
// an index out of range.
std::vector<Vector3> SmoothedPoints(std::vector<Vector3> points,
                                    const std::vector<std::vector<Int32>>& neighbours,
                                    Int32 rounds);

// h_X for every point. Throws std::invalid_argument for a polygon or neighbour index out of range
// or neighbour lists of another count than the points.
std::vector<Float> DetailHeights(const std::vector<Vector3>& points,
                                 const std::vector<CPolygon>& polygons,
                                 const std::vector<std::vector<Int32>>& neighbours,
                                 Int32 iterations);

// The error above over `region`; `base` and `restBase` empty or both given (same size as the
// others). Throws std::invalid_argument for arrays of different sizes or an index out of range.
// 0 when the rest has no detail in the region.
Float DetailHeightError(const std::vector<Float>& heights, const std::vector<Float>& restHeights,
                        const std::vector<Float>& base, const std::vector<Float>& restBase,
                        const std::vector<Int32>& region);

// How much of the rest's detail each point keeps locally, for pictures: the root mean square of
// (h - base) over the point's neighbourhood divided by that of (h_rest - restBase), where the
// mean spreads over `rounds` rounds of averaging each point with its edge neighbours (so a point
// between two ridges still reads its ridges' height). 1 = as at rest, 0 = flattened, above 1 =
// exaggerated; 1 where the rest has no detail nearby. `base` and `restBase` as for
// DetailHeightError. Throws std::invalid_argument for arrays or neighbour lists of different
// sizes.
std::vector<Float> LocalDetailKept(const std::vector<Float>& heights,
                                   const std::vector<Float>& restHeights,
                                   const std::vector<Float>& base,
                                   const std::vector<Float>& restBase,
                                   const std::vector<std::vector<Int32>>& neighbours, Int32 rounds);

}  // namespace headless
