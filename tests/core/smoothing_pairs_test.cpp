// A smoothing pass, which takes neighbouring points two or four at a time where it can, gives
// every point the bits of its one-point step, also where its stores bypass the cache, on meshes
// that mix valences, pinned borders, isolated points, zero-length edges, negative zeros and
// vertex-map weights, on one worker and on all, in paired lanes and in wide ones; and whole runs
// give the same frames in either.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <span>
#include <vector>

#include "source/tessamireThreads/lane_kernels.h"
#include "source/tessamireThreads/smoothing.h"
#include "tests/support/core_fixture.h"

namespace {

// A grid with ripples, a few triangles, points stacked on their neighbours, isolated points (one
// last, one amid the others) and coordinates of negative zero. The points are shaken a little, so
// that sums in another order round otherwise.
headless::Mesh AwkwardMesh() {
  headless::Mesh mesh = headless::Grid(9, 7);
  for (size_t i = 0; i < mesh.points.size(); ++i) {
    mesh.points[i].x += 1e-3 * std::sin(static_cast<Float>(i));
    mesh.points[i].y += 1e-3 * std::cos(static_cast<Float>(3 * i));
    mesh.points[i].z = 0.1 * static_cast<Float>((i * 7) % 5) - 0.2;
  }
  mesh.points[3] = mesh.points[4];  // a zero-length edge
  mesh.points[20] = {-0.0, -0.0, -0.0};
  mesh.points[21] = {-0.0, -0.0, -0.0};
  for (size_t i = 0; i < mesh.polygons.size(); i += 4) {
    const CPolygon quad = mesh.polygons[i];  // copied: the push_back may move the array
    mesh.polygons.push_back({quad.a, quad.c, quad.d, quad.d});
    mesh.polygons[i].d = quad.c;
  }
  mesh.points.push_back({5.0, 5.0, 5.0});  // on no polygon
  // And one among the others, so that it shares its lanes with points that have neighbours.
  std::erase_if(mesh.polygons,
                [](const CPolygon& p) { return p.a == 30 || p.b == 30 || p.c == 30 || p.d == 30; });
  return mesh;
}

std::vector<Vector3> OnePointAtATime(const headless::Mesh& mesh, const Topology& t,
                                     const SmoothingSettings& options,
                                     std::span<const Float32> weights) {
  std::vector<Vector3> out(mesh.points.size());
  for (size_t i = 0; i < mesh.points.size(); ++i)
    SmoothPoint(mesh.points, out, static_cast<Int64>(i), t.lists, t.border, options, weights);
  return out;
}

SmoothingSettings Options(Int32 weighting, bool pin, Float32 strength) {
  SmoothingSettings options;
  options.weighting = weighting;
  options.pinBorder = pin;
  options.strength = strength;
  return options;
}

// The vertex map's weights when `use`, else none.
std::span<const Float32> MapIf(bool use, const std::vector<Float32>& weights) {
  return use ? std::span<const Float32>(weights) : std::span<const Float32>();
}

bool SameBits(const std::vector<Vector3>& a, const std::vector<Vector3>& b) {
  return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(Vector3)) == 0;
}

class SmoothingPairs : public CoreTest {
 protected:
  void TearDown() override {
    UnforceLaneWidth();
    CoreTest::TearDown();
  }
  // The widths this processor and build can run.
  static std::vector<LaneWidth> Widths() {
    std::vector<LaneWidth> widths;
    for (LaneWidth w : {LaneWidth::kPairs, LaneWidth::kWide, LaneWidth::kWide512}) {
      if (LaneWidthAvailable(w)) widths.push_back(w);
    }
    return widths;
  }
};

TEST_F(SmoothingPairs, PassMatchesTheOnePointStepBitForBit) {
  const headless::Mesh mesh = AwkwardMesh();
  const Int32 n = static_cast<Int32>(mesh.points.size());
  Topology t;
  ASSERT_TRUE(BuildTopology(n, mesh.polygons, t));
  std::vector<Float32> weights(mesh.points.size());
  for (size_t i = 0; i < weights.size(); ++i) weights[i] = static_cast<Float32>(i % 4) * 0.3f;

  for (Int32 weighting : {kWeightingUniform, kWeightingLength}) {
    for (bool pin : {false, true}) {
      for (bool useWeights : {false, true}) {
        const SmoothingSettings options = Options(weighting, pin, 0.1f);
        const std::span<const Float32> map = MapIf(useWeights, weights);
        const std::vector<Vector3> expected = OnePointAtATime(mesh, t, options, map);
        for (LaneWidth width : Widths()) {
          ForceLaneWidth(width);
          for (bool parallel : {true, false}) {
            headless::EnableParallelFor(parallel);
            std::vector<Vector3> out(mesh.points.size());
            SmoothPass(mesh.points, out, t.lists, t.border, options, map);
            EXPECT_TRUE(SameBits(out, expected))
                << "weighting " << weighting << " pin " << pin << " weights " << useWeights
                << " parallel " << parallel << " lanes " << static_cast<int>(width);
          }
        }
        headless::EnableParallelFor(true);
      }
    }
  }
}

