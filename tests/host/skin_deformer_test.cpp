// The host's skin deformer in the deform pass: linear blend skinning by linked joints and weight
// maps, its refusals, and its place before the plug-in's deformer that the setup command puts
// after it.
#include <gtest/gtest.h>

#include <cstring>

#include "headless/deformers/point_cache.h"
#include "headless/deformers/skin.h"
#include "headless/deformers/skinning.h"
#include "headless/job/limb_scene.h"
#include "headless/scene/evaluate.h"
#include "headless/scene/native_deformers.h"
#include "headless/scene/selection.h"
#include "host/abi/ids.h"
#include "tests/support/deform_scene.h"

namespace {

using headless::Node;

bool SameBits(const std::vector<Vector3>& a, const std::vector<Vector3>& b) {
  return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(Vector3)) == 0;
}

headless::LimbSceneOptions SmallLimb(Int32 joints = 2) {
  headless::LimbSceneOptions options;
  options.limb.approximatePoints = 1500;
  options.limb.jointCount = joints;
  options.frames = 5;
  options.bendDegrees = 90.0;
  return options;
}

class SkinDeformerTest : public ::testing::Test {
 protected:
  std::unique_ptr<headless::Document> doc = headless::NewDocument();
};

TEST_F(SkinDeformerTest, DeformPassMatchesSkinPointsForTwoAndThreeJoints) {
  for (Int32 joints : {2, 3}) {
    SCOPED_TRACE(joints);
    doc = headless::NewDocument();
    const headless::LimbScene scene = headless::BuildLimbScene(*doc, SmallLimb(joints));
    // Poses that are not plain rotations: a shear and a translation as well.
    Matrix bent = headless::RotationAbout({0.0, 2.0, 0.0}, {1.0, 0.0, 1.0}, 0.7);
    bent.v1.y += 0.2;
    bent.off.x += 0.3;
    headless::SetJointCurrent(scene.joints.back(), bent);
    const headless::DeformReport report = headless::EvaluateDocument(*doc);
    ASSERT_TRUE(report.Ok()) << report.errors.front();
    ASSERT_EQ(report.calls.size(), 1u);

    std::vector<const Float32*> weights;
    for (const Node* map : scene.maps) weights.push_back(map->weights.data());
    std::vector<Vector3> expected(scene.mesh.points.size());
    headless::SkinPoints(scene.mesh.points.data(), static_cast<Int64>(expected.size()),
                         headless::CurrentPoses(scene.joints), weights, expected.data());
    EXPECT_TRUE(SameBits(headless::DeformedPoints(scene.object), expected));
    EXPECT_FALSE(SameBits(expected, scene.mesh.points));
    EXPECT_TRUE(SameBits(scene.object->points, scene.mesh.points)) << "stored points untouched";
  }
}

TEST_F(SkinDeformerTest, UnlinkedSkinPassesPointsThrough) {
  Node* object =
      doc->AddPolygonObject("quad", {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}}, {{0, 1, 2, 3}});
  doc->AddObject(Oskin, "skin", object);
  const headless::DeformReport report = headless::EvaluateDocument(*doc);
  EXPECT_TRUE(report.Ok());
  EXPECT_EQ(report.calls.size(), 1u);
  EXPECT_TRUE(SameBits(headless::DeformedPoints(object), object->points));
}

