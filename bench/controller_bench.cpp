// Each stage of one controller run, timed on its own through the core's free routines bound to
// the headless host in process: adjacency, neighbour lists, each smoothing pass, origins, face
// normals, vertex frames, the copy into the caller's buffer, and the deformer's apply step. Also
// one uniform pass alone, on every worker and on one, for the comparison with OpenMesh's.
#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

#include "bench/bench_support.h"
#include "bench/benchmarks.h"
#include "headless/host/framework.h"
#include "headless/host/host_table.h"
#include "host/binding.h"
#include "host/parallel.h"
#include "source/otessamire/apply.h"
#include "source/tessamireThreads/controller.h"
#include "source/tessamireThreads/frames.h"
#include "source/tessamireThreads/smoothing.h"

namespace bench {

namespace {

void BindInProcess() {
  HostBind(&headless::HostTableInstance(), &headless::FrameworkTableInstance());
}

// Buffers of one run held across iterations, so that the stages are timed on mapped memory.
struct StageBuffers {
  std::vector<Vector3> source, destination, normals, points;
  std::vector<Frame> frames, callerFrames;
  std::vector<Vector3> differences;
};

void Stages(benchmark::State& state, const std::string& mesh) {
  BindInProcess();
  const Mesh& m = RestMesh(mesh);
  const std::vector<Vector3>& posed = PosedPoints(mesh);
  const Int32 n = static_cast<Int32>(m.points.size());
  const Int32 pc = static_cast<Int32>(m.polygons.size());
  SmoothingSettings options;
  options.iterations = 2;
  options.weighting = kWeightingLength;
  StageBuffers b;
  b.source = posed;
  b.destination.resize(posed.size());
  b.normals.resize(m.polygons.size());
  b.points = posed;
  b.frames.resize(posed.size());
  b.callerFrames.resize(posed.size());
  // Differences of a mesh at rest in frames of the same mesh are small offsets; any values do
  // for timing, these keep the decoded points finite.
  b.differences.assign(posed.size(), Vector3{0.01, -0.02, 0.03});

  const std::string p = "stage:" + mesh + ":";
  for (auto _ : state) {
    const Clock::time_point total = Clock::now();
    Clock::time_point t = Clock::now();
    AdjacencyOwner adjacency;
    if (!BuildAdjacency(m.polygons.data(), pc, n, adjacency)) state.SkipWithError("adjacency");
    Record(p + "adjacency", Seconds(t));

    t = Clock::now();
    NeighbourLists lists;
    BorderFlags border;
    if (!BuildNeighbourhoods(m.polygons.data(), pc, n, *adjacency.get(), lists, border))
      state.SkipWithError("neighbour lists");
    Record(p + "lists", Seconds(t));

    std::memcpy(b.source.data(), posed.data(), posed.size() * sizeof(Vector3));
    t = Clock::now();
    SmoothPass(b.source.data(), b.destination.data(), n, lists, border, options, nullptr);
    Record(p + "pass1", Seconds(t));
    t = Clock::now();
    SmoothPass(b.destination.data(), b.source.data(), n, lists, border, options, nullptr);
    Record(p + "pass2", Seconds(t));

    t = Clock::now();
    ComputeOrigins(b.source.data(), n, b.frames.data());
    Record(p + "origins", Seconds(t));
    t = Clock::now();
    ComputeFaceNormals(b.source.data(), m.polygons.data(), pc, b.normals.data());
    Record(p + "normals", Seconds(t));
    t = Clock::now();
    ComputeVertexFrames(b.source.data(), m.polygons.data(), n, b.normals.data(), *adjacency.get(),
                        b.frames.data());
    Record(p + "frames", Seconds(t));
    t = Clock::now();
    std::memcpy(b.callerFrames.data(), b.frames.data(), b.frames.size() * sizeof(Frame));
    Record(p + "copy", Seconds(t));

    ApplyContext context;
    context.points = b.points.data();
    context.frames = b.callerFrames.data();
    context.differences = b.differences.data();
    t = Clock::now();
    ParallelFor(n, [&context](Int64 i) { ApplyPoint(context, i); });
    Record(p + "apply", Seconds(t));
    state.SetIterationTime(Seconds(total));
    benchmark::DoNotOptimize(b.points.data());
  }
  state.counters["points"] = n;
  for (const char* s :
       {"adjacency", "lists", "pass1", "pass2", "origins", "normals", "frames", "copy", "apply"})
    state.counters[std::string(s) + "_ms"] = Median(p + s) * 1e3;
}

// One uniform pass (strength 1, no pinning), the operation OpenMesh's smoother also does.
void UniformPass(benchmark::State& state, const std::string& mesh, Int32 workers) {
  BindInProcess();
  headless::SetWorkerCount(workers);
  const Mesh& m = RestMesh(mesh);
  const Int32 n = static_cast<Int32>(m.points.size());
  AdjacencyOwner adjacency;
  NeighbourLists lists;
  BorderFlags border;
  if (!BuildAdjacency(m.polygons.data(), static_cast<Int32>(m.polygons.size()), n, adjacency) ||
      !BuildNeighbourhoods(m.polygons.data(), static_cast<Int32>(m.polygons.size()), n,
                           *adjacency.get(), lists, border))
    state.SkipWithError("topology");
  SmoothingSettings options;
  options.iterations = 1;
  options.weighting = kWeightingUniform;
  std::vector<Vector3> source = m.points, destination(m.points.size());
  const std::string figure = "uniform:" + mesh + (workers == 1 ? ":1worker" : ":allworkers");
  for (auto _ : state) {
    const Clock::time_point t = Clock::now();
    SmoothPass(source.data(), destination.data(), n, lists, border, options, nullptr);
    const double s = Seconds(t);
    Record(figure, s);
    state.SetIterationTime(s);
    benchmark::DoNotOptimize(destination.data());
  }
  headless::SetWorkerCount(0);
  state.counters["points/s"] =
      benchmark::Counter(static_cast<double>(n), benchmark::Counter::kIsIterationInvariantRate);
}

}  // namespace

void RegisterStageBenchmarks() {
  for (const char* mesh : {"torus100k", "torus1M", "torus4M", "limb"}) {
    const int iterations = std::string(mesh) == "torus4M" ? 3 : 10;
    benchmark::RegisterBenchmark((std::string("Stages/") + mesh).c_str(),
                                 [mesh](benchmark::State& s) { Stages(s, mesh); })
        ->Iterations(iterations)
        ->UseManualTime()
        ->Unit(benchmark::kMillisecond);
  }
  for (Int32 workers : {0, 1}) {
    benchmark::RegisterBenchmark(
        (std::string("UniformPass/torus1M/") + (workers == 1 ? "1worker" : "allworkers")).c_str(),
        [workers](benchmark::State& s) { UniformPass(s, "torus1M", workers); })
        ->Iterations(20)
        ->UseManualTime()
        ->Unit(benchmark::kMillisecond);
  }
}

}  // namespace bench
