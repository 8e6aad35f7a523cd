// Frames per second at rig sizes: whole evaluations through the loaded plug-in (the deform pass of
// a bound object, topology kept) of tori and limbs of 10,000 to 1,000,000 points, with the tag at
// its defaults (2 passes) and with 16 passes, on one worker and on all.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "bench/bench_support.h"
#include "bench/benchmarks.h"
#include "headless/entries/framework.h"
#include "headless/scene/deform.h"

namespace bench {

namespace {

// Evaluations of one scene for at least this long (and at least kLeastEvaluations of them).
constexpr double kLeastSeconds = 0.25;
constexpr int kLeastEvaluations = 3;

void Rig(benchmark::State& state, const std::string& mesh) {
  for (auto _ : state) {
    const Clock::time_point total = Clock::now();
    for (Int32 rounds : kRigRounds) {
      const BoundScene scene = BindWithRounds(mesh, rounds);
      for (Int32 workers : {1, 0}) {
        headless::SetWorkerCount(workers);
        // The first evaluation builds and keeps the topology; the rest are a playing rig's.
        if (!headless::DeformDocument(*scene.doc).Ok()) state.SkipWithError("the deform failed");
        const std::string figure = RigFigure(mesh, rounds, workers);
        const Clock::time_point start = Clock::now();
        for (int n = 0; n < kLeastEvaluations || Seconds(start) < kLeastSeconds; ++n) {
          const Clock::time_point t = Clock::now();
          if (!headless::DeformDocument(*scene.doc).Ok()) state.SkipWithError("the deform failed");
          Record(figure, Seconds(t));
        }
      }
      headless::SetWorkerCount(0);
    }
    state.SetIterationTime(Seconds(total));
  }
}

// A rig of many small meshes: kRigMeshes tori of 10,000 points, each its own bound object at the
// tag's defaults, all evaluated for every frame, so that the fixed cost of a mesh's evaluation
// shows beside the cost of its points.
void ManyMeshes(benchmark::State& state) {
  std::vector<BoundScene> scenes;
  for (int k = 0; k < kRigMeshes; ++k) scenes.push_back(BindWithRounds("torus10k", 2));
  const auto frame = [&] {
    for (BoundScene& scene : scenes)
      if (!headless::DeformDocument(*scene.doc).Ok()) state.SkipWithError("the deform failed");
  };
  for (auto _ : state) {
    const Clock::time_point total = Clock::now();
    for (Int32 workers : {1, 0}) {
      headless::SetWorkerCount(workers);
      frame();  // the first frame builds and keeps each topology
      const Clock::time_point start = Clock::now();
      for (int n = 0; n < kLeastEvaluations || Seconds(start) < kLeastSeconds; ++n) {
        const Clock::time_point t = Clock::now();
        frame();
        Record(workers == 1 ? "rigmany:1" : "rigmany:all", Seconds(t));
      }
    }
    headless::SetWorkerCount(0);
    state.SetIterationTime(Seconds(total));
  }
}

}  // namespace

std::string RigFigure(const std::string& mesh, Int32 rounds, Int32 workers) {
  return "rig:" + mesh + ":" + std::to_string(rounds) + ":" + (workers == 1 ? "1" : "all");
}

void RegisterRigBenchmarks() {
  benchmark::RegisterBenchmark("Rig/30xtorus10k", Watched("Rig/30xtorus10k", ManyMeshes))
      ->Iterations(1)
      ->UseManualTime()
      ->Unit(benchmark::kMillisecond);
  for (const char* kind : {"torus", "limb"}) {
    for (const char* size : kRigSizes) {
      const std::string mesh = std::string(kind) + size;
      benchmark::RegisterBenchmark(
          ("Rig/" + mesh).c_str(),
          Watched("Rig/" + mesh, [mesh](benchmark::State& s) { Rig(s, mesh); }))
          ->Iterations(1)
          ->UseManualTime()
          ->Unit(benchmark::kMillisecond);
    }
  }
}

}  // namespace bench