// The host's own types are native deformers from the start; another type registers its routine
// and then runs in the pass like them, in child order.
TEST_F(SkinDeformerTest, NativeDeformersRunInChildOrder) {
  EXPECT_NE(headless::FindNativeDeformer(Oskin), nullptr);
  EXPECT_NE(headless::FindNativeDeformer(headless::kPointCacheType), nullptr);
  constexpr Int32 kLift = 1099901;
  EXPECT_EQ(headless::FindNativeDeformer(kLift), nullptr);
  EXPECT_THROW(headless::RegisterNativeDeformer(kLift, nullptr), std::invalid_argument);
  headless::RegisterNativeDeformer(kLift,
                                   [](Node*, Node*, std::vector<Vector3>& points, std::string&) {
                                     for (Vector3& p : points) p.z += 1.0;
                                     return true;
                                   });

  const headless::LimbScene scene = headless::BuildLimbScene(*doc, SmallLimb());
  Node* lift = doc->AddObject(kLift, "lift", scene.object);
  EXPECT_TRUE(headless::IsDeformer(lift));
  headless::SetJointCurrent(scene.joints.back(),
                            headless::RotationAbout({0, 2, 0}, {0, 0, 1}, 1.0));
  const headless::DeformReport report = headless::EvaluateDocument(*doc);
  ASSERT_TRUE(report.Ok()) << report.errors.front();
  ASSERT_EQ(report.calls.size(), 2u);
  EXPECT_EQ(report.calls[0].deformer, scene.skin->serial);
  EXPECT_EQ(report.calls[1].deformer, lift->serial);

  std::vector<const Float32*> weights;
  for (const Node* map : scene.maps) weights.push_back(map->weights.data());
  std::vector<Vector3> expected(scene.mesh.points.size());
  headless::SkinPoints(scene.mesh.points.data(), static_cast<Int64>(expected.size()),
                       headless::CurrentPoses(scene.joints), weights, expected.data());
  for (Vector3& p : expected) p.z += 1.0;
  EXPECT_TRUE(SameBits(headless::DeformedPoints(scene.object), expected));
}

