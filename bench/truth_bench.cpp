// The ground-truth cases (headless/job/ground_truth.h) swept over the correction's settings: per
// case the true error of skinning alone, of the default, of the true best and of the measures'
// choice, printed as the table the user guide shows; and what the pose guard costs of a run.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "bench/bench_support.h"
#include "bench/benchmarks.h"
#include "headless/batch/correction.h"
#include "headless/batch/pose_guard.h"
#include "headless/job/truth_sweep.h"

namespace bench {
namespace {

constexpr headless::TruthShape kCases[] = {
    headless::TruthShape::kLimb, headless::TruthShape::kTorus, headless::TruthShape::kSheet,
    headless::TruthShape::kScan};

std::ostringstream& Table() {
  static std::ostringstream table;
  return table;
}

void SweepCase(benchmark::State& state, headless::TruthShape shape, Int64 points) {
  Plugin();  // the corrections bind through the plug-in's tag and deformer
  for (auto _ : state) {
    const headless::TruthCase truth = headless::MakeTruthCase({shape, points, 90.0, 1});
    const headless::TruthSweep sweep =
        headless::SweepTruthCase(truth, headless::kDefaultPoseThreshold);
    headless::PrintTruthSweep(truth, sweep, std::cout);
    headless::PrintTruthTableRow(truth, sweep, Table());
  }
}

// The pose check of one frame beside the correction of one at the default rounds: the guard
// checks one frame in kPoseCheckEvery, so its share of a run is the ratio over that.
void PoseGuardShare(benchmark::State& state) {
  Plugin();
  const headless::TruthCase truth =
      headless::MakeTruthCase({headless::TruthShape::kLimb, 50000, 90.0, 1});
  headless::Correction correction("", truth.rest.points, truth.rest.polygons, {});
  const headless::PoseReference reference = headless::PreparePoseReference(truth.rest);
  for (auto _ : state) {
    using Clock = std::chrono::steady_clock;
    const auto start = Clock::now();
    for (int i = 0; i < 10; ++i) correction.Correct(std::span<const Vector3>(truth.skinned), "f");
    const auto corrected = Clock::now();
    for (int i = 0; i < 10; ++i)
      benchmark::DoNotOptimize(
          headless::MeasurePoseKept(reference, truth.skinned, correction.Result()));
    const auto checked = Clock::now();
    const double correct = std::chrono::duration<double>(corrected - start).count();
    const double check = std::chrono::duration<double>(checked - corrected).count();
    char line[200];
    std::snprintf(line, sizeof line,
                  "pose guard: one check %.2f ms, one correction at the default rounds %.2f ms: "
                  "%.1f%% of a run checking every %zu frames\n",
                  100.0 * check, 100.0 * correct,
                  100.0 * check / (correct * static_cast<double>(headless::kPoseCheckEvery)),
                  headless::kPoseCheckEvery);
    Table() << line;
  }
}

}  // namespace

void RegisterTruthBenchmarks() {
  for (headless::TruthShape shape : kCases)
    benchmark::RegisterBenchmark(
        (std::string("ground_truth/") + headless::TruthShapeName(shape)).c_str(),
        [shape](benchmark::State& state) { SweepCase(state, shape, 20000); })
        ->Iterations(1)
        ->Unit(benchmark::kSecond);
  benchmark::RegisterBenchmark("ground_truth/pose_guard_share", PoseGuardShare)->Iterations(1);
}

void PrintTruthSummary() {
  if (Table().str().empty()) return;
  std::cout << "\nGround truth (mean true error as a share of the detail's height; "
               "setting = rounds/weighting/pin):\n";
  headless::PrintTruthTableHeader(std::cout);
  std::cout << Table().str();
}

}  // namespace bench
