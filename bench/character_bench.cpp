// A character's clip imported and sampled at two lengths: a small glTF character (a tube of 60
// points on a chain of 4 joints, each keyed every 1/24 s) with a 30 s and a 120 s clip, generated
// here. Keys are indexed once per run, so the 120 s clip should cost about 4 times the 30 s one,
// not 16 (a search from the first key at every frame). And Assimp's test characters imported in
// process and through the reader's process (headless/io/character_reader.h): what reading apart
// costs (a process started, the import sent back as a scene file image and read again). And the
// pose guard's cost: `correct`'s and `eval`'s runs of one character with the guard on and off.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <numbers>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include <unistd.h>

#include "bench/bench_support.h"
#include "bench/benchmarks.h"
#include "headless/batch/evaluate_scene.h"
#include "headless/batch/pose_guard.h"
#include "headless/characters/character.h"
#include "headless/characters/glb_builder.h"
#include "headless/io/character_reader.h"
#include "headless/io/page.h"
#include "headless/io/scene_file.h"
#include "headless/job/correct_character.h"
#include "headless/job/settings_sweep.h"
#include "headless/scene/scene.h"

namespace bench {
namespace {

namespace fs = std::filesystem;

constexpr int kJoints = 4, kAround = 6, kRings = 10;
constexpr double kKeyStep = 1.0 / 24;

// A tube along y of `rings` rings of `around` points, radius 0.3 (plus `bumps` of fine ridges),
// `height` high, on a chain of `joints` joints 1 apart; each ring follows the joint below it, or
// with `blend` blends linearly between the two nearest joints. The clip keys every joint every
// 1/24 s for `seconds`: `turn(joint, key)` is its rotation about z in radians.
struct TubeCharacter {
  int around = kAround, rings = kRings, joints = kJoints;
  double height = kJoints, bumps = 0.0, seconds = 1.0;
  bool blend = false;
  std::function<double(int joint, int key)> turn;
};

// The binary glTF of `tube`.
std::string Character(const TubeCharacter& tube) {
  std::string bin;
  const auto put = [&](const void* data, size_t bytes) {
    bin.append(static_cast<const char*>(data), bytes);
  };
  const auto floats = [&](std::initializer_list<float> values) {
    for (float v : values) put(&v, 4);
  };
  std::ostringstream views, accessors;
  int count = 0;
  size_t from = 0;
  const auto accessor = [&](int component, size_t elements, const char* type, const char* extra) {
    views << (count ? "," : "") << "{\"buffer\":0,\"byteOffset\":" << from
          << ",\"byteLength\":" << bin.size() - from << "}";
    accessors << (count ? "," : "") << "{\"bufferView\":" << count
              << ",\"componentType\":" << component << ",\"count\":" << elements << ",\"type\":\""
              << type << "\"" << extra << "}";
    while (bin.size() % 4 != 0) bin.push_back(0);
    from = bin.size();
    return count++;
  };
  const int points = tube.around * tube.rings;
  const double top = tube.height, radius = 0.3 + tube.bumps;
  for (int r = 0; r < tube.rings; ++r)
    for (int a = 0; a < tube.around; ++a) {
      const double angle = 2.0 * std::numbers::pi * a / tube.around, y = top * r / (tube.rings - 1);
      const double reach = 0.3 + tube.bumps * std::sin(40.0 * angle) * std::sin(60.0 * y);
      floats({static_cast<float>(reach * std::cos(angle)), static_cast<float>(y),
              static_cast<float>(reach * std::sin(angle))});
    }
  const std::string bounds = ",\"min\":[" + std::to_string(-radius) + ",0," +
                             std::to_string(-radius) + "],\"max\":[" + std::to_string(radius) +
                             "," + std::to_string(top) + "," + std::to_string(radius) + "]";
  accessor(5126, points, "VEC3", bounds.c_str());
  std::vector<float> weights;
  for (int r = 0; r < tube.rings; ++r) {
    // Joint j stands at y = j; with blending, the ring's weight moves to the joint above.
    const double y = top * r / (tube.rings - 1);
    const int j = std::min(tube.joints - 1, static_cast<int>(y));
    const double above = tube.blend && j + 1 < tube.joints ? y - j : 0.0;
    for (int a = 0; a < tube.around; ++a) {
      bin.append({char(j), char(std::min(j + 1, tube.joints - 1)), 0, 0});
      weights.insert(weights.end(),
                     {static_cast<float>(1.0 - above), static_cast<float>(above), 0, 0});
    }
  }
  accessor(5121, points, "VEC4", "");
  put(weights.data(), 4 * weights.size());
  accessor(5126, points, "VEC4", "");
  for (int j = 0; j < tube.joints; ++j)
    floats({1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, -static_cast<float>(j), 0, 1});
  accessor(5126, tube.joints, "MAT4", "");
  for (int r = 0; r + 1 < tube.rings; ++r)
    for (int a = 0; a < tube.around; ++a)
      for (int corner : {r * tube.around + a, (r + 1) * tube.around + a,
                         (r + 1) * tube.around + (a + 1) % tube.around, r * tube.around + a,
                         (r + 1) * tube.around + (a + 1) % tube.around,
                         r * tube.around + (a + 1) % tube.around}) {
        const auto index = static_cast<std::uint32_t>(corner);
        put(&index, 4);
      }
  accessor(5125, (bin.size() - from) / 4, "SCALAR", "");
  const int keys = static_cast<int>(std::lround(tube.seconds / kKeyStep)) + 1;
  for (int k = 0; k < keys; ++k) floats({static_cast<float>(k * kKeyStep)});
  const int times = accessor(5126, keys, "SCALAR", "");
  std::string channels, samplers;
  for (int j = 0; j < tube.joints; ++j) {
    for (int k = 0; k < keys; ++k) {
      const double half = 0.5 * tube.turn(j, k);
      floats({0, 0, static_cast<float>(std::sin(half)), static_cast<float>(std::cos(half))});
    }
    const int output = accessor(5126, keys, "VEC4", "");
    samplers += std::string(j ? "," : "") + "{\"input\":" + std::to_string(times) +
                ",\"output\":" + std::to_string(output) + "}";
    channels += std::string(j ? "," : "") + "{\"sampler\":" + std::to_string(j) +
                ",\"target\":{\"node\":" + std::to_string(j + 1) + ",\"path\":\"rotation\"}}";
  }
  std::string nodes = "{\"name\":\"body\",\"mesh\":0,\"skin\":0}";
  for (int j = 0; j < tube.joints; ++j)
    nodes += ",{\"name\":\"j" + std::to_string(j) + "\"" + (j ? ",\"translation\":[0,1,0]" : "") +
             (j + 1 < tube.joints ? ",\"children\":[" + std::to_string(j + 2) + "]" : "") + "}";
  std::string joints;
  for (int j = 0; j < tube.joints; ++j) joints += (j ? "," : "") + std::to_string(j + 1);
  return headless::GlbFileImage(
      "{\"asset\":{\"version\":\"2.0\"},\"scene\":0,\"scenes\":[{\"nodes\":[0,1]}],\"nodes\":[" +
          nodes +
          "],\"meshes\":[{\"primitives\":[{\"attributes\":{\"POSITION\":0,\"JOINTS_0\":1,"
          "\"WEIGHTS_0\":2},\"indices\":4}]}],\"skins\":[{\"joints\":[" +
          joints +
          "],\"inverseBindMatrices\":3}],\"animations\":[{\"name\":\"sway\",\"channels\":[" +
          channels + "],\"samplers\":[" + samplers +
          "]}],\"buffers\":[{\"byteLength\":" + std::to_string(bin.size()) +
          "}],\"bufferViews\":[" + views.str() + "],\"accessors\":[" + accessors.str() + "]}",
      bin);
}

void ImportClip(benchmark::State& state, double seconds) {
  TubeCharacter tube;
  tube.seconds = seconds;
  tube.turn = [](int j, int k) { return 0.4 * std::sin(0.7 * k * kKeyStep + j); };
  const std::string file = Character(tube);
  const std::string figure = "character:" + std::to_string(static_cast<int>(seconds)) + "s";
  for (auto _ : state) {
    const Clock::time_point t = Clock::now();
    auto doc = headless::NewDocument();
    const headless::CharacterImport imported =
        headless::ImportCharacterBytes(file, "sway.glb", *doc);
    if (imported.lastFrame != static_cast<Int32>(std::lround(seconds * 24)))
      state.SkipWithError("the clip's frames are not its keys'");
    Record(figure, Seconds(t));
    state.SetIterationTime(Seconds(t));
  }
}

// Sizes of a character's glTF in each form: a 1M-vertex tube of two joints whose upper half turns
// through 90 degrees over 9 frames, corrected as `tessamire correct --format glb` does.
constexpr int kSizeAround = 1000, kSizeRings = 1000, kSizeFrames = 9;
const std::vector<std::pair<std::string, std::string>> kGlbForms = {
    {"frames", "frames"}, {"skin", "quantised"}, {"skin", "float"}};

// A tube of two joints whose upper half turns through 90 degrees over `frames` frames, written as
// a character file into `folder`.
fs::path WriteBentTube(const fs::path& folder, int around, int rings, int frames) {
  TubeCharacter tube;
  tube.around = around;
  tube.rings = rings;
  tube.joints = 2;
  tube.height = 2.0;
  tube.bumps = 0.01;
  tube.blend = true;
  tube.seconds = (frames - 1) * kKeyStep;
  tube.turn = [frames](int j, int k) {
    return j == 1 ? std::numbers::pi / 2 * k / (frames - 1) : 0.0;
  };
  fs::create_directories(folder);
  const fs::path source = folder / "tube.glb";
  std::ofstream out(source, std::ios::binary);
  out << Character(tube);
  return source;
}

void GlbSizes(benchmark::State& state) {
  Plugin();
  const fs::path folder =
      fs::temp_directory_path() / ("tessamire_glb_sizes_" + std::to_string(getpid()));
  const fs::path source = WriteBentTube(folder, kSizeAround, kSizeRings, kSizeFrames);
  for (auto _ : state) {
    for (const auto& [form, targets] : kGlbForms)
      for (const bool one : {true, false}) {
        headless::CorrectRequest request;
        request.eval.source = source.string();
        request.eval.format = "glb";
        request.eval.glbForm = form;
        request.eval.quantised = targets == "quantised";
        if (one) request.eval.frames = headless::FrameRange{0, 0};
        request.eval.dir = (folder / (form + "_" + targets)).string();
        fs::create_directories(request.eval.dir);
        try {
          headless::CorrectCharacter(request, {});
        } catch (const std::exception& e) {
          state.SkipWithError(e.what());
          return;
        }
        Record("glb:" + form + "_" + targets + (one ? "_1" : ""),
               static_cast<double>(fs::file_size(fs::path(request.eval.dir) / "tube.glb")));
      }
  }
  fs::remove_all(folder);
}

// The pose guard's cost: a 50,000-point two-joint tube whose upper half turns through 90 degrees
// over 120 frames, corrected at the default settings into caches by `correct` and the saved scene
// evaluated again by `eval`, each with the guard on (the default threshold) and off, by turns in
// the same run. The guard checks every kPoseCheckEvery-th frame.
constexpr int kGuardAround = 200, kGuardRings = 250, kGuardFrames = 120;

void GuardCost(benchmark::State& state) {
  Plugin();
  const fs::path folder =
      fs::temp_directory_path() / ("tessamire_guard_cost_" + std::to_string(getpid()));
  const fs::path source = WriteBentTube(folder, kGuardAround, kGuardRings, kGuardFrames);
  const fs::path scene = folder / "tube.tsm";
  try {
    for (auto _ : state)
      for (const bool guard : {false, true}) {
        const std::optional<Float> threshold =
            guard ? std::optional<Float>(headless::kDefaultPoseThreshold) : std::nullopt;
        headless::CorrectRequest request;
        request.eval.source = source.string();
        request.eval.format = "pc2";
        request.eval.dir = (folder / "correct").string();
        request.eval.poseCheck = threshold;
        request.saveScene = scene.string();
        Clock::time_point t = Clock::now();
        headless::CorrectCharacter(request, {});
        Record(guard ? "guard:correct_on" : "guard:correct_off", Seconds(t));
        const std::unique_ptr<headless::Document> doc = headless::LoadScene(scene.string());
        headless::EvalRequest eval;
        eval.source = scene.string();
        eval.format = "pc2";
        eval.dir = (folder / "eval").string();
        eval.poseCheck = threshold;
        t = Clock::now();
        headless::EvaluateScene(*doc, eval, {});
        Record(guard ? "guard:eval_on" : "guard:eval_off", Seconds(t));
      }
  } catch (const std::exception& e) {
    state.SkipWithError(e.what());
  }
  fs::remove_all(folder);
}

// Characters of Assimp's test models, each imported once per iteration.
const char* const kTestCharacters[] = {"X/Testwuson.X", "X/anim_test.x", "FBX/spider.fbx",
                                       "glTF2/simple_skin/simple_skin.gltf"};

std::string TestCharacter(const char* model) {
  return std::string("/usr/share/assimp/models/") + model;
}

void ImportTestCharacters(benchmark::State& state, bool apart) {
  const std::string figure = apart ? "character:apart" : "character:in-process";
  for (auto _ : state) {
    const Clock::time_point t = Clock::now();
    for (const char* model : kTestCharacters) {
      const std::string path = TestCharacter(model);
      if (!std::ifstream(path)) continue;
      if (apart) {
        headless::ReadCharacterApart(path);
      } else {
        auto doc = headless::NewDocument();
        headless::ImportCharacter(path, *doc);
      }
    }
    Record(figure, Seconds(t));
    state.SetIterationTime(Seconds(t));
  }
}

// A glTF of `meshes` one-triangle meshes all called "part", each drawn by a node of its own.
std::string ManyMeshes(int meshes) {
  std::string json =
      R"({"asset":{"version":"2.0"},"buffers":[{"byteLength":36,"uri":"data:application/)"
      R"(octet-stream;base64,AAAAAAAAAAAAAAAAAACAPwAAAAAAAAAAAAAAAAAAgD8AAAAA"}],)"
      R"("bufferViews":[{"buffer":0,"byteLength":36}],"accessors":[{"bufferView":0,)"
      R"("componentType":5126,"count":3,"type":"VEC3","min":[0,0,0],"max":[1,1,0]}],"meshes":[)";
  std::string nodes, roots;
  for (int m = 0; m < meshes; ++m) {
    const std::string comma = m > 0 ? "," : "";
    json += comma + R"({"name":"part","primitives":[{"attributes":{"POSITION":0}}]})";
    nodes += comma + R"({"mesh":)" + std::to_string(m) + "}";
    roots += comma + std::to_string(m);
  }
  return json + R"(],"nodes":[)" + nodes + R"(],"scenes":[{"nodes":[)" + roots +
         R"(]}],"scene":0})";
}