// Each broken link is an error of the pass naming the fault; the cache keeps the input points.
TEST_F(SkinDeformerTest, BrokenLinksAreReportedAndLeaveThePointsAlone) {
  struct Case {
    const char* name;
    void (*breakIt)(headless::Document&, const headless::LimbScene&);
    const char* message;
  };
  const Case cases[] = {
      {"fewer maps than joints",
       [](headless::Document&, const headless::LimbScene& s) {
         s.skin->params.SetInExclude(headless::kSkinWeightMaps, {s.maps[0]->serial});
       },
       "2 joints but 1 weight maps"},
      {"map of another size",
       [](headless::Document&, const headless::LimbScene& s) { s.maps[1]->weights.pop_back(); },
       "weight map 1 'elbow weights' holds"},
      {"map on another object",
       [](headless::Document& d, const headless::LimbScene& s) {
         Node* other = d.AddPolygonObject("other", s.mesh.points, s.mesh.polygons);
         Node* map = d.AddVertexMap(other, s.mesh.weights[0]);
         s.skin->params.SetInExclude(headless::kSkinWeightMaps, {map->serial, s.maps[1]->serial});
       },
       "weight map 0 of the skin is gone or is no vertex map of the object"},
      {"deleted joint",
       [](headless::Document& d, const headless::LimbScene& s) { d.Delete(s.joints[1]); },
       "joint 1 of the skin is gone"},
      {"singular rest",
       [](headless::Document&, const headless::LimbScene& s) {
         s.joints[0]->params.SetFloat(headless::kJointRest + 3, 0.0);  // v1 = 0
       },
       "singular"},
      {"missing current",
       [](headless::Document&, const headless::LimbScene& s) {
         s.joints[1]->params.Erase(headless::kJointCurrent + 5);
       },
       "joint 'elbow': the current transform"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    doc = headless::NewDocument();
    const headless::LimbScene scene = headless::BuildLimbScene(*doc, SmallLimb());
    headless::SetJointCurrent(scene.joints[1], headless::RotationAbout({0, 2, 0}, {0, 0, 1}, 1.0));
    c.breakIt(*doc, scene);
    const headless::DeformReport report = headless::EvaluateDocument(*doc);
    ASSERT_EQ(report.errors.size(), 1u);
    EXPECT_NE(report.errors[0].find(c.message), std::string::npos) << report.errors[0];
    EXPECT_NE(report.errors[0].find("'limb'"), std::string::npos) << report.errors[0];
    EXPECT_TRUE(SameBits(headless::DeformedPoints(scene.object), scene.mesh.points));
  }
}

TEST_F(SkinDeformerTest, LinkSkinRefusesMismatchedOrWrongNodes) {
  const headless::LimbScene scene = headless::BuildLimbScene(*doc, SmallLimb());
  const auto before = scene.skin->params.GetInExclude(headless::kSkinJoints)->targets;
  EXPECT_THROW(headless::LinkSkin(scene.skin, scene.joints, {scene.maps[0]}),
               std::invalid_argument);
  EXPECT_THROW(headless::LinkSkin(scene.skin, {scene.joints[0], scene.object}, scene.maps),
               std::invalid_argument);
  EXPECT_THROW(headless::LinkSkin(scene.skin, scene.joints, {scene.maps[0], scene.joints[1]}),
               std::invalid_argument);
  EXPECT_THROW(headless::LinkSkin(scene.object, scene.joints, scene.maps), std::invalid_argument);
  EXPECT_EQ(scene.skin->params.GetInExclude(headless::kSkinJoints)->targets, before);
  EXPECT_THROW(headless::AddJoint(*doc, "flat", Matrix{{}, {}, {0, 1, 0}, {0, 0, 1}}),
               std::invalid_argument);
}

// With the plug-in: the setup command with Shift puts the deformer right after the skin, and the
// deformer then corrects the skinned points, exactly as it corrects the same points handed to it
// by a point cache.
class SkinWithPluginTest : public deform_scene::PluginScene {};

TEST_F(SkinWithPluginTest, SkinRunsBeforeTheDeformerTheCommandPlacesAfterIt) {
  const headless::LimbScene scene = headless::BuildLimbScene(*doc, SmallLimb());
  // A deformer-less sibling first, so "after the skin" is not simply "last".
  Node* tail = doc->AddObject(headless::kNullObjectType, "tail", scene.object);
  headless::SetSelected(scene.object, true);
  headless::SetActiveDocument(doc.get());
  headless::SetKeyboardQualifier(QSHIFT);
  const bool ran = headless::ExecuteCommand(ID_ADDTESSAMIRECMD);
  headless::SetKeyboardQualifier(0);
  headless::SetActiveDocument(nullptr);
  ASSERT_TRUE(ran);
  Node* deformer = scene.skin->next;
  ASSERT_NE(deformer, nullptr);
  ASSERT_EQ(deformer->type, ID_OTESSAMIRE);
  EXPECT_EQ(deformer->next, tail);
  Node* tag = scene.object->firstTag;
  ASSERT_EQ(tag->type, ID_TTESSAMIRE);
  ASSERT_TRUE(headless::PressButton(tag, TTESSAMIRE_BIND));

  const headless::DeformReport report = headless::EvaluateDocumentAtFrame(*doc, 4.0);
  ASSERT_TRUE(report.Ok()) << report.errors.front();
  ASSERT_EQ(report.calls.size(), 2u);
  EXPECT_EQ(report.calls[0].deformer, scene.skin->serial);
  EXPECT_EQ(report.calls[1].deformer, deformer->serial);
  const std::vector<Vector3> corrected = headless::DeformedPoints(scene.object);

  std::vector<const Float32*> weights;
  for (const Node* map : scene.maps) weights.push_back(map->weights.data());
  std::vector<Vector3> skinned(scene.mesh.points.size());
  headless::SkinPoints(scene.mesh.points.data(), static_cast<Int64>(skinned.size()),
                       headless::CurrentPoses(scene.joints), weights, skinned.data());
  EXPECT_FALSE(SameBits(corrected, skinned)) << "the deformer changed the skinned points";

  // The same tag settings on a copy of the rest fed the skinned points by a point cache.
  Node* copy = doc->AddPolygonObject("copy", scene.mesh.points, scene.mesh.polygons);
  Node* copyTag = doc->AddTag(copy, ID_TTESSAMIRE);
  for (const auto& [id, value] : tag->params.Entries())
    if (value.type != headless::ValueType::kLink) copyTag->params.Set(id, value);
  ASSERT_TRUE(headless::PressButton(copyTag, TTESSAMIRE_BIND));
  AddPointCache(copy, skinned);
  AddDeformer(copy);
  ASSERT_TRUE(headless::EvaluateDocumentAtFrame(*doc, 4.0).Ok());
  EXPECT_TRUE(SameBits(headless::DeformedPoints(copy), corrected));
}

}  // namespace
