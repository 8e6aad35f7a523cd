// The ground-truth cases (headless/job/ground_truth.h) swept over the correction's settings: per
// case the true error of skinning alone, of the default, of the true best and of the measures'
// choice, printed as the table the user guide shows; what the pose guard costs of a run; and
// `tune`'s time on a mesh of 200,000 points.
#include <benchmark/benchmark.h>

#include <algorithm>
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
#include "headless/job/tune.h"

namespace bench {
namespace {

constexpr headless::TruthShape kCases[] = {
    headless::TruthShape::kLimb, headless::TruthShape::kTorus, headless::TruthShape::kSheet,
    headless::TruthShape::kScan};

std::ostringstream& Table() {
  static std::ostringstream table;
  return table;
}

// The lines printed after the table: the pose guard's share, tune's time.
std::ostringstream& Lines() {
  static std::ostringstream lines;
  return lines;
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
  headless::PoseRoom room;  // kept between checks, as the guard keeps it
  for (auto _ : state) {
    using Clock = std::chrono::steady_clock;
    const auto start = Clock::now();
    for (int i = 0; i < 10; ++i) correction.Correct(std::span<const Vector3>(truth.skinned), "f");
    const auto corrected = Clock::now();
    for (int i = 0; i < 10; ++i)
      benchmark::DoNotOptimize(
          headless::MeasurePoseKept(reference, truth.skinned, correction.Result(), room));
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
    Lines() << line;
  }
}

// `tune` as `tessamire tune --rest` runs it on the limb of 200,000 points bent to 30, 90 and 60
// degrees: the sweep on the most deformed kTuneSampleFrames (all three), its time in all and per
// evaluation (the mean, and the slowest setting's).
constexpr Int64 kTunePoints = 200000;

void TuneLarge(benchmark::State& state) {
  Plugin();
  std::vector<std::vector<Vector3>> frames;
  std::vector<std::string> names;
  headless::Mesh rest;
  for (const Float bend : {30.0, 90.0, 60.0}) {
    headless::TruthCase truth =
        headless::MakeTruthCase({headless::TruthShape::kLimb, kTunePoints, bend, 1});
    frames.push_back(std::move(truth.skinned));
    names.push_back("bent " + std::to_string(static_cast<int>(bend)));
    rest = std::move(truth.rest);
  }
  for (auto _ : state) {
    const Clock::time_point t = Clock::now();
    const headless::TuneResult result =
        headless::TuneMesh("limb", rest, {}, frames, names, headless::kDefaultPoseThreshold);
    const double all = Seconds(t);
    double sum = 0.0, slowest = 0.0;
    for (const headless::SweepScore& s : result.scores) {
      sum += s.seconds;
      slowest = std::max(slowest, s.seconds);
    }
    const size_t evaluations = result.scores.size() * result.sample.size();
    char line[300];
    std::snprintf(line, sizeof line,
                  "tune: the limb of %zu points, %zu settings on %zu frames (%zu evaluations): "
                  "%.1f s in all, %.1f ms per evaluation (the slowest setting %.1f ms), "
                  "recommended %s\n",
                  rest.points.size(), result.scores.size(), result.sample.size(), evaluations, all,
                  1e3 * sum / static_cast<double>(result.scores.size()), 1e3 * slowest,
                  headless::SettingText(result.scores[result.recommended].setting).c_str());
    Lines() << line;
    std::cout << line;
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
  benchmark::RegisterBenchmark("tune/limb_200000", TuneLarge)
      ->Iterations(1)
      ->Unit(benchmark::kSecond);
}

void PrintTruthSummary() {
  if (!Table().str().empty()) {
    std::cout << "\nGround truth (mean true error as a share of the detail's height; "
                 "setting = rounds/weighting/pin):\n";
    headless::PrintTruthTableHeader(std::cout);
    std::cout << Table().str();
  }
  std::cout << Lines().str();
}

}  // namespace bench