// A destination large enough that the wide lanes' stores bypass the cache, at a base on a cache
// line and at one 8 bytes past it (so that single points lead up to the first whole line), with
// pinned borders breaking the groups on every row, with and without a vertex map's weights: the
// one-point bits still, in every width.
TEST_F(SmoothingPairs, StoresAroundTheCacheKeepTheOnePointBits) {
  headless::Mesh mesh = headless::Grid(611, 599);
  for (size_t i = 0; i < mesh.points.size(); ++i)
    mesh.points[i].z = 0.01 * static_cast<Float>((i * 7) % 5);
  const Int64 count = static_cast<Int64>(mesh.points.size());
  ASSERT_GE(count * Int64{sizeof(Vector3)}, kStreamingBytes);
  Topology t;
  ASSERT_TRUE(BuildTopology(static_cast<Int32>(count), mesh.polygons, t));
  std::vector<Vector3> buffer(mesh.points.size() + 8);
  const std::uintptr_t base = reinterpret_cast<std::uintptr_t>(buffer.data());
  std::vector<Float32> weights(mesh.points.size());
  for (size_t i = 0; i < weights.size(); ++i) weights[i] = static_cast<Float32>(i % 5) * 0.2f;
  for (Int32 weighting : {kWeightingUniform, kWeightingLength}) {
    for (bool useWeights : {false, true}) {
      const SmoothingSettings options = Options(weighting, true, 0.7f);
      const std::span<const Float32> map = MapIf(useWeights, weights);
      const std::vector<Vector3> expected = OnePointAtATime(mesh, t, options, map);
      for (LaneWidth width : Widths()) {
        ForceLaneWidth(width);
        for (std::uintptr_t past : {0, 8}) {
          size_t first = 0;
          while ((base + first * sizeof(Vector3)) % 64 != past) ++first;
          const std::span<Vector3> out(buffer.data() + first, mesh.points.size());
          std::fill(buffer.begin(), buffer.end(), Vector3{-1.0, -1.0, -1.0});
          SmoothPass(mesh.points, out, t.lists, t.border, options, map);
          EXPECT_EQ(std::memcmp(out.data(), expected.data(), out.size_bytes()), 0)
              << "weighting " << weighting << " weights " << useWeights << " lanes "
              << static_cast<int>(width) << " past " << past;
        }
      }
    }
  }
}

TEST_F(SmoothingPairs, RunsGiveTheSameFramesInEveryLaneWidth) {
  if (!LaneWidthAvailable(LaneWidth::kWide))
    GTEST_SKIP() << "no 256-bit lanes on this processor or build";
  headless::Mesh mesh = AwkwardMesh();
  headless::Mesh ring = headless::Torus(29, 13);
  for (size_t i = 0; i < ring.points.size(); i += 3) ring.points[i].z *= 1.01;
  for (const headless::Mesh* m : {&mesh, &ring}) {
    for (Int32 weighting : {kWeightingUniform, kWeightingLength}) {
      SmoothingSettings options;
      options.weighting = weighting;
      options.iterations = 3;
      ForceLaneWidth(LaneWidth::kPairs);
      const std::vector<Frame> pairs = RunFrames(*m, options);
      ASSERT_FALSE(pairs.empty());
      for (LaneWidth width : Widths()) {
        ASSERT_EQ(ForceLaneWidth(width), width);
        const std::vector<Frame> wide = RunFrames(*m, options);
        ASSERT_EQ(wide.size(), pairs.size());
        EXPECT_EQ(std::memcmp(pairs.data(), wide.data(), pairs.size() * sizeof(Frame)), 0)
            << "weighting " << weighting << " lanes " << static_cast<int>(width);
      }
    }
  }
}

}  // namespace
