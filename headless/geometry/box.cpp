#include "headless/geometry/box.h"

#include <algorithm>

namespace headless {

void Enclose(std::optional<Box>& box, const Box& more) {
  if (!box) {
    box = more;
    return;
  }
  box->first = {std::min(box->first.x, more.first.x), std::min(box->first.y, more.first.y),
                std::min(box->first.z, more.first.z)};
  box->second = {std::max(box->second.x, more.second.x), std::max(box->second.y, more.second.y),
                 std::max(box->second.z, more.second.z)};
}

std::optional<Box> WeightedBounds(std::span<const Vector3> points,
                                  std::span<const Float32> weights) {
  std::optional<Box> box;
  for (size_t i = 0; i < points.size() && i < weights.size(); ++i)
    if (weights[i] != 0.0f) Enclose(box, {points[i], points[i]});
  return box;
}

Box Bounds(std::span<const Vector3> points) {
  Vector3 lo = points.front(), hi = lo;
  for (const Vector3& p : points) {
    lo = {std::min(lo.x, p.x), std::min(lo.y, p.y), std::min(lo.z, p.z)};
    hi = {std::max(hi.x, p.x), std::max(hi.y, p.y), std::max(hi.z, p.z)};
  }
  return {lo, hi};
}

}  // namespace headless