void ImportMeshes(benchmark::State& state, int meshes) {
  const std::string file = ManyMeshes(meshes);
  const std::string figure = "meshes:" + std::to_string(meshes);
  for (auto _ : state) {
    const Clock::time_point t = Clock::now();
    auto doc = headless::NewDocument();
    const headless::CharacterImport imported =
        headless::ImportCharacterBytes(file, "parts.gltf", *doc);
    if (imported.meshes.size() != static_cast<size_t>(meshes))
      state.SkipWithError("meshes were lost");
    Record(figure, Seconds(t));
    state.SetIterationTime(Seconds(t));
  }
}

}  // namespace

void RegisterCharacterBenchmarks() {
  benchmark::RegisterBenchmark("pose_guard/correct_and_eval_cost",
                               Watched("pose_guard/correct_and_eval_cost", GuardCost))
      ->Iterations(3)
      ->Unit(benchmark::kSecond);
  benchmark::RegisterBenchmark("character/glb_sizes_1M", GlbSizes)
      ->Iterations(1)
      ->Unit(benchmark::kMillisecond);
  if (headless::CharacterImportAvailable())
    for (const bool apart : {false, true}) {
      const std::string name =
          apart ? "character/test_models_apart" : "character/test_models_in_process";
      benchmark::RegisterBenchmark(
          name.c_str(),
          Watched(name, [apart](benchmark::State& s) { ImportTestCharacters(s, apart); }))
          ->Iterations(3)
          ->UseManualTime()
          ->Unit(benchmark::kMillisecond);
    }
  for (int meshes : {200, 800}) {
    const std::string name = "character/meshes_" + std::to_string(meshes);
    benchmark::RegisterBenchmark(
        name.c_str(), Watched(name, [meshes](benchmark::State& s) { ImportMeshes(s, meshes); }))
        ->Iterations(3)
        ->UseManualTime()
        ->Unit(benchmark::kMillisecond);
  }
  for (double seconds : {30.0, 120.0}) {
    const std::string name = "character/import_" + std::to_string(static_cast<int>(seconds)) + "s";
    benchmark::RegisterBenchmark(
        name.c_str(), Watched(name, [seconds](benchmark::State& s) { ImportClip(s, seconds); }))
        ->Iterations(3)
        ->UseManualTime()
        ->Unit(benchmark::kMillisecond);
  }
}

