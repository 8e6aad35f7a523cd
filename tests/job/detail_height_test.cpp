// The detail height measure: blind to rigid motion, scoring lost detail as 1 and halved detail
// as one half, and refusing inconsistent input.
#include <gtest/gtest.h>

#include <stdexcept>

#include "headless/deformers/skinning.h"
#include "headless/job/detail_height.h"
#include "headless/job/limb.h"
#include "headless/job/measures.h"

namespace {

struct Limbs {
  headless::LimbMesh detailed;
  headless::LimbMesh base;
  std::vector<std::vector<Int32>> neighbours;
  std::vector<Int32> region;
};

Limbs MakeLimbs() {
  headless::LimbOptions options;
  options.approximatePoints = 3000;
  Limbs limbs;
  limbs.detailed = headless::MakeLimb(options);
  options.detailAmplitude = 0.0;
  limbs.base = headless::MakeLimb(options);
  limbs.neighbours = headless::PointNeighbours(static_cast<Int64>(limbs.detailed.points.size()),
                                               limbs.detailed.polygons);
  std::vector<const Float32*> weights;
  for (const auto& w : limbs.base.weights) weights.push_back(w.data());
  limbs.region = headless::BlendRegion(weights, static_cast<Int64>(limbs.base.points.size()));
  return limbs;
}

std::vector<Float> Heights(const Limbs& l, const std::vector<Vector3>& points) {
  return headless::DetailHeights(points, l.detailed.polygons, l.neighbours, 8);
}

TEST(DetailHeightTest, RigidMotionKeepsEveryHeightAndLosingTheDetailScoresOne) {
  const Limbs l = MakeLimbs();
  const std::vector<Float> rest = Heights(l, l.detailed.points);
  const std::vector<Float> restBase = Heights(l, l.base.points);
  const Matrix motion = headless::RotationAbout({1.0, 2.0, 3.0}, {1.0, -2.0, 0.5}, 1.1);
  std::vector<Vector3> moved, movedBase;
  for (const Vector3& p : l.detailed.points) moved.push_back(headless::TransformPoint(motion, p));
  for (const Vector3& p : l.base.points) movedBase.push_back(headless::TransformPoint(motion, p));
  const std::vector<Float> movedBaseHeights = Heights(l, movedBase);
  EXPECT_NEAR(
      headless::DetailHeightError(Heights(l, moved), rest, movedBaseHeights, restBase, l.region),
      0.0, 1e-9);
  // The base itself has lost all the detail.
  EXPECT_NEAR(
      headless::DetailHeightError(movedBaseHeights, rest, movedBaseHeights, restBase, l.region),
      1.0, 1e-9);
  // Half the detail: each point halfway between the base and the detailed limb.
  std::vector<Vector3> half;
  for (size_t i = 0; i < moved.size(); ++i)
    half.push_back({0.5 * (moved[i].x + movedBase[i].x), 0.5 * (moved[i].y + movedBase[i].y),
                    0.5 * (moved[i].z + movedBase[i].z)});
  EXPECT_NEAR(
      headless::DetailHeightError(Heights(l, half), rest, movedBaseHeights, restBase, l.region),
      0.5, 0.02);
  // Without a base the tube's own curvature counts as detail, so the base scores below 1.
  EXPECT_LT(headless::DetailHeightError(movedBaseHeights, rest, {}, {}, l.region), 1.0);
}

// The per-point reading behind the coloured picture: 1 where the detail is as at rest, 0 where it
// is gone, in between for a part of it, whatever rigid motion moved the mesh.
TEST(DetailHeightTest, LocalDetailKeptReadsOneForRestZeroForLostAndHalfForHalf) {
  const Limbs l = MakeLimbs();
  const std::vector<Float> rest = Heights(l, l.detailed.points);
  const std::vector<Float> restBase = Heights(l, l.base.points);
  const Matrix motion = headless::RotationAbout({0.5, 1.0, -2.0}, {0.3, 1.0, 0.2}, 0.7);
  std::vector<Vector3> moved, movedBase, half;
  for (size_t i = 0; i < l.detailed.points.size(); ++i) {
    moved.push_back(headless::TransformPoint(motion, l.detailed.points[i]));
    movedBase.push_back(headless::TransformPoint(motion, l.base.points[i]));
    half.push_back({0.5 * (moved[i].x + movedBase[i].x), 0.5 * (moved[i].y + movedBase[i].y),
                    0.5 * (moved[i].z + movedBase[i].z)});
  }
  const std::vector<Float> base = Heights(l, movedBase);
  auto kept = [&](const std::vector<Vector3>& points) {
    return headless::LocalDetailKept(Heights(l, points), rest, base, restBase, l.neighbours, 2);
  };
  const std::vector<Float> same = kept(moved);
  const std::vector<Float> lost = kept(movedBase);
  const std::vector<Float> halved = kept(half);
  ASSERT_EQ(same.size(), l.detailed.points.size());
  for (Int32 p : l.region) {
    const size_t i = static_cast<size_t>(p);
    EXPECT_NEAR(same[i], 1.0, 1e-6) << p;
    EXPECT_NEAR(lost[i], 0.0, 1e-9) << p;
    EXPECT_NEAR(halved[i], 0.5, 0.08) << p;
  }
  EXPECT_THROW(headless::LocalDetailKept(rest, {1.0}, {}, {}, l.neighbours, 1),
               std::invalid_argument);
  EXPECT_THROW(headless::LocalDetailKept({1.0}, {1.0}, {}, {}, {{3}}, 1), std::invalid_argument);
}

TEST(DetailHeightTest, RefusesInconsistentInput) {
  const std::vector<Vector3> points{{0, 0, 0}, {1, 0, 0}, {1, 1, 0}};
  EXPECT_THROW(headless::PointNeighbours(3, {{0, 1, 5, 5}}), std::invalid_argument);
  EXPECT_THROW(headless::DetailHeights(points, {{0, 1, 2, 2}}, {{}, {}}, 1), std::invalid_argument);
  // A polygon corner or a neighbour beyond the points is refused before anything reads it.
  EXPECT_THROW(headless::DetailHeights(points, {{0, 1, 3, 3}}, {{}, {}, {}}, 1),
               std::invalid_argument);
  EXPECT_THROW(headless::DetailHeights(points, {{0, 1, 2, 2}}, {{1}, {0, 7}, {}}, 1),
               std::invalid_argument);
  EXPECT_THROW(headless::DetailHeightError({1.0, 2.0}, {1.0}, {}, {}, {0}), std::invalid_argument);
  EXPECT_THROW(headless::DetailHeightError({1.0}, {1.0}, {0.0}, {}, {0}), std::invalid_argument);
  EXPECT_THROW(headless::DetailHeightError({1.0}, {1.0}, {}, {}, {1}), std::invalid_argument);
  EXPECT_EQ(headless::DetailHeightError({1.0}, {0.0}, {}, {}, {0}), 0.0);
}

}  // namespace
