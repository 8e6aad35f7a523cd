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

void AppendFacePolygons(std::span<const Int32> corners, std::vector<CPolygon>& polygons) {
  const size_t count = corners.size();
  if (count <= 4) {
    polygons.push_back({corners[0], corners[1], corners[2], corners[count - 1]});
    return;
  }
  for (size_t k = 1; k + 1 < count; ++k)
    polygons.push_back({corners[0], corners[k], corners[k + 1], corners[k + 1]});
}

std::vector<CPolygon> FacePolygons(std::span<const Int64> faceFirst, std::span<const Int64> corners,
                                   Int64 pointCount) {
  std::vector<CPolygon> polygons;
  for (size_t f = 0; f + 1 < faceFirst.size(); ++f) {
    const std::span<const Int64> face = corners.subspan(
        static_cast<size_t>(faceFirst[f]), static_cast<size_t>(faceFirst[f + 1] - faceFirst[f]));
    const std::string where = "face " + std::to_string(f) + ": ";
    if (face.size() < 3)
      throw std::invalid_argument(where + "a face needs at least 3 corners, not " +
                                  std::to_string(face.size()));
    for (size_t c = 0; c < face.size(); ++c) {
      if (face[c] < 0 || face[c] >= pointCount)
        throw std::invalid_argument(where + "corner index " + std::to_string(face[c]) +
                                    " is out of range (" + std::to_string(pointCount) + " points)");
      for (size_t e = 0; e < c; ++e)
        if (face[e] == face[c])
          throw std::invalid_argument(where + "the face names point " + std::to_string(face[c]) +
                                      " twice");
    }
    const std::vector<Int32> points(face.begin(), face.end());
    AppendFacePolygons(points, polygons);
  }
  return polygons;
}

}  // namespace headless
