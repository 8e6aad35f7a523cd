// With the plug-in: the setup command with Shift puts the deformer right after the skin of the
// main job's limb, and the deformer then corrects the skinned points, exactly as it corrects the
// same points handed to it by a point cache.
#include <gtest/gtest.h>

#include <vector>

#include "headless/deformers/skinning.h"
#include "headless/job/limb_scene.h"
#include "headless/scene/evaluate.h"
#include "headless/scene/parameters.h"
#include "headless/scene/selection.h"
#include "host/abi/ids.h"
#include "tests/support/deform_scene.h"

namespace {

using deform_scene::SameBits;
using headless::Node;

headless::LimbSceneOptions SmallLimb() {
  headless::LimbSceneOptions options;
  options.limb.approximatePoints = 1500;
  options.limb.jointCount = 2;
  options.frames = 5;
  options.bendDegrees = 90.0;
  return options;
}

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
