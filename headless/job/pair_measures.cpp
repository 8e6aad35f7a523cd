#include "headless/job/pair_measures.h"

#include <cmath>
#include <stdexcept>
#include <string>

#include "headless/geometry/vector.h"
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
  reference.pose = PreparePoseReference(rest, reference.region);
  const std::vector<Vector3> smooth =
      SmoothedPoints(rest.points, reference.neighbours, kKeptScaleRounds);
  reference.restFrames = PointFrames(smooth, rest.polygons);
  reference.restOffsets.resize(smooth.size());
  for (size_t i = 0; i < smooth.size(); ++i)
    reference.restOffsets[i] = Sub(rest.points[i], smooth[i]);
  for (Int32 p : reference.region)
    reference.restDetail += Length(reference.restOffsets[static_cast<size_t>(p)]);
  if (!reference.region.empty())
    reference.restDetail /= static_cast<Float>(reference.region.size());
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

KeptAtScale MeasureKeptAtScale(const PairReference& reference, const std::vector<Vector3>& skinned,
                               const std::vector<Vector3>& corrected) {
  if (skinned.size() != reference.restOffsets.size() ||
      corrected.size() != reference.restOffsets.size())
    throw std::invalid_argument(
        std::to_string(skinned.size()) + " skinned and " + std::to_string(corrected.size()) +
        " corrected points, but the rest mesh has " + std::to_string(reference.restOffsets.size()));
  const std::vector<Vector3> skinnedSmooth =
      SmoothedPoints(skinned, reference.neighbours, kKeptScaleRounds);
  const std::vector<Vector3> smooth =
      SmoothedPoints(corrected, reference.neighbours, kKeptScaleRounds);
  const std::vector<SurfaceFrame> frames = PointFrames(skinnedSmooth, reference.polygons);
  KeptAtScale kept;
  for (Int32 p : reference.region) {
    const size_t i = static_cast<size_t>(p);
    const Float pose = Length(Sub(smooth[i], skinnedSmooth[i]));
    const Vector3 expected = Turned(reference.restOffsets[i], reference.restFrames[i], frames[i]);
    const Float detail = Length(Sub(Sub(corrected[i], smooth[i]), expected));
    kept.pose += pose;
    kept.detail += detail;
    kept.estimate += std::sqrt(pose * pose + detail * detail);
  }
  if (!reference.region.empty()) {
    const Float n = static_cast<Float>(reference.region.size());
    kept.pose /= n;
    kept.detail /= n;
    kept.estimate /= n;
  }
  if (reference.restDetail > 0.0) kept.detailKept = 1.0 - kept.detail / reference.restDetail;
  return kept;
}

PairMeasures MeasureAgainstSkinned(const PairReference& reference,
                                   const std::vector<Vector3>& skinned,
                                   const std::vector<Vector3>& corrected) {
  PairMeasures measures = MeasurePair(reference, corrected);
  measures.againstSkinned = true;
  measures.pose = MeasurePoseKept(reference.pose, skinned, corrected);
  const KeptAtScale kept = MeasureKeptAtScale(reference, skinned, corrected);
  measures.detailKept = kept.detailKept;
  measures.estimate = kept.estimate;
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
