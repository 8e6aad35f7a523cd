// A limb-like test mesh for the main job: a closed tube along +Y carrying fine surface detail,
// with smooth per-joint skin weights.
//
// Shape: body rings from y = 0 (shoulder) to y = length, radius `radius` at the shoulder tapering
// towards the far end, with a slight bulge at the elbow (y = length / 2). Both ends are closed by
// a fan of triangles to a pole point just beyond the last ring, so the mesh has quads and
// triangles. Detail, displaced along the smooth surface's normal: ridges running around the tube,
// shallower grooves running along it, and small Gaussian bumps at seeded pseudo-random positions;
// peak amplitude about `detailAmplitude` x radius. The detail's wavelength is given in edge
// lengths (`detailWavelength` ring spacings along the axis, the nearest whole number of grooves
// to segments / detailWavelength around it, bumps of a quarter of that wide), so it stays fine
// but resolvable whatever the point count.
//
// Layout of the result (0-based indices):
// - points: ring i (0 = shoulder end), segment j around the axis at index i * segments + j; then
//   the shoulder pole at rings * segments and the far pole at rings * segments + 1.
// - polygons: the body quads {P(i, j), P(i + 1, j), P(i + 1, j + 1), P(i, j + 1)} (j wrapping),
//   ring pair by ring pair; then the shoulder cap triangles, then the far cap triangles, each
//   triangle repeating its third index as the fourth. Every polygon is wound counter-clockwise
//   seen from outside, and every edge is shared by exactly two polygons.
// - weights: one float32 array per joint, one entry per point; at every point they are >= 0 and
//   sum to 1 (up to float32 rounding). Joint 0 (shoulder) owns the upper arm; each later joint
//   takes over across a band of half-width `blendHalfWidth` centred on it, through a smoothstep
//   of the ring's height (before the detail displacement; the poles' own height), so weights
//   blend smoothly in the band and are exactly 0 or 1 outside it, and the same options with any
//   detail amplitude give the same weights.
//
// The same options always give the same bits.
#pragma once

#include <vector>

#include "headless/geometry/mesh.h"
#include "host/abi/types.h"

namespace headless {

// A seeded generator (splitmix64), deterministic on every platform, unlike the standard
// distributions: the same seed gives the same numbers everywhere.
struct SplitMix64 {
  UInt64 state;
  UInt64 Next() {
    UInt64 z = (state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  // Uniform in [0, 1) with 53 random bits.
  Float Unit() { return static_cast<Float>(Next() >> 11) * (1.0 / 9007199254740992.0); }
};

struct LimbOptions {
  // Rings along the axis and segments around it; both 0 = derived from approximatePoints so that
  // quads are roughly square. Otherwise rings >= 2 and segments >= 3.
  Int32 rings = 0;
  Int32 segments = 0;
  Int64 approximatePoints = 50000;  // used when rings and segments are 0; at least 8
  Float length = 4.0;
  Float radius = 0.5;
  Int32 jointCount = 2;          // 2: shoulder and elbow; 3: and wrist at 7/8 of the length
  Float blendHalfWidth = 0.4;    // half-width of each joint's blend band, in length units
  Float detailAmplitude = 0.04;  // peak detail height as a fraction of the radius; 0 = smooth
  Float detailWavelength = 6.0;  // of the ridges and grooves, in edge lengths; at least 2
  Int32 bumpCount = 1200;
  UInt64 seed = 1;
};

// The mesh (points and polygons as laid out above) with what the rig needs.
struct LimbMesh : Mesh {
  Int32 rings = 0;
  Int32 segments = 0;
  std::vector<Vector3> jointPositions;        // rest position of each joint, on the axis
  std::vector<std::vector<Float32>> weights;  // one array per joint, one entry per point
};

// Builds the limb. Throws std::invalid_argument naming the fault for bad options (too few rings,
// segments or points, a point count beyond int32, a joint count other than 2 or 3, a
// non-positive length or radius, a blend band that does not fit between the joints, a negative
// amplitude or bump count, a detail wavelength below 2 edges).
LimbMesh MakeLimb(const LimbOptions& options);

}  // namespace headless
