// The scene model's own checks: tree edits and meshes refused where they enter, nothing changed.
#include <gtest/gtest.h>

#include <cmath>
#include <stdexcept>
#include <string>
#include <vector>

#include "headless/scene/scene.h"

namespace {

using headless::Document;
using headless::Node;

std::vector<Vector3> QuadPoints() {
  return {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}};
}

class SceneModel : public ::testing::Test {
 protected:
  std::unique_ptr<Document> doc = headless::NewDocument();
  Node* mesh = doc->AddPolygonObject("mesh", QuadPoints(), {{0, 1, 2, 3}});
};

TEST_F(SceneModel, TreeEditsRefuseBadInputAndKeepTheTree) {
  Node* tag = doc->AddVertexMap(mesh, {});
  EXPECT_THROW(doc->AddTag(tag, Tvertexmap), std::invalid_argument) << "a tag carries no tags";
  EXPECT_THROW(doc->AddTag(mesh, Opolygon), std::invalid_argument) << "not a tag type";
  EXPECT_THROW(doc->AddObject(Tvertexmap, "x"), std::invalid_argument);
  EXPECT_THROW(doc->InsertLast(mesh, nullptr), std::invalid_argument) << "already inserted";
  auto other = headless::NewDocument();
  Node* foreign = other->AddObject(headless::kNullObjectType, "foreign");
  EXPECT_THROW(doc->AddObject(headless::kNullObjectType, "x", foreign), std::invalid_argument);
  EXPECT_EQ(doc->Objects(), std::vector<Node*>{mesh});
  EXPECT_EQ(Document::Tags(mesh), std::vector<Node*>{tag});
}

TEST_F(SceneModel, MeshesAreValidatedWhereTheyEnter) {
  try {
    doc->AddPolygonObject("bad", QuadPoints(), {{0, 1, 2, 3}, {0, 1, 2, 4}});
    FAIL() << "an index out of range was accepted";
  } catch (const std::invalid_argument& e) {
    EXPECT_NE(std::string(e.what()).find("polygon 1 corner d = 4"), std::string::npos) << e.what();
  }
  EXPECT_THROW(doc->AddPolygonObject("bad", QuadPoints(), {{-1, 1, 2, 2}}), std::invalid_argument);
  EXPECT_THROW(doc->AddPolygonObject("bad", {{0, 0, std::nan("")}}, {}), std::invalid_argument);
  EXPECT_EQ(doc->Objects(), std::vector<Node*>{mesh}) << "nothing was added";

  // Tests of the plug-in's own checks can still hand it a broken mesh.
  headless::SetMeshUnvalidated(mesh, QuadPoints(), {{0, 1, 2, 9}});
  ASSERT_EQ(mesh->polygons.size(), 1u);
  EXPECT_EQ(mesh->polygons[0].d, 9);
}

}  // namespace
