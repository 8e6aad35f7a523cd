// The bake's solves: the simplex-constrained least squares against known answers, and the
// per-point solve recovering weights that made the targets, the same bits on any worker count.
#include "headless/job/bake_solve.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numeric>
#include <random>
#include <vector>

#include "headless/deformers/skinning.h"
#include "headless/entries/framework.h"

namespace {

// G = A^T A and h = A^T b for a random A of `rows` rows.
struct Normal {
  std::vector<Float> g, h;
};
Normal FromColumns(const std::vector<std::vector<Float>>& a, const std::vector<Float>& b) {
  const size_t n = a.size();
  Normal out{std::vector<Float>(n * n, 0.0), std::vector<Float>(n, 0.0)};
  for (size_t i = 0; i < n; ++i) {
    for (size_t j = 0; j < n; ++j)
      out.g[i * n + j] = std::inner_product(a[i].begin(), a[i].end(), a[j].begin(), 0.0);
    out.h[i] = std::inner_product(a[i].begin(), a[i].end(), b.begin(), 0.0);
  }
  return out;
}

TEST(BakeSolve, SimplexLeastSquaresRecoversKnownWeightsAndKeepsTheConstraint) {
  struct Case {
    const char* name;
    std::vector<Float> truth;  // weights that make b exactly (on the simplex)
    std::vector<Float> shift;  // added to b: the free optimum leaves the simplex
  };
  const Case cases[] = {
      {"interior", {0.2, 0.3, 0.5}, {}},
      {"on a face", {0.0, 0.6, 0.4, 0.0}, {}},
      {"corner", {0.0, 0.0, 1.0, 0.0, 0.0}, {}},
      {"pushed off", {0.5, 0.5, 0.0}, {3.0, -2.0, 0.5, 1.0, 0.0, -1.0, 2.0, 0.0, 1.0, 0.5}},
  };
  std::mt19937_64 random(7);
  std::uniform_real_distribution<Float> uniform(-1.0, 1.0);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const size_t n = c.truth.size(), rows = 10;
    std::vector<std::vector<Float>> a(n, std::vector<Float>(rows));
    for (auto& column : a)
      for (Float& v : column) v = uniform(random);
    std::vector<Float> b(rows, 0.0);
    for (size_t r = 0; r < rows; ++r) {
      for (size_t j = 0; j < n; ++j) b[r] += a[j][r] * c.truth[j];
      if (!c.shift.empty()) b[r] += c.shift[r];
    }
    const Normal normal = FromColumns(a, b);
    const std::vector<Float> w =
        headless::SimplexLeastSquares(normal.g, normal.h, static_cast<Int32>(n));
    ASSERT_EQ(w.size(), n);
    Float sum = 0.0;
    for (const Float v : w) {
      EXPECT_GE(v, 0.0);
      sum += v;
    }
    EXPECT_NEAR(sum, 1.0, 1e-12);
    // Optimality on the simplex: no feasible direction e_i - e_k lowers the objective.
    std::vector<Float> gradient(n, 0.0);
    for (size_t i = 0; i < n; ++i) {
      for (size_t j = 0; j < n; ++j) gradient[i] += normal.g[i * n + j] * w[j];
      gradient[i] -= normal.h[i];
    }
    for (size_t k = 0; k < n; ++k) {
      if (w[k] <= 1e-9) continue;
      for (size_t i = 0; i < n; ++i) {
        EXPECT_GE(gradient[i] - gradient[k], -1e-9) << i << k;
      }
    }
    if (c.shift.empty()) {
      for (size_t j = 0; j < n; ++j) EXPECT_NEAR(w[j], c.truth[j], 1e-9) << j;
    }
  }
  EXPECT_THROW(headless::SimplexLeastSquares(std::vector<Float>{1.0}, {}, 1),
               std::invalid_argument);
  EXPECT_THROW(headless::SimplexLeastSquares(std::vector<Float>{NAN}, std::vector<Float>{0.0}, 1),
               std::invalid_argument);
}

