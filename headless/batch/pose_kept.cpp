#include "headless/batch/pose_kept.h"

#include <algorithm>
#include <stdexcept>
#include <string>

#include "headless/geometry/vector.h"

namespace headless {

PoseReference PreparePoseReference(const Mesh& rest, std::span<const Int32> region) {
  const Int64 count = static_cast<Int64>(rest.points.size());
  CheckPolygonCorners(rest.polygons, count, "pose reference: ");
  std::vector<std::pair<Int32, Int32>> links;
  links.reserve(rest.polygons.size() * 8);
  for (const CPolygon& f : rest.polygons) {
    const Int32 c[4] = {f.a, f.b, f.c, f.d};
    for (Int32 k = 0; k < 4; ++k)
      if (c[k] != c[(k + 1) & 3]) {
        links.emplace_back(c[k], c[(k + 1) & 3]);
        links.emplace_back(c[(k + 1) & 3], c[k]);
      }
  }
  std::sort(links.begin(), links.end());
  links.erase(std::unique(links.begin(), links.end()), links.end());
  PoseReference ref;
  ref.first.assign(static_cast<size_t>(count) + 1, 0);
  ref.neighbours.reserve(links.size());
  Float edgeSum = 0.0;
  for (const auto& [a, b] : links) {
    ++ref.first[static_cast<size_t>(a) + 1];
    ref.neighbours.push_back(b);
    edgeSum +=
        Length(Sub(rest.points[static_cast<size_t>(a)], rest.points[static_cast<size_t>(b)]));
  }
  for (size_t i = 1; i < ref.first.size(); ++i) ref.first[i] += ref.first[i - 1];
  if (!links.empty()) ref.meanEdge = edgeSum / static_cast<Float>(links.size());
  for (Int32 p : region)
    if (p < 0 || p >= count)
      throw std::invalid_argument("pose reference: region index " + std::to_string(p) +
                                  " outside [0, " + std::to_string(count) + ")");
  ref.region.assign(region.begin(), region.end());
  std::sort(ref.region.begin(), ref.region.end());
  ref.region.erase(std::unique(ref.region.begin(), ref.region.end()), ref.region.end());
  if (region.empty())
    for (Int64 i = 0; i < count; ++i) ref.region.push_back(static_cast<Int32>(i));
  return ref;
}

PoseKept MeasurePoseKept(const PoseReference& reference, std::span<const Vector3> skinned,
                         std::span<const Vector3> corrected) {
  const size_t count = reference.first.size() - 1;
  if (skinned.size() != count || corrected.size() != count)
    throw std::invalid_argument("pose kept: " + std::to_string(skinned.size()) + " and " +
                                std::to_string(corrected.size()) + " points, but the rest has " +
                                std::to_string(count));
  std::vector<Vector3> now(count), next(count);
  for (size_t i = 0; i < count; ++i) now[i] = Sub(corrected[i], skinned[i]);
  for (Int32 r = 0; r < kPoseRounds; ++r) {
    for (size_t i = 0; i < count; ++i) {
      const Int64 begin = reference.first[i], end = reference.first[i + 1];
      if (begin == end) {
        next[i] = now[i];
        continue;
      }
      Vector3 sum;
      for (Int64 k = begin; k < end; ++k)
        sum = Add(sum, now[static_cast<size_t>(reference.neighbours[static_cast<size_t>(k)])]);
      next[i] = Scale(sum, 1.0 / static_cast<Float>(end - begin));
    }
    now.swap(next);
  }
  PoseKept kept;
  for (Int32 p : reference.region) {
    const Float d = Length(now[static_cast<size_t>(p)]);
    kept.mean += d;
    if (kept.worstPoint < 0 || d > kept.largest) {
      kept.largest = d;
      kept.worstPoint = p;
    }
  }
  if (!reference.region.empty()) kept.mean /= static_cast<Float>(reference.region.size());
  if (reference.meanEdge > 0.0) {
    kept.largestEdges = kept.largest / reference.meanEdge;
    kept.meanEdges = kept.mean / reference.meanEdge;
  }
  return kept;
}

}  // namespace headless
