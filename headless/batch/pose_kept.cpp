#include "headless/batch/pose_kept.h"

#include <algorithm>
#include <array>
#include <stdexcept>
#include <string>

#include "headless/entries/framework.h"
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

namespace {

// One round of averaging: each point of [begin, end) to its neighbours' mean.
struct AveragingRound {
  const PoseReference* reference;
  const Vector3* now;
  Vector3* next;
};

// What the averaging starts from: corrected - skinned.
struct Departure {
  const Vector3* skinned;
  const Vector3* corrected;
  Vector3* into;
};

void Depart(void* context, Int64 begin, Int64 end) noexcept {
  const Departure& d = *static_cast<const Departure*>(context);
  for (Int64 i = begin; i < end; ++i) d.into[i] = Sub(d.corrected[i], d.skinned[i]);
}

// 1 / n for the neighbour counts most points have: a division per point per round costs as much
// as its sum. The same bits as dividing.
constexpr Int64 kInverses = 32;
const std::array<Float, kInverses> kInverse = [] {
  std::array<Float, kInverses> inverse{};
  for (Int64 n = 1; n < kInverses; ++n)
    inverse[static_cast<size_t>(n)] = 1.0 / static_cast<Float>(n);
  return inverse;
}();

void AverageRound(void* context, Int64 begin, Int64 end) noexcept {
  const AveragingRound& round = *static_cast<const AveragingRound*>(context);
  const PoseReference& reference = *round.reference;
  for (Int64 i = begin; i < end; ++i) {
    const Int64 from = reference.first[static_cast<size_t>(i)];
    const Int64 to = reference.first[static_cast<size_t>(i) + 1];
    if (from == to) {
      round.next[i] = round.now[i];
      continue;
    }
    Vector3 sum;
    for (Int64 k = from; k < to; ++k)
      sum = Add(sum, round.now[reference.neighbours[static_cast<size_t>(k)]]);
    const Int64 n = to - from;
    round.next[i] =
        Scale(sum, n < kInverses ? kInverse[static_cast<size_t>(n)] : 1.0 / static_cast<Float>(n));
  }
}

// Points per chunk of a round: a few microseconds of work each.
constexpr Int64 kRoundChunk = 1024;

}  // namespace

PoseKept MeasurePoseKept(const PoseReference& reference, std::span<const Vector3> skinned,
                         std::span<const Vector3> corrected) {
  PoseRoom room;
  return MeasurePoseKept(reference, skinned, corrected, room);
}

PoseKept MeasurePoseKept(const PoseReference& reference, std::span<const Vector3> skinned,
                         std::span<const Vector3> corrected, PoseRoom& room) {
  const size_t count = reference.first.size() - 1;
  if (skinned.size() != count || corrected.size() != count)
    throw std::invalid_argument("pose kept: " + std::to_string(skinned.size()) + " and " +
                                std::to_string(corrected.size()) + " points, but the rest has " +
                                std::to_string(count));
  std::vector<Vector3>& now = room.now;
  std::vector<Vector3>& next = room.next;
  now.resize(count);
  next.resize(count);
  // Over the workers, as the correction runs: each point sums its neighbours in one order, so
  // the reading is the same bits whatever their number.
  Departure departure{skinned.data(), corrected.data(), now.data()};
  ParallelFor(static_cast<Int64>(count), kRoundChunk, &departure, Depart);
  for (Int32 r = 0; r < kPoseRounds; ++r) {
    AveragingRound round{&reference, now.data(), next.data()};
    ParallelFor(static_cast<Int64>(count), kRoundChunk, &round, AverageRound);
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
