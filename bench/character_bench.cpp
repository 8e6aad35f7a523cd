// A character's clip imported and sampled at two lengths: a small glTF character (a tube of 60
// points on a chain of 4 joints, each keyed every 1/24 s) with a 30 s and a 120 s clip, generated
// here. Keys are indexed once per run, so the 120 s clip should cost about 4 times the 30 s one,
// not 16 (a search from the first key at every frame).
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <numbers>
#include <sstream>
#include <string>
#include <vector>

#include "bench/bench_support.h"
#include "bench/benchmarks.h"
#include "headless/characters/character.h"
#include "headless/io/page.h"
#include "headless/scene/scene.h"

namespace bench {
namespace {

constexpr int kJoints = 4, kAround = 6, kRings = 10;
constexpr double kKeyStep = 1.0 / 24;

// The glTF of the tube along y over `seconds` of keys: joint j at y = j, each swaying about z.
std::string Character(double seconds) {
  std::vector<std::uint8_t> buffer;
  const auto put = [&](const void* data, size_t bytes) {
    const auto* b = static_cast<const std::uint8_t*>(data);
    buffer.insert(buffer.end(), b, b + bytes);
  };
  const auto floats = [&](std::initializer_list<float> values) {
    for (float v : values) put(&v, 4);
  };
  std::ostringstream views, accessors;
  int count = 0;
  size_t from = 0;
  const auto accessor = [&](int component, size_t elements, const char* type, const char* extra) {
    views << (count ? "," : "") << "{\"buffer\":0,\"byteOffset\":" << from
          << ",\"byteLength\":" << buffer.size() - from << "}";
    accessors << (count ? "," : "") << "{\"bufferView\":" << count
              << ",\"componentType\":" << component << ",\"count\":" << elements << ",\"type\":\""
              << type << "\"" << extra << "}";
    from = buffer.size();
    return count++;
  };
  const int points = kAround * kRings;
  const float height = static_cast<float>(kJoints);
  for (int r = 0; r < kRings; ++r)
    for (int a = 0; a < kAround; ++a) {
      const double angle = 2.0 * std::numbers::pi * a / kAround;
      floats({static_cast<float>(0.3 * std::cos(angle)), height * r / (kRings - 1),
              static_cast<float>(0.3 * std::sin(angle))});
    }
  accessor(5126, points, "VEC3", ",\"min\":[-0.3,0,-0.3],\"max\":[0.3,4,0.3]");
  for (int r = 0; r < kRings; ++r) {
    const float y = height * r / (kRings - 1);
    const int j = std::min(kJoints - 1, static_cast<int>(y));
    for (int a = 0; a < kAround; ++a) buffer.insert(buffer.end(), {std::uint8_t(j), 0, 0, 0});
  }
  accessor(5121, points, "VEC4", "");
  for (int v = 0; v < points; ++v) floats({1, 0, 0, 0});
  accessor(5126, points, "VEC4", "");
  for (int j = 0; j < kJoints; ++j)
    floats({1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, -static_cast<float>(j), 0, 1});
  accessor(5126, kJoints, "MAT4", "");
  for (int r = 0; r + 1 < kRings; ++r)
    for (int a = 0; a < kAround; ++a)
      for (int corner : {r * kAround + a, (r + 1) * kAround + a,
                         (r + 1) * kAround + (a + 1) % kAround, r * kAround + a,
                         (r + 1) * kAround + (a + 1) % kAround, r * kAround + (a + 1) % kAround}) {
        const std::uint16_t index = static_cast<std::uint16_t>(corner);
        put(&index, 2);
      }
  accessor(5123, (buffer.size() - from) / 2, "SCALAR", "");
  while (buffer.size() % 4 != 0) buffer.push_back(0);
  from = buffer.size();
  const int keys = static_cast<int>(std::lround(seconds / kKeyStep)) + 1;
  for (int k = 0; k < keys; ++k) floats({static_cast<float>(k * kKeyStep)});
  const int times = accessor(5126, keys, "SCALAR", "");
  std::string channels, samplers;
  for (int j = 0; j < kJoints; ++j) {
    for (int k = 0; k < keys; ++k) {
      const double half = 0.2 * std::sin(0.7 * k * kKeyStep + j);
      floats({0, 0, static_cast<float>(std::sin(half)), static_cast<float>(std::cos(half))});
    }
    const int output = accessor(5126, keys, "VEC4", "");
    samplers += std::string(j ? "," : "") + "{\"input\":" + std::to_string(times) +
                ",\"output\":" + std::to_string(output) + "}";
    channels += std::string(j ? "," : "") + "{\"sampler\":" + std::to_string(j) +
                ",\"target\":{\"node\":" + std::to_string(j + 1) + ",\"path\":\"rotation\"}}";
  }
  std::string nodes = "{\"name\":\"body\",\"mesh\":0,\"skin\":0}";
  for (int j = 0; j < kJoints; ++j)
    nodes += ",{\"name\":\"j" + std::to_string(j) + "\"" + (j ? ",\"translation\":[0,1,0]" : "") +
             (j + 1 < kJoints ? ",\"children\":[" + std::to_string(j + 2) + "]" : "") + "}";
  std::string joints;
  for (int j = 0; j < kJoints; ++j) joints += (j ? "," : "") + std::to_string(j + 1);
  return "{\"asset\":{\"version\":\"2.0\"},\"scene\":0,\"scenes\":[{\"nodes\":[0,1]}],"
         "\"nodes\":[" +
         nodes +
         "],\"meshes\":[{\"primitives\":[{\"attributes\":{\"POSITION\":0,\"JOINTS_0\":1,"
         "\"WEIGHTS_0\":2},\"indices\":4}]}],\"skins\":[{\"joints\":[" +
         joints +
         "],\"inverseBindMatrices\":3}],\"animations\":[{\"name\":\"sway\",\"channels\":[" +
         channels + "],\"samplers\":[" + samplers +
         "]}],\"buffers\":[{\"byteLength\":" + std::to_string(buffer.size()) +
         ",\"uri\":\"data:application/octet-stream;base64," + headless::Base64(buffer) +
         "\"}],\"bufferViews\":[" + views.str() + "],\"accessors\":[" + accessors.str() + "]}";
}

void ImportClip(benchmark::State& state, double seconds) {
  const std::string file = Character(seconds);
  const std::string figure = "character:" + std::to_string(static_cast<int>(seconds)) + "s";
  for (auto _ : state) {
    const Clock::time_point t = Clock::now();
    auto doc = headless::NewDocument();
    const headless::CharacterImport imported =
        headless::ImportCharacterBytes(file, "sway.gltf", *doc);
    if (imported.lastFrame != static_cast<Int32>(std::lround(seconds * 24)))
      state.SkipWithError("the clip's frames are not its keys'");
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
}

}  // namespace bench
