// Shared pieces of the benchmarks: the meshes (closed quad tori and the skinned limb), the scenes
// built on them through the real tessamire.xdl64 in the headless host, and the figures every
// benchmark records so that the closing summary can print medians and ratios.
#pragma once

#include <chrono>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "headless/geometry/mesh.h"
#include "headless/host/plugin_host.h"
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
// with four edge neighbours) and "limb" (the main job's skinned limb, quads and triangle caps).
// Built once per process.
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

// One document holding the rest mesh with an unbound tag at its defaults: every expression pass
// binds it afresh (the tag's live mode).
BoundScene& Live(const std::string& name);

// Samples of every figure in seconds (or in the figure's own unit), by name.
std::map<std::string, std::vector<double>>& Figures();
void Record(const std::string& figure, double value);
// The median of a figure's samples; 0 when it has none.
double Median(const std::string& figure);
bool Has(const std::string& figure);

}  // namespace bench
