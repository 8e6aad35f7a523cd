#include "headless/job/detail_height.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <string>
#include <utility>

#include "headless/geometry/mesh.h"
#include "headless/geometry/vector.h"

namespace headless {

std::vector<std::vector<Int32>> PointNeighbours(Int64 pointCount,
                                                const std::vector<CPolygon>& polygons) {
  if (pointCount < 0) throw std::invalid_argument("PointNeighbours: negative point count");
  std::vector<std::vector<Int32>> neighbours(static_cast<size_t>(pointCount));
  auto link = [&](Int32 a, Int32 b) {
    if (a == b) return;
    if (a < 0 || b < 0 || a >= pointCount || b >= pointCount)
      throw std::invalid_argument("PointNeighbours: a polygon index is out of range");
    neighbours[static_cast<size_t>(a)].push_back(b);
    neighbours[static_cast<size_t>(b)].push_back(a);
  };
  for (const CPolygon& f : polygons) {
    link(f.a, f.b);
    link(f.b, f.c);
    link(f.c, f.d);
    link(f.d, f.a);
  }
  for (std::vector<Int32>& n : neighbours) {
    std::sort(n.begin(), n.end());
    n.erase(std::unique(n.begin(), n.end()), n.end());
  }
  return neighbours;
}

std::vector<Vector3> SmoothedPoints(std::vector<Vector3> points,
                                    const std::vector<std::vector<Int32>>& neighbours,
                                    Int32 rounds) {
  if (neighbours.size() != points.size())
    throw std::invalid_argument("SmoothedPoints: neighbour lists for " +
                                std::to_string(neighbours.size()) + " points, mesh has " +
                                std::to_string(points.size()));
  for (const std::vector<Int32>& n : neighbours)
    for (Int32 j : n)
      if (j < 0 || static_cast<size_t>(j) >= points.size())
        throw std::invalid_argument("SmoothedPoints: a neighbour index is out of range");
  std::vector<Vector3> next(points.size());
  for (Int32 r = 0; r < rounds; ++r) {
    for (size_t i = 0; i < points.size(); ++i) {
      const std::vector<Int32>& n = neighbours[i];
      if (n.empty()) {
        next[i] = points[i];
        continue;
      }
      Vector3 sum;
      for (Int32 j : n) sum = Add(sum, points[static_cast<size_t>(j)]);
      next[i] = Scale(sum, 1.0 / static_cast<Float>(n.size()));
    }
    points.swap(next);
  }
  return points;
}

std::vector<Float> DetailHeights(const std::vector<Vector3>& points,
                                 const std::vector<CPolygon>& polygons,
                                 const std::vector<std::vector<Int32>>& neighbours,
                                 Int32 iterations) {
  const size_t count = points.size();
  CheckPolygonCorners(polygons, static_cast<Int64>(count), "DetailHeights: ");
  const std::vector<Vector3> smooth = SmoothedPoints(points, neighbours, iterations);
  const std::vector<Vector3> normals = PointNormals(smooth, polygons);
  std::vector<Float> heights(count);
  for (size_t i = 0; i < count; ++i) {
    const Float len = Length(normals[i]);
    if (!(len > 0.0)) continue;
    heights[i] = Dot(Sub(points[i], smooth[i]), normals[i]) / len;
  }
  return heights;
}

Float DetailHeightError(const std::vector<Float>& heights, const std::vector<Float>& restHeights,
                        const std::vector<Float>& base, const std::vector<Float>& restBase,
                        const std::vector<Int32>& region) {
  const size_t count = heights.size();
  const bool withBase = !base.empty() || !restBase.empty();
  if (restHeights.size() != count ||
      (withBase && (base.size() != count || restBase.size() != count)))
    throw std::invalid_argument("DetailHeightError: height arrays of different sizes");
  Float error = 0.0, detail = 0.0;
  for (Int32 p : region) {
    if (p < 0 || static_cast<size_t>(p) >= count)
      throw std::invalid_argument("DetailHeightError: region index " + std::to_string(p) +
                                  " is out of range");
    const size_t i = static_cast<size_t>(p);
    const Float h = heights[i] - (withBase ? base[i] : 0.0);
    const Float h0 = restHeights[i] - (withBase ? restBase[i] : 0.0);
    error += std::fabs(h - h0);
    detail += std::fabs(h0);
  }
  return detail > 0.0 ? error / detail : 0.0;
}

namespace {

// Each point's value replaced by the mean over itself and its edge neighbours, `rounds` times.
std::vector<Float> Spread(std::vector<Float> values,
                          const std::vector<std::vector<Int32>>& neighbours, Int32 rounds) {
  std::vector<Float> next(values.size());
  for (Int32 r = 0; r < rounds; ++r) {
    for (size_t i = 0; i < values.size(); ++i) {
      Float sum = values[i];
      for (Int32 j : neighbours[i]) sum += values[static_cast<size_t>(j)];
      next[i] = sum / static_cast<Float>(neighbours[i].size() + 1);
    }
    values.swap(next);
  }
  return values;
}

}  // namespace

std::vector<Float> LocalDetailKept(const std::vector<Float>& heights,
                                   const std::vector<Float>& restHeights,
                                   const std::vector<Float>& base,
                                   const std::vector<Float>& restBase,
                                   const std::vector<std::vector<Int32>>& neighbours,
                                   Int32 rounds) {
  const size_t count = heights.size();
  const bool withBase = !base.empty() || !restBase.empty();
  if (restHeights.size() != count || neighbours.size() != count ||
      (withBase && (base.size() != count || restBase.size() != count)))
    throw std::invalid_argument("LocalDetailKept: arrays of different sizes");
  for (const std::vector<Int32>& n : neighbours)
    for (Int32 j : n)
      if (j < 0 || static_cast<size_t>(j) >= count)
        throw std::invalid_argument("LocalDetailKept: a neighbour index is out of range");
  std::vector<Float> now(count), rest(count);
  for (size_t i = 0; i < count; ++i) {
    const Float h = heights[i] - (withBase ? base[i] : 0.0);
    const Float h0 = restHeights[i] - (withBase ? restBase[i] : 0.0);
    now[i] = h * h;
    rest[i] = h0 * h0;
  }
  now = Spread(std::move(now), neighbours, rounds);
  rest = Spread(std::move(rest), neighbours, rounds);
  std::vector<Float> kept(count, 1.0);
  for (size_t i = 0; i < count; ++i)
    if (rest[i] > 0.0) kept[i] = std::sqrt(now[i] / rest[i]);
  return kept;
}

}  // namespace headless
