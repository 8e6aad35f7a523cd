#include "bench/stage_floors.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <vector>

#include "bench/bench_support.h"
#include "headless/entries/framework.h"
#include "source/tessamireThreads/lane_kernels.h"

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#include <immintrin.h>
#define TESSAMIRE_LANE_PROBES 1
#endif

namespace bench {

namespace {

const char* const kShapeParts[] = {"points", "neighbours", "polygons", "corners"};

// What a throughput kernel runs: one operation per chain and round.
enum class Op { kSqrt, kDiv, kMul, kAdd };

// Independent chains, enough to cover each operation's latency with its throughput.
constexpr int kChains = 12;
constexpr Int64 kRounds = Int64{1} << 13;

#if defined(TESSAMIRE_LANE_PROBES)
// Each width's kernel is built for its own instructions (the bench's units are not), and is run
// only where the core found the width available. The square-root chain multiplies by 1.7 to keep
// off 1 (a divider may finish early there); the division chain alternates between two values.
#define TESSAMIRE_THROUGHPUT(NAME, TARGET, V, SET1, SQRT, DIV, MUL, ADD, STORE, LANES) \
  __attribute__((target(TARGET))) double NAME(Op op) {                                 \
    V x[kChains];                                                                      \
    for (int k = 0; k < kChains; ++k) x[k] = SET1(1.5 + 0.01 * k);                     \
    const V a = SET1(1.7), c = SET1(2.5), m = SET1(0.99999999), d = SET1(1e-9);        \
    for (Int64 r = 0; r < kRounds; ++r) {                                              \
      for (int k = 0; k < kChains; ++k) {                                              \
        switch (op) {                                                                  \
          case Op::kSqrt:                                                              \
            x[k] = MUL(SQRT(x[k]), a);                                                 \
            break;                                                                     \
          case Op::kDiv:                                                               \
            x[k] = DIV(c, x[k]);                                                       \
            break;                                                                     \
          case Op::kMul:                                                               \
            x[k] = MUL(x[k], m);                                                       \
            break;                                                                     \
          case Op::kAdd:                                                               \
            x[k] = ADD(x[k], d);                                                       \
            break;                                                                     \
        }                                                                              \
      }                                                                                \
    }                                                                                  \
    double out[LANES];                                                                 \
    double sum = 0.0;                                                                  \
    for (int k = 0; k < kChains; ++k) {                                                \
      STORE(out, x[k]);                                                                \
      for (double v : out) sum += v;                                                   \
    }                                                                                  \
    return sum;                                                                        \
  }

// The zero-masked form over every lane: gcc 12's plain form passes an undefined source that its own
// warnings then refuse.
__attribute__((target("avx512f"))) inline __m512d Sqrt512(__m512d v) {
  return _mm512_maskz_sqrt_pd(static_cast<__mmask8>(0xFF), v);
}

TESSAMIRE_THROUGHPUT(Run128, "sse2", __m128d, _mm_set1_pd, _mm_sqrt_pd, _mm_div_pd, _mm_mul_pd,
                     _mm_add_pd, _mm_storeu_pd, 2)
TESSAMIRE_THROUGHPUT(Run256, "avx", __m256d, _mm256_set1_pd, _mm256_sqrt_pd, _mm256_div_pd,
                     _mm256_mul_pd, _mm256_add_pd, _mm256_storeu_pd, 4)
TESSAMIRE_THROUGHPUT(Run512, "avx512f", __m512d, _mm512_set1_pd, Sqrt512, _mm512_div_pd,
                     _mm512_mul_pd, _mm512_add_pd, _mm512_storeu_pd, 8)
#undef TESSAMIRE_THROUGHPUT
#endif

// Seconds per float64 result of `op` in the lanes in use, on this thread; 0 where no probe is
// built (then no arithmetic floor is printed).
double SecondsPerResult(Op op) {
#if defined(TESSAMIRE_LANE_PROBES)
  const LaneWidth width = ActiveLaneWidth();
  const Int32 lanes = static_cast<Int32>(width);
  double (*run)(Op) = width == LaneWidth::kWide512 ? Run512
                      : width == LaneWidth::kWide  ? Run256
                                                   : Run128;
  benchmark::DoNotOptimize(run(op));  // warms the unit up
  double best = 0.0;
  for (int trial = 0; trial < 5; ++trial) {
    const Clock::time_point t = Clock::now();
    benchmark::DoNotOptimize(run(op));
    const double s = Seconds(t) / static_cast<double>(kRounds * kChains * lanes);
    best = trial == 0 ? s : std::min(best, s);
  }
  return best;
#else
  (void)op;
  return 0.0;
#endif
}

// a[i] = b[i] + 3 c[i] over every worker: the bytes of the three arrays per second.
double TriadBytesPerSecond() {
  constexpr Int64 kValues = Int64{16} << 20;  // 128 MiB an array, past any cache here
  struct Arrays {
    std::vector<double> a, b, c;
  } arrays{std::vector<double>(kValues, 0.0), std::vector<double>(kValues, 1.0),
           std::vector<double>(kValues, 2.0)};
  const auto body = [](void* context, Int64 begin, Int64 end) noexcept {
    Arrays& t = *static_cast<Arrays*>(context);
    for (Int64 i = begin; i < end; ++i) t.a[i] = t.b[i] + 3.0 * t.c[i];
  };
  double best = 0.0;
  for (int trial = 0; trial < 4; ++trial) {
    const Clock::time_point t = Clock::now();
    headless::ParallelFor(kValues, 4096, &arrays, body);
    const double s = Seconds(t);
    if (trial > 0) best = best == 0.0 ? s : std::min(best, s);
  }
  benchmark::DoNotOptimize(arrays.a.data());
  return 3.0 * static_cast<double>(kValues) * sizeof(double) / best;
}

void Kernels(benchmark::State& state) {
  for (auto _ : state) {
    const Clock::time_point total = Clock::now();
    Record("lanes:sqrt", SecondsPerResult(Op::kSqrt));
    Record("lanes:div", SecondsPerResult(Op::kDiv));
    Record("lanes:mul", SecondsPerResult(Op::kMul));
    Record("lanes:add", SecondsPerResult(Op::kAdd));
    Record("lanes:triad", TriadBytesPerSecond());
    state.SetIterationTime(Seconds(total));
  }
  state.counters["sqrt_ns"] = Median("lanes:sqrt") * 1e9;
  state.counters["div_ns"] = Median("lanes:div") * 1e9;
  state.counters["triad_GB/s"] = Median("lanes:triad") * 1e-9;
}

double Ratio(double a, double b) {
  return b > 0.0 ? a / b : 0.0;
}

}  // namespace

void RecordShape(const std::string& mesh, const MeshShape& shape) {
  const double values[] = {shape.points, shape.neighbours, shape.polygons, shape.corners};
  for (int k = 0; k < 4; ++k) Record("shape:" + mesh + ":" + kShapeParts[k], values[k]);
}

MeshShape ShapeOf(const std::string& mesh) {
  return {Median("shape:" + mesh + ":points"), Median("shape:" + mesh + ":neighbours"),
          Median("shape:" + mesh + ":polygons"), Median("shape:" + mesh + ":corners")};
}

// Counted from the kernels, subtractions as adds, comparisons and blends left out. N neighbours,
// F polygons and C corners per point; a Vector3 is 24 bytes, a polygon 16, an offset 8, an index 4.
StageCost CostOf(const std::string& stage, const MeshShape& s) {
  const double n = s.neighbours, f = s.polygons, c = s.corners;
  if (stage == "compare")  // the polygons and the kept copy, read once each
    return {0, 0, 0, 0, 2 * 16 * f};
  if (stage == "pass1" || stage == "pass2") {
    // Per neighbour: the edge (3 adds), its squared length (3 multiplies, 2 adds), its length (a
    // square root), S += e L (3 multiplies, 3 adds), W += L (an add). Per point: q = n W, 1 / q,
    // D = S / q (3), * strength (3), P + D (3 adds). Reads the points and the lists, writes the
    // result: the neighbours' points come from the cache.
    return {n, 1, 6 * n + 7, 9 * n + 3, 24 + 8 + 4 * n + 24};
  }
  if (stage == "normals") {
    // Per polygon: two diagonals (6 adds), their cross product (6 multiplies, 3 adds), and a
    // normalisation (3 multiplies and 2 adds for the length, a square root, 1 / L, 3 multiplies).
    return {f, f, 12 * f, 11 * f, 24 + 16 * f + 24 * f};
  }
  if (stage == "frames+apply") {
    // Gathering: the normals summed (3 adds a corner; 1 / n comes from a table). The axes: the mean
    // normal (3 multiplies), the tangent hint (9 adds), two cross products (12 multiplies, 6 adds),
    // six normalisations (each 6 multiplies, 2 adds, a square root and a division). Decoding: a
    // cross product and the determinant (9 multiplies, 5 adds), T (9 and 9), the blend with P (6
    // multiplies, 4 adds). Reads the offsets, lists, normals, polygons, smoothed points,
    // differences and points; writes the points.
    return {6, 6, 3 + 12 + 36 + 9 + 9 + 6, 3 * c + 9 + 6 + 12 + 5 + 9 + 4,
            8 + 4 * c + 24 * f + 16 * f + 24 + 24 + 24 + 24};
  }
  return {};
}

double ArithmeticFloor(const StageCost& cost, Int32 workers) {
  const double divider = cost.sqrts * Median("lanes:sqrt") + cost.divisions * Median("lanes:div");
  const double multiplyAdd =
      cost.multiplies * Median("lanes:mul") + cost.adds * Median("lanes:add");
  return std::max(divider, multiplyAdd) / std::max<Int32>(workers, 1);
}

double BytesFloor(const StageCost& cost) {
  const double bandwidth = Median("lanes:triad");
  return bandwidth > 0.0 ? cost.bytes / bandwidth : 0.0;
}

void PrintStageFloors(const std::string& mesh, Int32 workers) {
  const MeshShape shape = ShapeOf(mesh);
  if (shape.points <= 0.0 || !Has("lanes:sqrt")) return;
  const double points = shape.points;
  std::printf(
      "            per point, %d workers (ns; bytes: a model of the arrays read and written):\n"
      "            stage          time  arithmetic floor  bytes floor  B/pt  ratio  "
      "(sqrt div mul add)\n",
      workers);
  double floors = 0.0;
  for (const char* stage : {"compare", "pass1", "pass2", "normals", "frames+apply"}) {
    const StageCost cost = CostOf(stage, shape);
    const double time = Median("stage:" + mesh + ":" + stage) / points;
    const double arithmetic = ArithmeticFloor(cost, workers);
    const double bytes = BytesFloor(cost);
    const double floor = std::max(arithmetic, bytes);
    floors += floor;
    std::printf("            %-12s %6.2f  %16.2f  %11.2f  %4.0f  %5.2f  (%.0f %.0f %.0f %.0f)\n",
                stage, time * 1e9, arithmetic * 1e9, bytes * 1e9, cost.bytes, Ratio(time, floor),
                cost.sqrts, cost.divisions, cost.multiplies, cost.adds);
  }
  const double eval = Median("eval:" + mesh + ":allworkers") / points;
  if (eval > 0.0)
    std::printf("            evaluation / sum of the stages' floors: %.2f / %.2f ns = %.2f\n",
                eval * 1e9, floors * 1e9, Ratio(eval, floors));
}

void PrintLaneKernels() {
  if (!Has("lanes:sqrt")) return;
  std::printf(
      "\nlane kernels, %d-bit lanes, one worker (ns per float64 result): sqrt %.3f  div %.3f  "
      "mul %.3f  add %.3f; triad on every worker %.1f GB/s\n",
      64 * static_cast<int>(ActiveLaneWidth()), Median("lanes:sqrt") * 1e9,
      Median("lanes:div") * 1e9, Median("lanes:mul") * 1e9, Median("lanes:add") * 1e9,
      Median("lanes:triad") * 1e-9);
}

void RegisterFloorBenchmarks() {
  benchmark::RegisterBenchmark("LaneKernels", Watched("LaneKernels", Kernels))
      ->Iterations(3)
      ->UseManualTime()
      ->Unit(benchmark::kMillisecond);
}

}  // namespace bench
