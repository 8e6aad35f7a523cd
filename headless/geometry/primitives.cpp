#include "headless/geometry/primitives.h"

#include <cmath>

namespace headless {

Mesh Grid(Int32 nx, Int32 ny, Float spacing) {
  Mesh mesh;
  for (Int32 j = 0; j <= ny; ++j)
    for (Int32 i = 0; i <= nx; ++i) mesh.points.push_back({i * spacing, j * spacing, 0.0});
  auto at = [nx](Int32 i, Int32 j) { return j * (nx + 1) + i; };
  for (Int32 j = 0; j < ny; ++j)
    for (Int32 i = 0; i < nx; ++i)
      mesh.polygons.push_back({at(i, j), at(i + 1, j), at(i + 1, j + 1), at(i, j + 1)});
  return mesh;
}

std::vector<CPolygon> TubeQuads(Int32 rings, Int32 segments, bool closed) {
  std::vector<CPolygon> quads;
  if (rings < 1 || segments < 1) return quads;
  const Int32 pairs = closed ? rings : rings - 1;
  quads.reserve(static_cast<size_t>(pairs) * static_cast<size_t>(segments));
  auto at = [rings, segments](Int32 i, Int32 j) { return (i % rings) * segments + (j % segments); };
  for (Int32 i = 0; i < pairs; ++i)
    for (Int32 j = 0; j < segments; ++j)
      quads.push_back({at(i, j), at(i + 1, j), at(i + 1, j + 1), at(i, j + 1)});
  return quads;
}

Mesh Torus(Int32 u, Int32 v, const TorusShape& shape) {
  Mesh mesh;
  const Float twoPi = 6.283185307179586;
  if (u > 0 && v > 0) mesh.points.reserve(static_cast<size_t>(u) * static_cast<size_t>(v));
  for (Int32 i = 0; i < u; ++i) {
    for (Int32 j = 0; j < v; ++j) {
      const Float a = twoPi * i / u;
      const Float b = twoPi * j / v;
      const Float tube = shape.minorRadius + shape.bumpHeight * std::sin(shape.bumpsAround * a) *
                                                 std::cos(shape.bumpsAcross * b);
      const Float r = shape.majorRadius + tube * std::cos(b);
      mesh.points.push_back({r * std::cos(a), r * std::sin(a), tube * std::sin(b)});
    }
  }
  mesh.polygons = TubeQuads(u, v, true);
  return mesh;
}

}  // namespace headless
