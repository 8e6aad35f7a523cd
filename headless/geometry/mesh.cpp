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
