// Face normals, vertex frames, and encoding and decoding differences.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "source/tessamireThreads/frames.h"
#include "source/tessamireThreads/lane_kernels.h"
#include "source/tessamireThreads/vector_ops.h"
#include "tests/support/core_fixture.h"

namespace {

using FramesTest = CoreTest;

constexpr Float kTolerance = 1e-12;

void ExpectNear(const Vector3& actual, const Vector3& expected, Float tolerance = kTolerance) {
  EXPECT_NEAR(actual.x, expected.x, tolerance);
  EXPECT_NEAR(actual.y, expected.y, tolerance);
  EXPECT_NEAR(actual.z, expected.z, tolerance);
}

// Frames of the unsmoothed points through the three passes, as a run builds them.
std::vector<Frame> FramesOf(const std::vector<Vector3>& points,
                            const std::vector<CPolygon>& polygons) {
  Topology t;
  EXPECT_TRUE(BuildTopology(static_cast<Int32>(points.size()), polygons, t));
  std::vector<Frame> frames(points.size());
  std::vector<Vector3> normals(polygons.size());
  ComputeOrigins(points, frames);
  ComputeFaceNormals(points, polygons, normals);
  ComputeVertexFrames(points, polygons, normals, *t.adjacency.get(), frames);
  return frames;
}

TEST_F(FramesTest, FaceNormalUsesDiagonalsForQuadsAndEdgesForTriangles) {
  const std::vector<Vector3> p = {{0, 0, 0}, {1, 0, 0}, {1, 1, 1}, {0, 1, 0}};
  // (b - d) x (c - a) = (1, -1, 0) x (1, 1, 1); (b - a) x (c - a) would give (0, -1, 1).
  const Float s = 1.0 / std::sqrt(6.0);
  ExpectNear(FaceNormal(p, {0, 1, 2, 3}), {-s, -s, 2 * s});
  // (b - a) x (c - a) = (1, 0, 0) x (1, 1, 1).
  const Float r = 1.0 / std::sqrt(2.0);
  ExpectNear(FaceNormal(p, {0, 1, 2, 2}), {0, -r, r});
  // Zero area: the zero vector.
  const std::vector<Vector3> line = {{0, 0, 0}, {1, 0, 0}, {2, 0, 0}};
  const Vector3 zero = FaceNormal(line, {0, 1, 2, 2});
  EXPECT_EQ(zero.x, 0.0);
  EXPECT_EQ(zero.y, 0.0);
  EXPECT_EQ(zero.z, 0.0);
}

// The normals pass takes polygons eight or four at a time in the wide lanes: every normal is the
// one-polygon rule's bits in every width, whatever lane a polygon sits in, for quads, triangles,
// polygons of no area, repeated corners, a not-a-number corner and huge coordinates.
TEST_F(FramesTest, FaceNormalsAreTheOnePolygonBitsInEveryLaneWidth) {
  const Float nan = std::numeric_limits<Float>::quiet_NaN();
  std::vector<Vector3> points;
  for (Int32 i = 0; i < 40; ++i)
    points.push_back({0.37 * i, std::sin(0.9 * i), 0.01 * static_cast<Float>((i * 7) % 11)});
  points[5] = points[6];
  points[11] = {nan, 0.0, 1.0};
  points[17] = {1e300, -1e300, 1e300};
  points[18] = {-0.0, -0.0, -0.0};
  std::vector<CPolygon> polygons;
  for (Int32 k = 0; k < 45; ++k) {
    const Int32 a = (k * 7) % 40, b = (k * 3 + 1) % 40, c = (k * 11 + 5) % 40, d = (k * 5 + 2) % 40;
    if (k % 3 == 1)
      polygons.push_back({a, b, c, c});  // a triangle
    else if (k % 7 == 2)
      polygons.push_back({a, b, a, d});  // a corner named twice
    else
      polygons.push_back({a, b, c, d});
  }
  polygons.push_back({5, 6, 6, 6});  // no area at all
  std::vector<Vector3> expected;
  for (const CPolygon& p : polygons) expected.push_back(FaceNormal(points, p));
  for (LaneWidth width : {LaneWidth::kPairs, LaneWidth::kWide, LaneWidth::kWide512}) {
    if (!LaneWidthAvailable(width)) continue;
    ASSERT_EQ(ForceLaneWidth(width), width);
    // Every offset, so that each polygon meets every lane.
    for (size_t from = 0; from < 8; ++from) {
      const std::span<const CPolygon> some(polygons.data() + from, polygons.size() - from);
      std::vector<Vector3> normals(some.size());
      ComputeFaceNormals(points, some, normals);
      EXPECT_EQ(
          std::memcmp(normals.data(), expected.data() + from, normals.size() * sizeof(Vector3)), 0)
          << "lanes " << static_cast<int>(width) << ", from " << from;
    }
  }
  UnforceLaneWidth();
}

// Fans of 1 to 20 triangles round a centre, so that points lie on every count of polygons up to
// past the core's table of 1/n: the whole-list loop gives each point the one-point rule's bits
// (its own division), in every width.
TEST_F(FramesTest, EveryPolygonCountGivesTheOnePointFrameBits) {
  std::vector<Vector3> points;
  std::vector<CPolygon> polygons;
  for (Int32 fan = 1; fan <= 20; ++fan) {
    const Int32 centre = static_cast<Int32>(points.size());
    points.push_back({0.0, 0.0, 0.1 * fan});
    for (Int32 k = 0; k <= fan; ++k) {
      const Float angle = 0.3 * k + 0.01 * fan;
      points.push_back({std::cos(angle), std::sin(angle), 0.05 * (k % 3)});
    }
    for (Int32 k = 0; k < fan; ++k)
      polygons.push_back({centre, centre + 1 + k, centre + 2 + k, centre + 2 + k});
  }
  Topology t;
  ASSERT_TRUE(BuildTopology(static_cast<Int32>(points.size()), polygons, t));
  std::vector<Vector3> normals(polygons.size());
  ComputeFaceNormals(points, polygons, normals);
  std::vector<Frame> expected(points.size());
  for (Int64 i = 0; i < static_cast<Int64>(points.size()); ++i)
    ComputeVertexFrame(points, polygons, normals, *t.adjacency.get(), i, expected);
  for (LaneWidth width : {LaneWidth::kPairs, LaneWidth::kWide, LaneWidth::kWide512}) {
    if (!LaneWidthAvailable(width)) continue;
    ASSERT_EQ(ForceLaneWidth(width), width);
    std::vector<Frame> frames(points.size());
    ComputeVertexFrames(points, polygons, normals, *t.adjacency.get(), frames);
    for (size_t i = 0; i < points.size(); ++i) {
      const bool same = std::memcmp(&frames[i].axis1, &expected[i].axis1, 3 * sizeof(Vector3)) == 0;
      EXPECT_TRUE(same) << "point " << i << " lanes " << static_cast<int>(width);
    }
  }
  UnforceLaneWidth();
}

TEST_F(FramesTest, FlatGridFramesAreRightHandedAndFollowTheFirstPolygon) {
  const headless::Mesh grid = headless::Grid(3, 2, 0.5);
  const std::vector<Frame> frames = FramesOf(grid.points, grid.polygons);
  for (size_t i = 0; i < frames.size(); ++i) {
    const Frame& f = frames[i];
    ExpectNear(f.axis3, {0, 0, 1});
    ExpectNear(vmath::Cross(f.axis1, f.axis2), f.axis3);
    EXPECT_NEAR(vmath::Length(f.axis1), 1.0, kTolerance);
    EXPECT_NEAR(vmath::Dot(f.axis1, f.axis2), 0.0, kTolerance);
    EXPECT_EQ(f.origin.x, grid.points[i].x);
  }
  // Point 0 is corner a of polygon 0 {0, 1, 5, 4}: axis1 is perpendicular to the diagonal d-b
  // and axis2 points from o1 = b towards o2 = d.
  const Vector3 diagonal = vmath::Sub(grid.points[1], grid.points[4]);
  EXPECT_NEAR(vmath::Dot(frames[0].axis1, diagonal), 0.0, kTolerance);
  EXPECT_LT(vmath::Dot(frames[0].axis2, diagonal), 0.0);
}

TEST_F(FramesTest, WorkedExampleOfTheAxes) {
  // Point 0 of the triangle: normal (0, 0, 1), tangent hint P[1] - P[2] = (1, 0, 0).
  const std::vector<Vector3> p = {{0, -1, 0}, {1, 0, 0}, {0, 0, 0}};
  const std::vector<Frame> frames = FramesOf(p, {{0, 1, 2, 2}});
  ExpectNear(frames[0].axis3, {0, 0, 1});
  ExpectNear(frames[0].axis1, {0, 1, 0});
  ExpectNear(frames[0].axis2, {-1, 0, 0});
}

TEST_F(FramesTest, PointsWithoutCornerPairGetZeroTangentAxes) {
  // Point 3 is used by no polygon; point 0 is named twice by its only triangle.
  const std::vector<Vector3> p = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {5, 5, 5}};
  const std::vector<Frame> frames = FramesOf(p, {{0, 0, 2, 2}, {1, 2, 0, 0}});
  for (const Vector3& axis : {frames[3].axis1, frames[3].axis2, frames[3].axis3})
    ExpectNear(axis, {0, 0, 0}, 0.0);
  ExpectNear(frames[0].axis1, {0, 0, 0}, 0.0);
  ExpectNear(frames[0].axis2, {0, 0, 0}, 0.0);
  // A singular frame stores the rest point's offset from its origin (here the point itself).
  const Vector3 stored = EncodeDifference(frames[3], p[3]);
  ExpectNear(stored, vmath::Sub(p[3], frames[3].origin), 0.0);
}

