// The geometry kit: the order its sums round in, the zero rules of normalising, turning a vector
// with a surface, point normals and corner checks, a file's own vertices over welded points, the
// layouts and shapes of the generated grids, tubes and tori, and boxes around points.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "headless/geometry/box.h"
#include "headless/geometry/file_vertices.h"
#include "headless/geometry/mesh.h"
#include "headless/geometry/primitives.h"
#include "headless/geometry/vector.h"

namespace {

constexpr Float kTolerance = 1e-12;

// How many polygons use each undirected edge (a triangle's collapsed side is no edge).
std::map<std::pair<Int32, Int32>, int> EdgeUses(const std::vector<CPolygon>& polygons) {
  std::map<std::pair<Int32, Int32>, int> uses;
  for (const CPolygon& p : polygons) {
    const Int32 c[4] = {p.a, p.b, p.c, p.d};
    for (int k = 0; k < 4; ++k) {
      const Int32 s = c[k], t = c[(k + 1) % 4];
      if (s != t) ++uses[{std::min(s, t), std::max(s, t)}];
    }
  }
  return uses;
}

TEST(GeometryVector, SumsRoundInTheirStatedOrder) {
  // (1e16 - 1e16) + 1 keeps the 1; 1e16 + (-1e16 + 1) would lose it.
  EXPECT_EQ(headless::Dot({1e16, -1e16, 1.0}, {1.0, 1.0, 1.0}), 1.0);
  EXPECT_EQ(headless::Length({3.0, 4.0, 12.0}), 13.0);
  EXPECT_EQ(headless::Cross({1.0, 0.0, 0.0}, {0.0, 1.0, 0.0}).z, 1.0);
  // Dividing by 10 is not multiplying by its rounded reciprocal.
  EXPECT_EQ(headless::Divide({3.0, 0.0, 0.0}, 10.0).x, 0.3);
  EXPECT_NE(headless::Scale({3.0, 0.0, 0.0}, 1.0 / 10.0).x, 0.3);
}

TEST(GeometryVector, NormalisingGivesUnitLengthOrExactZero) {
  const Vector3 n = headless::Normalized({0.0, -3.0, 4.0});
  EXPECT_NEAR(headless::Length(n), 1.0, kTolerance);
  EXPECT_EQ(n.y, -0.6000000000000001);  // -3 * (1 / 5), not -3 / 5
  for (const Vector3& v : {Vector3{}, Vector3{-0.0, 0.0, -0.0},
                           Vector3{std::numeric_limits<Float>::quiet_NaN(), 1.0, 0.0}}) {
    const Vector3 z = headless::Normalized(v);
    EXPECT_FALSE(std::signbit(z.x) || std::signbit(z.y) || std::signbit(z.z));
    EXPECT_EQ(z.x, 0.0);
    EXPECT_EQ(z.y, 0.0);
    EXPECT_EQ(z.z, 0.0);
  }
}

TEST(GeometryMesh, PointNormalsSumAreaWeightedPolygonNormals) {
  // Two unit squares folded along x = 1: one flat in z = 0, one rising in x z.
  const std::vector<Vector3> points{{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0},
                                    {2, 0, 1}, {2, 1, 1}, {5, 5, 5}};
  const std::vector<CPolygon> polygons{{0, 1, 2, 3}, {1, 4, 5, 2}};
  const Vector3 flat = headless::PolygonNormal(points, polygons[0]);
  EXPECT_EQ(flat.z, 2.0);  // twice the area
  const std::vector<Vector3> normals = headless::PointNormals(points, polygons);
  ASSERT_EQ(normals.size(), points.size());
  const Vector3 fold = headless::Add(flat, headless::PolygonNormal(points, polygons[1]));
  EXPECT_EQ(normals[1].x, fold.x);
  EXPECT_EQ(normals[1].z, fold.z);
  EXPECT_EQ(normals[0].z, 2.0);
  EXPECT_EQ(headless::Length(normals[6]), 0.0);  // on no polygon

  // A triangle's repeated corner counts once.
  const std::vector<CPolygon> triangle{{0, 1, 2, 2}};
  EXPECT_EQ(headless::PointNormals(points, triangle)[2].z, 1.0);
}

TEST(GeometryMesh, CheckPolygonCornersNamesTheFirstBadCorner) {
  const std::vector<CPolygon> polygons{{0, 1, 2, 2}, {0, 2, 3, -1}, {0, 9, 2, 2}};
  EXPECT_NO_THROW(headless::CheckPolygonCorners({polygons.data(), 1}, 3, "here: "));
  try {
    headless::CheckPolygonCorners(polygons, 4, "here: ");
    FAIL() << "a negative corner was accepted";
  } catch (const std::invalid_argument& e) {
    EXPECT_EQ(std::string(e.what()), "here: polygon 1 names point -1 outside [0, 4)");
  }
}

TEST(GeometryPrimitives, GridIsLaidOutRowByRow) {
  const headless::Mesh grid = headless::Grid(3, 2, 0.5);
  ASSERT_EQ(grid.points.size(), 12u);
  ASSERT_EQ(grid.polygons.size(), 6u);
  // Point (i, j) at j * 4 + i.
  EXPECT_EQ(grid.points[6].x, 1.0);
  EXPECT_EQ(grid.points[6].y, 0.5);
  EXPECT_EQ(grid.points[6].z, 0.0);
  // Quad (1, 1): counter-clockwise seen from +z.
  const CPolygon q = grid.polygons[4];
  EXPECT_EQ(q.a, 5);
  EXPECT_EQ(q.b, 6);
  EXPECT_EQ(q.c, 10);
  EXPECT_EQ(q.d, 9);
  EXPECT_GT(headless::PolygonNormal(grid.points, q).z, 0.0);
  EXPECT_TRUE(headless::Grid(-1, 4).points.empty());
}

TEST(GeometryPrimitives, TubesAreOpenOrClosedAlongTheirAxis) {
  const std::vector<CPolygon> open = headless::TubeQuads(4, 5, false);
  const std::vector<CPolygon> closed = headless::TubeQuads(4, 5, true);
  EXPECT_EQ(open.size(), 15u);
  EXPECT_EQ(closed.size(), 20u);
  // The first quads agree; the closed tube's last ring pair joins ring 3 to ring 0, j wrapping.
  EXPECT_EQ(closed[0].a, open[0].a);
  EXPECT_EQ(closed[0].c, open[0].c);
  const CPolygon last = closed.back();
  EXPECT_EQ(last.a, 19);
  EXPECT_EQ(last.b, 4);
  EXPECT_EQ(last.c, 0);
  EXPECT_EQ(last.d, 15);
  // Closed: every edge shared by two quads; open: the end rings' edges by one.
  int single = 0;
  for (const auto& [edge, count] : EdgeUses(closed)) EXPECT_EQ(count, 2);
  for (const auto& [edge, count] : EdgeUses(open)) single += count == 1;
  EXPECT_EQ(single, 10);
  EXPECT_TRUE(headless::TubeQuads(0, 5, true).empty());
}

TEST(GeometryPrimitives, TorusHasItsRadiiAndItsBumps) {
  const headless::Mesh smooth = headless::Torus(12, 8);
  ASSERT_EQ(smooth.points.size(), 96u);
  ASSERT_EQ(smooth.polygons.size(), 96u);
  for (const auto& [edge, count] : EdgeUses(smooth.polygons)) EXPECT_EQ(count, 2);
  for (const Vector3& p : smooth.points) {
    // Distance from the centre circle of radius 3: the tube's radius 1.
    const Float ring = std::hypot(p.x, p.y) - 3.0;
    EXPECT_NEAR(std::hypot(ring, p.z), 1.0, kTolerance);
  }
  // Point (i, j) at i * v + j: (1, 2) lies a twelfth of a turn about z, on top of the tube.
  EXPECT_NEAR(smooth.points[10].z, 1.0, kTolerance);
  EXPECT_NEAR(std::atan2(smooth.points[10].y, smooth.points[10].x), 6.283185307179586 / 12,
              kTolerance);
  EXPECT_GT(
      headless::Dot(headless::PolygonNormal(smooth.points, smooth.polygons[0]), smooth.points[0]),
      0.0);  // wound outwards

  const headless::Mesh bumpy =
      headless::Torus(12, 8, {.bumpHeight = 0.1, .bumpsAround = 3.0, .bumpsAcross = 0.0});
  // Tube radius 1 + 0.1 sin(3 a): 1.1 at a = 30 degrees (i = 1), here on the outer equator.
  const Vector3& p = bumpy.points[8];
  EXPECT_NEAR(std::hypot(p.x, p.y), 4.1, kTolerance);
  EXPECT_EQ(bumpy.polygons.size(), smooth.polygons.size());
}

bool Near(const Vector3& a, const Vector3& b) {
  return std::fabs(a.x - b.x) + std::fabs(a.y - b.y) + std::fabs(a.z - b.z) < kTolerance;
}

TEST(GeometryVector, RotatedTurnsAsTheDirectionTurnsAndKeepsLength) {
  using headless::Rotated;
  // A quarter turn about z: x goes to y, and so does a vector along x of any length; z stays.
  EXPECT_TRUE(Near(Rotated({2.0, 0.0, 0.0}, {1.0, 0.0, 0.0}, {0.0, 5.0, 0.0}), {0.0, 2.0, 0.0}));
  EXPECT_TRUE(Near(Rotated({0.0, 0.0, 3.0}, {1.0, 0.0, 0.0}, {0.0, 1.0, 0.0}), {0.0, 0.0, 3.0}));
  EXPECT_TRUE(Near(Rotated({0.0, 1.0, 0.0}, {1.0, 0.0, 0.0}, {0.0, 1.0, 0.0}), {-1.0, 0.0, 0.0}));
  // The same direction, or none on either side, gives the vector back bit for bit.
  const Vector3 v{0.1, 0.7, -0.3};
  const Float infinite = std::numeric_limits<Float>::infinity();
  for (const auto& [from, to] : {std::pair<Vector3, Vector3>{{1, 2, 3}, {2, 4, 6}},
                                 {{0, 0, 0}, {1, 0, 0}},
                                 {{1, 0, 0}, {0, 0, 0}},
                                 {{infinite, 0, 0}, {0, 1, 0}}}) {
    const Vector3 r = Rotated(v, from, to);
    EXPECT_TRUE(r.x == v.x && r.y == v.y && r.z == v.z);
  }
  // Opposite directions: a half turn, which reverses the direction and keeps lengths.
  const Vector3 flipped = Rotated({1.0, 0.0, 0.0}, {1.0, 0.0, 0.0}, {-1.0, 0.0, 0.0});
  EXPECT_TRUE(Near(flipped, {-1.0, 0.0, 0.0}));
  const Vector3 side = Rotated(v, {0.0, 0.0, 1.0}, {0.0, 0.0, -1.0});
  EXPECT_NEAR(headless::Length(side), headless::Length(v), kTolerance);
  EXPECT_NEAR(side.z, 0.3, kTolerance);
  // A general turn keeps lengths and the angle to the direction turned.
  const Vector3 from{0.3, -0.2, 0.9}, to{-0.5, 0.4, 0.2};
  const Vector3 turned = Rotated(v, from, to);
  EXPECT_NEAR(headless::Length(turned), headless::Length(v), kTolerance);
  EXPECT_NEAR(headless::Dot(turned, headless::Normalized(to)),
              headless::Dot(v, headless::Normalized(from)), kTolerance);
}

// A quad split along a seam: four points, five vertices (point 1 twice, with other texture
// coordinates), two triangles.
headless::FileVertices SeamedQuad() {
  headless::FileVertices file;
  file.vertexPoint = {0, 1, 2, 3, 1};
  file.normals = {{0, 0, 1}, {0, 0, 1}, {0, 0, 1}, {0, 0.6, 0.8}, {0, 0, 1}};
  file.uvs = {0, 0, 1, 0, 1, 1, 0, 1, 0.5f, 0};
  file.faceFirst = {0, 3, 6};
  file.cornerVertex = {0, 1, 2, 0, 2, 3};
  file.faceMaterial = {0, -1};
  file.materials = {"skin"};
  return file;
}

TEST(GeometryFileVertices, ChecksNameTheirFirstFault) {
  headless::FileVertices file = SeamedQuad();
  EXPECT_NO_THROW(headless::CheckFileVertices(file, 4));
  const auto fault = [](const headless::FileVertices& f, Int64 points) {
    try {
      headless::CheckFileVertices(f, points);
    } catch (const std::invalid_argument& e) {
      return std::string(e.what());
    }
    return std::string("accepted");
  };
  EXPECT_EQ(fault(file, 3), "vertex 3 sits on point 3 outside [0, 3)");
  headless::FileVertices broken = file;
  broken.normals.pop_back();
  EXPECT_EQ(fault(broken, 4), "4 normals for 5 vertices");
  broken = file;
  broken.uvs[3] = std::numeric_limits<Float32>::quiet_NaN();
  EXPECT_EQ(fault(broken, 4), "the texture coordinates of vertex 1 are not finite");
  broken = file;
  broken.faceFirst = {0, 2, 6};
  EXPECT_EQ(fault(broken, 4), "face 0 has fewer than 3 corners");
  broken = file;
  broken.faceFirst.back() = 5;
  EXPECT_EQ(fault(broken, 4), "the face offsets end at 5, not at the 6 corners");
  broken = file;
  broken.cornerVertex[4] = 5;
  EXPECT_EQ(fault(broken, 4), "corner 4 names vertex 5 outside [0, 5)");
  broken = file;
  broken.faceMaterial[1] = 1;
  EXPECT_EQ(fault(broken, 4), "face 1 names material 1 of 1");
}

TEST(GeometryFileVertices, VerticesFollowTheirPointsAndTheirNormalsTurnWithThem) {
  const headless::FileVertices file = SeamedQuad();
  const std::vector<Vector3> points = {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}};
  const std::vector<Vector3> positions = headless::FileVertexPositions(file, points);
  ASSERT_EQ(positions.size(), 5u);
  EXPECT_EQ(positions[4].x, 1.0);  // the seam's second copy of point 1
  // At rest every normal comes back as the file gave it, the tilted one too, bit for bit.
  const std::vector<headless::SurfaceFrame> rest = headless::FileVertexFrames(file, points);
  EXPECT_TRUE(Near(rest[1].normal, {0, 0, 1}));  // its one face, triangle 0 1 2
  EXPECT_TRUE(Near(rest[1].along, {0, 1, 0}));   // towards point 2
  EXPECT_TRUE(Near(rest[4].normal, {0, 0, 0}));  // no face names the seam's copy
  std::vector<Vector3> normals = headless::FileVertexNormals(file, rest, rest);
  for (size_t v = 0; v < normals.size(); ++v) {
    EXPECT_EQ(normals[v].y, file.normals[v].y);
    EXPECT_EQ(normals[v].z, file.normals[v].z);
  }
  // The surface turned a quarter about x: every normal turns with it.
  const auto quarter = [](const std::vector<Vector3>& from) {
    std::vector<Vector3> to;
    for (const Vector3& p : from) to.push_back({p.x, -p.z, p.y});
    return to;
  };
  normals =
      headless::FileVertexNormals(file, rest, headless::FileVertexFrames(file, quarter(points)));
  EXPECT_TRUE(Near(normals[0], {0, -1, 0}));
  EXPECT_TRUE(Near(normals[3], {0, -0.8, 0.6}));
  headless::FileVertices bare = file;
  bare.normals.clear();
  EXPECT_TRUE(headless::FileVertexNormals(bare, rest, rest).empty());

