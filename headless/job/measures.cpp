#include "headless/job/measures.h"

#include <algorithm>
#include <cmath>
#include <span>
#include <stdexcept>
#include <string>

#include "headless/geometry/mesh.h"
#include "headless/geometry/vector.h"

namespace headless {
namespace {

constexpr Float kPi = 3.14159265358979323846;

// Signed angle between the normals of `first` and `second` about the edge from -> to; 0 when
// either normal is zero.
Float Dihedral(std::span<const Vector3> points, const std::vector<CPolygon>& polygons,
               const MeasuredHinge& h) {
  const Vector3 n1 = PolygonNormal(points, polygons[static_cast<size_t>(h.first)]);
  const Vector3 n2 = PolygonNormal(points, polygons[static_cast<size_t>(h.second)]);
  const Vector3 edge = Sub(points[h.to], points[h.from]);
  const Float len = Length(edge);
  const Float sine = len > 0.0 ? Dot(Cross(n1, n2), edge) / len : 0.0;
  return std::atan2(sine, Dot(n1, n2));
}

bool HasNormals(std::span<const Vector3> points, const std::vector<CPolygon>& polygons,
                const MeasuredHinge& h) {
  return Length(PolygonNormal(points, polygons[static_cast<size_t>(h.first)])) > 0.0 &&
         Length(PolygonNormal(points, polygons[static_cast<size_t>(h.second)])) > 0.0;
}

struct SideUse {
  Int32 lo;
  Int32 hi;
  Int32 polygon;
  Int32 from;  // the edge's ends as wound in the polygon
  Int32 to;
};

}  // namespace

std::vector<Int32> BlendRegion(const std::vector<const Float32*>& weights, Int64 count,
                               Float32 threshold) {
  if (count < 0) throw std::invalid_argument("BlendRegion: negative point count");
  for (size_t j = 0; j < weights.size(); ++j)
    if (weights[j] == nullptr && count > 0)
      throw std::invalid_argument("BlendRegion: weight array of joint " + std::to_string(j) +
                                  " is null");
  std::vector<Int32> region;
  for (Int64 p = 0; p < count; ++p) {
    Float32 largest = 0.0f;
    for (const Float32* w : weights) largest = std::max(largest, w[p]);
    if (largest < threshold) region.push_back(static_cast<Int32>(p));
  }
  return region;
}

DetailReference PrepareDetailReference(const Vector3* rest, Int64 pointCount,
                                       const CPolygon* polygons, Int64 polygonCount,
                                       const std::vector<Int32>& region, const Vector3* restBase) {
  const std::string where = "PrepareDetailReference: ";
  if (pointCount < 0 || polygonCount < 0) throw std::invalid_argument(where + "negative count");
  if ((rest == nullptr && pointCount > 0) || (polygons == nullptr && polygonCount > 0))
    throw std::invalid_argument(where + "null array");
  std::vector<char> inSet(static_cast<size_t>(pointCount), 0);
  for (Int32 p : region) {
    if (p < 0 || p >= pointCount)
      throw std::invalid_argument(where + "region index " + std::to_string(p) + " outside [0, " +
                                  std::to_string(pointCount) + ")");
    inSet[static_cast<size_t>(p)] = 1;
  }

  const size_t n = static_cast<size_t>(pointCount);
  const std::span<const Vector3> restPoints(rest, n);
  const std::span<const Vector3> restBasePoints(restBase, restBase ? n : 0);

  DetailReference ref;
  ref.pointCount = pointCount;
  ref.relativeToBase = restBase != nullptr;
  ref.polygons.assign(polygons, polygons + polygonCount);
  CheckPolygonCorners(ref.polygons, pointCount, where);
  std::vector<SideUse> uses;
  uses.reserve(static_cast<size_t>(polygonCount) * 4);
  for (Int64 i = 0; i < polygonCount; ++i) {
    const CPolygon& p = ref.polygons[static_cast<size_t>(i)];
    const Int32 c[4] = {p.a, p.b, p.c, p.d};
    for (Int32 k = 0; k < 4; ++k) {
      const Int32 s = c[k];
      const Int32 t = c[(k + 1) & 3];
      if (s == t) continue;  // a triangle's collapsed side is no edge
      if (!inSet[static_cast<size_t>(s)] && !inSet[static_cast<size_t>(t)]) continue;
      uses.push_back({std::min(s, t), std::max(s, t), static_cast<Int32>(i), s, t});
    }
  }
  std::sort(uses.begin(), uses.end(), [](const SideUse& x, const SideUse& y) {
    if (x.lo != y.lo) return x.lo < y.lo;
    if (x.hi != y.hi) return x.hi < y.hi;
    return x.polygon < y.polygon;
  });

  for (size_t i = 0; i < uses.size();) {
    size_t end = i + 1;
    while (end < uses.size() && uses[end].lo == uses[i].lo && uses[end].hi == uses[i].hi) ++end;
    const SideUse& u = uses[i];
    const Float length = Length(Sub(restPoints[u.hi], restPoints[u.lo]));
    const Float baseLength =
        restBase ? Length(Sub(restBasePoints[u.hi], restBasePoints[u.lo])) : 1.0;
    const bool edgeKept = length > 0.0 && baseLength > 0.0;
    if (edgeKept) ref.edges.push_back({u.lo, u.hi, length / baseLength});
    if (edgeKept && end - i == 2 && uses[i + 1].polygon != u.polygon) {
      MeasuredHinge h{u.from, u.to, u.polygon, uses[i + 1].polygon, 0.0};
      if (HasNormals(restPoints, ref.polygons, h) &&
          (!restBase || HasNormals(restBasePoints, ref.polygons, h))) {
        h.restAngle = Dihedral(restPoints, ref.polygons, h);
        if (restBase) h.restAngle -= Dihedral(restBasePoints, ref.polygons, h);
        ref.hinges.push_back(h);
      }
    }
    i = end;
  }
  return ref;
}

DetailMeasures MeasureDetail(const DetailReference& reference, const Vector3* points,
                             Int64 pointCount, const Vector3* base) {
  if (pointCount != reference.pointCount)
    throw std::invalid_argument("MeasureDetail: " + std::to_string(pointCount) +
                                " points, but the rest mesh has " +
                                std::to_string(reference.pointCount));
  if (points == nullptr && pointCount > 0)
    throw std::invalid_argument("MeasureDetail: null point array");
  if ((base != nullptr) != reference.relativeToBase)
    throw std::invalid_argument(
        reference.relativeToBase ? "MeasureDetail: the reference was made with a base, none given"
                                 : "MeasureDetail: a base given, but the reference has none");
  const size_t n = static_cast<size_t>(pointCount);
  const std::span<const Vector3> current(points, n);
  const std::span<const Vector3> currentBase(base, base ? n : 0);
  DetailMeasures m;
  Float edgeSum = 0.0;
  for (const MeasuredEdge& e : reference.edges) {
    const Float length = Length(Sub(current[e.b], current[e.a]));
    if (base == nullptr) {
      edgeSum += std::fabs(length - e.restLength) / e.restLength;
      continue;
    }
    const Float baseLength = Length(Sub(currentBase[e.b], currentBase[e.a]));
    edgeSum += baseLength > 0.0 ? std::fabs(length / baseLength / e.restLength - 1.0) : 1.0;
  }
  Float angleSum = 0.0;
  for (const MeasuredHinge& h : reference.hinges) {
    Float angle = Dihedral(current, reference.polygons, h);
    if (base != nullptr) angle -= Dihedral(currentBase, reference.polygons, h);
    // Bring the difference into [0, 180] degrees, whatever the two angles' own wrapping.
    Float d = std::fabs(std::remainder(angle - h.restAngle, 2.0 * kPi));
    angleSum += d;
  }
  m.edgeCount = static_cast<Int64>(reference.edges.size());
  m.hingeCount = static_cast<Int64>(reference.hinges.size());
  if (m.edgeCount > 0) m.edgeLengthChange = edgeSum / static_cast<Float>(m.edgeCount);
  if (m.hingeCount > 0)
    m.normalAngleDegrees = angleSum / static_cast<Float>(m.hingeCount) * (180.0 / kPi);
  return m;
}

}  // namespace headless
