// The host adjacency: sides, already-reported flags, polygons around points, the documented
// answers for degenerate input, and agreement with a slow reference on awkward meshes.
#include "headless/entries/adjacency.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "headless/geometry/primitives.h"
#include "headless/entries/framework.h"

namespace {

struct AdjacencyDeleter {
  void operator()(Neighbor* nb) const { headless::AdjacencyFree(nb); }
};
using AdjacencyPtr = std::unique_ptr<Neighbor, AdjacencyDeleter>;

AdjacencyPtr Build(Int32 pointCount, const std::vector<CPolygon>& polys) {
  AdjacencyPtr nb(headless::AdjacencyAlloc());
  EXPECT_NE(nb, nullptr);
  EXPECT_TRUE(
      headless::AdjacencyInit(nb.get(), pointCount, polys.data(), static_cast<Int32>(polys.size())))
      << headless::AdjacencyError(nb.get());
  return nb;
}

PolyInfo Info(const Neighbor* nb, Int32 poly) {
  PolyInfo info{};
  EXPECT_TRUE(headless::AdjacencyPolyInfo(nb, poly, &info));
  return info;
}

std::vector<Int32> Around(const Neighbor* nb, Int32 point) {
  Int32 count = -1;
  const Int32* list = headless::AdjacencyPointPolys(nb, point, &count);
  if (list == nullptr) {
    EXPECT_EQ(count, 0);
    return {};
  }
  return std::vector<Int32>(list, list + count);
}

Int32 Corner(const CPolygon& p, Int32 k) {
  const Int32 c[4] = {p.a, p.b, p.c, p.d};
  return c[k & 3];
}

// The documented answers, computed the slow and obvious way.
void ExpectMatchesReference(Int32 pointCount, const std::vector<CPolygon>& polys) {
  AdjacencyPtr nb = Build(pointCount, polys);
  std::map<std::pair<Int32, Int32>, std::vector<std::pair<Int32, Int32>>> users;
  for (Int32 i = 0; i < static_cast<Int32>(polys.size()); ++i) {
    for (Int32 j = 0; j < 4; ++j) {
      const Int32 s = Corner(polys[i], j);
      const Int32 t = Corner(polys[i], j + 1);
      if (s != t) users[{std::min(s, t), std::max(s, t)}].push_back({i, j});
    }
  }
  for (Int32 i = 0; i < static_cast<Int32>(polys.size()); ++i) {
    const PolyInfo info = Info(nb.get(), i);
    for (Int32 j = 0; j < 4; ++j) {
      const Int32 s = Corner(polys[i], j);
      const Int32 t = Corner(polys[i], j + 1);
      if (s == t) {
        EXPECT_EQ(info.face[j], -1) << i << "/" << j;
        EXPECT_TRUE(info.edgeReported[j]) << i << "/" << j;
        continue;
      }
      const auto& list = users[{std::min(s, t), std::max(s, t)}];
      EXPECT_EQ(info.edgeReported[j], list.front() != std::make_pair(i, j)) << i << "/" << j;
      Int32 across = -1;
      for (const auto& [poly, side] : list) {
        if (poly != i) {
          across = poly;
          break;
        }
      }
      EXPECT_EQ(info.face[j], across) << i << "/" << j;
    }
  }
  for (Int32 p = 0; p < pointCount; ++p) {
    std::vector<Int32> expected;
    for (Int32 i = 0; i < static_cast<Int32>(polys.size()); ++i) {
      const CPolygon& q = polys[i];
      if (q.a == p || q.b == p || q.c == p || q.d == p) expected.push_back(i);
    }
    EXPECT_EQ(Around(nb.get(), p), expected) << "point " << p;
  }
}

TEST(Adjacency, SingleQuadIsOpenOnEverySide) {
  AdjacencyPtr nb = Build(4, {{0, 1, 2, 3}});
  const PolyInfo info = Info(nb.get(), 0);
  for (Int32 j = 0; j < 4; ++j) {
    EXPECT_EQ(info.face[j], -1);
    EXPECT_FALSE(info.edgeReported[j]);
  }
  for (Int32 p = 0; p < 4; ++p) EXPECT_EQ(Around(nb.get(), p), std::vector<Int32>{0});
}

TEST(Adjacency, SharedEdgeIsReportedOnceByTheLowerPolygon) {
  // 3 4 5
  // 0 1 2
  AdjacencyPtr nb = Build(6, {{0, 1, 4, 3}, {1, 2, 5, 4}});
  const PolyInfo first = Info(nb.get(), 0);
  const PolyInfo second = Info(nb.get(), 1);
  EXPECT_EQ(first.face[1], 1);
  EXPECT_FALSE(first.edgeReported[1]);
  EXPECT_EQ(second.face[3], 0);
  EXPECT_TRUE(second.edgeReported[3]);
  EXPECT_EQ(first.face[0], -1);
  EXPECT_EQ(second.face[1], -1);
  EXPECT_EQ(Around(nb.get(), 1), (std::vector<Int32>{0, 1}));
  EXPECT_EQ(Around(nb.get(), 4), (std::vector<Int32>{0, 1}));
  EXPECT_EQ(Around(nb.get(), 2), std::vector<Int32>{1});
}

TEST(Adjacency, TriangleSideTwoIsNoEdge) {
  AdjacencyPtr nb = Build(3, {{0, 1, 2, 2}});
  const PolyInfo info = Info(nb.get(), 0);
  EXPECT_EQ(info.face[2], -1);
  EXPECT_TRUE(info.edgeReported[2]);
  for (Int32 j : {0, 1, 3}) {
    EXPECT_EQ(info.face[j], -1);
    EXPECT_FALSE(info.edgeReported[j]);
  }
  EXPECT_EQ(Around(nb.get(), 2), std::vector<Int32>{0});
}

TEST(Adjacency, EdgeOfThreePolygonsNamesTheLowestOther) {
  // Three triangles hinged on the edge {0, 1}.
  AdjacencyPtr nb = Build(5, {{0, 1, 2, 2}, {1, 0, 3, 3}, {0, 1, 4, 4}});
  EXPECT_EQ(Info(nb.get(), 0).face[0], 1);
  EXPECT_FALSE(Info(nb.get(), 0).edgeReported[0]);
  EXPECT_EQ(Info(nb.get(), 1).face[0], 0);
  EXPECT_TRUE(Info(nb.get(), 1).edgeReported[0]);
  EXPECT_EQ(Info(nb.get(), 2).face[0], 0);
  EXPECT_TRUE(Info(nb.get(), 2).edgeReported[0]);
}

TEST(Adjacency, PolygonNamingAPointTwice) {
  // {0, 1, 0, 2}: sides 0-1, 1-0, 0-2, 2-0 form two edges, each used twice by the same polygon.
  AdjacencyPtr nb = Build(3, {{0, 1, 0, 2}});
  PolyInfo info = Info(nb.get(), 0);
  EXPECT_FALSE(info.edgeReported[0]);
  EXPECT_TRUE(info.edgeReported[1]);
  EXPECT_FALSE(info.edgeReported[2]);
  EXPECT_TRUE(info.edgeReported[3]);
  for (Int32 j = 0; j < 4; ++j) EXPECT_EQ(info.face[j], -1) << "the same polygon is not across";
  EXPECT_EQ(Around(nb.get(), 0), std::vector<Int32>{0}) << "listed once";

  // {0, 0, 1, 2}: side 0 joins a point to itself and is no edge.
  nb = Build(3, {{0, 0, 1, 2}});
  info = Info(nb.get(), 0);
  EXPECT_EQ(info.face[0], -1);
  EXPECT_TRUE(info.edgeReported[0]);
  EXPECT_FALSE(info.edgeReported[1]);
}

TEST(Adjacency, AgreesWithSlowReference) {
  const headless::Mesh torus = headless::Torus(7, 5);
  ExpectMatchesReference(static_cast<Int32>(torus.points.size()), torus.polygons);
  // Non-manifold fins, repeated corners, duplicate polygons and an unused point (9).
  ExpectMatchesReference(10, {{0, 1, 2, 3},
                              {1, 0, 4, 4},
                              {0, 1, 5, 5},
                              {3, 2, 1, 0},
                              {2, 6, 2, 7},
                              {6, 6, 7, 8},
                              {0, 1, 2, 3},
                              {8, 7, 7, 7}});
}

// Points on many polygons take the adjacency's path for large groups: a closed fan of 40
// triangles around point 0, and 20 quads all sharing the edge 0-1.
TEST(Adjacency, BusyPointsAgreeWithSlowReference) {
  std::vector<CPolygon> fan;
  for (Int32 k = 0; k < 40; ++k) fan.push_back({0, 1 + k, 1 + (k + 1) % 40, 1 + (k + 1) % 40});
  ExpectMatchesReference(41, fan);
  std::vector<CPolygon> fins;
  for (Int32 k = 0; k < 20; ++k) fins.push_back({0, 1, 2 + 2 * k, 3 + 2 * k});
  ExpectMatchesReference(42, fins);
}

// Small random meshes over few points: edges of one to many users, repeated corners, and points
// whose groups of uses span the sizes answered in place and those that are sorted.
TEST(Adjacency, RandomMeshesAgreeWithSlowReference) {
  std::uint32_t state = 12345;
  const auto next = [&state](Int32 below) {
    state = state * 1664525u + 1013904223u;
    return static_cast<Int32>((state >> 8) % static_cast<std::uint32_t>(below));
  };
  for (const Int32 points : {6, 12, 30}) {
    for (const Int32 count : {10, 40, 120}) {
      std::vector<CPolygon> polys;
      for (Int32 i = 0; i < count; ++i) {
        CPolygon p{next(points), next(points), next(points), next(points)};
        if (next(4) == 0) p.d = p.c;  // a triangle
        polys.push_back(p);
      }
      ExpectMatchesReference(points, polys);
    }
  }
}

// Meshes of many polygons build their point lists in several blocks, as many as the workers:
// the answers do not depend on that number and the lists hold each polygon once, ascending.
TEST(Adjacency, LargeMeshesGiveTheSameAnswersOnAnyNumberOfWorkers) {
  headless::Mesh mesh = headless::Torus(160, 128);
  for (size_t i = 0; i < mesh.polygons.size(); i += 5) mesh.polygons[i].d = mesh.polygons[i].c;
  for (size_t i = 2; i < mesh.polygons.size(); i += 97) mesh.polygons[i].c = mesh.polygons[i].a;
  const Int32 pointCount = static_cast<Int32>(mesh.points.size());
  const Int32 polyCount = static_cast<Int32>(mesh.polygons.size());
  std::vector<std::vector<Int32>> expected(mesh.points.size());
  for (Int32 i = 0; i < polyCount; ++i)
    for (Int32 k = 0; k < 4; ++k) {
      std::vector<Int32>& list = expected[Corner(mesh.polygons[i], k)];
      if (list.empty() || list.back() != i) list.push_back(i);
    }

  headless::SetWorkerCount(1);
  AdjacencyPtr one = Build(pointCount, mesh.polygons);
  headless::SetWorkerCount(3);
  AdjacencyPtr three = Build(pointCount, mesh.polygons);
  headless::SetWorkerCount(0);
  for (Int32 p = 0; p < pointCount; ++p) {
    ASSERT_EQ(Around(one.get(), p), expected[p]) << p;
    ASSERT_EQ(Around(three.get(), p), expected[p]) << p;
  }
  for (Int32 i = 0; i < polyCount; ++i) {
    const PolyInfo a = Info(one.get(), i);
    const PolyInfo b = Info(three.get(), i);
    for (Int32 j = 0; j < 4; ++j) {
      ASSERT_EQ(a.face[j], b.face[j]) << i << "/" << j;
      ASSERT_EQ(a.edgeReported[j], b.edgeReported[j]) << i << "/" << j;
    }
  }
}

TEST(Adjacency, UnusedAndOutOfRangeQueries) {
  AdjacencyPtr nb = Build(5, {{0, 1, 2, 2}});
  EXPECT_TRUE(Around(nb.get(), 4).empty());
  Int32 count = 7;
  EXPECT_EQ(headless::AdjacencyPointPolys(nb.get(), 5, &count), nullptr);
  EXPECT_EQ(count, 0);
  EXPECT_EQ(headless::AdjacencyPointPolys(nb.get(), -1, &count), nullptr);
  PolyInfo info{};
  EXPECT_FALSE(headless::AdjacencyPolyInfo(nb.get(), 1, &info));
  EXPECT_FALSE(headless::AdjacencyPolyInfo(nb.get(), -1, &info));

  // Points without polygons: created without a polygon array.
  AdjacencyPtr empty(headless::AdjacencyAlloc());
  ASSERT_TRUE(headless::AdjacencyInit(empty.get(), 3, nullptr, 0));
  EXPECT_TRUE(Around(empty.get(), 0).empty());
}

TEST(Adjacency, BadInputIsRefusedAndKeepsThePreviousTopology) {
  AdjacencyPtr nb = Build(4, {{0, 1, 2, 3}});
  const std::vector<CPolygon> outOfRange = {{0, 1, 2, 4}};
  const std::vector<CPolygon> negative = {{0, -1, 2, 3}};
  EXPECT_FALSE(headless::AdjacencyInit(nb.get(), 4, outOfRange.data(), 1));
  EXPECT_NE(std::string(headless::AdjacencyError(nb.get())).find("outside"), std::string::npos);
  EXPECT_FALSE(headless::AdjacencyInit(nb.get(), 4, negative.data(), 1));
  EXPECT_FALSE(headless::AdjacencyInit(nb.get(), -1, nullptr, 0));
  EXPECT_FALSE(headless::AdjacencyInit(nb.get(), 4, nullptr, 1));
  EXPECT_EQ(Around(nb.get(), 3), std::vector<Int32>{0});
  EXPECT_FALSE(headless::AdjacencyInit(nullptr, 4, outOfRange.data(), 1));

  // The polygons are checked by blocks, in parallel: a fault in any block, at either end, is found.
  const headless::Mesh torus = headless::Torus(300, 250);
  const Int32 points = static_cast<Int32>(torus.points.size());
  const size_t half = torus.polygons.size() / 2;
  for (size_t at : {size_t{0}, half - 1, half, size_t{65536}, torus.polygons.size() - 1}) {
    for (Int32 index : {-1, points}) {
      std::vector<CPolygon> polygons = torus.polygons;
      polygons[at].c = index;
      EXPECT_FALSE(headless::AdjacencyInit(nb.get(), points, polygons.data(),
                                           static_cast<Int32>(polygons.size())))
          << "polygon " << at << ", index " << index;
    }
  }
  EXPECT_EQ(Around(nb.get(), 3), std::vector<Int32>{0});
}

TEST(Adjacency, AllocationFailureKeepsThePreviousTopologyAndLeaksNothing) {
  const headless::Mesh grid = headless::Grid(3, 2);
  AdjacencyPtr nb = Build(4, {{0, 1, 2, 3}});
  const Int64 before = headless::GetAllocationStats().bytesInUse;
  Bool built = false;
  for (Int64 k = 1; !built && k < 64; ++k) {
    headless::FailNthAllocation(k);
    built = headless::AdjacencyInit(nb.get(), static_cast<Int32>(grid.points.size()),
                                    grid.polygons.data(), static_cast<Int32>(grid.polygons.size()));
    headless::FailNthAllocation(0);
    if (!built) {
      EXPECT_EQ(headless::GetAllocationStats().bytesInUse, before) << "failure at " << k;
      EXPECT_EQ(Around(nb.get(), 3), std::vector<Int32>{0}) << "failure at " << k;
    }
  }
  EXPECT_TRUE(built);
  EXPECT_EQ(Around(nb.get(), 5), (std::vector<Int32>{0, 1, 3, 4}));
}

}  // namespace
