// Keyed joints and evaluation at a frame: interpolation, refusals, order independence, and the
// rig's round trip through a scene file.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <filesystem>

#include "headless/deformers/skin.h"
#include "headless/deformers/skinning.h"
#include "headless/io/scene_file.h"
#include "headless/job/limb_scene.h"
#include "headless/scene/evaluate.h"
#include "headless/scene/selection.h"
#include "tests/support/deform_scene.h"

namespace {

using headless::Node;

constexpr Float kPi = 3.14159265358979323846;

bool SameBits(const std::vector<Vector3>& a, const std::vector<Vector3>& b) {
  return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(Vector3)) == 0;
}

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

class FrameEvalTest : public ::testing::Test {
 protected:
  std::unique_ptr<headless::Document> doc = headless::NewDocument();
};

TEST_F(FrameEvalTest, RotationKeysInterpolateTheAngleAndHoldOutsideTheirRange) {
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

TEST_F(FrameEvalTest, TransformKeysInterpolateEachNumber) {
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

TEST_F(FrameEvalTest, BadKeysAreRefusedAndChangeNothing) {
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

headless::LimbSceneOptions SmallLimb() {
  headless::LimbSceneOptions options;
  options.limb.approximatePoints = 1500;
  options.limb.jointCount = 3;
  options.frames = 7;
  options.bendDegrees = 110.0;
  return options;
}

// The plug-in's deformer after the skin, bound at rest: every frame's result depends on the
// frame alone, whatever was evaluated before it.
class FrameEvalWithPluginTest : public deform_scene::PluginScene {
 protected:
  headless::LimbScene Rig() {
    headless::LimbScene scene = headless::BuildLimbScene(*doc, SmallLimb());
    AddDeformer(scene.object);
    reference::Settings settings;
    settings.iterations = 3;
    AddBoundTag(scene.object, settings);
    return scene;
  }

  std::vector<std::vector<Vector3>> EvaluateInOrder(const headless::LimbScene& scene,
                                                    const std::vector<Int32>& order) {
    std::vector<std::vector<Vector3>> frames(order.size());
    for (Int32 f : order) {
      const headless::DeformReport report = headless::EvaluateDocumentAtFrame(*doc, f);
      EXPECT_TRUE(report.Ok());
      frames[static_cast<size_t>(f)] = headless::DeformedPoints(scene.object);
    }
    return frames;
  }
};

TEST_F(FrameEvalWithPluginTest, FramesDoNotDependOnEvaluationOrder) {
  const headless::LimbScene scene = Rig();
  const auto forward = EvaluateInOrder(scene, {0, 1, 2, 3, 4, 5, 6});
  const auto backward = EvaluateInOrder(scene, {6, 5, 4, 3, 2, 1, 0});
  const auto shuffled = EvaluateInOrder(scene, {3, 6, 0, 5, 1, 4, 2});
  for (size_t f = 0; f < forward.size(); ++f) {
    SCOPED_TRACE(f);
    EXPECT_TRUE(SameBits(forward[f], backward[f]));
    EXPECT_TRUE(SameBits(forward[f], shuffled[f]));
  }
  EXPECT_FALSE(SameBits(forward[2], forward[6]));
  // The rest pose at frame 0 comes back as bound, up to the rounding of its rebuild.
  for (size_t i = 0; i < scene.mesh.points.size(); ++i) {
    EXPECT_NEAR(forward[0][i].x, scene.mesh.points[i].x, 1e-7);
    EXPECT_NEAR(forward[0][i].y, scene.mesh.points[i].y, 1e-7);
    EXPECT_NEAR(forward[0][i].z, scene.mesh.points[i].z, 1e-7);
  }
}

TEST_F(FrameEvalWithPluginTest, RigRoundTripsThroughASceneFile) {
  const headless::LimbScene scene = Rig();
  headless::EvaluateDocumentAtFrame(*doc, 5.0);
  const std::vector<Vector3> before = headless::DeformedPoints(scene.object);
  const std::string path =
      (std::filesystem::path(::testing::TempDir()) / "frame_eval_rig.tsm").string();
  headless::SaveScene(*doc, path);
  std::unique_ptr<headless::Document> loaded = headless::LoadScene(path);
  std::filesystem::remove(path);

  Node* object = loaded->FindObject("limb");
  ASSERT_NE(object, nullptr);
  Node* skin = object->down;
  ASSERT_EQ(skin->type, Oskin);
  const auto* joints = skin->params.GetInExclude(headless::kSkinJoints);
  const auto* maps = skin->params.GetInExclude(headless::kSkinWeightMaps);
  ASSERT_EQ(joints->targets.size(), 3u);
  ASSERT_EQ(maps->targets.size(), 3u);
  for (size_t j = 0; j < 3; ++j) {
    const Node* joint = headless::FindLiveNode(joints->targets[j]);
    const Node* map = headless::FindLiveNode(maps->targets[j]);
    ASSERT_TRUE(headless::IsJoint(joint));
    EXPECT_EQ(joint->document, loaded.get());
    EXPECT_EQ(joint->name, scene.joints[j]->name);
    EXPECT_EQ(map->up, object);
    EXPECT_EQ(map->weights, scene.maps[j]->weights);
    const headless::JointKeys a = headless::ReadJointKeys(scene.joints[j]);
    const headless::JointKeys b = headless::ReadJointKeys(joint);
    EXPECT_EQ(a.kind, b.kind);
    ASSERT_EQ(a.rotations.size(), b.rotations.size());
    for (size_t k = 0; k < a.rotations.size(); ++k) {
      EXPECT_EQ(a.rotations[k].frame, b.rotations[k].frame);
      EXPECT_EQ(a.rotations[k].degrees, b.rotations[k].degrees);
    }
  }
  // Evaluated at another frame first, then at 5: the loaded scene gives the same bits.
  ASSERT_TRUE(headless::EvaluateDocumentAtFrame(*loaded, 1.0).Ok());
  ASSERT_TRUE(headless::EvaluateDocumentAtFrame(*loaded, 5.0).Ok());
  EXPECT_TRUE(SameBits(headless::DeformedPoints(object), before));
}

}  // namespace
