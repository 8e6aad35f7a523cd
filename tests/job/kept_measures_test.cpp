// Pose kept and detail kept: zero departure for identical and rigidly moved meshes, a pose reading
// that detail alone does not move but a lost bend does, and a detail reading under which a result
// that lost the pose scores worse than skinning alone, where the older height error scores it best;
// the same reading whatever the workers.
#include <gtest/gtest.h>

#include <cmath>
#include <stdexcept>
#include <vector>

#include "headless/batch/pose_kept.h"
#include "headless/deformers/skinning.h"
#include "headless/entries/framework.h"
#include "headless/geometry/vector.h"
#include "headless/job/ground_truth.h"
#include "headless/job/limb.h"
#include "headless/job/pair_measures.h"
#include "headless/job/settings_sweep.h"

namespace {

Float Extent(const std::vector<Vector3>& points) {
  Vector3 lo = points[0], hi = points[0];
  for (const Vector3& p : points) {
    lo = {std::min(lo.x, p.x), std::min(lo.y, p.y), std::min(lo.z, p.z)};
    hi = {std::max(hi.x, p.x), std::max(hi.y, p.y), std::max(hi.z, p.z)};
  }
  return headless::Length(headless::Sub(hi, lo));
}

std::vector<Vector3> Moved(const std::vector<Vector3>& points, const Matrix& m) {
  std::vector<Vector3> out;
  for (const Vector3& p : points) out.push_back(headless::TransformPoint(m, p));
  return out;
}

TEST(KeptMeasures, IdentityAndRigidMotionsKeepPoseAndDetail) {
  headless::LimbOptions o;
  o.approximatePoints = 3000;
  const headless::LimbMesh limb = headless::MakeLimb(o);
  const headless::Mesh rest{limb.points, limb.polygons};
  const headless::PairReference reference = headless::PreparePairReference(rest, {});
  const Float extent = Extent(rest.points);
  const Matrix motions[] = {
      Matrix{},
      headless::RotationAbout({0.3, -1.0, 2.0}, {1.0, 2.0, -0.5}, 1.1),
      headless::Multiply(headless::RotationAbout({}, {0.0, 0.0, 1.0}, -2.5),
                         Matrix{{5.0, -7.0, 0.25}}),
  };
  for (const Matrix& m : motions) {
    const std::vector<Vector3> moved = Moved(rest.points, m);
    const headless::PairMeasures measures =
        headless::MeasureAgainstSkinned(reference, moved, Moved(rest.points, m));
    EXPECT_LT(measures.pose.largest, 1e-12 * extent);
    EXPECT_LT(measures.pose.mean, 1e-12 * extent);
    EXPECT_NEAR(measures.detailKept, 1.0, 1e-9);
  }
}

TEST(KeptMeasures, DetailAloneDoesNotMoveThePoseButALostBendDoes) {
  headless::LimbOptions o;
  o.approximatePoints = 6000;
  o.bumpCount = 0;  // ridges and grooves: detail whose mean over a few edges is nothing
  const headless::LimbMesh detailed = headless::MakeLimb(o);
  o.detailAmplitude = 0.0;
  const headless::LimbMesh smooth = headless::MakeLimb(o);
  const headless::Mesh rest{smooth.points, smooth.polygons};
  const headless::PoseReference reference = headless::PreparePoseReference(rest);
  Float detail = 0.0;
  for (size_t i = 0; i < rest.points.size(); ++i)
    detail = std::max(detail, headless::Length(headless::Sub(detailed.points[i], rest.points[i])));

  const std::vector<headless::JointPose> joints = {
      {}, {Matrix{}, headless::RotationAbout(smooth.jointPositions[1], {1.0, 0.0, 0.0}, 1.2)}};
  const std::vector<const Float32*> weights = {smooth.weights[0].data(), smooth.weights[1].data()};
  std::vector<Vector3> bent(rest.points.size()), bentDetailed(rest.points.size());
  headless::SkinPoints(rest.points.data(), rest.points.size(), joints, weights, bent.data());
  headless::SkinPoints(detailed.points.data(), rest.points.size(), joints, weights,
                       bentDetailed.data());
  const headless::PoseKept withDetail = headless::MeasurePoseKept(reference, bent, bentDetailed);
  const headless::PoseKept straightened = headless::MeasurePoseKept(reference, bent, rest.points);
  EXPECT_LT(withDetail.largest, 0.05 * detail);
  EXPECT_GT(straightened.largest, 20.0 * detail);
  EXPECT_GT(straightened.largestEdges, headless::kDefaultPoseThreshold);
  EXPECT_LT(withDetail.largestEdges, 0.2 * headless::kDefaultPoseThreshold);
  // The worst point is in the part that moved: the far half, past the elbow.
  EXPECT_GT(rest.points[static_cast<size_t>(straightened.worstPoint)].y,
            smooth.jointPositions[1].y);
}

// The averaging runs over the workers; each point sums in one order, so their number changes no
// bit.
TEST(KeptMeasures, PoseKeptIsTheSameWhateverTheWorkers) {
  const headless::TruthCase t =
      headless::MakeTruthCase({headless::TruthShape::kLimb, 6000, 90.0, 1});
  const headless::PoseReference reference = headless::PreparePoseReference(t.rest);
  std::vector<headless::PoseKept> readings;
  for (const Int32 workers : {1, 2, 7}) {
    headless::SetWorkerCount(workers);
    readings.push_back(headless::MeasurePoseKept(reference, t.skinned, t.ideal));
  }
  headless::SetWorkerCount(0);
  EXPECT_GT(readings[0].largest, 0.0);
  for (const headless::PoseKept& r : readings) {
    EXPECT_EQ(r.largest, readings[0].largest);
    EXPECT_EQ(r.mean, readings[0].mean);
    EXPECT_EQ(r.worstPoint, readings[0].worstPoint);
  }
}

TEST(KeptMeasures, AResultThatLostThePoseScoresWorseThanSkinningAlone) {
  const headless::TruthCase t =
      headless::MakeTruthCase({headless::TruthShape::kLimb, 6000, 90.0, 1});
  std::vector<Float32> region(t.rest.points.size(), 0.0f);
  for (Int32 p : t.region) region[static_cast<size_t>(p)] = 1.0f;
  const headless::PairReference reference = headless::PreparePairReference(t.rest, region);
  // The rest itself, as a result: every detail intact, the bend lost.
  const headless::PairMeasures lost =
      headless::MeasureAgainstSkinned(reference, t.skinned, t.rest.points);
  const headless::PairMeasures skinned =
      headless::MeasureAgainstSkinned(reference, t.skinned, t.skinned);
  const headless::PairMeasures ideal =
      headless::MeasureAgainstSkinned(reference, t.skinned, t.ideal);
  // The detail measured against its own smoothed surface cannot tell: the rest scores perfectly.
  EXPECT_LT(lost.heightError, 1e-12);
  EXPECT_LT(lost.heightError, skinned.heightError);
  // Detail kept can.
  EXPECT_LT(lost.detailKept, skinned.detailKept);
  EXPECT_GT(ideal.detailKept, lost.detailKept);
  // The estimate of the error, too. (It is not the true error: it reads the ideal's detail on a
  // surface smoothed after the bend, and puts the ideal above skinning on this case.)
  EXPECT_LT(skinned.estimate, lost.estimate);
  EXPECT_GT(lost.pose.largestEdges, headless::kDefaultPoseThreshold);
  EXPECT_EQ(skinned.pose.largest, 0.0);
}

TEST(KeptMeasures, RefuseMeshesOfAnotherSize) {
  const headless::Mesh grid{{{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}}, {{0, 1, 2, 3}}};
  const headless::PairReference reference = headless::PreparePairReference(grid, {});
  const std::vector<Vector3> three(3);
  EXPECT_THROW(headless::MeasureAgainstSkinned(reference, grid.points, three),
               std::invalid_argument);
  EXPECT_THROW(headless::MeasurePoseKept(reference.pose, three, grid.points),
               std::invalid_argument);
  const Int32 outside[] = {4};
  EXPECT_THROW(headless::PreparePoseReference(grid, outside), std::invalid_argument);
}

}  // namespace
