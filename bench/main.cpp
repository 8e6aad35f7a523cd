// Runs every benchmark, then prints the figures they recorded (medians) and, as the last lines,
// the ratios against the streaming floor, the peer and the baseline.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>

#include "bench/batch_bench.h"
#include "bench/bench_support.h"
#include "bench/benchmarks.h"
#include "headless/host/framework.h"

namespace {

double Ms(const std::string& figure) {
  return bench::Median(figure) * 1e3;
}

double Ratio(double a, double b) {
  return b > 0.0 ? a / b : 0.0;
}

void PrintSummary(bool haveOpenMesh) {
  using bench::Has;
  using bench::Median;
  std::printf("\nmedians (ms) on %d workers:\n", headless::WorkerCount());
  for (const char* mesh : {"torus100k", "torus1M", "torus4M", "limb"}) {
    const std::string m = mesh;
    std::printf(
        "  %-9s eval %8.2f  1-worker %8.2f  live tag %8.2f  floor %7.2f  minimal %7.2f"
        "  baseline %8.2f  peak %5.0f B/pt  faults/eval %.1f\n",
        mesh, Ms("eval:" + m + ":allworkers"), Ms("eval:" + m + ":1worker"), Ms("live:" + m),
        Ms("floor:" + m), Ms("minimalfloor:" + m), Ms("baseline:" + m),
        Median("peak:" + m + ":allworkers"), Median("faults:" + m + ":allworkers"));
    const std::string s = "stage:" + m + ":";
    std::printf(
        "            stages: adjacency %.2f  lists %.2f  compare %.2f  pass1 %.2f  pass2 %.2f"
        "  normals %.2f  frames+apply %.2f\n",
        Ms(s + "adjacency"), Ms(s + "lists"), Ms(s + "compare"), Ms(s + "pass1"), Ms(s + "pass2"),
        Ms(s + "normals"), Ms(s + "frames+apply"));
  }
  std::printf("  uniform pass torus1M: all workers %.2f, 1 worker %.2f, OpenMesh %s\n",
              Ms("uniform:torus1M:allworkers"), Ms("uniform:torus1M:1worker"),
              haveOpenMesh ? std::to_string(Ms("openmesh:torus1M")).c_str() : "not installed");
  std::printf("  1 worker and all workers bit-identical: torus1M %s, limb %s\n",
              Median("identical:torus1M") == 1.0 ? "yes" : "NO",
              Median("identical:limb") == 1.0 ? "yes" : "NO");
  std::printf("  result fingerprints: torus100k %.0f, torus1M %.0f, torus4M %.0f, limb %.0f\n",
              Median("fingerprint:torus100k"), Median("fingerprint:torus1M"),
              Median("fingerprint:torus4M"), Median("fingerprint:limb"));
  std::printf("  baseline vs plug-in, largest difference: torus1M %.3g, limb %.3g\n",
              Median("baselinediff:torus1M"), Median("baselinediff:limb"));

  // The ratios come from the side-by-side benchmarks, whose figures share every iteration.
  const double eval1M = Median("side:eval1M");
  std::printf(
      "\nside by side (ms): eval 1M %.2f, topology rebuilt %.2f, 1 worker %.2f, floor %.2f, "
      "minimal-traffic floor %.2f (%.0f B/pt), eval 4M %.2f, baseline %.2f\n",
      Ms("side:eval1M"), Ms("side:eval1Mrebuilt"), Ms("side:eval1M1worker"), Ms("side:floor1M"),
      Ms("side:minimal1M"), Median("minimalperpoint:torus1M"), Ms("side:eval4M"),
      Ms("side:baseline1M"));
  std::printf("\nratios (targets in brackets):\n");
  std::printf("evaluation 1M, topology kept (ms):          %6.2f  [<= 40]\n", eval1M * 1e3);
  std::printf("rebuilt / kept, 1M:                         %6.2f  [>= 2]\n",
              Ratio(Median("side:eval1Mrebuilt"), eval1M));
  std::printf("evaluation / minimal-traffic floor, 1M:     %6.2f  [<= 7]\n",
              Ratio(eval1M, Median("side:minimal1M")));
  std::printf("evaluation / peak-allocation floor, 1M:     %6.2f\n",
              Ratio(eval1M, Median("side:floor1M")));
  if (haveOpenMesh && Has("openmesh:torus1M"))
    std::printf(
        "OpenMesh pass / uniform pass, 1M, 1 worker: %6.2f  [>= 3] (all workers: %.2f "
        "[>= 4.5])\n",
        Ratio(Median("openmesh:torus1M"), Median("uniform:torus1M:1worker")),
        Ratio(Median("openmesh:torus1M"), Median("uniform:torus1M:allworkers")));
  else
    std::printf("OpenMesh pass / uniform pass, 1M:           n/a (OpenMesh not installed)\n");
  std::printf("straightforward / ours, 1M:                 %6.2f  [>= 10]\n",
              Ratio(Median("side:baseline1M"), eval1M));
  std::printf("2 workers speed-up over 1 worker, 1M:       %6.2f  [>= 1.85]\n",
              Ratio(Median("side:eval1M1worker"), eval1M));
  std::printf("4M / 1M:                                    %6.2f  [<= 4.2]\n",
              Ratio(Median("side:eval4M"), eval1M));
  std::printf("peak bytes per point, 1M, kept topology in: %6.0f  [<= 300]\n",
              Median("peak:torus1M:allworkers"));
  std::printf("page faults per steady-state eval, 1M:      %6.1f  [0] (4M: %.1f, limb %.1f)\n",
              Median("faults:torus1M:allworkers"), Median("faults:torus4M:allworkers"),
              Median("faults:limb:allworkers"));
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  bench::RegisterStageBenchmarks();
  bench::RegisterEvaluationBenchmarks();
  bench::RegisterBatchBenchmarks();
  const bool haveOpenMesh = bench::HaveOpenMesh();
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  PrintSummary(haveOpenMesh);
  bench::PrintBatchSummary();
  return 0;
}
