// Linear blend skinning and its transform helpers: identity poses, rigid single-joint motion,
// blending by weights, inverses, and refusal of inconsistent input.
#include "headless/deformers/skinning.h"

#include <gtest/gtest.h>

#include <cmath>
#include <stdexcept>
#include <vector>

#include "headless/geometry/vector.h"
#include "headless/job/limb.h"

namespace {

constexpr Float kTolerance = 1e-12;
constexpr Float kPi = 3.14159265358979323846;

Float Distance(const Vector3& a, const Vector3& b) {
  return headless::Length(headless::Sub(a, b));
}

void ExpectNear(const Vector3& a, const Vector3& b, Float tol = kTolerance) {
  EXPECT_NEAR(a.x, b.x, tol);
  EXPECT_NEAR(a.y, b.y, tol);
  EXPECT_NEAR(a.z, b.z, tol);
}

Matrix Translation(Vector3 t) {
  Matrix m;
  m.off = t;
  return m;
}

TEST(Transforms, RotationAboutTurnsAroundThePivotRightHanded) {
  const Matrix r = headless::RotationAbout({0.0, 2.0, 0.0}, {0.0, 0.0, 1.0}, kPi / 2);
  ExpectNear(headless::TransformPoint(r, {0.0, 2.0, 0.0}), {0.0, 2.0, 0.0});
  // x axis turns to y about +z; offset from the pivot (1, 0, 0) goes to (0, 1, 0).
  ExpectNear(headless::TransformPoint(r, {1.0, 2.0, 0.0}), {0.0, 3.0, 0.0});
  ExpectNear(headless::TransformPoint(r, {0.0, 3.0, 5.0}), {-1.0, 2.0, 5.0});
  // The axis's length does not matter.
  const Matrix r2 = headless::RotationAbout({0.0, 2.0, 0.0}, {0.0, 0.0, 7.0}, kPi / 2);
  ExpectNear(headless::TransformPoint(r2, {1.0, 2.0, 0.0}), {0.0, 3.0, 0.0});
  EXPECT_THROW(headless::RotationAbout({}, {0.0, 0.0, 0.0}, 1.0), std::invalid_argument);
}

TEST(Transforms, InverseUndoesAnyInvertibleTransform) {
  Matrix m = headless::Multiply(Translation({1.0, -2.0, 3.0}),
                                headless::RotationAbout({0.5, 0.0, 0.0}, {1.0, 1.0, 0.0}, 0.7));
  m.v2 = {m.v2.x * 3.0, m.v2.y * 3.0, m.v2.z * 3.0};  // not rigid: a scale along one axis
  const Matrix inv = headless::Inverse(m);
  const Vector3 p{0.3, -1.7, 2.2};
  ExpectNear(headless::TransformPoint(inv, headless::TransformPoint(m, p)), p, 1e-12);
  ExpectNear(headless::TransformPoint(m, headless::TransformPoint(inv, p)), p, 1e-12);
  // Multiply applies its right operand first.
  const Matrix t = Translation({1.0, 0.0, 0.0});
  const Matrix r = headless::RotationAbout({}, {0.0, 0.0, 1.0}, kPi / 2);
  ExpectNear(headless::TransformPoint(headless::Multiply(r, t), {}), {0.0, 1.0, 0.0});
  ExpectNear(headless::TransformPoint(headless::Multiply(t, r), {}), {1.0, 0.0, 0.0});
  Matrix singular;
  singular.v3 = {0.0, 0.0, 0.0};
  EXPECT_THROW(headless::Inverse(singular), std::invalid_argument);
}

class SkinLimb : public ::testing::Test {
 protected:
  void SetUp() override {
    headless::LimbOptions o;
    o.approximatePoints = 2000;
    o.bumpCount = 20;
    limb = headless::MakeLimb(o);
    for (const auto& w : limb.weights) weights.push_back(w.data());
    out.resize(limb.points.size());
  }
  Int64 Count() const { return static_cast<Int64>(limb.points.size()); }
  headless::LimbMesh limb;
  std::vector<const Float32*> weights;
  std::vector<Vector3> out;
};

TEST_F(SkinLimb, IdentityPosesGiveTheRestPoints) {
  // Rest equal to current, anywhere in space, leaves the points where they are.
  std::vector<headless::JointPose> poses;
  for (const Vector3& j : limb.jointPositions) {
    const Matrix m =
        headless::Multiply(Translation(j), headless::RotationAbout({}, {1.0, 0.2, 0.0}, 0.4));
    poses.push_back({m, m});
  }
  headless::SkinPoints(limb.points.data(), Count(), poses, weights, out.data());
  // Each point comes back scaled by its weight sum, which is 1 only up to float32 rounding.
  for (size_t i = 0; i < out.size(); ++i) {
    Float sum = 0.0;
    for (const auto& w : limb.weights) sum += w[i];
    const Vector3& p = limb.points[i];
    ExpectNear(out[i], {p.x * sum, p.y * sum, p.z * sum}, 1e-12);
  }
}

TEST_F(SkinLimb, OneJointMovesEveryPointRigidly) {
  const Matrix rest = Translation(limb.jointPositions[1]);
  const Matrix turn = headless::RotationAbout({0.0, 1.0, 0.0}, {1.0, 0.0, 0.3}, 1.2);
  const Matrix current = headless::Multiply(turn, rest);
  const std::vector<Float32> all(limb.points.size(), 1.0f);
  headless::SkinPoints(limb.points.data(), Count(), {{rest, current}}, {all.data()}, out.data());
  for (size_t i = 0; i < out.size(); ++i)
    ExpectNear(out[i], headless::TransformPoint(turn, limb.points[i]), 1e-12);
  // Distances are kept.
  EXPECT_NEAR(Distance(out[0], out.back()), Distance(limb.points[0], limb.points.back()), 1e-12);
}

TEST_F(SkinLimb, BendingTheElbowMovesOnlyWhatItsWeightsReach) {
  const Matrix rest = Translation(limb.jointPositions[1]);
  const Matrix bend = headless::RotationAbout(limb.jointPositions[1], {0.0, 0.0, 1.0}, 2.0);
  std::vector<headless::JointPose> poses{
      {Translation(limb.jointPositions[0]), Translation(limb.jointPositions[0])},
      {rest, headless::Multiply(bend, rest)}};
  headless::SkinPoints(limb.points.data(), Count(), poses, weights, out.data());
  for (size_t i = 0; i < out.size(); ++i) {
    const Float w = limb.weights[1][i];
    const Vector3 rigid = headless::TransformPoint(bend, limb.points[i]);
    const Vector3 expected{(1.0 - w) * limb.points[i].x + w * rigid.x,
                           (1.0 - w) * limb.points[i].y + w * rigid.y,
                           (1.0 - w) * limb.points[i].z + w * rigid.z};
    ExpectNear(out[i], expected, 1e-6);  // weights sum to 1 only up to float32 rounding
    if (w == 0.0) {
      EXPECT_EQ(out[i].y, limb.points[i].y);
    }
  }
}

TEST(Skinning, InconsistentInputIsRefusedAndNothingWritten) {
  const std::vector<Vector3> rest{{1.0, 2.0, 3.0}};
  std::vector<Vector3> out{{9.0, 9.0, 9.0}};
  const Float32 one = 1.0f;
  const std::vector<headless::JointPose> pose{{Matrix{}, Matrix{}}};
  EXPECT_THROW(headless::SkinPoints(rest.data(), 1, pose, {}, out.data()), std::invalid_argument);
  EXPECT_THROW(headless::SkinPoints(rest.data(), 1, pose, {nullptr}, out.data()),
               std::invalid_argument);
  EXPECT_THROW(headless::SkinPoints(rest.data(), -1, pose, {&one}, out.data()),
               std::invalid_argument);
  Matrix singular;
  singular.v1 = {};
  EXPECT_THROW(headless::SkinPoints(rest.data(), 1, {{singular, Matrix{}}}, {&one}, out.data()),
               std::invalid_argument);
  EXPECT_EQ(out[0].x, 9.0);
  headless::SkinPoints(rest.data(), 1, pose, {&one}, out.data());
  EXPECT_EQ(out[0].x, 1.0);
}

}  // namespace
