// Linear blend skinning's transform helpers (rotations, inverses, products) and the refusal of
// inconsistent input; the limb skinned is in tests/job/limb_skin_test.cpp.
#include "headless/deformers/skinning.h"

#include <gtest/gtest.h>

#include <cmath>
#include <stdexcept>
#include <vector>

#include "headless/geometry/vector.h"

namespace {

constexpr Float kTolerance = 1e-12;
constexpr Float kPi = 3.14159265358979323846;

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