  // Two sides welded on the same points: the points' own normals cancel, each side's do not, and
  // each side's normal turns with it.
  headless::FileVertices sides;
  sides.vertexPoint = {0, 1, 2, 3, 0, 3, 2, 1};
  sides.normals = {{0, 0, 1},  {0, 0, 1},  {0, 0, 1},  {0, 0, 1},
                   {0, 0, -1}, {0, 0, -1}, {0, 0, -1}, {0, 0, -1}};
  sides.faceFirst = {0, 4, 8};
  sides.cornerVertex = {0, 1, 2, 3, 4, 5, 6, 7};
  sides.faceMaterial = {-1, -1};
  const std::vector<headless::SurfaceFrame> sidesRest = headless::FileVertexFrames(sides, points);
  normals = headless::FileVertexNormals(sides, sidesRest,
                                        headless::FileVertexFrames(sides, quarter(points)));
  for (size_t v = 0; v < 4; ++v) {
    EXPECT_TRUE(Near(normals[v], {0, -1, 0})) << v;
    EXPECT_TRUE(Near(normals[v + 4], {0, 1, 0})) << v + 4;
  }
}

TEST(GeometryMesh, NormalsTurnWithTheSurfaceAboutItsNormalToo) {
  using headless::SurfaceFrame;
  // A flat surface spun a quarter about its own normal: a tilted normal spins with it, which the
  // smallest rotation of normal to normal (none here) would miss.
  const SurfaceFrame flat{{0, 0, 3}, {1, 0, 0}}, spun{{0, 0, 3}, {0, 2, 0}};
  EXPECT_TRUE(Near(headless::Turned({0.6, 0, 0.8}, flat, spun), {0, 0.6, 0.8}));
  // Tipped over a quarter about y as well: z goes to x.
  const SurfaceFrame tipped{{3, 0, 0}, {0, 2, 0}};
  EXPECT_TRUE(Near(headless::Turned({0.6, 0, 0.8}, flat, tipped), {0.8, 0.6, 0}));
  // An edge along the normal gives no turn about it: the smallest rotation stands in.
  EXPECT_TRUE(
      Near(headless::Turned({0, 0, 1}, {{0, 0, 1}, {0, 0, 1}}, {{1, 0, 0}, {0, 1, 0}}), {1, 0, 0}));
  // No normal on either side: as it was.
  EXPECT_TRUE(Near(headless::Turned({0.6, 0, 0.8}, {{0, 0, 0}, {1, 0, 0}}, spun), {0.6, 0, 0.8}));
}

