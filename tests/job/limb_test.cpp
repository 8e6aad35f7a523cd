// The limb mesh: valid, closed and consistently wound, sized as asked, with weights that sum to 1
// and blend only around the joints, and reproducible bit for bit.
#include "headless/job/limb.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <map>
#include <stdexcept>
#include <utility>

#include "headless/geometry/mesh.h"

namespace {

constexpr Float32 kWeightSumTolerance = 2e-7f;
// Weights follow the height before the detail displacement, which moves points along y by a
// little (the profile's slope times the detail height).
constexpr Float kDetailHeightSlack = 0.01;

headless::LimbOptions Small() {
  headless::LimbOptions o;
  o.approximatePoints = 3000;
  o.bumpCount = 40;
  return o;
}

TEST(Limb, ClosedAndConsistentlyWound) {
  const headless::LimbMesh mesh = headless::MakeLimb(Small());
  const Int32 n = static_cast<Int32>(mesh.points.size());
  // Each directed edge must appear once and its reverse once: closed and consistently wound.
  std::map<std::pair<Int32, Int32>, int> directed;
  Int32 triangles = 0;
  for (const CPolygon& p : mesh.polygons) {
    const Int32 c[4] = {p.a, p.b, p.c, p.d};
    for (Int32 k = 0; k < 4; ++k) {
      ASSERT_GE(c[k], 0);
      ASSERT_LT(c[k], n);
    }
    if (p.c == p.d) ++triangles;
    for (Int32 k = 0; k < 4; ++k) {
      const Int32 s = c[k];
      const Int32 t = c[(k + 1) & 3];
      if (s != t) ++directed[{s, t}];
    }
  }
  EXPECT_EQ(triangles, 2 * mesh.segments);
  for (const auto& [edge, uses] : directed) {
    EXPECT_EQ(uses, 1) << edge.first << "->" << edge.second;
    EXPECT_EQ(directed.count({edge.second, edge.first}), 1u) << edge.first << "-" << edge.second;
  }
  // Every point is used.
  std::vector<char> used(mesh.points.size(), 0);
  for (const CPolygon& p : mesh.polygons) used[p.a] = used[p.b] = used[p.c] = used[p.d] = 1;
  for (Int32 i = 0; i < n; ++i) EXPECT_TRUE(used[i]) << i;
}

TEST(Limb, NormalsPointOutwards) {
  const headless::LimbMesh mesh = headless::MakeLimb(Small());
  Int32 inward = 0;
  for (const CPolygon& p : mesh.polygons) {
    const Vector3& a = mesh.points[p.a];
    const Vector3& b = mesh.points[p.b];
    const Vector3& c = mesh.points[p.c];
    const Vector3& d = mesh.points[p.d];
    // Normal from the diagonals, compared with the direction away from the axis (or along it at
    // the caps).
    const Vector3 nrm = headless::PolygonNormal(mesh.points, p);
    const Vector3 centre{(a.x + b.x + c.x + d.x) / 4, (a.y + b.y + c.y + d.y) / 4,
                         (a.z + b.z + c.z + d.z) / 4};
    Vector3 out{centre.x, 0.0, centre.z};
    if (p.c == p.d) out.y = centre.y < 1.0 ? -1.0 : 1.0;
    if (headless::Dot(nrm, out) <= 0.0) ++inward;
  }
  EXPECT_EQ(inward, 0);
}

TEST(Limb, SizeFollowsTheRequest) {
  for (Int64 request : {8ll, 500ll, 50000ll}) {
    headless::LimbOptions o;
    o.approximatePoints = request;
    o.detailAmplitude = 0.0;
    const headless::LimbMesh mesh = headless::MakeLimb(o);
    const Float ratio = static_cast<Float>(mesh.points.size()) / static_cast<Float>(request);
    EXPECT_GT(ratio, request < 100 ? 0.5 : 0.97) << request;
    EXPECT_LT(ratio, request < 100 ? 2.0 : 1.03) << request;
    EXPECT_EQ(mesh.points.size(), static_cast<size_t>(mesh.rings) * mesh.segments + 2);
  }
  headless::LimbOptions o;
  o.rings = 7;
  o.segments = 5;
  const headless::LimbMesh mesh = headless::MakeLimb(o);
  EXPECT_EQ(mesh.points.size(), 37u);
  EXPECT_EQ(mesh.polygons.size(), 6u * 5u + 2u * 5u);
}

TEST(Limb, DetailDisplacesTheSurfaceByAFewPercentOfTheRadius) {
  headless::LimbOptions o = Small();
  o.detailAmplitude = 0.0;
  const headless::LimbMesh smooth = headless::MakeLimb(o);
  const headless::LimbMesh detailed = headless::MakeLimb(Small());
  ASSERT_EQ(smooth.points.size(), detailed.points.size());
  Float largest = 0.0;
  for (size_t i = 0; i < smooth.points.size(); ++i)
    largest =
        std::max(largest, headless::Length(headless::Sub(detailed.points[i], smooth.points[i])));
  EXPECT_GT(largest, 0.01 * o.radius);
  EXPECT_LT(largest, 0.15 * o.radius);
}

// The detail's scale follows the edges: without bumps, the displacement repeats every
// detailWavelength rings along the axis and (segments being a multiple of it) every
// detailWavelength segments around it, up to the profile's slight taper; half a wavelength on it
// differs.
TEST(Limb, DetailRepeatsEveryWavelengthInEdges) {
  headless::LimbOptions o;
  o.rings = 61;
  o.segments = 48;
  o.bumpCount = 0;
  o.detailWavelength = 6.0;
  const headless::LimbMesh detailed = headless::MakeLimb(o);
  o.detailAmplitude = 0.0;
  const headless::LimbMesh smooth = headless::MakeLimb(o);
  auto height = [&](Int32 ring, Int32 segment) {
    const size_t i = static_cast<size_t>(ring * o.segments + segment % o.segments);
    const Vector3& d = detailed.points[i];
    const Vector3& s = smooth.points[i];
    // Outwards, in the ring's plane: the displacement's radial part.
    const Float r = std::sqrt(s.x * s.x + s.z * s.z);
    return ((d.x - s.x) * s.x + (d.z - s.z) * s.z) / r;
  };
  const Float amplitude = o.radius * Small().detailAmplitude;
  for (Int32 ring : {10, 24, 37})
    for (Int32 segment : {0, 5, 17}) {
      EXPECT_NEAR(height(ring + 6, segment), height(ring, segment), 0.02 * amplitude);
      EXPECT_NEAR(height(ring, segment + 6), height(ring, segment), 0.02 * amplitude);
      EXPECT_GT(std::fabs(height(ring + 3, segment) - height(ring, segment)), 0.1 * amplitude);
      EXPECT_GT(std::fabs(height(ring, segment + 3) - height(ring, segment)), 0.1 * amplitude);
    }
}

TEST(Limb, WeightsSumToOneAndBlendOnlyAroundJoints) {
  for (Int32 joints : {2, 3}) {
    headless::LimbOptions o = Small();
    o.jointCount = joints;
    const headless::LimbMesh mesh = headless::MakeLimb(o);
    ASSERT_EQ(mesh.weights.size(), static_cast<size_t>(joints));
    ASSERT_EQ(mesh.jointPositions.size(), static_cast<size_t>(joints));
    EXPECT_EQ(mesh.jointPositions[1].y, 0.5 * o.length);
    Int32 blended = 0;
    for (size_t p = 0; p < mesh.points.size(); ++p) {
      Float32 sum = 0.0f;
      Float32 largest = 0.0f;
      for (const auto& w : mesh.weights) {
        ASSERT_EQ(w.size(), mesh.points.size());
        EXPECT_GE(w[p], 0.0f);
        sum += w[p];
        largest = std::max(largest, w[p]);
      }
      EXPECT_NEAR(sum, 1.0f, kWeightSumTolerance) << p;
      // Blending happens only inside a band around a joint other than the shoulder.
      bool nearJoint = false;
      for (size_t j = 1; j < mesh.jointPositions.size(); ++j)
        nearJoint |= std::fabs(mesh.points[p].y - mesh.jointPositions[j].y) <
                     o.blendHalfWidth + kDetailHeightSlack;
      if (largest < 1.0f) {
        EXPECT_TRUE(nearJoint) << p;
        ++blended;
      }
    }
    EXPECT_GT(blended, 0);
    // Weight of the elbow grows monotonically with height up to the next joint's band.
    const auto& elbow = mesh.weights[1];
    for (Int32 i = 1; i < mesh.rings; ++i) {
      const Float y = mesh.points[static_cast<size_t>(i) * mesh.segments].y;
      if (y > 0.6 * o.length) break;
      EXPECT_GE(elbow[static_cast<size_t>(i) * mesh.segments],
                elbow[static_cast<size_t>(i - 1) * mesh.segments]);
    }
    // Exactly half and half at the elbow's height (smoothstep midpoint).
    headless::LimbOptions exact = o;
    exact.detailAmplitude = 0.0;
    exact.rings = 5;
    exact.segments = 4;
    const headless::LimbMesh coarse = headless::MakeLimb(exact);
    EXPECT_EQ(coarse.points[2 * 4].y, 0.5 * o.length);
    EXPECT_FLOAT_EQ(coarse.weights[0][2 * 4], 0.5f);
    EXPECT_FLOAT_EQ(coarse.weights[1][2 * 4], 0.5f);
  }
}

TEST(Limb, DetailLeavesTopologyAndWeightsAlone) {
  headless::LimbOptions o = Small();
  o.detailAmplitude = 0.0;
  const headless::LimbMesh smooth = headless::MakeLimb(o);
  const headless::LimbMesh detailed = headless::MakeLimb(Small());
  ASSERT_EQ(smooth.polygons.size(), detailed.polygons.size());
  EXPECT_EQ(std::memcmp(smooth.polygons.data(), detailed.polygons.data(),
                        smooth.polygons.size() * sizeof(CPolygon)),
            0);
  ASSERT_EQ(smooth.weights.size(), detailed.weights.size());
  for (size_t j = 0; j < smooth.weights.size(); ++j)
    EXPECT_EQ(smooth.weights[j], detailed.weights[j]);
}

TEST(Limb, SameOptionsSameBitsAndTheSeedMatters) {
  const headless::LimbMesh a = headless::MakeLimb(Small());
  const headless::LimbMesh b = headless::MakeLimb(Small());
  ASSERT_EQ(a.points.size(), b.points.size());
  EXPECT_EQ(std::memcmp(a.points.data(), b.points.data(), a.points.size() * sizeof(Vector3)), 0);
  headless::LimbOptions other = Small();
  other.seed = 2;
  const headless::LimbMesh c = headless::MakeLimb(other);
  EXPECT_NE(std::memcmp(a.points.data(), c.points.data(), a.points.size() * sizeof(Vector3)), 0);
}

TEST(Limb, BadOptionsAreRefusedByName) {
  auto expectError = [](headless::LimbOptions o, const char* word) {
    try {
      headless::MakeLimb(o);
      ADD_FAILURE() << "accepted options, expected an error about " << word;
    } catch (const std::invalid_argument& e) {
      EXPECT_NE(std::string(e.what()).find(word), std::string::npos) << e.what();
    }
  };
  headless::LimbOptions o;
  o.segments = 2;
  o.rings = 4;
  expectError(o, "segments");
  o = {};
  o.rings = 1;
  o.segments = 8;
  expectError(o, "rings");
  o = {};
  o.approximatePoints = 3;
  expectError(o, "point count");
  o = {};
  o.detailWavelength = 1.5;
  expectError(o, "wavelength");
  o = {};
  o.jointCount = 4;
  expectError(o, "joint count");
  o = {};
  o.radius = 0.0;
  expectError(o, "radius");
  o = {};
  o.length = -1.0;
  expectError(o, "length");
  o = {};
  o.jointCount = 3;
  o.blendHalfWidth = 1.0;
  expectError(o, "blend");
  o = {};
  o.rings = 70000;
  o.segments = 70000;
  expectError(o, "32-bit");
}

}  // namespace
