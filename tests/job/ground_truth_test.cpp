// Ground truth: the cases' ideal is exact where it must be (no bend, rigid parts), their bends are
// regular, and on every small case the measures' choice of settings comes within 10% of the true
// best's error.
#include "headless/job/ground_truth.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <iostream>
#include <stdexcept>

#include "headless/geometry/vector.h"
#include "headless/job/truth_sweep.h"
#include "tests/support/loaded_plugin.h"

namespace {

using headless::TruthShape;

constexpr TruthShape kShapes[] = {TruthShape::kLimb, TruthShape::kTorus, TruthShape::kSheet,
                                  TruthShape::kScan};

TEST(GroundTruth, IdealIsTheRestTurnedWhereTheMeshMovesRigidly) {
  for (TruthShape shape : kShapes) {
    SCOPED_TRACE(headless::TruthShapeName(shape));
    const headless::TruthCase t = headless::MakeTruthCase({shape, 3000, 60.0, 3});
    ASSERT_EQ(t.ideal.size(), t.rest.points.size());
    ASSERT_FALSE(t.region.empty());
    EXPECT_GT(t.detailHeight, 0.0);
    // Where one joint has all the weight over every polygon around a point, the skinned mesh is
    // a rigid copy of the rest there, and so is the ideal: they agree to rounding.
    std::vector<char> rigid(t.ideal.size(), 1);
    for (const CPolygon& f : t.rest.polygons) {
      const Int32 c[4] = {f.a, f.b, f.c, f.d};
      bool whole = true;
      for (Int32 k : c)
        whole = whole && t.weights[0][k] == t.weights[0][c[0]] &&
                (t.weights[0][k] == 1.0f || t.weights[1][k] == 1.0f);
      if (!whole)
        for (Int32 k : c) rigid[static_cast<size_t>(k)] = 0;
    }
    Float largest = 0.0;
    size_t checked = 0;
    for (size_t i = 0; i < t.ideal.size(); ++i)
      if (rigid[i]) {
        ++checked;
        largest = std::max(largest, headless::Length(headless::Sub(t.ideal[i], t.skinned[i])));
      }
    EXPECT_GT(checked, t.ideal.size() / 4);
    EXPECT_LT(largest, 1e-9);
    // Skinning alone is off where the weights blend: the true error sees the detail's loss.
    EXPECT_GT(headless::MeasureTrueError(t, t.skinned).mean, 0.0);
    EXPECT_EQ(headless::MeasureTrueError(t, t.ideal).mean, 0.0);
  }
}

TEST(GroundTruth, NearlyNoBendGivesTheRestAndTheSkinningsErrorSitsInTheBlend) {
  for (TruthShape shape : kShapes) {
    SCOPED_TRACE(headless::TruthShapeName(shape));
    // A bend of a millionth of a degree (2e-8 radians on shapes a few units long): the ideal is
    // the rest to the bend's own order.
    const headless::TruthCase flat = headless::MakeTruthCase({shape, 2000, 1e-6, 2});
    Float largest = 0.0;
    for (size_t i = 0; i < flat.ideal.size(); ++i)
      largest =
          std::max(largest, headless::Length(headless::Sub(flat.ideal[i], flat.rest.points[i])));
    EXPECT_LT(largest, 1e-6);
    // At a real bend, skinning's loss sits in the blend region: outside it (largest weight 0.99
    // or more) the mean distance from the ideal is a small part of the mean inside.
    const headless::TruthCase bent = headless::MakeTruthCase({shape, 2000, 90.0, 2});
    std::vector<char> inRegion(bent.ideal.size(), 0);
    for (Int32 p : bent.region) inRegion[static_cast<size_t>(p)] = 1;
    Float outside = 0.0;
    size_t outsideCount = 0;
    for (size_t i = 0; i < bent.ideal.size(); ++i)
      if (!inRegion[i]) {
        outside += headless::Length(headless::Sub(bent.ideal[i], bent.skinned[i]));
        ++outsideCount;
      }
    ASSERT_GT(outsideCount, 0u);
    EXPECT_LT(outside / static_cast<Float>(outsideCount),
              0.1 * headless::MeasureTrueError(bent, bent.skinned).mean);
    EXPECT_GT(headless::MeasureTrueError(bent, bent.skinned).meanShare, 0.05);
  }
}

TEST(GroundTruth, RefusesTooFewPointsAndBendsOutOfRange) {
  EXPECT_THROW(headless::MakeTruthCase({TruthShape::kLimb, 100, 90.0, 1}), std::invalid_argument);
  EXPECT_THROW(headless::MakeTruthCase({TruthShape::kSheet, 2000, 0.0, 1}), std::invalid_argument);
  EXPECT_THROW(headless::MakeTruthCase({TruthShape::kTorus, 2000, 150.0, 1}),
               std::invalid_argument);
  const headless::TruthCase t = headless::MakeTruthCase({TruthShape::kLimb, 1000, 90.0, 1});
  EXPECT_THROW(headless::MeasureTrueError(t, {}), std::invalid_argument);
}

TEST(GroundTruth, ScanLikeMeshCarriesDetailAtSeveralScales) {
  const headless::ScanLikeMesh a = headless::MakeScanLikeMesh(4000, 7);
  const headless::ScanLikeMesh b = headless::MakeScanLikeMesh(4000, 8);
  ASSERT_EQ(a.detailed.points.size(), a.base.size());
  Float moved = 0.0, differ = 0.0;
  for (size_t i = 0; i < a.base.size(); ++i) {
    moved += headless::Length(headless::Sub(a.detailed.points[i], a.base[i]));
    differ += headless::Length(headless::Sub(a.detailed.points[i], b.detailed.points[i]));
  }
  EXPECT_GT(moved, 0.0);
  EXPECT_GT(differ, 0.0);  // the seed decides the detail
  EXPECT_EQ(headless::MakeScanLikeMesh(4000, 7).detailed.points[123].x, a.detailed.points[123].x);
}

class GroundTruthSweep : public LoadedPluginTest,
                         public ::testing::WithParamInterface<TruthShape> {};

// The measures' choice of settings (what tune recommends) against the truth's, on small cases.
TEST_P(GroundTruthSweep, MeasuresChooseWithinTenPercentOfTheTrueBest) {
  const headless::TruthCase t = headless::MakeTruthCase({GetParam(), 6000, 90.0, 1});
  const headless::TruthSweep sweep = headless::SweepTruthCase(t, headless::kDefaultPoseThreshold);
  const Float best = sweep.errors[sweep.trueBest].mean;
  EXPECT_LE(best, sweep.errors[sweep.skinning].mean);
  EXPECT_LE(sweep.errors[sweep.chosen].mean, 1.1 * best)
      << "chose " << headless::SettingText(sweep.scores[sweep.chosen].setting) << ", best "
      << headless::SettingText(sweep.scores[sweep.trueBest].setting);
  EXPECT_GT(sweep.rankCorrelation, 0.8);
  if (::testing::Test::HasFailure()) headless::PrintTruthSweep(t, sweep, std::cout);
}

INSTANTIATE_TEST_SUITE_P(Cases, GroundTruthSweep, ::testing::ValuesIn(kShapes),
                         [](const auto& info) { return headless::TruthShapeName(info.param); });

}  // namespace