// A focus frames the points of nonzero weight only: a zero weight, and a point past the weights'
// end, leave the box as it is, and no weight at all gives no box; Enclose grows every side.
TEST(GeometryBox, BoundsHoldTheirPointsAndWeightedBoundsOnlyThoseThatWeigh) {
  const std::vector<Vector3> points = {{1, -2, 3}, {-4, 5, 0}, {2, 0, -6}, {9, 9, 9}};
  const headless::Box all = headless::Bounds(points);
  EXPECT_TRUE(Near(all.first, {-4, -2, -6}) && Near(all.second, {9, 9, 9}));

  const std::vector<Float32> some = {1.0f, 0.0f, -0.5f};  // the last point has no weight
  const std::optional<headless::Box> weighed = headless::WeightedBounds(points, some);
  ASSERT_TRUE(weighed.has_value());
  EXPECT_TRUE(Near(weighed->first, {1, -2, -6}) && Near(weighed->second, {2, 0, 3}));
  EXPECT_FALSE(headless::WeightedBounds(points, std::vector<Float32>{0.0f, 0.0f, 0.0f, 0.0f}));
  EXPECT_FALSE(headless::WeightedBounds(points, {}));

  std::optional<headless::Box> box;
  headless::Enclose(box, {{0, 0, 0}, {1, 1, 1}});
  EXPECT_TRUE(Near(box->first, {0, 0, 0}) && Near(box->second, {1, 1, 1}));
  headless::Enclose(box, {{-1, 0.5, 0.5}, {0.5, 3, 0.5}});
  headless::Enclose(box, {{0.5, 0.5, -2}, {0.5, 0.5, 4}});
  EXPECT_TRUE(Near(box->first, {-1, 0, -2}) && Near(box->second, {1, 3, 4}));
}

}  // namespace
