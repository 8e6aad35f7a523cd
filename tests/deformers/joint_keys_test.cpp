// Keyed joints: rotation and transform keys interpolated at a frame and held outside their range,
// and refusals of bad keys that change nothing.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <stdexcept>
#include <string>

#include "headless/deformers/skin.h"
#include "headless/deformers/skinning.h"
#include "headless/scene/scene.h"

namespace {

using headless::Node;

constexpr Float kPi = 3.14159265358979323846;

bool SameBits(const Matrix& a, const Matrix& b) {
  return std::memcmp(&a, &b, sizeof(Matrix)) == 0;
}

void ExpectNear(const Matrix& a, const Matrix& b) {
  const Float* x = &a.off.x;
  const Float* y = &b.off.x;
  for (int i = 0; i < 12; ++i) EXPECT_NEAR(x[i], y[i], 1e-12) << "component " << i;
}

Matrix Translation(Float x, Float y, Float z) {
  Matrix m;
  m.off = {x, y, z};
  return m;
}

class JointKeysTest : public ::testing::Test {
 protected:
  std::unique_ptr<headless::Document> doc = headless::NewDocument();
};

TEST_F(JointKeysTest, RotationKeysInterpolateTheAngleAndHoldOutsideTheirRange) {
  const Matrix rest = Translation(0.0, 2.0, 0.0);
  Node* joint = headless::AddJoint(*doc, "elbow", rest);
  const Vector3 pivot{0.0, 2.0, 0.0}, axis{0.0, 0.0, 2.0};
  headless::SetRotationKeys(joint, pivot, axis, {{10.0, 30.0}, {20.0, 90.0}, {40.0, -30.0}});
  auto expected = [&](Float degrees) {
    return headless::Multiply(headless::RotationAbout(pivot, axis, degrees * kPi / 180.0), rest);
  };
  const struct {
    Float frame;
    Float degrees;
  } cases[] = {{0.0, 30.0},  {10.0, 30.0},  {15.0, 60.0}, {20.0, 90.0},
               {25.0, 60.0}, {40.0, -30.0}, {99.0, -30.0}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.frame);
    EXPECT_EQ(headless::ApplyKeysAtFrame(*doc, c.frame), 1);
    ExpectNear(headless::JointCurrent(joint), expected(c.degrees));
  }
  EXPECT_TRUE(SameBits(headless::JointRest(joint), rest)) << "keys never touch the rest";
}

TEST_F(JointKeysTest, TransformKeysInterpolateEachNumber) {
  Node* joint = headless::AddJoint(*doc, "j", Matrix{});
  Matrix a = Translation(1.0, 0.0, 0.0);
  Matrix b = headless::RotationAbout({}, {0, 1, 0}, 0.5);
  b.off = {3.0, 4.0, -2.0};
  headless::SetTransformKeys(joint, {{0.0, a}, {4.0, b}});
  headless::ApplyKeysAtFrame(*doc, 1.0);
  const Matrix m = headless::JointCurrent(joint);
  const Float* x = &a.off.x;
  const Float* y = &b.off.x;
  const Float* z = &m.off.x;
  for (int i = 0; i < 12; ++i) EXPECT_NEAR(z[i], x[i] + 0.25 * (y[i] - x[i]), 1e-12);
  headless::ApplyKeysAtFrame(*doc, 4.0);
  EXPECT_TRUE(SameBits(headless::JointCurrent(joint), b));
}

TEST_F(JointKeysTest, BadKeysAreRefusedAndChangeNothing) {
  Node* joint = headless::AddJoint(*doc, "j", Matrix{});
  headless::SetRotationKeys(joint, {}, {0, 0, 1}, {{0.0, 0.0}, {5.0, 50.0}});
  const auto before = joint->params.Entries().size();
  EXPECT_THROW(headless::SetRotationKeys(joint, {}, {0, 0, 1}, {{5.0, 0.0}, {5.0, 1.0}}),
               std::invalid_argument);
  EXPECT_THROW(headless::SetRotationKeys(joint, {}, {0, 0, 1}, {{5.0, 0.0}, {1.0, 1.0}}),
               std::invalid_argument);
  EXPECT_THROW(headless::SetRotationKeys(joint, {}, {0, 0, 0}, {{0.0, 0.0}}),
               std::invalid_argument);
  EXPECT_THROW(headless::SetRotationKeys(joint, {}, {0, 0, 1}, {{0.0, NAN}}),
               std::invalid_argument);
  EXPECT_THROW(headless::SetTransformKeys(joint, {{NAN, Matrix{}}}), std::invalid_argument);
  EXPECT_THROW(headless::ApplyKeysAtFrame(*doc, INFINITY), std::invalid_argument);
  EXPECT_EQ(joint->params.Entries().size(), before);
  EXPECT_EQ(headless::ReadJointKeys(joint).rotations.size(), 2u);

  // A scene whose second joint's keys are damaged: the first joint keeps its transform too.
  Node* other = headless::AddJoint(*doc, "k", Matrix{});
  headless::SetTransformKeys(other, {{0.0, Translation(1, 1, 1)}, {3.0, Translation(2, 2, 2)}});
  other->params.Erase(headless::kJointKeys + headless::kJointKeyStride);  // frame of key 1
  const Matrix current = headless::JointCurrent(joint);
  try {
    headless::ApplyKeysAtFrame(*doc, 3.0);
    ADD_FAILURE() << "damaged keys were accepted";
  } catch (const std::invalid_argument& e) {
    EXPECT_NE(std::string(e.what()).find("joint 'k'"), std::string::npos) << e.what();
  }
  EXPECT_TRUE(SameBits(headless::JointCurrent(joint), current));
  headless::ClearJointKeys(other);
  EXPECT_EQ(headless::ApplyKeysAtFrame(*doc, 3.0), 1);
}

}  // namespace
