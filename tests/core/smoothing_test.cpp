// The smoothing step and passes: hand-computed steps, pinning, vertex-map weights, the float32
// strength, degenerate neighbourhoods and the double buffering.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <span>
#include <vector>

#include "source/tessamireThreads/smoothing.h"
#include "tests/support/core_fixture.h"

namespace {

using SmoothingTest = CoreTest;
using Points = std::vector<Vector3>;

constexpr Float kTolerance = 1e-12;

// One pass over the mesh's points with `options` and the vertex-map `weights` (empty for none).
Points Pass(const Points& points, const std::vector<CPolygon>& polygons,
            const SmoothingSettings& options, std::span<const Float32> weights = {}) {
  Topology t;
  EXPECT_TRUE(BuildTopology(static_cast<Int32>(points.size()), polygons, t));
  Points out(points.size());
  SmoothPass(points, out, t.lists, t.border, options, weights);
  return out;
}

bool SameBits(const Points& a, const Points& b) {
  return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(Vector3)) == 0;
}

SmoothingSettings Options(Int32 weighting, Float32 strength = 1.0f) {
  SmoothingSettings options;
  options.iterations = 1;
  options.weighting = weighting;
  options.strength = strength;
  return options;
}

// A skewed quad: point 0 has neighbours 1 (length 2) and 3 (length 1).
const Points kQuad = {{0, 0, 0}, {2, 0, 0}, {2, 3, 0}, {0, 1, 0}};
const std::vector<CPolygon> kQuadPolygons = {{0, 1, 2, 3}};

// A 2 x 2 grid whose centre (point 4) is lifted by 1: four edges of equal length at the centre.
Points LiftedGrid() {
  Points points = headless::Grid(2, 2).points;
  points[4].z = 1.0;
  return points;
}

TEST_F(SmoothingTest, HandComputedSteps) {
  // Uniform: S = (2, 0, 0) + (0, 1, 0), D = S / 2.
  Points uniform = Pass(kQuad, kQuadPolygons, Options(kWeightingUniform));
  EXPECT_EQ(uniform[0].x, 1.0);
  EXPECT_EQ(uniform[0].y, 0.5);
  EXPECT_EQ(uniform[0].z, 0.0);
  // Length-weighted: S = (2, 0, 0) * 2 + (0, 1, 0) * 1, W = 3, q = 2 * 3.
  Points weighted = Pass(kQuad, kQuadPolygons, Options(kWeightingLength));
  EXPECT_NEAR(weighted[0].x, 4.0 / 6.0, kTolerance);
  EXPECT_NEAR(weighted[0].y, 1.0 / 6.0, kTolerance);
  EXPECT_EQ(weighted[0].z, 0.0);
  // Point 2: neighbours 1 at (0, -3, 0) and 3 at (-2, -2, 0).
  const Float l3 = std::sqrt(8.0);
  EXPECT_NEAR(weighted[2].x, 2.0 + (-2.0 * l3) / (2.0 * (3.0 + l3)), kTolerance);
  EXPECT_NEAR(weighted[2].y, 3.0 + (-9.0 - 2.0 * l3) / (2.0 * (3.0 + l3)), kTolerance);
}

TEST_F(SmoothingTest, EqualEdgesGiveAQuarterOfTheUniformStep) {
  const Points points = LiftedGrid();
  const std::vector<CPolygon>& polygons = headless::Grid(2, 2).polygons;
  const Points uniform = Pass(points, polygons, Options(kWeightingUniform));
  const Points weighted = Pass(points, polygons, Options(kWeightingLength));
  EXPECT_EQ(uniform[4].z, 0.0) << "the centre moves onto its neighbours' mean";
  EXPECT_NEAR(weighted[4].z - 1.0, (uniform[4].z - 1.0) / 4.0, kTolerance);
  EXPECT_EQ(weighted[4].x, 1.0);
  EXPECT_EQ(weighted[4].y, 1.0);
}

TEST_F(SmoothingTest, PointsThatMustStay) {
  // Interior points of a flat regular grid already sit at their neighbours' mean.
  const headless::Mesh grid = headless::Grid(3, 3);
  EXPECT_EQ(Pass(grid.points, grid.polygons, Options(kWeightingUniform))[5].x, grid.points[5].x);
  EXPECT_EQ(Pass(grid.points, grid.polygons, Options(kWeightingUniform))[5].y, grid.points[5].y);

  // Strength 0, either weighting; an unknown weighting; a point with no neighbours (4).
  Points points = kQuad;
  points.push_back({7, 8, 9});
  EXPECT_TRUE(SameBits(Pass(points, kQuadPolygons, Options(kWeightingUniform, 0.0f)), points));
  EXPECT_TRUE(SameBits(Pass(points, kQuadPolygons, Options(kWeightingLength, 0.0f)), points));
  EXPECT_TRUE(SameBits(Pass(points, kQuadPolygons, Options(2)), points));
  for (Int32 weighting : {kWeightingUniform, kWeightingLength}) {
    const Points out = Pass(points, kQuadPolygons, Options(weighting));
    EXPECT_EQ(out[4].x, 7.0);
    EXPECT_EQ(out[4].y, 8.0);
    EXPECT_EQ(out[4].z, 9.0);
  }

  // All neighbours coincide with the point: zero lengths, divisor replaced by 1.
  const Points coincident(4, Vector3{1.5, -2.5, 3.5});
  EXPECT_TRUE(SameBits(Pass(coincident, kQuadPolygons, Options(kWeightingUniform)), coincident));
  EXPECT_TRUE(SameBits(Pass(coincident, kQuadPolygons, Options(kWeightingLength)), coincident));
}

