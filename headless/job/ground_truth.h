// Cases where the ideal result of a correction is known, to judge settings and measures against
// the truth rather than against another measure.
//
// Each case is a detailed shape, the same shape without its detail (its base: same points, same
// polygons, each detailed point its base point moved by a detail offset), two joints and smooth
// weights. Joint 0 stays; joint 1 turns by the bend angle about a line through the joint. The
// input a correction gets is the detailed shape skinned (linear blend) with the weights. The ideal
// is the base skinned with the same weights, each rest detail offset then turned, not scaled, by
// the rotation of the skinned base's local frame (point normal and first edge, PointFrames) at its
// foot point. So ideal and input share their large-scale shape, the blend's own loss of volume
// included, and what is left between a result and the ideal is the detail's error alone.
//
// The deformation is kept regular: every blend band is wider than the shape is thick across the
// bend, and the generator refuses (std::invalid_argument) a case where a polygon of the skinned
// base turns its normal more than 90 degrees from its rest normal turned by the polygon's own share
// of the bend, which is what folding inside the joint does.
//
// The true error of a result is its distance from the ideal over the blend region (points whose
// largest weight is below 0.99): mean and 95th percentile, in units and as a share of the detail's
// height there (the mean length of the detail offsets over the region).
#pragma once

#include <string>
#include <vector>

#include "headless/deformers/skinning.h"
#include "headless/geometry/mesh.h"
#include "host/abi/types.h"

namespace headless {

enum class TruthShape {
  kLimb,   // the built-in limb's tube: ridges, grooves and bumps, bent at the elbow
  kTorus,  // a torus with a pattern of bumps, its upper half folded about a diameter
  kSheet,  // a flat sheet with ridges and bumps, open borders, bent along its middle
  kScan,   // a tube with seeded detail at three scales, as a scanned surface has
};

struct TruthOptions {
  TruthShape shape = TruthShape::kLimb;
  Int64 approximatePoints = 10000;  // at least 200
  Float bendDegrees = 90.0;         // above 0, at most 120
  UInt64 seed = 1;
};

struct TruthCase {
  std::string name;
  Mesh rest;                                  // the detailed shape at rest
  std::vector<Vector3> restBase;              // its base
  std::vector<std::vector<Float32>> weights;  // two arrays, one weight per point each
  std::vector<JointPose> joints;
  std::vector<Vector3> skinned;  // the input: the detailed shape skinned
  std::vector<Vector3> ideal;
  std::vector<Int32> region;  // the blend region, ascending
  Float detailHeight = 0.0;   // mean detail offset length over the region
  bool hasBorders = false;    // open borders, where pinning them matters
};

// The name of each shape: "limb", "torus", "sheet", "scan".
const char* TruthShapeName(TruthShape shape);

// Builds the case. Throws std::invalid_argument naming the fault for too few points, a bend
// angle out of range, or a bend that folds the joint.
TruthCase MakeTruthCase(const TruthOptions& options);

// A tube carrying seeded detail at three scales (bumps about 1, 3 and 8 edges wide, heights
// growing with width), displaced along the smooth tube's normals: the detailed mesh and its base,
// with the limb's joints (2: shoulder and elbow; 3: and wrist, with narrower blend bands) and
// smooth weights. The same arguments give the same bits. Throws std::invalid_argument as MakeLimb
// does.
struct ScanLikeMesh {
  Mesh detailed;
  std::vector<Vector3> base;
  Int32 rings = 0;
  Int32 segments = 0;
  std::vector<Vector3> jointPositions;        // on the tube's axis (+Y)
  std::vector<std::vector<Float32>> weights;  // one array per joint, one entry per point
};
ScanLikeMesh MakeScanLikeMesh(Int64 approximatePoints, UInt64 seed, Int32 jointCount = 2);

struct TrueError {
  Float mean = 0.0;  // units
  Float p95 = 0.0;
  Float meanShare = 0.0;  // of the detail's height
  Float p95Share = 0.0;
};

// The distance of `result` (one point per rest point) from the ideal. Throws
// std::invalid_argument for another point count.
TrueError MeasureTrueError(const TruthCase& truth, const std::vector<Vector3>& result);

}  // namespace headless
