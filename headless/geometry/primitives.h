// Generated meshes for tests, benchmarks and the main job: flat grids, tubes and tori. The same
// arguments always give the same bits; the point and polygon orders below are part of the
// contract (tests and benchmark fingerprints depend on them).
#pragma once

#include <vector>

#include "headless/geometry/mesh.h"
#include "host/abi/types.h"

namespace headless {

// A flat grid of nx by ny quads in z = 0: point (i, j) = (i * spacing, j * spacing, 0) at index
// j * (nx + 1) + i, row by row; quad (i, j) = {(i, j), (i + 1, j), (i + 1, j + 1), (i, j + 1)},
// counter-clockwise seen from +z, in the same order. No points for nx or ny below 0.
Mesh Grid(Int32 nx, Int32 ny, Float spacing = 1.0);

// The quads of a tube of `rings` rings with `segments` points each, point (i, j) at index
// i * segments + j: quad (i, j) = {(i, j), (i + 1, j), (i + 1, j + 1), (i, j + 1)}, j wrapping
// around, ring pair by ring pair. Open, the tube has rings - 1 ring pairs; closed, the last ring
// is joined to the first as well (a torus). Indices must fit 32 bits.
std::vector<CPolygon> TubeQuads(Int32 rings, Int32 segments, bool closed);

// A torus about the z axis, optionally with a pattern of bumps on its surface.
struct TorusShape {
  Float majorRadius = 3.0;  // of the circle through the tube's centre
  Float minorRadius = 1.0;  // of the tube, before the bumps
  // The tube's radius at angles (a, b) is minorRadius + bumpHeight * sin(bumpsAround * a) *
  // cos(bumpsAcross * b); a height of 0 leaves the torus smooth.
  Float bumpHeight = 0.0;
  Float bumpsAround = 0.0;
  Float bumpsAcross = 0.0;
};

// A closed torus of u by v quads (every edge shared by two quads). Point (i, j), at index
// i * v + j, lies at angle a = 2 pi i / u about the z axis and b = 2 pi j / v about the tube:
// (r cos a, r sin a, t sin b), t the tube's radius there and r = majorRadius + t cos b. Polygons:
// TubeQuads(u, v, true).
Mesh Torus(Int32 u, Int32 v, const TorusShape& shape = {});

}  // namespace headless
