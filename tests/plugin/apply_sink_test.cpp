// The apply step as the frame blocks' sink: the plain apply, decoded where the frames are built,
// gives ApplyPoint's bits on every point, in every lane width and whichever lane a point sits in.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "headless/geometry/primitives.h"
#include "source/otessamire/apply.h"
#include "source/tessamireThreads/frames.h"
#include "source/tessamireThreads/lane_kernels.h"
#include "tests/support/core_fixture.h"

namespace {

using ApplySinkTest = CoreTest;

// A grid after `lead` points that no polygon uses, and two points whose only polygon names one
// of them twice and has no area: singular frames at the front, in the middle of the lanes and at
// the end. The smoothed positions are the grid lifted a little; the object's points and the
// differences differ from them, a few of them so that the result is not finite.
struct Case {
  std::vector<Vector3> smoothed, points, differences;
  std::vector<Float32> weights;
  std::vector<CPolygon> polygons;
};

Case MakeCase(Int32 lead) {
  const headless::Mesh grid = headless::Grid(6, 4, 0.5);
  Case c;
  for (Int32 k = 0; k < lead; ++k) c.smoothed.push_back({0.1 * k, 0.0, 1.0});
  for (const Vector3& p : grid.points) c.smoothed.push_back(p);
  const Int32 e = static_cast<Int32>(c.smoothed.size());
  c.smoothed.push_back({9.0, 9.0, 9.0});
  c.smoothed.push_back({9.0, 9.0, 9.0});
  for (CPolygon p : grid.polygons) {
    p.a += lead, p.b += lead, p.c += lead, p.d += lead;
    c.polygons.push_back(p);
  }
  c.polygons.push_back({e, e + 1, e + 1, e + 1});
  const Float inf = std::numeric_limits<Float>::infinity();
  const Float nan = std::numeric_limits<Float>::quiet_NaN();
  for (size_t i = 0; i < c.smoothed.size(); ++i) {
    const Float s = static_cast<Float>(i);
    Vector3& p = c.smoothed[i];
    p.z += 0.03 * static_cast<Float>((i * 7) % 5);
    c.points.push_back({p.x + 0.2, p.y - 0.1 * s, -p.z});
    c.differences.push_back({0.01 * s, -0.02 * s, 0.3 - 0.05 * s});
    c.weights.push_back(static_cast<Float32>((i % 4) * 0.25));
  }
  const size_t g = static_cast<size_t>(lead);
  c.differences[g + 3] = {nan, 0.0, 0.0};
  c.differences[g + 9] = {1e308, -1e308, 1e308};
  c.points[g + 12] = {inf, 0.0, 0.0};
  c.differences[g + 20] = {-0.0, -0.0, -0.0};
  c.points[g + 20] = {-0.0, 0.0, -0.0};
  return c;
}

// The object's points after the sink of `context` ran over the frame blocks, and its count of
// points kept for a result not finite.
std::vector<Vector3> Applied(const Case& c, const Topology& t, ApplyContext context,
                             Int64& notFinite) {
  std::vector<Vector3> points = c.points;
  std::atomic<Int64> kept{0};
  context.points = points;
  context.differences = c.differences;
  context.keptPoints = &kept;
  std::vector<Vector3> normals(c.polygons.size());
  ComputeFaceNormals(c.smoothed, c.polygons, normals);
  BuildFrameBlocks(c.smoothed, c.polygons, normals, *t.adjacency.get(), ApplySink(context));
  notFinite = kept.load();
  return points;
}

// The same one point at a time: ApplyPoint on the frames the blocks give.
std::vector<Vector3> PointByPoint(const Case& c, const Topology& t, ApplyContext context,
                                  Int64& notFinite) {
  std::vector<Frame> frames(c.smoothed.size());
  std::vector<Vector3> normals(c.polygons.size());
  ComputeFaceNormals(c.smoothed, c.polygons, normals);
  BuildFrameBlocks(c.smoothed, c.polygons, normals, *t.adjacency.get(), FrameBufferSink(frames));
  std::vector<Vector3> points = c.points;
  context.points = points;
  context.differences = c.differences;
  notFinite = 0;
  for (size_t i = 0; i < points.size(); ++i)
    if (ApplyPoint(context, static_cast<Int64>(i), frames[i])) ++notFinite;
  return points;
}

TEST_F(ApplySinkTest, EveryApplyIsApplyPointBitForBitInEveryLaneWidth) {
  for (LaneWidth width : {LaneWidth::kPairs, LaneWidth::kWide, LaneWidth::kWide512}) {
    if (!LaneWidthAvailable(width)) continue;
    ASSERT_EQ(ForceLaneWidth(width), width);
    // Every offset, so that each point meets every lane; the counts are not multiples of 8.
    for (Int32 lead = 0; lead < 8; ++lead) {
      const Case c = MakeCase(lead);
      Topology t;
      ASSERT_TRUE(BuildTopology(static_cast<Int32>(c.smoothed.size()), c.polygons, t));
      // Plain, with restriction weights, and showing the smoothed mesh.
      ApplyContext contexts[3];
      contexts[1].hostWeights = c.weights;
      contexts[2].showSmoothed = true;
      for (int k = 0; k < 3; ++k) {
        Int64 expectedCount = 0;
        Int64 count = 0;
        const std::vector<Vector3> expected = PointByPoint(c, t, contexts[k], expectedCount);
        const std::vector<Vector3> actual = Applied(c, t, contexts[k], count);
        const std::string where = "lanes " + std::to_string(static_cast<int>(width)) + ", lead " +
                                  std::to_string(lead) + ", context " + std::to_string(k);
        EXPECT_EQ(std::memcmp(actual.data(), expected.data(), actual.size() * sizeof(Vector3)), 0)
            << where;
        EXPECT_EQ(count, expectedCount) << where;
        if (k == 0) {
          EXPECT_GE(count, 2) << where << ": at least the NaN and the infinite point";
          EXPECT_EQ(std::memcmp(actual.data(), c.points.data(), sizeof(Vector3) * lead), 0)
              << where << ": points on no polygon keep their place";
        }
      }
    }
  }
  UnforceLaneWidth();
}

}  // namespace
