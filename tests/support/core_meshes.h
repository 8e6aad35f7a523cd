// Small meshes built inline for the core's tests.
#pragma once

#include <cmath>
#include <vector>

#include "host/types.h"

namespace core_meshes {

struct Mesh {
  std::vector<Vector3> points;
  std::vector<CPolygon> polygons;
};

// A flat grid of nx by ny unit quads in z = 0, point (i, j) at index j * (nx + 1) + i, each quad
// wound a, b, c, d counter-clockwise seen from +z.
inline Mesh Grid(Int32 nx, Int32 ny, Float spacing = 1.0) {
  Mesh mesh;
  for (Int32 j = 0; j <= ny; ++j)
    for (Int32 i = 0; i <= nx; ++i) mesh.points.push_back({i * spacing, j * spacing, 0.0});
  auto at = [nx](Int32 i, Int32 j) { return j * (nx + 1) + i; };
  for (Int32 j = 0; j < ny; ++j)
    for (Int32 i = 0; i < nx; ++i)
      mesh.polygons.push_back({at(i, j), at(i + 1, j), at(i + 1, j + 1), at(i, j + 1)});
  return mesh;
}

// A closed torus of u by v quads (every edge shared by two quads), radii 3 and 1.
inline Mesh Torus(Int32 u, Int32 v) {
  Mesh mesh;
  const Float twoPi = 6.283185307179586;
  for (Int32 i = 0; i < u; ++i) {
    for (Int32 j = 0; j < v; ++j) {
      const Float a = twoPi * i / u;
      const Float b = twoPi * j / v;
      const Float r = 3.0 + std::cos(b);
      mesh.points.push_back({r * std::cos(a), r * std::sin(a), std::sin(b)});
    }
  }
  auto at = [u, v](Int32 i, Int32 j) { return (i % u) * v + (j % v); };
  for (Int32 i = 0; i < u; ++i)
    for (Int32 j = 0; j < v; ++j)
      mesh.polygons.push_back({at(i, j), at(i + 1, j), at(i + 1, j + 1), at(i, j + 1)});
  return mesh;
}

}  // namespace core_meshes
