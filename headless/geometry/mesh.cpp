#include "headless/geometry/mesh.h"

#include <stdexcept>

namespace headless {

std::vector<Vector3> PointNormals(std::span<const Vector3> points,
                                  std::span<const CPolygon> polygons) {
  std::vector<Vector3> normals(points.size());
  for (const CPolygon& p : polygons) {
    const Vector3 n = PolygonNormal(points, p);
    for (Int32 c : {p.a, p.b, p.c}) normals[static_cast<size_t>(c)] = Add(normals[c], n);
    if (p.d != p.c) normals[static_cast<size_t>(p.d)] = Add(normals[p.d], n);
  }
  return normals;
}

std::vector<SurfaceFrame> PointFrames(std::span<const Vector3> points,
                                      std::span<const CPolygon> polygons) {
  const std::vector<Vector3> normals = PointNormals(points, polygons);
  std::vector<SurfaceFrame> frames(points.size());
  std::vector<bool> placed(points.size(), false);
  for (const CPolygon& p : polygons) {
    const Int32 corners[4] = {p.a, p.b, p.c, p.d};
    const int count = p.c == p.d ? 3 : 4;
    for (int k = 0; k < count; ++k) {
      const size_t at = static_cast<size_t>(corners[k]);
      if (placed[at]) continue;
      placed[at] = true;
      frames[at].along = Sub(points[corners[(k + 1) % count]], points[at]);
    }
  }
  for (size_t i = 0; i < frames.size(); ++i) frames[i].normal = normals[i];
  return frames;
}

namespace {

bool Same(const Vector3& a, const Vector3& b) {
  return a.x == b.x && a.y == b.y && a.z == b.z;
}

// The frame's three directions: the edge across the normal, n x t and the normal; false when
// the normal or the edge across it has no length.
bool Axes(const SurfaceFrame& frame, Vector3& t, Vector3& b, Vector3& n) {
  n = Normalized(frame.normal);
  t = Normalized(Sub(frame.along, Scale(n, Dot(frame.along, n))));
  b = Cross(n, t);
  // Unit lengths both, not zero nor what normalising an infinite vector gives.
  return Dot(n, n) > 0.5 && Dot(t, t) > 0.5;
}

}  // namespace

Vector3 Turned(const Vector3& v, const SurfaceFrame& from, const SurfaceFrame& to) {
  if (Same(from.normal, to.normal) && Same(from.along, to.along)) return v;
  Vector3 t0, b0, n0, t1, b1, n1;
  if (!Axes(from, t0, b0, n0) || !Axes(to, t1, b1, n1)) return Rotated(v, from.normal, to.normal);
  return Add(Add(Scale(t1, Dot(t0, v)), Scale(b1, Dot(b0, v))), Scale(n1, Dot(n0, v)));
}

void CheckPolygonCorners(std::span<const CPolygon> polygons, Int64 pointCount,
                         const std::string& where) {
  for (size_t i = 0; i < polygons.size(); ++i) {
    const CPolygon& p = polygons[i];
    for (Int32 c : {p.a, p.b, p.c, p.d})
      if (c < 0 || c >= pointCount)
        throw std::invalid_argument(where + "polygon " + std::to_string(i) + " names point " +
                                    std::to_string(c) + " outside [0, " +
                                    std::to_string(pointCount) + ")");
  }
}

}  // namespace headless
