#include "headless/job/bake_solve.h"

#include <Eigen/Dense>
#include <algorithm>
#include <cmath>
#include <numeric>
#include <stdexcept>
#include <string>

#include "headless/deformers/skinning.h"
#include "headless/entries/framework.h"

namespace headless {
namespace {

using Eigen::MatrixXd;
using Eigen::VectorXd;

// The equality-constrained minimum over the free joints: G_FF z = h_F + mu 1 with sum z = 1.
VectorXd FreeSolution(const MatrixXd& g, const VectorXd& h, const std::vector<Int32>& free) {
  const auto m = static_cast<Eigen::Index>(free.size());
  MatrixXd gf(m, m);
  VectorXd hf(m);
  for (Eigen::Index a = 0; a < m; ++a) {
    hf(a) = h(free[a]);
    for (Eigen::Index b = 0; b < m; ++b) gf(a, b) = g(free[a], free[b]);
  }
  const Eigen::LDLT<MatrixXd> ldlt(gf);
  const VectorXd x = ldlt.solve(hf);
  const VectorXd y = ldlt.solve(VectorXd::Ones(m));
  const Float sumY = y.sum();
  const Float mu = sumY != 0.0 ? (1.0 - x.sum()) / sumY : 0.0;
  return x + mu * y;
}

VectorXd SimplexSolve(const MatrixXd& g, const VectorXd& h) {
  const Eigen::Index n = g.rows();
  // Start at the best single joint: a feasible corner.
  Eigen::Index best = 0;
  for (Eigen::Index i = 1; i < n; ++i)
    if (0.5 * g(i, i) - h(i) < 0.5 * g(best, best) - h(best)) best = i;
  VectorXd w = VectorXd::Zero(n);
  w(best) = 1.0;
  std::vector<Int32> free{static_cast<Int32>(best)};
  const Float tolerance = 1e-12 * std::max(g.diagonal().cwiseAbs().maxCoeff(), 1e-300);
  for (Eigen::Index round = 0; round < 4 * n + 20; ++round) {
    const VectorXd z = FreeSolution(g, h, free);
    bool feasible = true;
    for (Eigen::Index a = 0; a < z.size(); ++a) feasible = feasible && z(a) > 0.0;
    if (feasible) {
      for (size_t a = 0; a < free.size(); ++a) w(free[a]) = z(static_cast<Eigen::Index>(a));
      // The multipliers of the joints held at 0: the gradient less the free joints' common one.
      const VectorXd gradient = g * w - h;
      const Float mu = gradient(free.front());
      Eigen::Index enter = -1;
      Float most = -tolerance;
      for (Eigen::Index i = 0; i < n; ++i)
        if (std::find(free.begin(), free.end(), i) == free.end() && gradient(i) - mu < most) {
          most = gradient(i) - mu;
          enter = i;
        }
      if (enter < 0) return w;
      free.insert(std::upper_bound(free.begin(), free.end(), static_cast<Int32>(enter)),
                  static_cast<Int32>(enter));
      continue;
    }
    // Step towards z as far as the bounds allow; the joints that reach 0 leave the free set.
    Float alpha = 1.0;
    for (size_t a = 0; a < free.size(); ++a) {
      const Float za = z(static_cast<Eigen::Index>(a)), wa = w(free[a]);
      if (za <= 0.0) alpha = std::min(alpha, wa / (wa - za));
    }
    std::vector<Int32> kept;
    for (size_t a = 0; a < free.size(); ++a) {
      const Float next = w(free[a]) + alpha * (z(static_cast<Eigen::Index>(a)) - w(free[a]));
      w(free[a]) = next > 1e-15 ? next : 0.0;
      if (w(free[a]) > 0.0) kept.push_back(free[a]);
    }
    if (kept.empty()) kept.push_back(free.front());
    free = std::move(kept);
  }
  return w;
}

void CheckFinite(const Vector3& v, const char* what) {
  if (!std::isfinite(v.x) || !std::isfinite(v.y) || !std::isfinite(v.z))
    throw std::invalid_argument(std::string("bake: ") + what + " not finite");
}

void CheckProblem(const BakeProblem& problem, const BakeOptions& options,
                  std::span<const std::uint8_t> training) {
  const size_t points = problem.rest.size();
  if (options.influences < 1)
    throw std::invalid_argument("bake: influences per point must be at least 1");
  if (problem.targets.size() != problem.poses.size())
    throw std::invalid_argument("bake: " + std::to_string(problem.poses.size()) +
                                " poses but targets for " + std::to_string(problem.targets.size()));
  if (!training.empty() && training.size() != problem.poses.size())
    throw std::invalid_argument("bake: training flags for another number of poses");
  if (problem.sourceFirst.size() != points + 1 || problem.neighbourFirst.size() != points + 1 ||
      problem.sourceFirst.back() != static_cast<Int64>(problem.sourceJoint.size()) ||
      problem.sourceWeight.size() != problem.sourceJoint.size() ||
      problem.neighbourFirst.back() != static_cast<Int64>(problem.neighbour.size()))
    throw std::invalid_argument("bake: influence or neighbour lists do not match the points");
  const size_t joints = problem.poses.empty() ? 0 : problem.poses.front().size();
  for (size_t t = 0; t < problem.poses.size(); ++t) {
    if (problem.poses[t].size() != joints || problem.targets[t].size() != points)
      throw std::invalid_argument("bake: pose " + std::to_string(t) +
                                  " has another number of joints or points");
    for (const Matrix& m : problem.poses[t])
      for (const Vector3& v : {m.off, m.v1, m.v2, m.v3}) CheckFinite(v, "a joint matrix");
    for (const Vector3& v : problem.targets[t]) CheckFinite(v, "a target point");
  }
  for (const Vector3& v : problem.rest) CheckFinite(v, "a rest point");
  for (size_t i = 0; i < problem.sourceJoint.size(); ++i)
    if (problem.sourceJoint[i] < 0 || static_cast<size_t>(problem.sourceJoint[i]) >= joints ||
        !std::isfinite(problem.sourceWeight[i]))
      throw std::invalid_argument("bake: a source influence names no joint or is not finite");
  for (const Int32 q : problem.neighbour)
    if (q < 0 || static_cast<size_t>(q) >= points)
      throw std::invalid_argument("bake: a neighbour names no point");
  if (problem.bakeJoints < 0 || static_cast<size_t>(problem.bakeJoints) > joints)
    throw std::invalid_argument("bake: more joints to bake than the poses hold");
}

std::vector<Int32> Candidates(const BakeProblem& problem, Int64 p) {
  std::vector<Int32> joints;
  const auto add = [&](Int64 point) {
    for (Int64 i = problem.sourceFirst[point]; i < problem.sourceFirst[point + 1]; ++i)
      if (problem.sourceJoint[i] < problem.bakeJoints && problem.sourceWeight[i] != 0.0f)
        joints.push_back(problem.sourceJoint[i]);
  };
  add(p);
  for (Int64 i = problem.neighbourFirst[p]; i < problem.neighbourFirst[p + 1]; ++i)
    add(problem.neighbour[i]);
  std::sort(joints.begin(), joints.end());
  joints.erase(std::unique(joints.begin(), joints.end()), joints.end());
  return joints;
}

// The weight point q gives joint j in the sweep before.
Float WeightOf(const BakedWeights& previous, Int64 q, Int32 j) {
  const Int32 slots = previous.weights.slots;
  for (Int32 s = 0; s < slots; ++s)
    if (previous.weights.joint[q * slots + s] == j) return previous.weights.weight[q * slots + s];
  return 0.0;
}

// The source's influences as `slots` can hold them: joints below bakeJoints, the largest (the
// earlier on ties, a joint named twice summed), renormalised to sum 1; empty when none is left.
std::vector<std::pair<Int32, Float>> SlottedSource(const BakeProblem& problem, Int64 p,
                                                   Int32 slots) {
  std::vector<std::pair<Int32, Float>> kept;
  for (Int64 i = problem.sourceFirst[p]; i < problem.sourceFirst[p + 1]; ++i) {
    const Int32 j = problem.sourceJoint[i];
    if (j >= problem.bakeJoints || problem.sourceWeight[i] == 0.0f) continue;
    auto at = std::find_if(kept.begin(), kept.end(), [j](const auto& e) { return e.first == j; });
    if (at == kept.end()) at = kept.insert(kept.end(), {j, 0.0});
    at->second += problem.sourceWeight[i];
  }
  std::stable_sort(kept.begin(), kept.end(),
                   [](const auto& a, const auto& b) { return a.second > b.second; });
  if (kept.size() > static_cast<size_t>(slots)) kept.resize(static_cast<size_t>(slots));
  Float sum = 0.0;
  for (const auto& e : kept) sum += e.second;
  if (!(sum > 0.0)) return {};
  for (auto& e : kept) e.second /= sum;
  return kept;
}

Float SlottedError(const BakeProblem& problem, std::span<const std::uint8_t> training, Int64 p,
                   const std::vector<std::pair<Int32, Float>>& weights) {
  Float error = 0.0;
  for (size_t t = 0; t < problem.poses.size(); ++t) {
    if (!training.empty() && training[t] == 0) continue;
    Vector3 at;
    for (const auto& [j, w] : weights) {
      const Vector3 q = TransformPoint(problem.poses[t][j], problem.rest[p]);
      at = {at.x + w * q.x, at.y + w * q.y, at.z + w * q.z};
    }
    const Vector3& c = problem.targets[t][p];
    error +=
        (at.x - c.x) * (at.x - c.x) + (at.y - c.y) * (at.y - c.y) + (at.z - c.z) * (at.z - c.z);
  }
  return error;
}

void FillSlots(const std::vector<std::pair<Int32, Float>>& weights, Int64 p, BakedWeights& out) {
  const Int32 slots = out.weights.slots;
  for (size_t s = 0; s < weights.size(); ++s) {
    out.weights.joint[p * slots + static_cast<Int64>(s)] = weights[s].first;
    out.weights.weight[p * slots + static_cast<Int64>(s)] = static_cast<Float32>(weights[s].second);
  }
}

struct PointSystem {
  MatrixXd g;
  VectorXd h;
  std::vector<VectorXd> columns;  // per candidate: its skinned rest point over the poses, stacked
  VectorXd target;                // the targets over the training poses, stacked
};

PointSystem Build(const BakeProblem& problem, std::span<const std::uint8_t> training, Int64 p,
                  const std::vector<Int32>& candidates) {
  Int64 rows = 0;
  for (size_t t = 0; t < problem.poses.size(); ++t)
    if (training.empty() || training[t] != 0) rows += 3;
  PointSystem s;
  const auto c = static_cast<Eigen::Index>(candidates.size());
  MatrixXd a(rows, c);
  s.target.resize(rows);
  Eigen::Index row = 0;
  for (size_t t = 0; t < problem.poses.size(); ++t) {
    if (!training.empty() && training[t] == 0) continue;
    for (Eigen::Index k = 0; k < c; ++k) {
      const Vector3 q = TransformPoint(problem.poses[t][candidates[k]], problem.rest[p]);
      a(row, k) = q.x;
      a(row + 1, k) = q.y;
      a(row + 2, k) = q.z;
    }
    const Vector3& target = problem.targets[t][p];
    s.target(row) = target.x;
    s.target(row + 1) = target.y;
    s.target(row + 2) = target.z;
    row += 3;
  }
  s.g = a.transpose() * a;
  s.h = a.transpose() * s.target;
  for (Eigen::Index k = 0; k < c; ++k) s.columns.push_back(a.col(k));
  return s;
}

// Solves point p into its slots of `out`.
void SolvePoint(const BakeProblem& problem, const BakeOptions& options,
                std::span<const std::uint8_t> training, const BakedWeights* previous, Int64 p,
                BakedWeights& out) {
  const Int32 slots = out.weights.slots;
  const std::vector<Int32> candidates = Candidates(problem, p);
  const std::vector<std::pair<Int32, Float>> source = SlottedSource(problem, p, slots);
  out.keptSource[p] = 1;
  FillSlots(source, p, out);
  if (candidates.empty()) return;
  PointSystem s = Build(problem, training, p, candidates);
  const auto c = static_cast<Eigen::Index>(candidates.size());
  const Float diagonal = s.g.trace() / static_cast<Float>(c);
  const Float scale = diagonal > 0.0 ? diagonal : 1.0;
  MatrixXd g = s.g;
  VectorXd h = s.h;
  const Float pull = 1e-9 * scale;
  for (Eigen::Index k = 0; k < c; ++k) {
    Float source = 0.0;
    for (Int64 i = problem.sourceFirst[p]; i < problem.sourceFirst[p + 1]; ++i)
      if (problem.sourceJoint[i] == candidates[k]) source += problem.sourceWeight[i];
    g(k, k) += pull;
    h(k) += pull * source;
    if (previous == nullptr) continue;
    const Float smooth = options.smoothness * scale;
    for (Int64 i = problem.neighbourFirst[p]; i < problem.neighbourFirst[p + 1]; ++i) {
      g(k, k) += smooth;
      h(k) += smooth * WeightOf(*previous, problem.neighbour[i], candidates[k]);
    }
  }
  VectorXd w = SimplexSolve(g, h);
  std::vector<Eigen::Index> order(static_cast<size_t>(c));
  std::iota(order.begin(), order.end(), Eigen::Index{0});
  if (c > slots) {
    std::stable_sort(order.begin(), order.end(),
                     [&](Eigen::Index a, Eigen::Index b) { return w(a) > w(b); });
    order.resize(static_cast<size_t>(slots));
    std::sort(order.begin(), order.end());
    MatrixXd gk(slots, slots);
    VectorXd hk(slots);
    for (Int32 a = 0; a < slots; ++a) {
      hk(a) = h(order[a]);
      for (Int32 b = 0; b < slots; ++b) gk(a, b) = g(order[a], order[b]);
    }
    const VectorXd wk = SimplexSolve(gk, hk);
    w.setZero();
    for (Int32 a = 0; a < slots; ++a) w(order[a]) = wk(a);
  }
  VectorXd fitted = VectorXd::Zero(s.target.size());
  for (const Eigen::Index k : order) fitted += w(k) * s.columns[static_cast<size_t>(k)];
  if (!source.empty() &&
      (fitted - s.target).squaredNorm() > SlottedError(problem, training, p, source))
    return;
  out.keptSource[p] = 0;
  std::vector<std::pair<Int32, Float>> solved;
  for (const Eigen::Index k : order)
    if (w(k) > 0.0) solved.emplace_back(candidates[static_cast<size_t>(k)], w(k));
  std::fill_n(out.weights.joint.begin() + p * slots, slots, -1);
  std::fill_n(out.weights.weight.begin() + p * slots, slots, 0.0f);
  FillSlots(solved, p, out);
}

struct SweepContext {
  const BakeProblem* problem;
  const BakeOptions* options;
  std::span<const std::uint8_t> training;
  const BakedWeights* previous;
  BakedWeights* out;
};

BakedWeights Sweep(const BakeProblem& problem, const BakeOptions& options,
                   std::span<const std::uint8_t> training, const BakedWeights* previous) {
  const auto points = static_cast<Int64>(problem.rest.size());
  BakedWeights out;
  out.weights.slots = options.influences;
  out.weights.joint.assign(static_cast<size_t>(points * options.influences), -1);
  out.weights.weight.assign(static_cast<size_t>(points * options.influences), 0.0f);
  out.keptSource.assign(static_cast<size_t>(points), 1);
  SweepContext context{&problem, &options, training, previous, &out};
  ParallelFor(points, 16, &context, [](void* raw, Int64 begin, Int64 end) noexcept {
    const SweepContext& c = *static_cast<const SweepContext*>(raw);
    for (Int64 p = begin; p < end; ++p) {
      try {
        SolvePoint(*c.problem, *c.options, c.training, c.previous, p, *c.out);
      } catch (...) {
        // Nothing in a point's solve throws on checked input but running out of memory; the
        // point then keeps its source weights.
        c.out->keptSource[p] = 1;
      }
    }
  });
  out.keptSourceCount = std::count(out.keptSource.begin(), out.keptSource.end(), 1);
  return out;
}

}  // namespace

std::vector<Float> SimplexLeastSquares(std::span<const Float> g, std::span<const Float> h,
                                       Int32 n) {
  if (n < 1 || g.size() != static_cast<size_t>(n) * static_cast<size_t>(n) ||
      h.size() != static_cast<size_t>(n))
    throw std::invalid_argument("SimplexLeastSquares: sizes do not match " + std::to_string(n) +
                                " unknowns");
  for (const Float v : g)
    if (!std::isfinite(v)) throw std::invalid_argument("SimplexLeastSquares: G not finite");
  for (const Float v : h)
    if (!std::isfinite(v)) throw std::invalid_argument("SimplexLeastSquares: h not finite");
  MatrixXd gm(n, n);
  VectorXd hv(n);
  for (Int32 r = 0; r < n; ++r) {
    hv(r) = h[static_cast<size_t>(r)];
    for (Int32 c = 0; c < n; ++c) gm(r, c) = g[static_cast<size_t>(r * n + c)];
  }
  const VectorXd w = SimplexSolve(gm, hv);
  return std::vector<Float>(w.data(), w.data() + n);
}

BakedWeights SolveBake(const BakeProblem& problem, const BakeOptions& options,
                       std::span<const std::uint8_t> training) {
  CheckProblem(problem, options, training);
  BakedWeights baked = Sweep(problem, options, training, nullptr);
  if (options.smoothness > 0.0)
    for (Int32 s = 0; s < options.sweeps; ++s) baked = Sweep(problem, options, training, &baked);
  return baked;
}

void SkinSource(const BakeProblem& problem, size_t pose, std::vector<Vector3>& positions) {
  positions.assign(problem.rest.size(), Vector3{});
  for (size_t p = 0; p < problem.rest.size(); ++p)
    for (Int64 i = problem.sourceFirst[p]; i < problem.sourceFirst[p + 1]; ++i) {
      const Vector3 q =
          TransformPoint(problem.poses[pose][problem.sourceJoint[i]], problem.rest[p]);
      const Float w = problem.sourceWeight[i];
      positions[p] = {positions[p].x + w * q.x, positions[p].y + w * q.y, positions[p].z + w * q.z};
    }
}

void SkinBaked(const BakeProblem& problem, const BakedWeights& baked, size_t pose,
               std::vector<Vector3>& positions) {
  SkinSource(problem, pose, positions);
  const Int32 slots = baked.weights.slots;
  for (size_t p = 0; p < problem.rest.size(); ++p) {
    // A point whose source names no joint that can be written plays as the source does.
    if (baked.weights.joint[p * slots] < 0) continue;
    Vector3 at;
    for (Int32 s = 0; s < slots; ++s) {
      const Int32 j = baked.weights.joint[p * slots + s];
      if (j < 0) continue;
      const Vector3 q = TransformPoint(problem.poses[pose][j], problem.rest[p]);
      const Float w = baked.weights.weight[p * slots + s];
      at = {at.x + w * q.x, at.y + w * q.y, at.z + w * q.z};
    }
    positions[p] = at;
  }
}

}  // namespace headless
