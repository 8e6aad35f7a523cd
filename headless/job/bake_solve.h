// Skin weights solved so that linear blend skinning alone comes as close as it can to given
// target points over many poses: free routines over plain records.
//
// Per welded point p with rest position r, over the training poses t, the weights w over its
// candidate joints minimise sum_t |sum_j w_j S_tj r - c_tp|^2 (S_tj the matrix taking joint j's
// rest to its pose t, c_tp the target), subject to w >= 0 and sum w = 1, with at most
// `influences` non-zero: solved over the candidates, the largest `influences` kept, solved again
// on those. A point's candidates are the joints its source weights or its edge neighbours' name.
// A small pull towards the source weights keeps the problem definite where the poses do not tell
// two joints apart. With `smoothness` above 0, `sweeps` Jacobi sweeps follow, each adding
// smoothness x (mean diagonal) x |w - w_q|^2 per neighbour q, w_q from the sweep before, so
// every point is solved from the same data whatever the order. A point whose solved weights fit
// the training poses worse than its source weights as the slots hold them (the largest
// `influences` of them below bakeJoints, renormalised) keeps those.
//
// Points run in parallel on the worker pool, each writing only its own slots: the same bits on
// any number of workers.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "host/abi/types.h"

namespace headless {

// min 1/2 w^T G w - h^T w subject to w >= 0 and sum w = 1, by an active-set loop over the
// equality-constrained solutions on the free joints. G is n x n, row-major, symmetric and
// positive definite. Throws std::invalid_argument for n < 1, sizes that disagree or a value that
// is not finite.
std::vector<Float> SimplexLeastSquares(std::span<const Float> g, std::span<const Float> h, Int32 n);

// Per point, `slots` joints and weights; an empty slot has joint -1 and weight 0.
struct PointWeights {
  Int32 slots = 0;
  std::vector<Int32> joint;
  std::vector<Float32> weight;
};

struct BakeProblem {
  std::vector<Vector3> rest;  // per point
  // Per pose, per joint: where the joint takes a rest point in that pose.
  std::vector<std::vector<Matrix>> poses;
  // Per pose, per point: where the point should be.
  std::vector<std::vector<Vector3>> targets;
  // Per point: the source's influences, first[p] .. first[p + 1] - 1 (joint, weight).
  std::vector<Int64> sourceFirst{0};
  std::vector<Int32> sourceJoint;
  std::vector<Float32> sourceWeight;
  // Per point: its edge neighbours, first[p] .. first[p + 1] - 1.
  std::vector<Int64> neighbourFirst{0};
  std::vector<Int32> neighbour;
  // Baked weights may name joints [0, bakeJoints) only (joints past them, a stand-in for points
  // without weight, stay the source's).
  Int32 bakeJoints = 0;
};

struct BakeOptions {
  int influences = 4;      // at most this many non-zero per point
  Float smoothness = 0.0;  // 0: no sweeps
  Int32 sweeps = 0;
};

struct BakedWeights {
  // `influences` slots per point: solved, or the source's as the slots hold them where it kept
  // them; all empty where the source names no joint below bakeJoints.
  PointWeights weights;
  // Per point 1 where it keeps the source weights (its solve fit worse, or it had no candidate).
  std::vector<std::uint8_t> keptSource;
  Int64 keptSourceCount = 0;
};

// Throws std::invalid_argument naming the fault: counts that disagree, a joint out of range, a
// value that is not finite, `influences` below 1. `training` holds one flag per pose (empty: all
// poses train).
BakedWeights SolveBake(const BakeProblem& problem, const BakeOptions& options,
                       std::span<const std::uint8_t> training = {});

// The points skinned with the slots' weights (the source's where the slots are empty).
// `positions` receives one point per rest point at pose `pose`.
void SkinBaked(const BakeProblem& problem, const BakedWeights& baked, size_t pose,
               std::vector<Vector3>& positions);
void SkinSource(const BakeProblem& problem, size_t pose, std::vector<Vector3>& positions);

}  // namespace headless