void PrintCharacterSummary() {
  const double short30 = Median("character:30s"), long120 = Median("character:120s");
  std::printf(
      "\ncharacter: a %d-point glTF character keyed every 1/24 s imported and sampled (median "
      "ms): 30 s clip %.2f, 120 s clip %.2f; 120 s / 30 s %.2f  [<= 5, linear: 4]%s\n",
      kAround * kRings, short30 * 1e3, long120 * 1e3, short30 > 0.0 ? long120 / short30 : 0.0,
      (BusyMark("character/import_30s") + BusyMark("character/import_120s")).c_str());
  const double few = Median("meshes:200"), many = Median("meshes:800");
  std::printf(
      "character: one glTF of many one-triangle meshes of one name imported (median ms): 200 "
      "meshes %.2f, 800 meshes %.2f; 800 / 200 %.2f  [<= 6, linear: 4]%s\n",
      few * 1e3, many * 1e3, few > 0.0 ? many / few : 0.0,
      (BusyMark("character/meshes_200") + BusyMark("character/meshes_800")).c_str());
  if (Has("character:apart")) {
    const double own = Median("character:in-process"), apart = Median("character:apart");
    std::printf(
        "character: Assimp's %zu test characters imported (median ms): in process %.1f, in the "
        "reader's process %.1f; apart / in process %.2f%s\n",
        std::size(kTestCharacters), own * 1e3, apart * 1e3, own > 0.0 ? apart / own : 0.0,
        (BusyMark("character/test_models_in_process") + BusyMark("character/test_models_apart"))
            .c_str());
  }
  if (Has("guard:correct_on")) {
    const auto cost = [](const char* run) {
      const double on = Median(std::string("guard:") + run + "_on");
      const double off = Median(std::string("guard:") + run + "_off");
      return std::make_pair(on, off > 0.0 ? on / off : 0.0);
    };
    const auto [correctOn, correctRatio] = cost("correct");
    const auto [evalOn, evalRatio] = cost("eval");
    std::printf(
        "pose guard: a %d-point tube over %d frames, the guard on / off (median s with it on): "
        "correct %.3f (%.2f s), eval %.3f (%.2f s)  [<= 1.05], checking every %zu frames%s\n",
        kGuardAround * kGuardRings, kGuardFrames, correctRatio, correctOn, evalRatio, evalOn,
        headless::kPoseCheckEvery, BusyMark("pose_guard/correct_and_eval_cost").c_str());
  }
  if (!Has("glb:frames_frames")) return;
  std::printf(
      "glb sizes: a %d-vertex two-joint tube without normals, %d frames corrected: the file (MB), "
      "a frame's share (bytes per vertex: (file - file of frame 0 alone) / %d), and that "
      "against the frames form's:",
      kSizeAround * kSizeRings, kSizeFrames, kSizeFrames - 1);
  const auto perFrame = [](const std::string& figure) {
    return (Median(figure) - Median(figure + "_1")) /
           (double(kSizeAround) * kSizeRings * (kSizeFrames - 1));
  };
  for (const auto& [form, targets] : kGlbForms) {
    const std::string figure = "glb:" + form + "_" + targets;
    std::printf(" %s%s %.1f, %.2f, %.0f%%;", form.c_str(),
                form == "skin" ? (" " + targets).c_str() : "", Median(figure) / 1e6,
                perFrame(figure), 100.0 * perFrame(figure) / perFrame("glb:frames_frames"));
  }
  std::printf("\n");
}

}  // namespace bench
