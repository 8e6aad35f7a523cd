// The host's skin deformer in the deform pass over a quad made here: an unlinked skin passes the
// points through, native deformer types run in child order, and linking refuses mismatched or
// wrong nodes. The main job's limb skinned through it is in tests/job/limb_skin_test.cpp.
#include <gtest/gtest.h>

#include <cstring>
#include <stdexcept>
#include <vector>

#include "headless/deformers/cache_deformer.h"
#include "headless/deformers/skin.h"
#include "headless/scene/deform.h"
#include "headless/scene/evaluate.h"
#include "headless/scene/native_deformers.h"
#include "headless/scene/scene_state.h"

namespace {

using headless::Node;

bool SameBits(const std::vector<Vector3>& a, const std::vector<Vector3>& b) {
  return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(Vector3)) == 0;
}

class SkinDeformerTest : public ::testing::Test {
 protected:
  void SetUp() override { headless::TheSceneState().Reset(); }
  void TearDown() override {
    doc.reset();
    headless::TheSceneState().Reset();
  }
  Node* Quad() {
    return doc->AddPolygonObject("quad", {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}},
                                 {{0, 1, 2, 3}});
  }
  std::unique_ptr<headless::Document> doc = headless::NewDocument();
};

TEST_F(SkinDeformerTest, UnlinkedSkinPassesPointsThrough) {
  Node* object = Quad();
  doc->AddObject(Oskin, "skin", object);
  const headless::DeformReport report = headless::EvaluateDocument(*doc);
  EXPECT_TRUE(report.Ok());
  EXPECT_EQ(report.calls.size(), 1u);
  EXPECT_TRUE(SameBits(headless::DeformedPoints(object), object->points));
}

// The host's own types are native deformers from the start; other types register their routines
// and then run in the pass like them, in child order.
TEST_F(SkinDeformerTest, NativeDeformersRunInChildOrder) {
  EXPECT_NE(headless::FindNativeDeformer(Oskin), nullptr);
  EXPECT_NE(headless::FindNativeDeformer(headless::kPointCacheType), nullptr);
  constexpr Int32 kLift = 1099901;
  constexpr Int32 kDouble = 1099902;
  EXPECT_EQ(headless::FindNativeDeformer(kLift), nullptr);
  EXPECT_THROW(headless::RegisterNativeDeformer(kLift, nullptr), std::invalid_argument);
  headless::RegisterNativeDeformer(kLift, [](Node*, Node*, std::vector<Vector3>& points) {
    for (Vector3& p : points) p.z += 1.0;
  });
  headless::RegisterNativeDeformer(kDouble, [](Node*, Node*, std::vector<Vector3>& points) {
    for (Vector3& p : points) p.z *= 2.0;
  });

  Node* object = Quad();
  Node* skin = doc->AddObject(Oskin, "skin", object);
  Node* lift = doc->AddObject(kLift, "lift", object);
  Node* twice = doc->AddObject(kDouble, "double", object);
  EXPECT_TRUE(headless::IsDeformer(lift));
  const headless::DeformReport report = headless::EvaluateDocument(*doc);
  ASSERT_TRUE(report.Ok()) << report.errors.front();
  ASSERT_EQ(report.calls.size(), 3u);
  EXPECT_EQ(report.calls[0].deformer, skin->serial);
  EXPECT_EQ(report.calls[1].deformer, lift->serial);
  EXPECT_EQ(report.calls[2].deformer, twice->serial);
  std::vector<Vector3> expected = object->points;
  for (Vector3& p : expected) p.z = (p.z + 1.0) * 2.0;
  EXPECT_TRUE(SameBits(headless::DeformedPoints(object), expected));
}

// A native routine that throws is an error of the pass naming deformer, object and fault; the
// pass goes on with the points as they were.
TEST_F(SkinDeformerTest, ANativeFaultIsReportedAndThePassGoesOn) {
  constexpr Int32 kFaulty = 1099903;
  headless::RegisterNativeDeformer(kFaulty, [](Node*, Node*, std::vector<Vector3>&) {
    throw std::invalid_argument("no such thing");
  });
  Node* object = Quad();
  doc->AddObject(kFaulty, "faulty", object);
  doc->AddObject(Oskin, "skin", object);
  const headless::DeformReport report = headless::EvaluateDocument(*doc);
  ASSERT_EQ(report.errors.size(), 1u);
  EXPECT_NE(report.errors[0].find("'faulty'"), std::string::npos) << report.errors[0];
  EXPECT_NE(report.errors[0].find("'quad'"), std::string::npos) << report.errors[0];
  EXPECT_NE(report.errors[0].find("no such thing"), std::string::npos) << report.errors[0];
  ASSERT_EQ(report.calls.size(), 2u);
  EXPECT_FALSE(report.calls[0].result);
  EXPECT_TRUE(report.calls[1].result);
  EXPECT_TRUE(SameBits(headless::DeformedPoints(object), object->points));
}

TEST_F(SkinDeformerTest, LinkSkinRefusesMismatchedOrWrongNodes) {
  Node* object = Quad();
  const std::vector<Node*> joints{headless::AddJoint(*doc, "shoulder", Matrix{}),
                                  headless::AddJoint(*doc, "elbow", Matrix{})};
  const std::vector<Node*> maps{doc->AddVertexMap(object, {1.0f, 1.0f, 0.0f, 0.0f}),
                                doc->AddVertexMap(object, {0.0f, 0.0f, 1.0f, 1.0f})};
  Node* skin = doc->AddObject(Oskin, "skin", object);
  headless::LinkSkin(skin, joints, maps);
  const auto before = skin->params.GetInExclude(headless::kSkinJoints)->targets;
  EXPECT_THROW(headless::LinkSkin(skin, joints, {maps[0]}), std::invalid_argument);
  EXPECT_THROW(headless::LinkSkin(skin, {joints[0], object}, maps), std::invalid_argument);
  EXPECT_THROW(headless::LinkSkin(skin, joints, {maps[0], joints[1]}), std::invalid_argument);
  EXPECT_THROW(headless::LinkSkin(object, joints, maps), std::invalid_argument);
  EXPECT_EQ(skin->params.GetInExclude(headless::kSkinJoints)->targets, before);
  EXPECT_THROW(headless::AddJoint(*doc, "flat", Matrix{{}, {}, {0, 1, 0}, {0, 0, 1}}),
               std::invalid_argument);
}

}  // namespace
