// Batch work at disk speed: our OBJ reader beside the peer's (tinyobjloader) on the same file,
// OBJ writing, and `tessamire apply` over OBJ sequences and PC2 caches of grids of 50,000 and
// 500,000 points: in-process through the batch layer, the same frames pipelined and one frame
// after another in the same iteration, and as whole runs of the real program, whose peak memory the
// kernel reports.
#include "bench/batch_bench.h"

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <vector>

#include "bench/bench_support.h"
#include "headless/batch/apply_frames.h"
#include "headless/batch/cache_frames.h"
#include "headless/batch/cache_results.h"
#include "headless/batch/correction.h"
#include "headless/batch/frame_pipeline.h"
#include "headless/batch/obj_frames.h"
#include "headless/batch/obj_results.h"
#include "headless/geometry/primitives.h"
#include "headless/io/obj_read.h"
#include "headless/io/obj_write.h"
#include "headless/io/point_cache.h"

extern char** environ;

namespace bench {
namespace {

namespace fs = std::filesystem;

constexpr int kFrames = 8;
constexpr Int32 kRounds = 2;

// A grid's rest OBJ, kFrames frames as a numbered OBJ sequence and the same frames as a PC2 cache,
// in a folder of their own. Coordinates carry every digit, as a skinned export's do: the grid
// rippled at rest, each frame bent further about the y axis.
struct Sequence {
  fs::path folder;
  Int64 points = 0;
  fs::path rest;
  std::vector<fs::path> frames;
  fs::path pattern;  // walk.####.obj
  fs::path cache;
  fs::path longCache;  // 2 x kFrames samples, for the cost of a frame more
};

std::map<std::string, Sequence>& Sequences() {
  static std::map<std::string, Sequence> made;
  return made;
}

std::vector<Vector3> Posed(const Mesh& grid, int frame) {
  std::vector<Vector3> points = grid.points;
  for (Vector3& p : points) {
    const Float z = 0.01 * std::sin(40.0 * p.x) * std::cos(37.0 * p.y);
    const Float a = 0.3 * frame * p.x;
    p = {p.x * std::cos(a) - z * std::sin(a), p.y, p.x * std::sin(a) + z * std::cos(a)};
  }
  return points;
}

// "50k" or "500k": grids of 224 x 224 and 708 x 708 points.
const Sequence& MakeSequence(const std::string& name) {
  Sequence& s = Sequences()[name];
  if (!s.folder.empty()) return s;
  const Int32 side = name == "50k" ? 224 : 708;
  s.folder = fs::temp_directory_path() /
             ("tessamire_batch_bench_" + name + "_" + std::to_string(getpid()));
  fs::create_directories(s.folder);
  const Mesh grid = headless::Grid(side - 1, side - 1, 1.0 / (side - 1));
  s.points = static_cast<Int64>(grid.points.size());
  s.rest = s.folder / "rest.obj";
  headless::WriteObj(s.rest.string(), Posed(grid, 0), grid.polygons);
  std::vector<std::vector<Vector3>> samples;
  for (int k = 1; k <= kFrames; ++k) {
    samples.push_back(Posed(grid, k));
    char file[32];
    std::snprintf(file, sizeof file, "walk.%04d.obj", k);
    s.frames.push_back(s.folder / file);
    headless::WriteObj(s.frames.back().string(), samples.back(), grid.polygons);
  }
  s.pattern = s.folder / "walk.####.obj";
  s.cache = s.folder / "walk.pc2";
  headless::WritePointCache(
      s.cache.string(),
      headless::MakePointCache(headless::PointCacheFormat::kPc2, samples, 1.0, 30.0));
  for (int k = kFrames + 1; k <= 2 * kFrames; ++k) samples.push_back(Posed(grid, k));
  s.longCache = s.folder / "walk16.pc2";
  headless::WritePointCache(
      s.longCache.string(),
      headless::MakePointCache(headless::PointCacheFormat::kPc2, samples, 1.0, 30.0));
  return s;
}

double FileBytes(const fs::path& path) {
  return static_cast<double>(fs::file_size(path));
}

void ObjRead(benchmark::State& state) {
  const Sequence& s = MakeSequence("500k");
  const std::string path = s.frames[0].string();
  for (auto _ : state) {
    const Clock::time_point total = Clock::now();
    Clock::time_point t = Clock::now();
    size_t points = 0;
    {
      const headless::ObjFile file = headless::ReadObjFile(path);
      points = file.mesh.points.size();
    }
    Record("objread:ours", Seconds(t));
    if (HaveTinyObjLoader()) {
      t = Clock::now();
      if (TinyObjRead(path) != points) state.SkipWithError("the peer read another point count");
      Record("objread:peer", Seconds(t));
    }
    state.SetIterationTime(Seconds(total));
  }
  Record("objread:bytes", FileBytes(path));
}

void ObjWrite(benchmark::State& state) {
  const Sequence& s = MakeSequence("500k");
  const headless::ObjFile file = headless::ReadObjFile(s.frames[0].string());
  const std::vector<Vector3> points = headless::ReadObj(s.frames[1].string()).points;
  const std::string out = (s.folder / "written.obj").string();
  for (auto _ : state) {
    const Clock::time_point total = Clock::now();
    Clock::time_point t = Clock::now();
    const size_t bytes = headless::ObjText(file, points).size();
    Record("objtext", Seconds(t));
    Record("objtext:bytes", static_cast<double>(bytes));
    t = Clock::now();
    headless::WriteObjLike(out, file, points);
    Record("objwrite", Seconds(t));
    state.SetIterationTime(Seconds(total));
  }
}

// `tessamire apply`'s engine over the sequence's OBJ frames or its cache, in-process (the frames
// read, corrected and written as the program does, without its options and printing): the same
// frames pipelined and one after another in every iteration, and the correction alone.
void ApplyInProcess(benchmark::State& state, const std::string& name) {
  Plugin();
  const Sequence& s = MakeSequence(name);
  const headless::ObjFile rest = headless::ReadObjFile(s.rest.string());
  headless::CorrectionSettings settings;
  settings.iterations = kRounds;
  headless::Correction correction(s.rest.string(), rest.mesh.points, rest.mesh.polygons, settings);
  const fs::path out = s.folder / "inprocess";
  fs::create_directories(out);
  std::vector<std::string> files;
  std::vector<Int64> numbers;
  std::vector<fs::path> outputs;
  for (size_t i = 0; i < s.frames.size(); ++i) {
    files.push_back(s.frames[i].string());
    numbers.push_back(static_cast<Int64>(i) + 1);
    outputs.push_back(out / s.frames[i].filename());
  }
  const auto objRun = [&](bool pipelined) {
    headless::ObjFrames frames(files, numbers, rest);
    headless::ObjResults results(outputs, nullptr);
    frames.KeepFromRest();
    frames.ReadAhead();
    headless::ApplyFrames(frames, results, correction, {}, {.pipelined = pipelined});
  };
  const auto cacheRun = [&](bool pipelined) {
    headless::CacheFrames frames(s.cache.string(),
                                 std::make_unique<headless::PointCacheSamples>(s.cache.string()),
                                 rest.name, rest.mesh.points.size(), 30.0);
    headless::CacheResults results((out / "walk.pc2").string(), frames, 30.0);
    headless::ApplyFrames(frames, results, correction, {}, {.pipelined = pipelined});
  };
  const std::vector<Vector3> input = headless::ReadPointCache(s.cache.string()).Sample(0);
  for (auto _ : state) {
    const Clock::time_point total = Clock::now();
    for (const bool pipelined : {true, false}) {
      const std::string how = pipelined ? ":pipelined" : ":onebyone";
      Clock::time_point t = Clock::now();
      objRun(pipelined);
      Record("inproc:obj:" + name + how, Seconds(t));
      t = Clock::now();
      cacheRun(pipelined);
      Record("inproc:pc2:" + name + how, Seconds(t));
    }
    const Clock::time_point t = Clock::now();
    for (int k = 0; k < kFrames; ++k) correction.Correct(input, "frame");
    Record("correct:" + name, Seconds(t) / kFrames);
    state.SetIterationTime(Seconds(total));
  }
}

// A run of the real program, its output thrown away: the wall time, and the peak memory GNU time
// reports for it (a child's peak read straight from the kernel would start from this process's
// own, which the kernel hands on across the spawn).
struct ProgramRun {
  double seconds = 0.0;
  double peakBytes = 0.0;
  bool ok = false;
};

ProgramRun RunProgram(const std::vector<std::string>& arguments, const fs::path& peakFile) {
  std::vector<std::string> words{"/usr/bin/time",  "-f", "%M", "-o", peakFile.string(),
                                 TESSAMIRE_PROGRAM};
  words.insert(words.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  ProgramRun run;
  const Clock::time_point t = Clock::now();
  pid_t pid = 0;
  int status = 0;
  if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) == 0 &&
      waitpid(pid, &status, 0) == pid) {
    run.seconds = Seconds(t);
    run.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    std::FILE* peak = std::fopen(peakFile.string().c_str(), "r");
    double kib = 0.0;
    if (peak != nullptr && std::fscanf(peak, "%lf", &kib) == 1) run.peakBytes = kib * 1024.0;
    if (peak != nullptr) std::fclose(peak);
  }
  posix_spawn_file_actions_destroy(&actions);
  return run;
}

// Whole runs of `tessamire apply`, the rest's reading included: the OBJ sequence, the cache, one
// OBJ frame (its peak is the single frame's), and a cache of twice the samples (the difference
// is what kFrames frames more cost, without the rest's reading and the bind).
void ApplyProgram(benchmark::State& state, const std::string& name) {
  const Sequence& s = MakeSequence(name);
  const std::vector<std::string> common = {
      "apply",   "--rest", s.rest.string(), "--iterations", std::to_string(kRounds),
      "--quiet", "--out"};
  const auto with = [&](std::vector<std::string> more) {
    std::vector<std::string> all = common;
    all.insert(all.end(), more.begin(), more.end());
    return all;
  };
  const std::string frames = "1:" + std::to_string(kFrames);
  const std::map<std::string, std::vector<std::string>> runs = {
      {"obj", with({(s.folder / "program").string(), s.pattern.string(), "--frames", frames})},
      {"pc2", with({(s.folder / "program.pc2").string(), s.cache.string()})},
      {"pc2long", with({(s.folder / "program16.pc2").string(), s.longCache.string()})},
      {"one", with({(s.folder / "one.obj").string(), s.frames[0].string()})}};
  for (auto _ : state) {
    const Clock::time_point total = Clock::now();
    for (const auto& [kind, arguments] : runs) {
      const ProgramRun run = RunProgram(arguments, s.folder / "peak.txt");
      if (!run.ok) state.SkipWithError(("tessamire apply failed: " + kind).c_str());
      Record("program:" + kind + ":" + name, run.seconds);
      Record("programpeak:" + kind + ":" + name, run.peakBytes / static_cast<double>(s.points));
    }
    state.SetIterationTime(Seconds(total));
  }
}

void Register(const std::string& name, std::function<void(benchmark::State&)> body,
              int iterations) {
  benchmark::RegisterBenchmark(name.c_str(), Watched(name, std::move(body)))
      ->Iterations(iterations)
      ->UseManualTime()
      ->Unit(benchmark::kMillisecond);
}

double MBps(const std::string& bytes, const std::string& seconds) {
  return Median(seconds) > 0.0 ? Median(bytes) / Median(seconds) / 1e6 : 0.0;
}

double Ratio(double a, double b) {
  return b > 0.0 ? a / b : 0.0;
}

}  // namespace

