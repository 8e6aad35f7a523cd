// Neighbour lists, border flags, polygon corners and the index check of a run's topology.
#include <gtest/gtest.h>

#include <algorithm>
#include <limits>
#include <utility>
#include <vector>

#include "tests/support/core_fixture.h"

namespace {

using List = std::vector<Int32>;
using NeighbourhoodsTest = CoreTest;

// The walk as written out in words: per polygon, per unflagged side, append both ways. Growable
// lists, so it is obviously in walk order.
std::vector<List> SlowWalk(Int32 pointCount, const std::vector<CPolygon>& polygons,
                           const Neighbor& adjacency, std::vector<bool>& border) {
  std::vector<List> lists(static_cast<size_t>(pointCount));
  border.assign(static_cast<size_t>(pointCount), false);
  for (Int32 i = 0; i < static_cast<Int32>(polygons.size()); ++i) {
    const CPolygon& p = polygons[i];
    PolyInfo info;
    EXPECT_TRUE(adjacency.GetPolyInfo(i, info));
    const Int32 ends[4][2] = {{p.a, p.b}, {p.b, p.c}, {p.c, p.d}, {p.d, p.a}};
    for (Int32 j = 0; j < 4; ++j) {
      if (info.edgeReported[j] || (j == 2 && p.c == p.d)) continue;
      const Int32 from = ends[j][0];
      const Int32 to = ends[j][1];
      if (info.face[j] == -1) border[from] = border[to] = true;
      lists[from].push_back(to);
      lists[to].push_back(from);
    }
  }
  return lists;
}

TEST_F(NeighbourhoodsTest, SingleQuadAndSingleTriangle) {
  Topology quad;
  ASSERT_TRUE(BuildTopology(4, {{0, 1, 2, 3}}, quad));
  EXPECT_EQ(quad.List(0), (List{1, 3}));
  EXPECT_EQ(quad.List(1), (List{0, 2}));
  EXPECT_EQ(quad.List(2), (List{1, 3}));
  EXPECT_EQ(quad.List(3), (List{2, 0}));
  for (Int32 i = 0; i < 4; ++i) EXPECT_TRUE(quad.Border(i));

  Topology triangle;
  ASSERT_TRUE(BuildTopology(3, {{0, 1, 2, 2}}, triangle));
  EXPECT_EQ(triangle.List(0), (List{1, 2}));
  EXPECT_EQ(triangle.List(1), (List{0, 2}));
  EXPECT_EQ(triangle.List(2), (List{1, 0})) << "side 2 of a triangle is never used";
  for (Int32 i = 0; i < 3; ++i) EXPECT_TRUE(triangle.Border(i));
}

TEST_F(NeighbourhoodsTest, TwoQuadsSharingAnEdge) {
  // 3 4 5
  // 0 1 2
  Topology t;
  ASSERT_TRUE(BuildTopology(7, {{0, 1, 4, 3}, {1, 2, 5, 4}}, t));
  EXPECT_EQ(t.List(1), (List{0, 4, 2}));
  EXPECT_EQ(t.List(4), (List{1, 3, 5}));
  EXPECT_EQ(t.List(0), (List{1, 3}));
  EXPECT_EQ(t.List(5), (List{2, 4}));
  for (Int32 i = 0; i < 6; ++i) EXPECT_TRUE(t.Border(i)) << i;
  EXPECT_TRUE(t.List(6).empty()) << "a point used by no polygon";
  EXPECT_FALSE(t.Border(6));
}

TEST_F(NeighbourhoodsTest, ClosedMeshHasNoBorderAndEveryEdgeOnce) {
  const headless::Mesh torus = headless::Torus(6, 4);
  Topology t;
  ASSERT_TRUE(BuildTopology(24, torus.polygons, t));
  for (Int32 i = 0; i < 24; ++i) {
    EXPECT_FALSE(t.Border(i)) << i;
    List sorted = t.List(i);
    std::sort(sorted.begin(), sorted.end());
    EXPECT_EQ(std::adjacent_find(sorted.begin(), sorted.end()), sorted.end()) << i;
    EXPECT_EQ(sorted.size(), 4u) << i;
  }
}

TEST_F(NeighbourhoodsTest, ListsFollowTheWalkOnAwkwardMeshes) {
  // Fins on one edge, a polygon naming a point twice, a duplicate polygon, a degenerate side in a
  // quad, a grid with holes, and an unused point.
  std::vector<CPolygon> polygons = {{0, 1, 2, 3}, {1, 0, 4, 4}, {0, 1, 5, 5}, {2, 6, 2, 7},
                                    {6, 6, 7, 8}, {0, 1, 2, 3}, {8, 7, 7, 7}};
  const headless::Mesh grid = headless::Grid(5, 4);
  for (size_t k = 0; k < grid.polygons.size(); k += 3) {
    CPolygon q = grid.polygons[k];
    polygons.push_back({q.a + 10, q.b + 10, q.c + 10, q.d + 10});
  }
  const Int32 pointCount = 10 + static_cast<Int32>(grid.points.size());
  Topology t;
  ASSERT_TRUE(BuildTopology(pointCount, polygons, t));
  std::vector<bool> border;
  const std::vector<List> expected = SlowWalk(pointCount, polygons, *t.adjacency.get(), border);
  for (Int32 i = 0; i < pointCount; ++i) {
    EXPECT_EQ(t.List(i), expected[i]) << "point " << i;
    EXPECT_EQ(t.Border(i), border[i]) << "point " << i;
  }
}

// Built by blocks of polygons in parallel, the lists and flags are the single walk's, array for
// array, on a mesh large enough to be split in blocks: a grid with holes (borders), fins on one
// edge (three polygons on it), a fan of hundreds of triangles around one point, polygons naming a
// point twice, a side from a point to itself, points on no polygon, and a last polygon joining
// distant points.
TEST_F(NeighbourhoodsTest, RangesInParallelGiveTheWalksArrays) {
  const headless::Mesh grid = headless::Grid(240, 160);
  const Int32 gridPoints = static_cast<Int32>(grid.points.size());
  std::vector<CPolygon> polygons;
  for (size_t k = 0; k < grid.polygons.size(); ++k) {
    if (k % 7 != 3) polygons.push_back(grid.polygons[k]);
  }
  const Int32 hub = gridPoints + 5;  // points gridPoints .. + 4 lie on no polygon
  for (Int32 k = 0; k < 300; ++k) polygons.push_back({hub, hub + 1 + k, hub + 2 + k, hub + 2 + k});
  const Int32 fin = hub + 302;
  polygons.push_back({fin, fin + 1, fin + 2, fin + 3});
  polygons.push_back({fin + 1, fin, fin + 4, fin + 4});
  polygons.push_back({fin, fin + 1, fin + 5, fin + 5});
  polygons.push_back({fin + 2, fin + 6, fin + 2, fin + 7});  // names a point twice
  polygons.push_back({fin + 6, fin + 6, fin + 7, fin + 8});  // a side from a point to itself
  polygons.push_back({0, 1, gridPoints + 240, gridPoints + 240});
  const Int32 pointCount = fin + 12;
  // A polygon joining points of both halves, the first of the second half among them.
  polygons.push_back({pointCount / 2, 0, fin + 11, pointCount / 2 + 1});
  ASSERT_GE(polygons.size(), size_t{1} << 15) << "too few polygons to split the walk";

  AdjacencyOwner adjacency;
  ASSERT_TRUE(BuildAdjacency(polygons, pointCount, adjacency));
  NeighbourLists walked;
  BorderFlags walkedBorder;
  ASSERT_TRUE(
      BuildNeighbourhoodsByWalk(polygons, pointCount, *adjacency.get(), walked, walkedBorder));
  EXPECT_EQ(walked.Count(hub), 301);
  EXPECT_EQ(walked.Count(gridPoints), 0);
  EXPECT_EQ(walked.Count(fin), 4);
  for (bool parallel : {true, false}) {
    headless::EnableParallelFor(parallel);
    NeighbourLists lists;
    BorderFlags border;
    ASSERT_TRUE(BuildNeighbourhoods(polygons, pointCount, *adjacency.get(), lists, border));
    const Int64 entries = walked.start[pointCount];
    ASSERT_EQ(lists.start[pointCount], entries);
    EXPECT_TRUE(std::equal(walked.start.GetData(), walked.start.GetData() + pointCount + 1,
                           lists.start.GetData()))
        << "offsets, parallel " << parallel;
    EXPECT_TRUE(
        std::equal(walked.index.GetData(), walked.index.GetData() + entries, lists.index.GetData()))
        << "entries, parallel " << parallel;
    EXPECT_TRUE(std::equal(walkedBorder.flag.GetData(), walkedBorder.flag.GetData() + pointCount,
                           border.flag.GetData()))
        << "border flags, parallel " << parallel;
  }
  headless::EnableParallelFor(true);
}

TEST_F(NeighbourhoodsTest, PolygonCorners) {
  const CPolygon quad{10, 11, 12, 13};
  EXPECT_EQ(PolygonCorners(10, quad).first, 11);
  EXPECT_EQ(PolygonCorners(10, quad).second, 13);
  EXPECT_EQ(PolygonCorners(11, quad).first, 10);
  EXPECT_EQ(PolygonCorners(11, quad).second, 12);
  EXPECT_EQ(PolygonCorners(12, quad).first, 11);
  EXPECT_EQ(PolygonCorners(12, quad).second, 13);
  EXPECT_EQ(PolygonCorners(13, quad).first, 10);
  EXPECT_EQ(PolygonCorners(13, quad).second, 12);

  const CPolygon triangle{10, 11, 12, 12};
  EXPECT_EQ(PolygonCorners(10, triangle).first, 11);
  EXPECT_EQ(PolygonCorners(10, triangle).second, 12);
  EXPECT_EQ(PolygonCorners(11, triangle).first, 10);
  EXPECT_EQ(PolygonCorners(11, triangle).second, 12);
  EXPECT_EQ(PolygonCorners(12, triangle).first, 10);
  EXPECT_EQ(PolygonCorners(12, triangle).second, 11);

  // A triangle naming the point twice, and a point that is not a corner at all.
  const CPolygon repeated{10, 10, 12, 12};
  EXPECT_EQ(PolygonCorners(10, repeated).first, -1);
  EXPECT_EQ(PolygonCorners(10, repeated).second, -1);
  EXPECT_EQ(PolygonCorners(99, triangle).first, -1);
  EXPECT_EQ(PolygonCorners(99, triangle).second, -1);
}

TEST_F(NeighbourhoodsTest, PolygonIndicesOutsideThePointsAreRefused) {
  const std::vector<CPolygon> good = {{0, 1, 2, 3}, {3, 2, 1, 0}};
  EXPECT_TRUE(PolygonIndicesInRange(good, 4));
  // Each corner in turn, of the second polygon, at the point count and below 0.
  const std::pair<char, Int32 CPolygon::*> corners[] = {
      {'a', &CPolygon::a}, {'b', &CPolygon::b}, {'c', &CPolygon::c}, {'d', &CPolygon::d}};
  for (const auto& [name, corner] : corners) {
    for (const Int32 index : {4, -1, std::numeric_limits<Int32>::min()}) {
      std::vector<CPolygon> bad = good;
      bad[1].*corner = index;
      EXPECT_FALSE(PolygonIndicesInRange(bad, 4)) << name << " = " << index;
    }
  }
  EXPECT_TRUE(PolygonIndicesInRange({}, 0));
  EXPECT_FALSE(PolygonIndicesInRange(good, -1)) << "a negative point count holds no index";
}

TEST_F(NeighbourhoodsTest, AllocationFailureFreesEverything) {
  const headless::Mesh grid = headless::Grid(4, 3);
  const Int32 pointCount = static_cast<Int32>(grid.points.size());
  const Int64 before = headless::GetAllocationStats().bytesInUse;
  bool built = false;
  Int64 failures = 0;
  for (Int64 k = 1; !built && k < 64; ++k) {
    {
      Topology t;
      headless::FailNthAllocation(k);
      built = BuildTopology(pointCount, grid.polygons, t);
      headless::FailNthAllocation(0);
      if (built) {
        EXPECT_EQ(t.List(6), (List{1, 5, 7, 11}));
      }
    }
    failures += built ? 0 : 1;
    EXPECT_EQ(headless::GetAllocationStats().bytesInUse, before) << "failure at " << k;
  }
  EXPECT_TRUE(built);
  EXPECT_GE(failures, 5) << "adjacency, flags, offsets, decisions and indices each failed once";
}

}  // namespace
