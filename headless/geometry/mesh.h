// The plain polygon mesh every headless layer passes around (test meshes, OBJ files, the limb),
// and the few things computed from its polygons.
//
// Polygons are the host's CPolygon: four 0-based point indices a, b, c, d; a triangle repeats its
// third index (c == d).
#pragma once

#include <span>
#include <string>
#include <vector>

#include "headless/geometry/vector.h"
#include "host/abi/types.h"

namespace headless {

struct Mesh {
  std::vector<Vector3> points;
  std::vector<CPolygon> polygons;
};

// The cross product of the polygon's diagonals, (c - a) x (d - b): for a triangle its plane's
// normal, in length twice its area; for a quad its area-weighted mean normal. Indices unchecked.
inline Vector3 PolygonNormal(std::span<const Vector3> points, const CPolygon& p) {
  return Cross(Sub(points[p.c], points[p.a]), Sub(points[p.d], points[p.b]));
}

// Area-weighted point normals, not normalised: every polygon's PolygonNormal added to its corners
// a, b, c and d in that order (a triangle's repeated corner once), polygon by polygon; a point on
// no polygon gets zero. Indices must be in range (see CheckPolygonCorners).
std::vector<Vector3> PointNormals(std::span<const Vector3> points,
                                  std::span<const CPolygon> polygons);

// Throws std::invalid_argument "<where>polygon <i> names point <c> outside [0, <pointCount>)" for
// the first corner, in polygon order, that is not a point index.
void CheckPolygonCorners(std::span<const CPolygon> polygons, Int64 pointCount,
                         const std::string& where);

}  // namespace headless
