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

// How a surface lies at a place: its normal (any length) and the direction of one of its edges
// there, which together fix how the surface turned, about its normal too.
struct SurfaceFrame {
  Vector3 normal;
  Vector3 along;
};

// Per point: its PointNormals normal and the edge from it to the next corner of the first polygon
// that uses it (zero for a point on no polygon).
std::vector<SurfaceFrame> PointFrames(std::span<const Vector3> points,
                                      std::span<const CPolygon> polygons);

// `v` turned as the surface turned from `from` to `to`: with n the normalised normal, t the edge
// made perpendicular to it and normalised, and b = n x t in each frame, t'(t . v) + b'(b . v) +
// n'(n . v). `v` comes back as it was when the frames are equal or either has no normal; where
// either edge has no part across its normal, the smallest rotation of normal to normal
// (Rotated) turns it.
Vector3 Turned(const Vector3& v, const SurfaceFrame& from, const SurfaceFrame& to);

// Throws std::invalid_argument "<where>polygon <i> names point <c> outside [0, <pointCount>)" for
// the first corner, in polygon order, that is not a point index.
void CheckPolygonCorners(std::span<const CPolygon> polygons, Int64 pointCount,
                         const std::string& where);

// Appends the host polygons of one face of at least 3 corners (point indices, in order): a face of
// 3 or 4 corners becomes one polygon (a triangle repeats its third index), a larger face a fan of
// triangles (0, k, k + 1) from its first corner, in order.
void AppendFacePolygons(std::span<const Int32> corners, std::vector<CPolygon>& polygons);

// The host polygons of faces given as corner lists (face f has the corners faceFirst[f] ..
// faceFirst[f + 1] - 1), each through AppendFacePolygons. Throws std::invalid_argument naming the
// 0-based face and point for a face of fewer than 3 corners, a corner outside [0, pointCount) or
// a face naming one point twice.
std::vector<CPolygon> FacePolygons(std::span<const Int64> faceFirst, std::span<const Int64> corners,
                                   Int64 pointCount);

}  // namespace headless
