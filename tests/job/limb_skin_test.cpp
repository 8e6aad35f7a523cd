// The main job's limb skinned: by linear blend skinning directly (identity poses, rigid motion,
// the elbow's reach), and by the host's skin deformer in the deform pass over the limb's scene,
// whose broken links are errors of the pass that leave the points alone.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "headless/deformers/skin.h"
#include "headless/deformers/skinning.h"
#include "headless/geometry/vector.h"
#include "headless/job/limb.h"
#include "headless/job/limb_scene.h"
#include "headless/scene/evaluate.h"

namespace {

using headless::Node;

void ExpectNear(const Vector3& a, const Vector3& b, Float tol) {
  EXPECT_NEAR(a.x, b.x, tol);
  EXPECT_NEAR(a.y, b.y, tol);
  EXPECT_NEAR(a.z, b.z, tol);
}

Float Distance(const Vector3& a, const Vector3& b) {
  return headless::Length(headless::Sub(a, b));
}

Matrix Translation(Vector3 t) {
  Matrix m;
  m.off = t;
  return m;
}

bool SameBits(const std::vector<Vector3>& a, const std::vector<Vector3>& b) {
  return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(Vector3)) == 0;
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

headless::LimbSceneOptions SmallLimb(Int32 joints = 2) {
  headless::LimbSceneOptions options;
  options.limb.approximatePoints = 1500;
  options.limb.jointCount = joints;
  options.frames = 5;
  options.bendDegrees = 90.0;
  return options;
}

class LimbSkinDeformer : public ::testing::Test {
 protected:
  std::unique_ptr<headless::Document> doc = headless::NewDocument();
};

TEST_F(LimbSkinDeformer, DeformPassMatchesSkinPointsForTwoAndThreeJoints) {
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

// Each broken link is an error of the pass naming the fault; the cache keeps the input points.
TEST_F(LimbSkinDeformer, BrokenLinksAreReportedAndLeaveThePointsAlone) {
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

}  // namespace
