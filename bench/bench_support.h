// Shared pieces of the benchmarks: the meshes (closed quad tori and the skinned limb), the scenes
// built on them through the real tessamire.xdl64 in the headless host, and the figures every
// benchmark records so that the closing summary can print medians and ratios.
#pragma once

#include <benchmark/benchmark.h>

#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "headless/entries/plugin_host.h"
#include "headless/geometry/mesh.h"
#include "headless/scene/scene.h"
#include "host/abi/ids.h"
#include "host/abi/types.h"

namespace bench {

using Clock = std::chrono::steady_clock;

inline double Seconds(Clock::time_point from) {
  return std::chrono::duration<double>(Clock::now() - from).count();
}

using headless::Mesh;

// The meshes measured, by name: "torus100k", "torus1M", "torus4M" (closed quad tori, every point
// with four edge neighbours) and "limb" (the main job's skinned limb, quads and triangle caps,
// 250,000 points); for the rig table also "torus10k", "torus50k", "torus200k" and "limb10k",
// "limb50k", "limb200k", "limb1M". Built once per process.
const Mesh& RestMesh(const std::string& name);
// The same points posed: the tori twisted about their axis and moved, the limb skinned with its
// elbow bent. The evaluations deform these.
const std::vector<Vector3>& PosedPoints(const std::string& name);

// The loaded plug-in, started once and kept open for the whole process.
headless::PluginHost& Plugin();

// One document holding the posed mesh as a polygon object with a tessamire deformer beneath it
// and a bind tag at its defaults (2 passes, length-weighted), bound on the rest mesh.
struct BoundScene {
  std::unique_ptr<headless::Document> doc;
  headless::Node* object = nullptr;
  headless::Node* tag = nullptr;
  headless::Node* deformer = nullptr;
};
// Replaces the scene's deformer by a new one, which holds no kept topology: its next evaluation
// builds the topology afresh.
void FreshDeformer(BoundScene& scene);
BoundScene& Bound(const std::string& name);
// A new scene like Bound's, with the tag's smoothing passes set to `rounds` before the bind; the
// caller holds it (and frees it when done).
BoundScene BindWithRounds(const std::string& name, Int32 rounds);

// One document holding the rest mesh with an unbound tag at its defaults: every expression pass
// binds it afresh (the tag's live mode).
BoundScene& Live(const std::string& name);

// Samples of every figure in seconds (or in the figure's own unit), by name.
std::map<std::string, std::vector<double>>& Figures();
void Record(const std::string& figure, double value);
// The median of a figure's samples; 0 when it has none.
double Median(const std::string& figure);
bool Has(const std::string& figure);

// The machine around one group of benchmarks: the load average (one minute) before and after, and
// over the group's time the share of the processors' time stolen by the hypervisor and the share
// taken by other processes (every processor's busy time less this process's own).
struct MachineShare {
  double loadBefore = 0.0;
  double loadAfter = 0.0;
  double stolen = 0.0;  // 0 .. 1
  double others = 0.0;  // 0 .. 1 of all processors
  // Figures taken while other processes held more than a quarter of the processors, or the
  // hypervisor stole more than 5%, are no evidence of a target met or missed.
  bool Busy() const { return others > 0.25 || stolen > 0.05; }
};
// Wraps a benchmark body: prints the machine's state before and after it, and keeps it under the
// group's name for the closing summary.
std::function<void(benchmark::State&)> Watched(const std::string& group,
                                               std::function<void(benchmark::State&)> body);
// The groups watched so far, in the order they ran.
const std::vector<std::pair<std::string, MachineShare>>& WatchedGroups();
// True when the group ran while the machine was busy; false when it did not run.
bool GroupBusy(const std::string& group);
// " [busy]" for a busy group, else "".
std::string BusyMark(const std::string& group);

}  // namespace bench
