// One controller run (2 length-weighted passes) on a closed quad torus, in points per second,
// with the time of each stage and the ratio of the run's time to streaming its working set once
// through memory, measured in the same process.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <memory>
#include <vector>

#include "headless/framework.h"
#include "headless/host_table.h"
#include "headless/scene.h"
#include "host/binding.h"
#include "source/tessamireThreads/controller.h"
#include "source/tessamireThreads/frames.h"

namespace {

using Clock = std::chrono::steady_clock;

Float Seconds(Clock::time_point from) {
  return std::chrono::duration<Float>(Clock::now() - from).count();
}

// A closed torus of u by v quads: every point has four edge neighbours.
void Torus(Int32 u, Int32 v, std::vector<Vector3>& points, std::vector<CPolygon>& polygons) {
  const Float twoPi = 6.283185307179586;
  points.clear();
  polygons.clear();
  for (Int32 i = 0; i < u; ++i) {
    for (Int32 j = 0; j < v; ++j) {
      const Float a = twoPi * i / u;
      const Float b = twoPi * j / v;
      const Float r = 3.0 + std::cos(b);
      points.push_back({r * std::cos(a), r * std::sin(a), std::sin(b)});
    }
  }
  for (Int32 i = 0; i < u; ++i)
    for (Int32 j = 0; j < v; ++j)
      polygons.push_back(
          {i * v + j, ((i + 1) % u) * v + j, ((i + 1) % u) * v + (j + 1) % v, i * v + (j + 1) % v});
}

// a[i] = b[i] + s * c[i] over three arrays of `bytes` in total, spread over the framework's
// workers like the run's loops; the best of `repeats` in seconds.
Float TriadSeconds(Int64 bytes, Int32 repeats) {
  const Int64 n = std::max<Int64>(1, bytes / (3 * static_cast<Int64>(sizeof(Float))));
  std::vector<Float> a(static_cast<size_t>(n)), b(static_cast<size_t>(n), 1.0),
      c(static_cast<size_t>(n), 2.0);
  struct Arrays {
    Float* a;
    const Float* b;
    const Float* c;
  } arrays{a.data(), b.data(), c.data()};
  Float best = 1e300;
  for (Int32 r = 0; r < repeats; ++r) {
    const Clock::time_point start = Clock::now();
    headless::ParallelFor(n, 4096, &arrays, [](void* context, Int64 begin, Int64 end) {
      const Arrays& x = *static_cast<const Arrays*>(context);
      for (Int64 i = begin; i < end; ++i) x.a[i] = x.b[i] + 3.0 * x.c[i];
    });
    best = std::min(best, Seconds(start));
    benchmark::DoNotOptimize(a.data());
  }
  return best;
}

struct StageTimes {
  Float adjacency = 0, lists = 0, pass1 = 0, pass2 = 0, origins = 0, normals = 0, frames = 0;
};

// The stages of a run called one by one, each timed; the bench's own copy of the run's order.
StageTimes TimeStages(const std::vector<Vector3>& points, const std::vector<CPolygon>& polygons,
                      const SmoothOptions& options) {
  StageTimes t;
  const Int32 n = static_cast<Int32>(points.size());
  const Int32 m = static_cast<Int32>(polygons.size());
  std::vector<Vector3> source = points, destination(points.size()), normals(polygons.size());
  std::vector<Frame> frames(points.size());

  Clock::time_point start = Clock::now();
  AdjacencyOwner adjacency;
  if (!BuildAdjacency(polygons.data(), m, n, adjacency)) return t;
  t.adjacency = Seconds(start);

  start = Clock::now();
  NeighbourLists lists;
  BorderFlags border;
  if (!BuildNeighbourhoods(polygons.data(), m, n, *adjacency.get(), lists, border)) return t;
  t.lists = Seconds(start);

  start = Clock::now();
  SmoothPass(source.data(), destination.data(), n, lists, border, options);
  t.pass1 = Seconds(start);
  start = Clock::now();
  SmoothPass(destination.data(), source.data(), n, lists, border, options);
  t.pass2 = Seconds(start);

  start = Clock::now();
  ComputeOrigins(source.data(), n, frames.data());
  t.origins = Seconds(start);
  start = Clock::now();
  ComputeFaceNormals(source.data(), polygons.data(), m, normals.data());
  t.normals = Seconds(start);
  start = Clock::now();
  ComputeVertexFrames(source.data(), polygons.data(), n, normals.data(), *adjacency.get(),
                      frames.data());
  t.frames = Seconds(start);
  benchmark::DoNotOptimize(frames.data());
  return t;
}

void BM_ControllerRun(benchmark::State& state) {
  HostBind(&headless::HostTableInstance(), &headless::FrameworkTableInstance());
  const Int32 u = static_cast<Int32>(state.range(0));
  const Int32 v = static_cast<Int32>(state.range(1));
  std::vector<Vector3> points;
  std::vector<CPolygon> polygons;
  Torus(u, v, points, polygons);
  const Int64 pointCount = static_cast<Int64>(points.size());

  std::unique_ptr<headless::Document> document = headless::NewDocument();
  headless::Node* object = document->AddPolygonObject("torus", points, polygons);
  std::vector<Frame> frameBuffer(points.size());
  SmoothOptions options;
  options.iterations = 2;
  options.weighting = kWeightingLength;

  // Working set: the run's peak of framework memory plus the object's points and polygons and
  // the caller's frame buffer.
  headless::ReleaseCachedMemory();
  const Int64 base = headless::GetAllocationStats().bytesInUse;
  headless::ResetPeakBytes();
  {
    TessamireController controller;
    controller.Configure(headless::ToObject(object), frameBuffer.data(), 2, kWeightingLength, false,
                         false, nullptr, 1.0f);
    if (!RunController(controller)) state.SkipWithError("the controller run failed");
  }
  const Int64 workingSet = headless::GetAllocationStats().peakBytes - base +
                           pointCount * static_cast<Int64>(sizeof(Vector3) + sizeof(Frame)) +
                           static_cast<Int64>(polygons.size() * sizeof(CPolygon));
  const Float triad = TriadSeconds(workingSet, 5);

  StageTimes sum;
  Float runSeconds = 0;
  Int64 runs = 0;
  for (auto _ : state) {
    const Clock::time_point start = Clock::now();
    TessamireController controller;
    controller.Configure(headless::ToObject(object), frameBuffer.data(), 2, kWeightingLength, false,
                         false, nullptr, 1.0f);
    if (!RunController(controller)) state.SkipWithError("the controller run failed");
    runSeconds += Seconds(start);
    ++runs;
    benchmark::DoNotOptimize(frameBuffer.data());

    state.PauseTiming();
    const StageTimes t = TimeStages(points, polygons, options);
    sum.adjacency += t.adjacency;
    sum.lists += t.lists;
    sum.pass1 += t.pass1;
    sum.pass2 += t.pass2;
    sum.origins += t.origins;
    sum.normals += t.normals;
    sum.frames += t.frames;
    state.ResumeTiming();
  }
  const Float k = runs > 0 ? 1.0 / static_cast<Float>(runs) : 0.0;
  const Float run = runSeconds * k;
  state.counters["points/s"] = benchmark::Counter(static_cast<double>(pointCount),
                                                  benchmark::Counter::kIsIterationInvariantRate);
  state.counters["adjacency_ms"] = sum.adjacency * k * 1e3;
  state.counters["lists_ms"] = sum.lists * k * 1e3;
  state.counters["pass1_ms"] = sum.pass1 * k * 1e3;
  state.counters["pass2_ms"] = sum.pass2 * k * 1e3;
  state.counters["origins_ms"] = sum.origins * k * 1e3;
  state.counters["normals_ms"] = sum.normals * k * 1e3;
  state.counters["frames_ms"] = sum.frames * k * 1e3;
  state.counters["working_MB"] = static_cast<double>(workingSet) / 1e6;
  state.counters["triad_ms"] = triad * 1e3;
  state.counters["run_to_triad"] = triad > 0 ? run / triad : 0.0;
  std::printf(
      "%lld points: run %.2f ms, triad over %.1f MB %.2f ms, ratio run/triad %.2f\n"
      "  stages: adjacency %.2f, lists %.2f, pass1 %.2f, pass2 %.2f, origins %.2f, normals "
      "%.2f, frames %.2f ms\n",
      static_cast<long long>(pointCount), run * 1e3, static_cast<double>(workingSet) / 1e6,
      triad * 1e3, triad > 0 ? run / triad : 0.0, sum.adjacency * k * 1e3, sum.lists * k * 1e3,
      sum.pass1 * k * 1e3, sum.pass2 * k * 1e3, sum.origins * k * 1e3, sum.normals * k * 1e3,
      sum.frames * k * 1e3);
}

BENCHMARK(BM_ControllerRun)
    ->Args({400, 250})
    ->Args({1000, 1000})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
