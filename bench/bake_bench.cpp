// The bake on the large scan-like character (headless/job/scan_character.h: about 30,000 points,
// three joints, the elbow bent through 90 degrees over 24 frames): one whole `bake --report`
// (the correction of every frame, the solve on all frames and the second solve without every
// 4th), timed, with the share of the correction it recovers on the held-out frames.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>

#include <unistd.h>

#include "bench/bench_support.h"
#include "bench/benchmarks.h"
#include "headless/characters/character.h"
#include "headless/job/bake_character.h"
#include "headless/job/scan_character.h"

namespace bench {
namespace {

namespace fs = std::filesystem;

constexpr Int64 kBakePoints = 30000;

void BakeScan(benchmark::State& state) {
  const fs::path folder =
      fs::temp_directory_path() / ("tessamire_bake_" + std::to_string(getpid()));
  fs::create_directories(folder);
  const fs::path source = folder / "scan.glb";
  Plugin();  // the correction runs through the loaded plug-in
  headless::WriteScanCharacter({kBakePoints, 3, 90.0, 24, 1}, source.string());
  headless::BakeRequest request;
  request.correct.eval.source = source.string();
  request.correct.eval.command = "tessamire bake";
  request.report = true;
  request.out = (folder / "baked.glb").string();
  for (auto _ : state) {
    const auto start = std::chrono::steady_clock::now();
    try {
      const headless::BakeResult result = headless::BakeCharacter(request, {});
      Record("bake:held-out recovered", result.heldOut ? result.heldOut->recovered : 0.0);
      Record("bake:fit recovered", result.fit.recovered);
    } catch (const std::exception& e) {
      state.SkipWithError(e.what());
      break;
    }
    state.SetIterationTime(
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
  }
  fs::remove_all(folder);
}

}  // namespace

void RegisterBakeBenchmarks() {
  if (!headless::CharacterImportAvailable()) return;
  benchmark::RegisterBenchmark("bake/scan_30k_report", Watched("bake/scan_30k_report", BakeScan))
      ->Iterations(1)
      ->UseManualTime()
      ->Unit(benchmark::kMillisecond);
}

void PrintBakeSummary() {
  std::printf(
      "\nbake: the %lld-point scan-like character, 3 joints, 24 frames: share of the correction "
      "recovered on the held-out frames %.1f%% (all frames %.1f%%)%s\n",
      static_cast<long long>(kBakePoints), 100.0 * Median("bake:held-out recovered"),
      100.0 * Median("bake:fit recovered"), BusyMark("bake/scan_30k_report").c_str());
}

}  // namespace bench