TEST_F(FramesTest, EncodeThenDecodeGivesThePointBack) {
  Frame f;
  f.origin = {1.5, -2.0, 0.25};
  f.axis1 = {0.9, 0.1, -0.3};
  f.axis2 = {-0.2, 1.1, 0.4};
  f.axis3 = {0.3, -0.5, 0.8};
  const Vector3 point{-3.0, 7.5, 2.0};
  ExpectNear(DecodeDifference(f, EncodeDifference(f, point)), point);
  const Frame inverse = InverseFrame(f);
  ExpectNear(ApplyFrame(f, ApplyFrame(inverse, {1, 0, 0})), {1, 0, 0});
  ExpectNear(ApplyFrame(inverse, f.origin), {0, 0, 0});

  // det exactly 0 stores the point's offset from the origin; a NaN det takes the general
  // inverse.
  Frame flat = f;
  flat.axis3 = flat.axis1;
  ExpectNear(EncodeDifference(flat, point), {-4.5, 9.5, 1.75}, 0.0);
  Frame broken = f;
  broken.axis1.x = std::numeric_limits<Float>::quiet_NaN();
  EXPECT_TRUE(std::isnan(EncodeDifference(broken, point).x));
}

TEST_F(FramesTest, FramesMoveAndTurnWithTheMesh) {
  const headless::Mesh torus = headless::Torus(10, 6);
  SmoothingSettings options;
  options.iterations = 2;
  options.weighting = kWeightingLength;
  const std::vector<Frame> rest = RunFrames(torus, options);
  ASSERT_EQ(rest.size(), torus.points.size());
  std::vector<Vector3> differences;
  for (size_t i = 0; i < rest.size(); ++i)
    differences.push_back(EncodeDifference(rest[i], torus.points[i]));

  const Vector3 shift{10.0, -4.0, 2.5};
  headless::Mesh moved = torus;
  for (Vector3& p : moved.points) p = vmath::Add(p, shift);
  const std::vector<Frame> translated = RunFrames(moved, options);
  ASSERT_EQ(translated.size(), rest.size());

  // A quarter turn about z, then a tilt about x.
  auto rotate = [](const Vector3& p) {
    const Float c = std::cos(0.4);
    const Float s = std::sin(0.4);
    const Vector3 q{-p.y, p.x, p.z};
    return Vector3{q.x, c * q.y - s * q.z, s * q.y + c * q.z};
  };
  headless::Mesh turned = torus;
  for (Vector3& p : turned.points) p = rotate(p);
  const std::vector<Frame> rotated = RunFrames(turned, options);
  ASSERT_EQ(rotated.size(), rest.size());

  for (size_t i = 0; i < rest.size(); ++i) {
    ExpectNear(translated[i].axis1, rest[i].axis1, 1e-9);
    ExpectNear(translated[i].axis3, rest[i].axis3, 1e-9);
    ExpectNear(DecodeDifference(translated[i], differences[i]), vmath::Add(torus.points[i], shift),
               1e-9);
    ExpectNear(rotated[i].axis1, rotate(rest[i].axis1), 1e-9);
    ExpectNear(rotated[i].axis2, rotate(rest[i].axis2), 1e-9);
    ExpectNear(DecodeDifference(rotated[i], differences[i]), rotate(torus.points[i]), 1e-9);
    ExpectNear(DecodeDifference(rest[i], differences[i]), torus.points[i], 1e-9);
  }
}

}  // namespace