// A strip of points along x under three joints turning about z at x = 1 and x = 2; the targets
// are skinned with `truth` weights, the source weights are blurred ones.
headless::BakeProblem Strip(const std::vector<std::vector<Float>>& truth) {
  headless::BakeProblem problem;
  const size_t points = truth.size();
  for (size_t p = 0; p < points; ++p)
    problem.rest.push_back({3.0 * static_cast<Float>(p) / static_cast<Float>(points - 1),
                            0.1 * std::sin(static_cast<Float>(p)),
                            0.05 * static_cast<Float>(p % 3)});
  for (int t = 0; t < 6; ++t) {
    const Float a = 0.3 * t, b = -0.2 * t;
    const Matrix first = headless::RotationAbout({1.0, 0.0, 0.0}, {0.0, 0.0, 1.0}, a);
    const Matrix second =
        headless::Multiply(first, headless::RotationAbout({2.0, 0.0, 0.0}, {0.0, 1.0, 1.0}, b));
    problem.poses.push_back({Matrix{}, first, second});
  }
  for (const auto& pose : problem.poses) {
    std::vector<Vector3> targets;
    for (size_t p = 0; p < points; ++p) {
      Vector3 at;
      for (size_t j = 0; j < 3; ++j) {
        const Vector3 q = headless::TransformPoint(pose[j], problem.rest[p]);
        at = {at.x + truth[p][j] * q.x, at.y + truth[p][j] * q.y, at.z + truth[p][j] * q.z};
      }
      targets.push_back(at);
    }
    problem.targets.push_back(targets);
  }
  for (size_t p = 0; p < points; ++p) {
    for (Int32 j = 0; j < 3; ++j) {
      problem.sourceJoint.push_back(j);
      problem.sourceWeight.push_back(j == 1 ? 0.5f : 0.25f);
    }
    problem.sourceFirst.push_back(static_cast<Int64>(problem.sourceJoint.size()));
    if (p > 0) problem.neighbour.push_back(static_cast<Int32>(p - 1));
    if (p + 1 < points) problem.neighbour.push_back(static_cast<Int32>(p + 1));
    problem.neighbourFirst.push_back(static_cast<Int64>(problem.neighbour.size()));
  }
  problem.bakeJoints = 3;
  return problem;
}

TEST(BakeSolve, PointsRecoverTheWeightsThatMadeTheirTargetsOnAnyWorkerCount) {
  std::vector<std::vector<Float>> truth;
  for (int p = 0; p < 40; ++p) {
    const Float s = p / 39.0;
    truth.push_back(s < 0.5 ? std::vector<Float>{1.0 - 2.0 * s, 2.0 * s, 0.0}
                            : std::vector<Float>{0.0, 2.0 - 2.0 * s, 2.0 * s - 1.0});
  }
  const headless::BakeProblem problem = Strip(truth);
  const headless::BakeOptions cases[] = {{4, 0.0, 0}, {2, 0.0, 0}, {4, 0.01, 3}};
  for (const headless::BakeOptions& options : cases) {
    SCOPED_TRACE("influences " + std::to_string(options.influences) + " smoothness " +
                 std::to_string(options.smoothness));
    headless::SetWorkerCount(1);
    const headless::BakedWeights one = headless::SolveBake(problem, options);
    headless::SetWorkerCount(2);
    const headless::BakedWeights two = headless::SolveBake(problem, options);
    headless::SetWorkerCount(0);
    EXPECT_EQ(one.weights.joint, two.weights.joint);
    EXPECT_EQ(one.weights.weight, two.weights.weight);  // float32 compares its bits here
    EXPECT_EQ(one.keptSource, two.keptSource);
    if (options.smoothness > 0.0) continue;  // smoothing trades a little of the fit
    for (size_t p = 0; p < truth.size(); ++p)
      for (Int32 s = 0; s < options.influences; ++s) {
        const Int32 j = one.weights.joint[p * options.influences + s];
        if (j < 0) continue;
        EXPECT_NEAR(one.weights.weight[p * options.influences + s], truth[p][j], 1e-5);
      }
    std::vector<Vector3> baked;
    headless::SkinBaked(problem, one, 3, baked);
    for (size_t p = 0; p < truth.size(); ++p)
      EXPECT_NEAR(baked[p].y, problem.targets[3][p].y, 1e-5) << p;
  }
}

TEST(BakeSolve, APointThatCannotDoBetterKeepsItsSourceAndBadInputIsRefused) {
  // Point 5's source weights make its targets exactly; its neighbours' targets want others, and
  // strong smoothing drags the solve towards them: point 5 keeps its source, the others do not.
  std::vector<std::vector<Float>> truth(12, std::vector<Float>{0.6, 0.2, 0.2});
  truth[5] = {0.25, 0.5, 0.25};
  const headless::BakeProblem problem = Strip(truth);
  const headless::BakedWeights baked = headless::SolveBake(problem, {4, 1e3, 3});
  EXPECT_EQ(baked.keptSource[5], 1);
  EXPECT_EQ(baked.keptSource[0], 0);
  std::vector<Vector3> skinned;
  headless::SkinBaked(problem, baked, 2, skinned);
  EXPECT_NEAR(skinned[5].x, problem.targets[2][5].x, 1e-6);
  EXPECT_NEAR(skinned[5].y, problem.targets[2][5].y, 1e-6);

  headless::BakeProblem bad = problem;
  bad.sourceJoint[0] = 7;
  EXPECT_THROW(headless::SolveBake(bad, {}), std::invalid_argument);
  bad = problem;
  bad.targets[1].pop_back();
  EXPECT_THROW(headless::SolveBake(bad, {}), std::invalid_argument);
  bad = problem;
  bad.rest[0].x = NAN;
  EXPECT_THROW(headless::SolveBake(bad, {}), std::invalid_argument);
  EXPECT_THROW(headless::SolveBake(problem, {0, 0.0, 0}), std::invalid_argument);
}

}  // namespace
