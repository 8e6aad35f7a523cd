// Each stage of one evaluation, timed on its own through the core's free routines bound to the
// headless host in process: adjacency, neighbour lists (both built only when the polygons
// change), the comparison of the polygons with the kept copy, each smoothing pass, face normals,
// and the frames built block by block and applied straight into the points. Also one uniform
// pass alone, on every worker and on one, for the comparison with OpenMesh's.
#include <benchmark/benchmark.h>

#include <cstring>
#include <map>
#include <span>
#include <vector>

#include "bench/bench_support.h"
#include "bench/benchmarks.h"
#include "bench/stage_floors.h"
#include "headless/entries/framework.h"
#include "headless/entries/host_table.h"
#include "host/binding/binding.h"
#include "host/binding/parallel.h"
#include "source/otessamire/apply.h"
#include "source/tessamireThreads/controller.h"
#include "source/tessamireThreads/frames.h"
#include "source/tessamireThreads/kept_topology.h"
#include "source/tessamireThreads/smoothing.h"

namespace bench {

namespace {

void BindInProcess() {
  HostBind(&headless::HostTableInstance(), &headless::FrameworkTableInstance());
}

// Buffers of one run held across iterations, so that the stages are timed on mapped memory.
struct StageBuffers {
  std::vector<Vector3> source, destination, normals, points;
  std::vector<Vector3> differences;
  std::vector<CPolygon> polygons;  // the kept copy the polygons are compared with
};

// The mesh's counts per point, for the stages' floors.
MeshShape ShapeOf(const Mesh& m, const NeighbourLists& lists) {
  const double points = static_cast<double>(m.points.size());
  double corners = 0.0;
  for (const CPolygon& p : m.polygons) corners += p.c == p.d ? 3.0 : 4.0;
  return {points, static_cast<double>(lists.start[static_cast<Int64>(m.points.size())]) / points,
          static_cast<double>(m.polygons.size()) / points, corners / points};
}

void Stages(benchmark::State& state, const std::string& mesh) {
  BindInProcess();
  const Mesh& m = RestMesh(mesh);
  const std::vector<Vector3>& posed = PosedPoints(mesh);
  const Int32 n = static_cast<Int32>(m.points.size());
  SmoothingSettings options;
  options.iterations = 2;
  options.weighting = kWeightingLength;
  StageBuffers b;
  b.source = posed;
  b.destination.resize(posed.size());
  b.normals.resize(m.polygons.size());
  b.points = posed;
  b.polygons = m.polygons;
  // Differences of a mesh at rest in frames of the same mesh are small offsets; any values do
  // for timing, these keep the decoded points finite.
  b.differences.assign(posed.size(), Vector3{0.01, -0.02, 0.03});

  const std::string p = "stage:" + mesh + ":";
  for (auto _ : state) {
    const Clock::time_point total = Clock::now();
    Clock::time_point t = Clock::now();
    AdjacencyOwner adjacency;
    if (!BuildAdjacency(m.polygons, n, adjacency)) state.SkipWithError("adjacency");
    Record(p + "adjacency", Seconds(t));

    t = Clock::now();
    NeighbourLists lists;
    BorderFlags border;
    if (!BuildNeighbourhoods(m.polygons, n, *adjacency.get(), lists, border))
      state.SkipWithError("neighbour lists");
    Record(p + "lists", Seconds(t));
    RecordShape(mesh, ShapeOf(m, lists));

    t = Clock::now();
    if (!SamePolygons(b.polygons, m.polygons)) state.SkipWithError("compare");
    Record(p + "compare", Seconds(t));

    // The first pass reads the points where they are, as in an evaluation.
    t = Clock::now();
    SmoothPass(b.points, b.destination, lists, border, options, {});
    Record(p + "pass1", Seconds(t));
    t = Clock::now();
    SmoothPass(b.destination, b.source, lists, border, options, {});
    Record(p + "pass2", Seconds(t));

    t = Clock::now();
    ComputeFaceNormals(b.source, m.polygons, b.normals);
    Record(p + "normals", Seconds(t));

    ApplyContext context;
    context.points = b.points;
    context.differences = b.differences;
    t = Clock::now();
    BuildFrameBlocks(b.source, m.polygons, b.normals, *adjacency.get(), ApplySink(context));
    Record(p + "frames+apply", Seconds(t));
    state.SetIterationTime(Seconds(total));
    benchmark::DoNotOptimize(b.points.data());
    std::memcpy(b.points.data(), posed.data(), posed.size() * sizeof(Vector3));
  }
  state.counters["points"] = n;
  for (const char* s :
       {"adjacency", "lists", "compare", "pass1", "pass2", "normals", "frames+apply"})
    state.counters[std::string(s) + "_ms"] = Median(p + s) * 1e3;
}

// Our uniform pass side by side with the peer's in every iteration, on one worker (the
// like-for-like figure: the peer runs on one thread) and on every worker.
void PassVersusPeer(benchmark::State& state, const std::string& mesh) {
  constexpr int kPasses = 4;
  for (auto _ : state) {
    const Clock::time_point total = Clock::now();
    headless::SetWorkerCount(1);
    Record("uniform:" + mesh + ":1worker", UniformPassSeconds(mesh, kPasses));
    headless::SetWorkerCount(0);
    Record("uniform:" + mesh + ":allworkers", UniformPassSeconds(mesh, kPasses));
    const double peer = OpenMeshPassSeconds(mesh, kPasses);
    if (peer >= 0.0) Record("openmesh:" + mesh, peer);
    state.SetIterationTime(Seconds(total));
  }
  Record("points:" + mesh, static_cast<double>(RestMesh(mesh).points.size()));
  state.counters["1worker_ms"] = Median("uniform:" + mesh + ":1worker") * 1e3;
  state.counters["allworkers_ms"] = Median("uniform:" + mesh + ":allworkers") * 1e3;
  state.counters["peer_ms"] = Median("openmesh:" + mesh) * 1e3;
}

}  // namespace

double UniformPassSeconds(const std::string& mesh, int passes) {
  // One uniform pass (strength 1, no pinning), the operation the peer's smoother also does, over
  // a topology built once per mesh.
  struct Pass {
    MeshTopology topology;
    std::vector<Vector3> a, b;
  };
  static std::map<std::string, Pass> built;
  BindInProcess();
  const Mesh& m = RestMesh(mesh);
  const Int32 n = static_cast<Int32>(m.points.size());
  auto it = built.find(mesh);
  if (it == built.end()) {
    it = built.emplace(mesh, Pass{}).first;
    if (!BuildMeshTopology(m.polygons, n, it->second.topology)) return 0.0;
    it->second.a = m.points;
    it->second.b.resize(m.points.size());
  }
  Pass& p = it->second;
  SmoothingSettings options;
  options.iterations = passes;
  options.weighting = kWeightingUniform;
  const Clock::time_point t = Clock::now();
  const std::span<Vector3> result =
      Smooth(p.a, p.b, p.topology.lists, p.topology.border, options, {});
  const double s = Seconds(t);
  benchmark::DoNotOptimize(result.data());
  p.a = m.points;
  return s / passes;
}

void RegisterStageBenchmarks() {
  for (const char* mesh : {"torus100k", "torus1M", "torus4M", "limb"}) {
    const int iterations = std::string(mesh) == "torus4M" ? 3 : 10;
    const std::string name = std::string("Stages/") + mesh;
    benchmark::RegisterBenchmark(name.c_str(),
                                 Watched(name, [mesh](benchmark::State& s) { Stages(s, mesh); }))
        ->Iterations(iterations)
        ->UseManualTime()
        ->Unit(benchmark::kMillisecond);
  }
  benchmark::RegisterBenchmark("UniformPassVersusPeer/torus1M",
                               Watched("UniformPassVersusPeer/torus1M",
                                       [](benchmark::State& s) { PassVersusPeer(s, "torus1M"); }))
      ->Iterations(15)
      ->UseManualTime()
      ->Unit(benchmark::kMillisecond);
}

}  // namespace bench