TEST_F(SmoothingTest, PinnedBorder) {
  const Points points = LiftedGrid();
  const std::vector<CPolygon>& polygons = headless::Grid(2, 2).polygons;
  for (Int32 weighting : {kWeightingUniform, kWeightingLength}) {
    SmoothingSettings options = Options(weighting);
    options.pinBorder = true;
    const Points pinned = Pass(points, polygons, options);
    for (Int32 i = 0; i < 9; ++i) {
      if (i == 4) continue;
      EXPECT_EQ(pinned[i].x, points[i].x) << i;
      EXPECT_EQ(pinned[i].y, points[i].y) << i;
      EXPECT_EQ(pinned[i].z, points[i].z) << i;
    }
    EXPECT_LT(pinned[4].z, 1.0) << "interior points still move";
    options.pinBorder = false;
    EXPECT_GT(Pass(points, polygons, options)[1].z, 0.0) << "border points move when not pinned";
  }
}

TEST_F(SmoothingTest, VertexMapWeights) {
  const Points points = LiftedGrid();
  const std::vector<CPolygon>& polygons = headless::Grid(2, 2).polygons;
  std::vector<Float32> weights(9, 1.0f);
  weights[4] = 0.0f;
  weights[1] = 0.5f;
  for (Int32 weighting : {kWeightingUniform, kWeightingLength}) {
    const SmoothingSettings options = Options(weighting);
    const Points free = Pass(points, polygons, options);
    const Points mapped = Pass(points, polygons, options, weights);
    EXPECT_EQ(mapped[4].z, 1.0) << "weight 0 keeps the point";
    for (Int32 i : {0, 2, 3, 5, 6, 7, 8}) {
      EXPECT_EQ(std::memcmp(&mapped[i], &free[i], sizeof(Vector3)), 0) << "weight 1 at " << i;
    }
    EXPECT_NEAR(mapped[1].z - points[1].z, 0.5 * (free[1].z - points[1].z), kTolerance);
  }
}

TEST_F(SmoothingTest, StrengthActsAsItsFloat32Value) {
  // Point 0's uniform step is (1, 0.5, 0); with strength 0.1f it is 0.1f widened, not 0.1.
  const Points out = Pass(kQuad, kQuadPolygons, Options(kWeightingUniform, 0.1f));
  EXPECT_EQ(out[0].x, static_cast<Float>(0.1f));
  EXPECT_NE(out[0].x, 0.1);
  EXPECT_EQ(out[0].y, 0.5 * static_cast<Float>(0.1f));
}

TEST_F(SmoothingTest, ExactUnderPowerOfTwoRescale) {
  // Every operation of the step scales exactly by a power of two, so rescaling the mesh rescales
  // the result bit for bit: no hidden tolerance or absolute constant.
  const headless::Mesh torus = headless::Torus(9, 7);
  for (Float scale : {std::ldexp(1.0, 27), std::ldexp(1.0, -27)}) {
    Points scaled = torus.points;
    for (Vector3& p : scaled) p = {p.x * scale, p.y * scale, p.z * scale};
    for (Int32 weighting : {kWeightingUniform, kWeightingLength}) {
      const Points base = Pass(torus.points, torus.polygons, Options(weighting, 0.7f));
      const Points big = Pass(scaled, torus.polygons, Options(weighting, 0.7f));
      for (size_t i = 0; i < base.size(); ++i) {
        EXPECT_EQ(big[i].x, base[i].x * scale) << i;
        EXPECT_EQ(big[i].y, base[i].y * scale) << i;
        EXPECT_EQ(big[i].z, base[i].z * scale) << i;
      }
    }
  }
}

TEST_F(SmoothingTest, PassesReadOnlyThePreviousPass) {
  const headless::Mesh torus = headless::Torus(8, 5);
  const Int32 n = static_cast<Int32>(torus.points.size());
  Topology t;
  ASSERT_TRUE(BuildTopology(n, torus.polygons, t));
  SmoothingSettings options = Options(kWeightingLength);

  // Two passes by hand through fresh buffers.
  Points once(torus.points.size());
  Points twice(torus.points.size());
  SmoothPass(torus.points, once, t.lists, t.border, options, {});
  SmoothPass(once, twice, t.lists, t.border, options, {});

  Points a = torus.points;
  Points b(torus.points.size());
  options.iterations = 2;
  const std::span<Vector3> result = Smooth(a, b, t.lists, t.border, options, {});
  EXPECT_EQ(result.data(), a.data()) << "after an even number of passes the newest is the source";
  EXPECT_EQ(result.size(), a.size());
  EXPECT_TRUE(SameBits(a, twice));

  options.iterations = 3;
  a = torus.points;
  EXPECT_EQ(Smooth(a, b, t.lists, t.border, options, {}).data(), b.data());

  for (Int32 none : {0, -2}) {
    options.iterations = none;
    a = torus.points;
    EXPECT_EQ(Smooth(a, b, t.lists, t.border, options, {}).data(), a.data());
    EXPECT_TRUE(SameBits(a, torus.points));
  }
}

}  // namespace
