// Detail measures: exact values on hand-built folds and stretches, zero for identical and rigidly
// moved copies, clearly positive for a crushed joint, the blend region, and refusal of bad input.
#include "headless/job/measures.h"

#include <gtest/gtest.h>

#include <cmath>
#include <stdexcept>
#include <vector>

#include "headless/deformers/skinning.h"
#include "headless/geometry/primitives.h"
#include "headless/job/limb.h"

namespace {

constexpr Float kRigidTolerance = 1e-9;
constexpr Float kExactTolerance = 1e-12;
constexpr Float kPi = 3.14159265358979323846;

headless::DetailReference Reference(const headless::Mesh& mesh, std::vector<Int32> region) {
  return headless::PrepareDetailReference(mesh.points.data(), mesh.points.size(),
                                          mesh.polygons.data(), mesh.polygons.size(), region);
}

headless::DetailMeasures Measure(const headless::DetailReference& ref,
                                 const std::vector<Vector3>& points) {
  return headless::MeasureDetail(ref, points.data(), static_cast<Int64>(points.size()));
}

std::vector<Int32> All(size_t n) {
  std::vector<Int32> all(n);
  for (size_t i = 0; i < n; ++i) all[i] = static_cast<Int32>(i);
  return all;
}

// Two unit quads side by side sharing the edge x = 1; the right one folded by `angle` about it.
std::vector<Vector3> Folded(Float angle) {
  const Float c = std::cos(angle);
  const Float s = std::sin(angle);
  return {{0, 0, 0}, {1, 0, 0}, {1 + c, 0, s}, {0, 1, 0}, {1, 1, 0}, {1 + c, 1, s}};
}

TEST(DetailMeasures, FoldsAndStretchesGiveTheirExactValues) {
  const headless::Mesh grid = headless::Grid(2, 1);
  const headless::DetailReference ref = Reference(grid, All(6));
  EXPECT_EQ(ref.edges.size(), 7u);
  ASSERT_EQ(ref.hinges.size(), 1u);  // only the middle edge has polygons on both sides

  const headless::DetailMeasures fold = Measure(ref, Folded(kPi / 2));
  EXPECT_NEAR(fold.edgeLengthChange, 0.0, kExactTolerance);
  EXPECT_NEAR(fold.normalAngleDegrees, 90.0, kExactTolerance);
  EXPECT_EQ(fold.edgeCount, 7);
  EXPECT_EQ(fold.hingeCount, 1);

  // Folding one way at rest and the other way now is a change of twice the angle: the sign of the
  // fold counts, so a bump pressed into a dent is not mistaken for the bump.
  headless::Mesh up = grid;
  up.points = Folded(kPi / 4);
  const headless::DetailReference upRef = Reference(up, All(6));
  EXPECT_NEAR(Measure(upRef, Folded(-kPi / 4)).normalAngleDegrees, 90.0, kExactTolerance);
  EXPECT_NEAR(Measure(upRef, Folded(kPi / 4)).normalAngleDegrees, 0.0, kExactTolerance);

  // Doubling x doubles the four edges along x and keeps the three along y.
  std::vector<Vector3> wide = grid.points;
  for (Vector3& p : wide) p.x *= 2.0;
  const headless::DetailMeasures stretch = Measure(ref, wide);
  EXPECT_NEAR(stretch.edgeLengthChange, 4.0 / 7.0, kExactTolerance);
  EXPECT_NEAR(stretch.normalAngleDegrees, 0.0, kExactTolerance);
}

TEST(DetailMeasures, RelativeToABaseOnlyTheDetailsShareCounts) {
  const headless::Mesh flat = headless::Grid(2, 1);
  const std::vector<Vector3> rest = Folded(kPi / 4);  // detail: a 45 degree fold on a flat base
  const headless::DetailReference ref = headless::PrepareDetailReference(
      rest.data(), 6, flat.polygons.data(), 2, All(6), flat.points.data());
  auto measure = [&](const std::vector<Vector3>& points, const std::vector<Vector3>& base) {
    return headless::MeasureDetail(ref, points.data(), 6, base.data());
  };
  // The base folding by 30 degrees and the mesh with it keeps the detail's share.
  EXPECT_NEAR(measure(Folded(kPi / 4 + kPi / 6), Folded(kPi / 6)).normalAngleDegrees, 0.0,
              kExactTolerance);
  // Mesh folded the other way while the base stays flat, or the base folds up by 30 while the
  // mesh folds down by 45: the detail's share changed by 90 and 120 degrees.
  EXPECT_NEAR(measure(Folded(-kPi / 4), flat.points).normalAngleDegrees, 90.0, kExactTolerance);
  EXPECT_NEAR(measure(Folded(-kPi / 4), Folded(kPi / 6)).normalAngleDegrees, 120.0,
              kExactTolerance);
  // Growing with the base is no change; the base stretching alone is.
  std::vector<Vector3> bigBase = flat.points;
  std::vector<Vector3> big = rest;
  for (Vector3& p : bigBase) p = {3.0 * p.x, 3.0 * p.y, 3.0 * p.z};
  for (Vector3& p : big) p = {3.0 * p.x, 3.0 * p.y, 3.0 * p.z};
  const headless::DetailMeasures grown = measure(big, bigBase);
  EXPECT_NEAR(grown.edgeLengthChange, 0.0, kExactTolerance);
  EXPECT_NEAR(grown.normalAngleDegrees, 0.0, kExactTolerance);
  std::vector<Vector3> wideBase = flat.points;
  for (Vector3& p : wideBase) p.x *= 2.0;
  const headless::DetailMeasures alone = measure(rest, wideBase);
  EXPECT_NEAR(alone.edgeLengthChange, 4.0 * 0.5 / 7.0, kExactTolerance);

  // A base must be given exactly when the reference was made with one.
  EXPECT_THROW(headless::MeasureDetail(ref, rest.data(), 6), std::invalid_argument);
  const headless::DetailReference plain = Reference(flat, All(6));
  EXPECT_THROW(headless::MeasureDetail(plain, rest.data(), 6, rest.data()), std::invalid_argument);
}

TEST(DetailMeasures, OnlyEdgesTouchingTheRegionCount) {
  const headless::Mesh grid = headless::Grid(2, 1);
  // Point 0 touches edges 0-1 and 0-3 only, neither of which has two polygons.
  const headless::DetailReference corner = Reference(grid, {0});
  EXPECT_EQ(corner.edges.size(), 2u);
  EXPECT_TRUE(corner.hinges.empty());
  const headless::DetailMeasures m = Measure(corner, Folded(kPi / 2));
  EXPECT_EQ(m.normalAngleDegrees, 0.0);
  EXPECT_EQ(m.edgeLengthChange, 0.0);
  // Point 4 lies on the hinge; repeats in the region change nothing.
  const headless::DetailReference middle = Reference(grid, {4, 4});
  EXPECT_EQ(middle.edges.size(), 3u);
  EXPECT_EQ(middle.hinges.size(), 1u);
}

class LimbMeasures : public ::testing::Test {
 protected:
  void SetUp() override {
    headless::LimbOptions o;
    o.approximatePoints = 6000;
    o.bumpCount = 80;
    limb = headless::MakeLimb(o);
    for (const auto& w : limb.weights) weights.push_back(w.data());
    region = headless::BlendRegion(weights, Count());
    ref = headless::PrepareDetailReference(limb.points.data(), Count(), limb.polygons.data(),
                                           static_cast<Int64>(limb.polygons.size()), region);
  }
  Int64 Count() const { return static_cast<Int64>(limb.points.size()); }
  headless::LimbMesh limb;
  std::vector<const Float32*> weights;
  std::vector<Int32> region;
  headless::DetailReference ref;
};

TEST_F(LimbMeasures, ZeroForTheRestAndForRigidCopies) {
  ASSERT_FALSE(region.empty());
  EXPECT_LT(region.size(), limb.points.size() / 2);
  const headless::DetailMeasures same = Measure(ref, limb.points);
  EXPECT_EQ(same.edgeLengthChange, 0.0);
  EXPECT_EQ(same.normalAngleDegrees, 0.0);
  EXPECT_GT(same.edgeCount, 0);
  EXPECT_GT(same.hingeCount, 0);

  Matrix motion = headless::RotationAbout({1.0, 2.0, 3.0}, {0.3, -1.0, 0.5}, 2.1);
  motion.off.x += 10.0;
  std::vector<Vector3> moved(limb.points.size());
  for (size_t i = 0; i < moved.size(); ++i)
    moved[i] = headless::TransformPoint(motion, limb.points[i]);
  const headless::DetailMeasures rigid = Measure(ref, moved);
  EXPECT_LT(rigid.edgeLengthChange, kRigidTolerance);
  EXPECT_LT(rigid.normalAngleDegrees, kRigidTolerance);
}

TEST_F(LimbMeasures, CrushedJointScoresClearlyAboveZero) {
  const Vector3 elbow = limb.jointPositions[1];
  Matrix rest;
  rest.off = elbow;
  const Matrix bend = headless::RotationAbout(elbow, {0.0, 0.0, 1.0}, 2.0);
  std::vector<headless::JointPose> poses{{Matrix{}, Matrix{}},
                                         {rest, headless::Multiply(bend, rest)}};
  std::vector<Vector3> skinned(limb.points.size());
  headless::SkinPoints(limb.points.data(), Count(), poses, weights, skinned.data());
  const headless::DetailMeasures m = Measure(ref, skinned);
  EXPECT_GT(m.edgeLengthChange, 0.02);
  EXPECT_GT(m.normalAngleDegrees, 1.0);

  // A smaller bend crushes less.
  const Matrix small = headless::RotationAbout(elbow, {0.0, 0.0, 1.0}, 0.5);
  poses[1].current = headless::Multiply(small, rest);
  headless::SkinPoints(limb.points.data(), Count(), poses, weights, skinned.data());
  const headless::DetailMeasures less = Measure(ref, skinned);
  EXPECT_LT(less.edgeLengthChange, m.edgeLengthChange);
  EXPECT_LT(less.normalAngleDegrees, m.normalAngleDegrees);
}

TEST_F(LimbMeasures, RelativeToTheSmoothTubeTheBendItselfCostsNothing) {
  headless::LimbOptions o;
  o.approximatePoints = 6000;
  o.detailAmplitude = 0.0;
  const headless::LimbMesh smooth = headless::MakeLimb(o);
  const headless::DetailReference relative = headless::PrepareDetailReference(
      limb.points.data(), Count(), limb.polygons.data(), static_cast<Int64>(limb.polygons.size()),
      region, smooth.points.data());
  // A rigid motion of mesh and base together scores 0.
  Matrix motion = headless::RotationAbout({1.0, 2.0, 3.0}, {0.3, -1.0, 0.5}, 2.1);
  std::vector<Vector3> moved(limb.points.size());
  std::vector<Vector3> movedBase(limb.points.size());
  for (size_t i = 0; i < moved.size(); ++i) {
    moved[i] = headless::TransformPoint(motion, limb.points[i]);
    movedBase[i] = headless::TransformPoint(motion, smooth.points[i]);
  }
  const headless::DetailMeasures rigid =
      headless::MeasureDetail(relative, moved.data(), Count(), movedBase.data());
  EXPECT_LT(rigid.edgeLengthChange, kRigidTolerance);
  EXPECT_LT(rigid.normalAngleDegrees, kRigidTolerance);

  // Bent: the skinned detailed tube keeps part of its detail; the skinned smooth tube none of it.
  const Vector3 elbow = limb.jointPositions[1];
  Matrix rest;
  rest.off = elbow;
  const Matrix bend = headless::RotationAbout(elbow, {0.0, 0.0, 1.0}, 2.0);
  const std::vector<headless::JointPose> poses{{Matrix{}, Matrix{}},
                                               {rest, headless::Multiply(bend, rest)}};
  std::vector<Vector3> skinned(limb.points.size());
  std::vector<Vector3> skinnedBase(limb.points.size());
  headless::SkinPoints(limb.points.data(), Count(), poses, weights, skinned.data());
  headless::SkinPoints(smooth.points.data(), Count(), poses, weights, skinnedBase.data());
  const headless::DetailMeasures kept =
      headless::MeasureDetail(relative, skinned.data(), Count(), skinnedBase.data());
  const headless::DetailMeasures lost =
      headless::MeasureDetail(relative, skinnedBase.data(), Count(), skinnedBase.data());
  EXPECT_GT(kept.normalAngleDegrees, 0.1);
  EXPECT_GT(lost.normalAngleDegrees, kept.normalAngleDegrees);
  // Against the rest alone the bend dominates: the smooth tube scores about what the detailed
  // one does, which is what the base takes out.
  const headless::DetailMeasures plainKept = Measure(ref, skinned);
  EXPECT_LT(kept.normalAngleDegrees, plainKept.normalAngleDegrees);
}

TEST(BlendRegion, PicksPointsWhoseLargestWeightIsBelowTheThreshold) {
  const std::vector<Float32> a{1.0f, 0.995f, 0.5f, 0.0f, 0.2f};
  const std::vector<Float32> b{0.0f, 0.005f, 0.5f, 1.0f, 0.3f};
  const std::vector<Float32> c{0.0f, 0.0f, 0.0f, 0.0f, 0.5f};
  EXPECT_EQ(headless::BlendRegion({a.data(), b.data(), c.data()}, 5), (std::vector<Int32>{2, 4}));
  EXPECT_EQ(headless::BlendRegion({a.data(), b.data(), c.data()}, 5, 0.999f),
            (std::vector<Int32>{1, 2, 4}));
  EXPECT_THROW(headless::BlendRegion({a.data(), nullptr}, 5), std::invalid_argument);
}

TEST(DetailMeasures, BadInputIsRefusedByName) {
  const headless::Mesh grid = headless::Grid(1, 1);
  auto message = [](auto&& call) -> std::string {
    try {
      call();
    } catch (const std::invalid_argument& e) {
      return e.what();
    }
    return "no error";
  };
  EXPECT_NE(message([&] { Reference(grid, {4}); }).find("region index 4"), std::string::npos);
  headless::Mesh broken = grid;
  broken.polygons[0].c = 9;
  EXPECT_NE(message([&] { Reference(broken, {0}); }).find("names point 9"), std::string::npos);
  const headless::DetailReference ref = Reference(grid, {0});
  const std::vector<Vector3> three(3);
  EXPECT_NE(message([&] { Measure(ref, three); }).find("rest mesh has 4"), std::string::npos);
}

}  // namespace
