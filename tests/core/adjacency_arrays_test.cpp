// The adjacency's whole arrays: they agree with the per-index queries, and a run that takes them
// gives the same bits as a run on a host that offers only the per-index queries.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "headless/entries/host_table.h"
#include "tests/support/core_fixture.h"

namespace {

// A torus of quads and triangles plus a fan of 30 triangles around one extra point, and one
// point that no polygon uses.
headless::Mesh MixedMesh() {
  headless::Mesh mesh = headless::Torus(8, 6);
  for (size_t i = 0; i < mesh.polygons.size(); i += 3) {
    const CPolygon p = mesh.polygons[i];  // push_back may move the array
    mesh.polygons.push_back({p.a, p.c, p.d, p.d});
    mesh.polygons[i].d = p.c;
  }
  const Int32 centre = static_cast<Int32>(mesh.points.size());
  mesh.points.push_back({0.0, 0.0, 5.0});
  for (Int32 k = 0; k < 30; ++k) {
    const Float a = 6.283185307179586 * k / 30;
    mesh.points.push_back({std::cos(a), std::sin(a), 5.0 + 0.1 * (k % 3)});
  }
  for (Int32 k = 0; k < 30; ++k)
    mesh.polygons.push_back(
        {centre, centre + 1 + k, centre + 1 + (k + 1) % 30, centre + 1 + (k + 1) % 30});
  mesh.points.push_back({9.0, 9.0, 9.0});  // unused
  return mesh;
}

bool SameBits(const std::vector<Frame>& a, const std::vector<Frame>& b) {
  return a.size() == b.size() && !a.empty() &&
         std::memcmp(a.data(), b.data(), a.size() * sizeof(Frame)) == 0;
}

class AdjacencyArrays : public CoreTest {};

TEST_F(AdjacencyArrays, AgreeWithThePerIndexQueries) {
  const headless::Mesh mesh = MixedMesh();
  const Int32 pointCount = static_cast<Int32>(mesh.points.size());
  Topology t;
  ASSERT_TRUE(BuildTopology(pointCount, mesh.polygons, t));
  const Neighbor& nb = *t.adjacency.get();
  const Int64* start = nullptr;
  const Int32* polys = nullptr;
  ASSERT_TRUE(nb.GetPointPolyArrays(start, polys));
  for (Int32 p = 0; p < pointCount; ++p) {
    Int32 n = 0;
    const Int32* around = nb.GetPointPolys(p, n);
    ASSERT_EQ(start[p + 1] - start[p], n) << p;
    for (Int32 k = 0; k < n; ++k) EXPECT_EQ(polys[start[p] + k], around[k]) << p;
  }
  EXPECT_EQ(start[pointCount] - start[pointCount - 1], 0);  // the unused point
  const PolyInfo* infos = nb.GetPolyInfoArray();
  ASSERT_NE(infos, nullptr);
  for (Int32 i = 0; i < static_cast<Int32>(mesh.polygons.size()); ++i) {
    PolyInfo info{};
    ASSERT_TRUE(nb.GetPolyInfo(i, info));
    for (Int32 j = 0; j < 4; ++j) {
      EXPECT_EQ(infos[i].face[j], info.face[j]) << i << "/" << j;
      EXPECT_EQ(infos[i].edgeReported[j], info.edgeReported[j]) << i << "/" << j;
    }
  }
}

TEST_F(AdjacencyArrays, RunsWithAndWithoutThemGiveTheSameBits) {
  const headless::Mesh mesh = MixedMesh();
  for (Int32 weighting : {kWeightingUniform, kWeightingLength}) {
    SmoothingSettings options;
    options.iterations = 3;
    options.weighting = weighting;
    const std::vector<Frame> withArrays = RunFrames(mesh, options);

    HostTable perIndexOnly = headless::HostTableInstance();
    perIndexOnly.neighborPointPolyArrays = nullptr;
    perIndexOnly.neighborPolyInfoArray = nullptr;
    HostBind(&perIndexOnly, &headless::FrameworkTableInstance());
    const std::vector<Frame> perIndex = RunFrames(mesh, options);
    headless::EnableParallelFor(false);
    const std::vector<Frame> perIndexOneWorker = RunFrames(mesh, options);
    headless::EnableParallelFor(true);
    BindInProcessHost();

    EXPECT_TRUE(SameBits(withArrays, perIndex)) << "weighting " << weighting;
    EXPECT_TRUE(SameBits(withArrays, perIndexOneWorker)) << "weighting " << weighting;
  }
}

}  // namespace
