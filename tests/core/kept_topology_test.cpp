// Topology kept between runs: reused while the polygons stay the same, rebuilt for any change of
// them or of the counts, freed on release, and a plain run when memory for keeping it is short.
// The deformer's one entry per object is in tests/plugin/object_topologies_test.cpp.
#include <gtest/gtest.h>

#include <cstring>
#include <span>
#include <vector>

#include "headless/entries/framework.h"
#include "source/tessamireThreads/kept_topology.h"
#include "tests/support/core_fixture.h"

namespace {

class KeptTopologyTest : public CoreTest {
 protected:
  void SetUp() override {
    CoreTest::SetUp();
    mesh_ = headless::Torus(24, 16);
    for (size_t i = 0; i < mesh_.points.size(); i += 3) mesh_.points[i].z += 0.02 * (i % 5);
  }

  // One run over `mesh`, with `kept` or without (null); empty when the run fails.
  static std::vector<Frame> Run(const headless::Mesh& mesh, KeptTopology* kept) {
    std::vector<Frame> frames(mesh.points.size());
    if (!ComputePointFrames(InputOf(mesh, SmoothingSettings{}), FrameBufferSink(frames), kept))
      frames.clear();
    return frames;
  }

  static bool SameBits(const std::vector<Frame>& a, const std::vector<Frame>& b) {
    return !a.empty() && a.size() == b.size() &&
           std::memcmp(a.data(), b.data(), a.size() * sizeof(Frame)) == 0;
  }

  headless::Mesh mesh_;
};

TEST_F(KeptTopologyTest, ReusedWhileThePolygonsStayTheSameWithTheSameBits) {
  KeptTopology kept;
  const std::vector<Frame> plain = Run(mesh_, nullptr);
  ASSERT_TRUE(SameBits(Run(mesh_, &kept), plain));
  EXPECT_TRUE(kept.Holds());
  EXPECT_EQ(kept.KeptCount(), 1);

  // Points moved, polygons the same (a copy at another address): reused, and the run takes
  // only its position buffers and face normals.
  headless::Mesh moved = mesh_;
  for (Vector3& p : moved.points) p = {p.x * 1.5, p.y - 0.25, p.z * 0.5};
  Int64 attempts = headless::AllocationAttempts();
  const std::vector<Frame> reused = Run(moved, &kept);
  const Int64 keptRun = headless::AllocationAttempts() - attempts;
  attempts = headless::AllocationAttempts();
  EXPECT_TRUE(SameBits(reused, Run(moved, nullptr)));
  EXPECT_LT(keptRun, headless::AllocationAttempts() - attempts);
  EXPECT_EQ(kept.KeptCount(), 1) << "not rebuilt";
}

TEST_F(KeptTopologyTest, AnyChangeOfCountsOrPolygonsRebuilds) {
  KeptTopology kept;
  ASSERT_FALSE(Run(mesh_, &kept).empty());
  Int64 builds = kept.KeptCount();

  auto expectRebuilt = [&](const headless::Mesh& changed, const char* what) {
    EXPECT_TRUE(SameBits(Run(changed, &kept), Run(changed, nullptr))) << what;
    EXPECT_EQ(kept.KeptCount(), ++builds) << what;
    EXPECT_TRUE(kept.Holds()) << what;
  };

  headless::Mesh morePoints = mesh_;
  morePoints.points.push_back({9.0, 9.0, 9.0});  // a point on no polygon
  expectRebuilt(morePoints, "point count");

  headless::Mesh fewerPolygons = mesh_;
  fewerPolygons.polygons.pop_back();
  expectRebuilt(fewerPolygons, "polygon count");

  // One corner of one polygon, far in the array, counts equal: only the exact comparison sees it.
  headless::Mesh corner = mesh_;
  CPolygon& last = corner.polygons[corner.polygons.size() - 2];
  last.d = last.d == 0 ? 1 : 0;
  expectRebuilt(corner, "one corner");
  expectRebuilt(mesh_, "back to the first polygons");

  // An index out of range is refused, as without a kept topology, and nothing stays kept.
  headless::Mesh broken = mesh_;
  broken.polygons[3].b = static_cast<Int32>(broken.points.size());
  EXPECT_TRUE(Run(broken, &kept).empty());
  EXPECT_FALSE(kept.Holds());
}

TEST_F(KeptTopologyTest, SamePolygonsComparesEveryCornerOverTheWorkers) {
  headless::SetWorkerCount(4);
  std::vector<CPolygon> a(100000);
  for (size_t i = 0; i < a.size(); ++i)
    a[i] = {Int32(i), Int32(i + 1), Int32(i + 2), Int32(i % 3 == 0 ? i + 2 : i + 3)};
  std::vector<CPolygon> b = a;
  EXPECT_TRUE(SamePolygons(a, b));
  for (size_t at : {size_t{0}, a.size() / 2 + 7, a.size() - 1}) {
    b[at].c += 1;
    EXPECT_FALSE(SamePolygons(a, b)) << at;
    b[at].c -= 1;
  }
  EXPECT_TRUE(SamePolygons({}, {}));
  EXPECT_FALSE(SamePolygons(a, {}));
  EXPECT_FALSE(SamePolygons(a, std::span<const CPolygon>(b).first(b.size() - 1)))
      << "a shorter array, equal as far as it goes";
  headless::SetWorkerCount(0);
}

TEST_F(KeptTopologyTest, ReleaseFreesEverythingKept) {
  const Int64 blocks = headless::GetAllocationStats().blocksInUse;
  {
    KeptTopology kept;
    ASSERT_FALSE(Run(mesh_, &kept).empty());
    EXPECT_GT(headless::GetAllocationStats().blocksInUse, blocks);
    kept.Release();
    EXPECT_FALSE(kept.Holds());
    EXPECT_EQ(headless::GetAllocationStats().blocksInUse, blocks);
    ASSERT_FALSE(Run(mesh_, &kept).empty());
  }
  EXPECT_EQ(headless::GetAllocationStats().blocksInUse, blocks) << "freed with the record";
}

TEST_F(KeptTopologyTest, AllocationFailuresFallBackToAPlainRunOrFailCleanly) {
  const std::vector<Frame> plain = Run(mesh_, nullptr);
  bool sawPlainRun = false;
  bool sawSuccess = false;
  for (Int64 n = 1; n < 200 && !sawSuccess; ++n) {
    const Int64 blocks = headless::GetAllocationStats().blocksInUse;
    KeptTopology kept;
    const Int64 attempts = headless::AllocationAttempts();
    headless::FailNthAllocation(n);
    const std::vector<Frame> frames = Run(mesh_, &kept);
    headless::FailNthAllocation(0);
    if (headless::AllocationAttempts() - attempts < n) {
      sawSuccess = true;
      EXPECT_TRUE(SameBits(frames, plain));
      EXPECT_TRUE(kept.Holds());
    } else if (!frames.empty()) {
      // Only the kept copy may fail without failing the run: then nothing is kept.
      sawPlainRun = true;
      EXPECT_TRUE(SameBits(frames, plain)) << n;
      EXPECT_FALSE(kept.Holds()) << n;
    }
    kept.Release();
    EXPECT_EQ(headless::GetAllocationStats().blocksInUse, blocks) << n;
  }
  EXPECT_TRUE(sawPlainRun);
  EXPECT_TRUE(sawSuccess);
}

}  // namespace
