// Detail measures: how much of a rest mesh's fine surface detail a deformed copy of it keeps,
// measured over a chosen set of points (for a skinned mesh, the points where the joint weights
// blend, see BlendRegion).
//
// What is measured, for a deformed copy with the rest mesh's topology:
// - Edge-length change: over every edge with at least one end in the set, |L - L0| / L0, where L0
//   is the edge's rest length and L its current length; the mean over those edges. It is
//   dimensionless (0.01 = edges changed length by 1% on average): stretching and crushing both
//   raise it; a rigid motion leaves it 0.
// - Normal angle change: over every edge with at least one end in the set that is shared by exactly
//   two polygons, the signed dihedral angle between the two polygons' normals (0 for a flat
//   surface, positive where the surface folds one way across the edge, negative the other way),
//   taken in the current mesh and in the rest; the mean absolute difference, in degrees, wrapped
//   to [0, 180]. It reads how far the local surface orientation around each edge has changed:
//   flattened bumps and ridges raise it, a rigid motion leaves it 0. A polygon's normal is the
//   cross product of its diagonals (c - a) x (d - b), which for a triangle (c == d) is its plane's
//   normal.
// Lower is better for both; 0 means the detail in the set is exactly the rest's up to a rigid
// motion of each edge's neighbourhood.
//
// Relative to a base. Where the weights blend, the large-scale bend itself stretches, crushes and
// folds the surface, and a detail-perfect result would still score well above 0. Given a base,
// the same mesh without its fine detail, at rest and deformed the same way (for the limb: the
// tube made with detail amplitude 0 and skinned with the same poses), each term compares the
// detail's own share instead:
// - edge: |(L / Lb) / (L0 / L0b) - 1|, Lb and L0b the base edge's current and rest lengths (1
//   when a current base edge has length 0);
// - hinge: |(A - Ab) - (A0 - A0b)|, wrapped to [0, 180] degrees, Ab and A0b the base's current
//   and rest dihedral angles across the same edge.
// Then a result that follows the base's large-scale shape and keeps the rest's detail on it scores
// close to 0, and the base itself (all detail lost) scores what the detail was worth. Edges and
// hinges that are degenerate in the base at rest are left out as well. Edges of rest length 0 and
// hinges with a zero rest normal are left out. Sums run in ascending (lower index, higher index)
// edge order, so results do not depend on anything but the inputs.
#pragma once

#include <vector>

#include "host/abi/types.h"

namespace headless {

// The points whose largest weight over all joints is below `threshold`: the points where the
// weights blend. `weights` holds one array per joint, `count` entries each. Ascending indices.
// Throws std::invalid_argument for a null array while count > 0 or a negative count.
std::vector<Int32> BlendRegion(const std::vector<const Float32*>& weights, Int64 count,
                               Float32 threshold = 0.99f);

// One measured edge: its ends and rest length.
struct MeasuredEdge {
  Int32 a = 0;
  Int32 b = 0;
  Float restLength = 0.0;
};

// One measured hinge: the edge from -> to as wound in polygon `first`, the polygon `second` on
// the other side, and the rest dihedral angle in radians.
struct MeasuredHinge {
  Int32 from = 0;
  Int32 to = 0;
  Int32 first = 0;
  Int32 second = 0;
  Float restAngle = 0.0;
};

// What the measures compare against: the rest mesh's measured edges and hinges. With a base,
// restLength holds L0 / L0b and restAngle A0 - A0b.
struct DetailReference {
  Int64 pointCount = 0;
  bool relativeToBase = false;
  std::vector<CPolygon> polygons;
  std::vector<MeasuredEdge> edges;    // ascending (a, b), a < b
  std::vector<MeasuredHinge> hinges;  // ascending edge order
};

struct DetailMeasures {
  Float edgeLengthChange = 0.0;    // mean |L - L0| / L0
  Float normalAngleDegrees = 0.0;  // mean |dihedral - rest dihedral| in degrees
  Int64 edgeCount = 0;             // edges measured
  Int64 hingeCount = 0;            // hinges measured
};

// Prepares the reference of the rest mesh for the points in `region` (indices into rest; order and
// repeats do not matter); `restBase`, when not null, is the base at rest (one point per rest
// point, same polygons). Throws std::invalid_argument naming the fault for a negative count, a
// null array while its count > 0, or a polygon or region index outside [0, pointCount).
DetailReference PrepareDetailReference(const Vector3* rest, Int64 pointCount,
                                       const CPolygon* polygons, Int64 polygonCount,
                                       const std::vector<Int32>& region,
                                       const Vector3* restBase = nullptr);

// Measures `points` (one per rest point) against the reference; `base` is the deformed base, given
// exactly when the reference was prepared with one. With nothing measured both means are 0. Throws
// std::invalid_argument when pointCount differs from the reference's, points is null while
// pointCount > 0, or a base is missing or unexpected.
DetailMeasures MeasureDetail(const DetailReference& reference, const Vector3* points,
                             Int64 pointCount, const Vector3* base = nullptr);

}  // namespace headless