void RegisterBatchBenchmarks() {
  Register("batch/obj_read_500k", ObjRead, 5);
  Register("batch/obj_write_500k", ObjWrite, 5);
  for (const char* name : {"50k", "500k"}) {
    const std::string n = name;
    Register(
        "batch/apply_in_process_" + n, [n](benchmark::State& s) { ApplyInProcess(s, n); },
        n == "50k" ? 5 : 3);
    Register(
        "batch/apply_program_" + n, [n](benchmark::State& s) { ApplyProgram(s, n); },
        // Three rounds, so that the median is one whole run. On this virtual machine, which hands
        // freed memory back to its host, a run now and then spends several times its kernel time
        // (an OBJ sequence of 3.4 s, 2.1 s of it in the kernel, between runs of 1.5 s with 0.5).
        3);
  }
}

void PrintBatchSummary() {
  const double peer = MBps("objread:bytes", "objread:peer");
  std::printf("\nbatch: OBJ of the 500k grid (%.1f MB), medians:\n", Median("objread:bytes") / 1e6);
  std::printf(
      "  reading: ours %.0f MB/s, tinyobjloader %s MB/s, ours / peer %.2f  [>= 400 MB/s, "
      ">= 2]%s\n",
      MBps("objread:bytes", "objread:ours"),
      HaveTinyObjLoader() ? std::to_string(static_cast<int>(peer)).c_str() : "(not installed)",
      Ratio(Median("objread:peer"), Median("objread:ours")),
      BusyMark("batch/obj_read_500k").c_str());
  std::printf("  writing: text %.0f MB/s  [>= 300], written and synced to disk %.0f MB/s%s\n",
              MBps("objtext:bytes", "objtext"), MBps("objtext:bytes", "objwrite"),
              BusyMark("batch/obj_write_500k").c_str());
  std::printf("batch: apply, %d frames, %d rounds, frames per second (medians):\n", kFrames,
              kRounds);
  for (const char* name : {"50k", "500k"}) {
    const std::string n = name;
    const auto fps = [](const std::string& figure) { return Ratio(kFrames, Median(figure)); };
    std::printf(
        "  %-4s in-process: OBJ pipelined %.2f, one by one %.2f (gain %.2f); PC2 pipelined %.2f, "
        "one by one %.2f (gain %.2f); correction alone %.2f%s\n",
        name, fps("inproc:obj:" + n + ":pipelined"), fps("inproc:obj:" + n + ":onebyone"),
        Ratio(Median("inproc:obj:" + n + ":onebyone"), Median("inproc:obj:" + n + ":pipelined")),
        fps("inproc:pc2:" + n + ":pipelined"), fps("inproc:pc2:" + n + ":onebyone"),
        Ratio(Median("inproc:pc2:" + n + ":onebyone"), Median("inproc:pc2:" + n + ":pipelined")),
        Ratio(1.0, Median("correct:" + n)), BusyMark("batch/apply_in_process_" + n).c_str());
    // A frame of a cache: what 8 samples more add to a whole run, per sample.
    const double pc2Frame = (Median("program:pc2long:" + n) - Median("program:pc2:" + n)) / kFrames;
    std::printf(
        "  %-4s program:    OBJ sequence %.2f, PC2 %.2f; OBJ / PC2 time %.2f [<= 2.5], PC2 whole "
        "run / (%d x correction alone) %.2f [<= 3], a PC2 frame (run of %d samples - run of %d, "
        "/ %d) / correction alone %.2f; peak B/point: one frame %.0f, OBJ sequence %.0f, PC2 %.0f "
        "[<= 400]%s\n",
        name, fps("program:obj:" + n), fps("program:pc2:" + n),
        Ratio(Median("program:obj:" + n), Median("program:pc2:" + n)), kFrames,
        Ratio(Median("program:pc2:" + n), kFrames * Median("correct:" + n)), 2 * kFrames, kFrames,
        kFrames, Ratio(pc2Frame, Median("correct:" + n)), Median("programpeak:one:" + n),
        Median("programpeak:obj:" + n), Median("programpeak:pc2:" + n),
        BusyMark("batch/apply_program_" + n).c_str());
  }
  for (const auto& [name, sequence] : Sequences()) {
    std::error_code ec;
    fs::remove_all(sequence.folder, ec);
  }
}

}  // namespace bench
