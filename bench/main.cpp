// Runs every benchmark, then prints the figures they recorded (medians) and, as the last lines,
// the ratios against the streaming floor, the peer and the baseline.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "bench/batch_bench.h"
#include "bench/bench_support.h"
#include "bench/benchmarks.h"
#include "bench/stage_floors.h"
#include "headless/entries/framework.h"
#include "source/tessamireThreads/lane_kernels.h"

namespace {

double Ms(const std::string& figure) {
  return bench::Median(figure) * 1e3;
}

double Ratio(double a, double b) {
  return b > 0.0 ? a / b : 0.0;
}

// Whether the one-worker result of a mesh had the all-worker result's bits.
const char* Identical(const std::string& mesh) {
  if (!bench::Has("identical:" + mesh)) return "not compared";
  return bench::Median("identical:" + mesh) == 1.0 ? "yes" : "NO";
}

// Evaluations per second of every rig row that ran.
void PrintRigTable() {
  bool any = false;
  for (const char* kind : {"torus", "limb"}) {
    for (const char* size : bench::kRigSizes) {
      const std::string mesh = std::string(kind) + size;
      for (Int32 rounds : bench::kRigRounds) {
        const std::string one = bench::RigFigure(mesh, rounds, 1);
        const std::string all = bench::RigFigure(mesh, rounds, 0);
        if (!bench::Has(one)) continue;
        if (!any)
          std::printf(
              "\nevaluations per second (topology kept; median):\n"
              "  mesh       passes  1 worker  %d workers\n",
              headless::WorkerCount());
        any = true;
        std::printf("  %-10s %6d  %8.1f  %9.1f%s\n", mesh.c_str(), rounds,
                    Ratio(1.0, bench::Median(one)), Ratio(1.0, bench::Median(all)),
                    bench::BusyMark("Rig/" + mesh).c_str());
      }
    }
  }
}

// The rig of many small meshes: frames of them all per second, and what a mesh and a point cost
// there beside the same torus alone at 10,000 points.
void PrintManyMeshes() {
  if (!bench::Has("rigmany:all")) return;
  const double points = 10000.0 * bench::kRigMeshes;
  std::printf(
      "\nrig of %d meshes of 10,000 points (2 passes), evaluations of the whole rig per second: "
      "1 worker %.1f, %d workers %.1f (%.1f us a mesh, %.1f ns a point; one torus10k alone: "
      "%.1f ns a point)%s\n",
      bench::kRigMeshes, Ratio(1.0, bench::Median("rigmany:1")), headless::WorkerCount(),
      Ratio(1.0, bench::Median("rigmany:all")),
      bench::Median("rigmany:all") / bench::kRigMeshes * 1e6,
      bench::Median("rigmany:all") / points * 1e9,
      bench::Median(bench::RigFigure("torus10k", 2, 0)) / 10000.0 * 1e9,
      bench::BusyMark("Rig/30xtorus10k").c_str());
}

// The machine during every group: whether other work shared it.
void PrintMachine() {
  std::printf(
      "\nmachine during each group (load average before -> after, share stolen, share "
      "taken by other processes):\n");
  for (const auto& [group, share] : bench::WatchedGroups())
    std::printf("  %-40s %5.2f -> %5.2f  stolen %4.1f%%  others %3.0f%%%s\n", group.c_str(),
                share.loadBefore, share.loadAfter, 100.0 * share.stolen, 100.0 * share.others,
                share.Busy() ? "  BUSY" : "");
}

// Both uniform passes of torus1M in ns per point, so that the ratio can be read on any machine.
void PrintPeerPass(bool haveOpenMesh) {
  const double points = bench::Median("points:torus1M");
  const auto ns = [points](const std::string& figure) {
    return Ratio(bench::Median(figure), points) * 1e9;
  };
  std::printf("  uniform pass torus1M (ns per point): all workers %.2f, 1 worker %.2f, OpenMesh ",
              ns("uniform:torus1M:allworkers"), ns("uniform:torus1M:1worker"));
  if (haveOpenMesh)
    std::printf("%.2f (1 worker)\n", ns("openmesh:torus1M"));
  else
    std::printf("not installed\n");
}

// Each worker's time in the side-by-side 1M evaluations: inside loop chunks (busy), in loops but
// not in a chunk (waiting to be woken or for the others to finish), and outside any loop.
void PrintWorkerSplit() {
  using bench::Median;
  if (!bench::Has("side:loops:all")) return;
  std::printf(
      "\nworkers in the side-by-side 1M evaluation (ms; busy: in loop chunks; waiting: in a loop "
      "but not in a chunk; serial: outside loops, on one worker):\n");
  double busyTotal[2] = {0.0, 0.0};
  int row = 0;
  for (const char* label : {"all", "1"}) {
    const std::string l = label;
    const double eval = Median(l == "all" ? "side:eval1M" : "side:eval1M1worker");
    const double loops = Median("side:loops:" + l);
    const int workers = static_cast<int>(Median("side:workers:" + l));
    std::printf("  %d worker%s: eval %.2f, in loops %.2f, serial %.2f;", workers,
                workers == 1 ? " " : "s", eval * 1e3, loops * 1e3, (eval - loops) * 1e3);
    for (int k = 0; k < workers; ++k) {
      const double busy = Median("side:busy:" + l + ":" + std::to_string(k));
      busyTotal[row] += busy;
      std::printf("  worker %d busy %.2f waiting %.2f", k, busy * 1e3, (loops - busy) * 1e3);
    }
    std::printf("\n");
    ++row;
  }
  // With little waiting, a speed-up short of the worker count means the work itself slowed when
  // the workers shared the machine: the memory's (or the cores' shared units'), not idleness.
  std::printf(
      "  busy time of all workers together / of 1 worker: %.2f (1.00: the work did not slow)\n",
      Ratio(busyTotal[0], busyTotal[1]));
}

void PrintSummary(bool haveOpenMesh) {
  using bench::BusyMark;
  using bench::Has;
  using bench::Median;
  bench::PrintLaneKernels();
  std::printf(
      "\nmedians (ms) on %d workers; stages in %d-bit lanes, evaluations in the plug-in's "
      "widest:\n",
      headless::WorkerCount(), 64 * static_cast<int>(ActiveLaneWidth()));
  for (const char* mesh : {"torus100k", "torus1M", "torus4M", "limb"}) {
    const std::string m = mesh;
    std::printf(
        "  %-9s eval %8.2f  1-worker %8.2f  live tag %8.2f  floor %7.2f  minimal %7.2f"
        "  baseline %8.2f  peak %5.0f B/pt  faults/eval %.1f%s\n",
        mesh, Ms("eval:" + m + ":allworkers"), Ms("eval:" + m + ":1worker"), Ms("live:" + m),
        Ms("floor:" + m), Ms("minimalfloor:" + m), Ms("baseline:" + m),
        Median("peak:" + m + ":allworkers"), Median("faults:" + m + ":allworkers"),
        (bench::BusyMark("Evaluate/" + m + "/allworkers") +
         bench::BusyMark("Evaluate/" + m + "/1worker"))
            .c_str());
    const std::string s = "stage:" + m + ":";
    std::printf(
        "            stages: adjacency %.2f  lists %.2f  compare %.2f  pass1 %.2f  pass2 %.2f"
        "  normals %.2f  frames+apply %.2f%s\n",
        Ms(s + "adjacency"), Ms(s + "lists"), Ms(s + "compare"), Ms(s + "pass1"), Ms(s + "pass2"),
        Ms(s + "normals"), Ms(s + "frames+apply"), bench::BusyMark("Stages/" + m).c_str());
    bench::PrintStageFloors(m, headless::WorkerCount());
  }
  PrintPeerPass(haveOpenMesh);
  std::printf("  1 worker and all workers bit-identical: torus1M %s, limb %s\n",
              Identical("torus1M"), Identical("limb"));
  std::printf("  result fingerprints: torus100k %.0f, torus1M %.0f, torus4M %.0f, limb %.0f\n",
              Median("fingerprint:torus100k"), Median("fingerprint:torus1M"),
              Median("fingerprint:torus4M"), Median("fingerprint:limb"));
  std::printf("  baseline vs plug-in, largest difference: torus1M %.3g, limb %.3g\n",
              Median("baselinediff:torus1M"), Median("baselinediff:limb"));

  // The figures a change must keep: the results of the evaluations before any of these
  // optimisations, bit for bit.
  const struct {
    const char* mesh;
    double fingerprint;
  } kExpected[] = {{"torus100k", 773528937806693.0},
                   {"torus1M", 1114607447190206.0},
                   {"torus4M", 2188375847463208.0},
                   {"limb", 1558478174630997.0}};
  for (const auto& e : kExpected) {
    const std::string f = std::string("fingerprint:") + e.mesh;
    if (Has(f))
      std::printf("  fingerprint %-9s %s\n", e.mesh,
                  Median(f) == e.fingerprint ? "as before" : "CHANGED: the results differ");
  }

  PrintRigTable();
  PrintManyMeshes();

  // The ratios come from the side-by-side benchmarks, whose figures share every iteration.
  const double eval1M = Median("side:eval1M");
  const std::string side = BusyMark("SideBySide/torus1M+torus4M");
  std::printf(
      "\nside by side (ms)%s: eval 1M %.2f, topology rebuilt %.2f, 1 worker %.2f, floor %.2f, "
      "minimal-traffic floor %.2f (%.0f B/pt), eval 4M %.2f, baseline %.2f\n",
      side.c_str(), Ms("side:eval1M"), Ms("side:eval1Mrebuilt"), Ms("side:eval1M1worker"),
      Ms("side:floor1M"), Ms("side:minimal1M"), Median("minimalperpoint:torus1M"),
      Ms("side:eval4M"), Ms("side:baseline1M"));
  PrintWorkerSplit();
  std::printf(
      "\nratios (targets in brackets; [busy]: taken while other work held the machine, "
      "no evidence either way):\n");
  std::printf("evaluation 1M, topology kept (ms):          %6.2f%s\n", eval1M * 1e3, side.c_str());
  std::printf("evaluation / minimal-traffic floor, 1M:     %6.2f  [<= 5]%s\n",
              Ratio(eval1M, Median("side:minimal1M")), side.c_str());
  std::printf("evaluation / peak-allocation floor, 1M:     %6.2f%s\n",
              Ratio(eval1M, Median("side:floor1M")), side.c_str());
  std::printf("2 workers speed-up over 1 worker, 1M:       %6.2f  [>= 1.85]%s\n",
              Ratio(Median("side:eval1M1worker"), eval1M), side.c_str());
  const std::string peer = BusyMark("UniformPassVersusPeer/torus1M");
  if (haveOpenMesh && Has("openmesh:torus1M"))
    std::printf("OpenMesh pass / uniform pass, 1M, 1 worker: %6.2f  [>= 4] (all workers: %.2f)%s\n",
                Ratio(Median("openmesh:torus1M"), Median("uniform:torus1M:1worker")),
                Ratio(Median("openmesh:torus1M"), Median("uniform:torus1M:allworkers")),
                peer.c_str());
  else
    std::printf("OpenMesh pass / uniform pass, 1M:           n/a (OpenMesh not installed)\n");
  std::printf("adjacency + neighbour lists, 1M (ms):       %6.2f  [<= 30] (%.2f + %.2f)%s\n",
              Ms("stage:torus1M:adjacency") + Ms("stage:torus1M:lists"),
              Ms("stage:torus1M:adjacency"), Ms("stage:torus1M:lists"),
              BusyMark("Stages/torus1M").c_str());
  std::printf("rebuilt / kept, 1M:                         %6.2f%s\n",
              Ratio(Median("side:eval1Mrebuilt"), eval1M), side.c_str());
  std::printf("straightforward / ours, 1M:                 %6.2f  [>= 10]%s\n",
              Ratio(Median("side:baseline1M"), eval1M), side.c_str());
  std::printf("4M / 1M:                                    %6.2f  [<= 4.1]%s\n",
              Ratio(Median("side:eval4M"), eval1M), side.c_str());
  std::printf("peak bytes per point, 1M, kept topology in: %6.0f  [<= 160]\n",
              Median("peak:torus1M:allworkers"));
  std::printf("page faults per steady-state eval, 1M:      %6.1f  [0] (4M: %.1f, limb %.1f)\n",
              Median("faults:torus1M:allworkers"), Median("faults:torus4M:allworkers"),
              Median("faults:limb:allworkers"));
  PrintMachine();
}

// Takes --lanes=128, 256 or 512 out of the arguments and forces that width on the core linked
// into the bench (its stages and kernels; the loaded plug-in runs the widest it has). False,
// saying why, on a value that is no width or a width the processor or build lacks.
bool TakeLanesFlag(int& argc, char** argv) {
  constexpr const char* kFlag = "--lanes=";
  int kept = 1;
  bool ok = true;
  for (int i = 1; i < argc; ++i) {
    if (std::strncmp(argv[i], kFlag, std::strlen(kFlag)) != 0) {
      argv[kept++] = argv[i];
      continue;
    }
    const std::string bits = argv[i] + std::strlen(kFlag);
    const LaneWidth width = bits == "128"   ? LaneWidth::kPairs
                            : bits == "256" ? LaneWidth::kWide
                                            : LaneWidth::kWide512;
    if (bits != "128" && bits != "256" && bits != "512") {
      std::fprintf(stderr, "--lanes=%s: the lane width is 128, 256 or 512 bits\n", bits.c_str());
      ok = false;
    } else if (ForceLaneWidth(width) != width) {
      std::fprintf(stderr, "--lanes=%s: this processor or build has no %s-bit lanes\n",
                   bits.c_str(), bits.c_str());
      ok = false;
    }
  }
  argc = kept;
  argv[argc] = nullptr;
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (!TakeLanesFlag(argc, argv)) return 1;
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  // The batch group first: the groups of millions of points free gigabytes, which a virtual
  // machine may hand back to its host, and the batch runs' fresh pages then come back slowly.
  bench::RegisterBatchBenchmarks();
  bench::RegisterFloorBenchmarks();
  bench::RegisterStageBenchmarks();
  bench::RegisterEvaluationBenchmarks();
  bench::RegisterRigBenchmarks();
  bench::RegisterCharacterBenchmarks();
  bench::RegisterTruthBenchmarks();
  bench::RegisterBakeBenchmarks();
  const bool haveOpenMesh = bench::HaveOpenMesh();
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  PrintSummary(haveOpenMesh);
  bench::PrintBatchSummary();
  bench::PrintCharacterSummary();
  bench::PrintTruthSummary();
  bench::PrintBakeSummary();
  return 0;
}
