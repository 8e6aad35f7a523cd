#include "headless/job/pair_measures.h"

#include <stdexcept>
#include <string>

#include "headless/job/detail_height.h"

namespace headless {

PairReference PreparePairReference(const Mesh& rest, const std::vector<Float32>& region) {
  const Int64 count = static_cast<Int64>(rest.points.size());
  if (!region.empty() && static_cast<Int64>(region.size()) != count)
    throw std::invalid_argument(std::to_string(region.size()) + " region weights for " +
                                std::to_string(count) + " points");
  PairReference reference;
  reference.polygons = rest.polygons;
  for (Int64 i = 0; i < count; ++i)
    if (region.empty() || region[static_cast<size_t>(i)] != 0.0f)
      reference.region.push_back(static_cast<Int32>(i));
  reference.detail =
      PrepareDetailReference(rest.points.data(), count, rest.polygons.data(),
                             static_cast<Int64>(rest.polygons.size()), reference.region);
  reference.neighbours = PointNeighbours(count, rest.polygons);
  reference.restHeights =
      DetailHeights(rest.points, rest.polygons, reference.neighbours, kDetailHeightRounds);
  return reference;
}

PairMeasures MeasurePair(const PairReference& reference, const std::vector<Vector3>& points) {
  if (points.size() != reference.restHeights.size())
    throw std::invalid_argument(std::to_string(points.size()) + " points, but the rest mesh has " +
                                std::to_string(reference.restHeights.size()));
  PairMeasures measures;
  measures.detail =
      MeasureDetail(reference.detail, points.data(), static_cast<Int64>(points.size()));
  const std::vector<Float> heights =
      DetailHeights(points, reference.polygons, reference.neighbours, kDetailHeightRounds);
  measures.heightError =
      DetailHeightError(heights, reference.restHeights, {}, {}, reference.region);
  return measures;
}

std::vector<Float> DetailKept(const PairReference& reference, const std::vector<Vector3>& points) {
  if (points.size() != reference.restHeights.size())
    throw std::invalid_argument(std::to_string(points.size()) + " points, but the rest mesh has " +
                                std::to_string(reference.restHeights.size()));
  const std::vector<Float> heights =
      DetailHeights(points, reference.polygons, reference.neighbours, kDetailHeightRounds);
  return LocalDetailKept(heights, reference.restHeights, {}, {}, reference.neighbours,
                         kKeptSpreadRounds);
}

}  // namespace headless
