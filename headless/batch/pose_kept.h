// Pose kept: how far a corrected mesh's large-scale shape departs from the skinned mesh it was
// corrected from. The correction should change a mesh's detail, not its pose; too many smoothing
// rounds on a coarse mesh straighten a bent joint back towards rest, which no detail measure
// against the mesh's own smoothed surface can see.
//
// The departure at each point is the difference corrected - skinned after kPoseRounds rounds of
// uniform neighbour averaging (each point to the mean of its edge neighbours, all at once). The
// averaging is linear and keeps constants and rigid motions, so the reading is exactly 0 when the
// two meshes agree, whatever their pose, and detail a few edges wide, which the correction is
// meant to change, averages out (ridges six edges apart keep 1% of their height) while a joint
// bent the other way does not. Read in units and in mean rest edge lengths; the worst point is
// where it is largest.
#pragma once

#include <span>
#include <vector>

#include "headless/geometry/mesh.h"
#include "host/abi/types.h"

namespace headless {

inline constexpr Int32 kPoseRounds = 16;

// The rest mesh's neighbours (compressed: point i's are neighbours[first[i] .. first[i + 1])),
// its mean edge length and the points read (every point when the region given was empty).
struct PoseReference {
  std::vector<Int64> first;
  std::vector<Int32> neighbours;
  std::vector<Int32> region;
  Float meanEdge = 0.0;
};

struct PoseKept {
  Float largest = 0.0;       // units, at worstPoint
  Float mean = 0.0;          // units, over the region
  Float largestEdges = 0.0;  // in mean edge lengths
  Float meanEdges = 0.0;
  Int32 worstPoint = -1;  // -1 with nothing read
};

// `region`: ascending or not, repeats allowed; empty reads every point. Throws
// std::invalid_argument naming the fault for a polygon or region index outside the points.
PoseReference PreparePoseReference(const Mesh& rest, std::span<const Int32> region = {});

// Throws std::invalid_argument when either mesh has another point count than the reference.
PoseKept MeasurePoseKept(const PoseReference& reference, std::span<const Vector3> skinned,
                         std::span<const Vector3> corrected);

// The averaging's two arrays, kept between readings: a guard reading every Nth frame of a run
// takes no fresh pages for each.
struct PoseRoom {
  std::vector<Vector3> now, next;
};
// The same reading, in `room`'s arrays.
PoseKept MeasurePoseKept(const PoseReference& reference, std::span<const Vector3> skinned,
                         std::span<const Vector3> corrected, PoseRoom& room);

}  // namespace headless
