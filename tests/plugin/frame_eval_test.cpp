// The plug-in's deformer over the main job's keyed rig, evaluated at frames: results independent
// of the order frames are evaluated in, and the rig's round trip through a scene file.
#include <gtest/gtest.h>

#include <filesystem>

#include "headless/deformers/skin.h"
#include "headless/deformers/skinning.h"
#include "headless/io/scene_file.h"
#include "headless/job/limb_scene.h"
#include "headless/scene/evaluate.h"
#include "headless/scene/selection.h"
#include "tests/support/deform_scene.h"

namespace {

using deform_scene::SameBits;
using headless::Node;

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
