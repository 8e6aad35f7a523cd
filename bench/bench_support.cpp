#include "bench/bench_support.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <exception>

#include <sys/resource.h>
#include <unistd.h>

#include "headless/deformers/skinning.h"
#include "headless/geometry/primitives.h"
#include "headless/job/limb.h"
#include "headless/scene/deform.h"
#include "headless/scene/parameters.h"
#include "host/abi/ids.h"

namespace bench {

namespace {

[[noreturn]] void Fail(const std::string& what) {
  std::fprintf(stderr, "bench set-up failed: %s\n", what.c_str());
  std::exit(2);
}

struct MeshEntry {
  Mesh rest;
  std::vector<Vector3> posed;
};

MeshEntry MakeTorusEntry(Int32 u, Int32 v) {
  MeshEntry e;
  // A closed torus, radii 3 and 1, with a little ripple so that smoothing moves every point.
  e.rest = headless::Torus(u, v, {.bumpHeight = 0.02, .bumpsAround = 40.0, .bumpsAcross = 25.0});
  // A twist about the z axis growing with x, then a move: every frame turns differently.
  e.posed.reserve(e.rest.points.size());
  for (const Vector3& p : e.rest.points) {
    const Float angle = 0.15 * p.x;
    const Float c = std::cos(angle);
    const Float s = std::sin(angle);
    e.posed.push_back({c * p.x - s * p.y + 0.5, s * p.x + c * p.y - 0.25, p.z + 0.1 * p.x});
  }
  return e;
}

MeshEntry MakeLimbEntry(Int64 points) {
  headless::LimbOptions options;
  options.approximatePoints = points;
  const headless::LimbMesh limb = headless::MakeLimb(options);
  MeshEntry e;
  e.rest = limb;
  // Shoulder still, elbow bent by 60 degrees about the x axis.
  std::vector<headless::JointPose> joints(limb.jointPositions.size());
  for (size_t j = 0; j < joints.size(); ++j) {
    Matrix rest;
    rest.off = limb.jointPositions[j];
    joints[j].rest = rest;
    joints[j].current = rest;
  }
  if (joints.size() > 1)
    joints[1].current = headless::Multiply(
        headless::RotationAbout(limb.jointPositions[1], {1.0, 0.0, 0.0}, 1.0471975511965976),
        joints[1].rest);
  std::vector<const Float32*> weights;
  for (const auto& w : limb.weights) weights.push_back(w.data());
  e.posed.resize(limb.points.size());
  headless::SkinPoints(limb.points.data(), static_cast<Int64>(limb.points.size()), joints, weights,
                       e.posed.data());
  return e;
}

MeshEntry& Entry(const std::string& name) {
  static std::map<std::string, MeshEntry> entries;
  auto it = entries.find(name);
  if (it != entries.end()) return it->second;
  MeshEntry e;
  if (name == "torus100k") {
    e = MakeTorusEntry(400, 250);
  } else if (name == "torus1M") {
    e = MakeTorusEntry(1000, 1000);
  } else if (name == "torus4M") {
    e = MakeTorusEntry(2000, 2000);
  } else if (name == "limb") {
    e = MakeLimbEntry(250000);
  } else if (name == "torus10k") {
    e = MakeTorusEntry(125, 80);
  } else if (name == "torus50k") {
    e = MakeTorusEntry(250, 200);
  } else if (name == "torus200k") {
    e = MakeTorusEntry(500, 400);
  } else if (name == "limb10k") {
    e = MakeLimbEntry(10000);
  } else if (name == "limb50k") {
    e = MakeLimbEntry(50000);
  } else if (name == "limb200k") {
    e = MakeLimbEntry(200000);
  } else if (name == "limb1M") {
    e = MakeLimbEntry(1000000);
  } else {
    Fail("no mesh named " + name);
  }
  return entries.emplace(name, std::move(e)).first->second;
}

BoundScene MakeScene(const std::string& name, bool bind, Int32 rounds = 0) {
  Plugin();
  const MeshEntry& e = Entry(name);
  BoundScene scene;
  scene.doc = headless::NewDocument();
  scene.object = scene.doc->AddPolygonObject(name, e.rest.points, e.rest.polygons);
  scene.tag = scene.doc->AddTag(scene.object, ID_TTESSAMIRE);
  if (scene.tag == nullptr || scene.tag->instance == nullptr) Fail("no bind tag instance");
  if (rounds > 0) {
    headless::Value value;
    value.type = headless::ValueType::kInt32;
    value.int32 = rounds;
    headless::SetParameter(scene.tag, TTESSAMIRE_ITERATIONS, value);
  }
  if (bind) {
    if (!headless::PressButton(scene.tag, TTESSAMIRE_BIND)) Fail("the bind of " + name + " failed");
    // A first deformer takes the topology the bind built; the scene keeps a second one, which has
    // kept nothing, so that the groups see a topology built and kept by the evaluations they time.
    scene.deformer = scene.doc->AddObject(ID_OTESSAMIRE, "deformer", scene.object);
    if (scene.deformer == nullptr) Fail("no deformer instance");
    headless::DeformDocument(*scene.doc);
    FreshDeformer(scene);
    // The deformer evaluates the posed mesh against the rest-pose bind.
    scene.object->points = e.posed;
  }
  return scene;
}

}  // namespace

const Mesh& RestMesh(const std::string& name) {
  return Entry(name).rest;
}
const std::vector<Vector3>& PosedPoints(const std::string& name) {
  return Entry(name).posed;
}

headless::PluginHost& Plugin() {
  static headless::PluginHost* host = [] {
    auto* h = new headless::PluginHost();
    try {
      h->Open(std::string(TESSAMIRE_DEFAULT_PLUGIN_DIR) + "/tessamire.xdl64");
    } catch (const std::exception& e) {
      Fail(e.what());
    }
    if (h->StartUp().start != 1) Fail("the plug-in did not start");
    return h;
  }();
  return *host;
}

BoundScene& Bound(const std::string& name) {
  static std::map<std::string, BoundScene> scenes;
  auto it = scenes.find(name);
  if (it != scenes.end()) return it->second;
  return scenes.emplace(name, MakeScene(name, true)).first->second;
}

BoundScene BindWithRounds(const std::string& name, Int32 rounds) {
  return MakeScene(name, true, rounds);
}

void FreshDeformer(BoundScene& scene) {
  if (scene.deformer != nullptr) scene.doc->Delete(scene.deformer);
  scene.deformer = scene.doc->AddObject(ID_OTESSAMIRE, "deformer", scene.object);
  if (scene.deformer == nullptr) Fail("no deformer instance");
}

BoundScene& Live(const std::string& name) {
  static std::map<std::string, BoundScene> scenes;
  auto it = scenes.find(name);
  if (it != scenes.end()) return it->second;
  return scenes.emplace(name, MakeScene(name, false)).first->second;
}

std::map<std::string, std::vector<double>>& Figures() {
  static std::map<std::string, std::vector<double>> figures;
  return figures;
}

void Record(const std::string& figure, double value) {
  Figures()[figure].push_back(value);
}

double Median(const std::string& figure) {
  auto it = Figures().find(figure);
  if (it == Figures().end() || it->second.empty()) return 0.0;
  std::vector<double> v = it->second;
  std::sort(v.begin(), v.end());
  const size_t n = v.size();
  return n % 2 == 1 ? v[n / 2] : 0.5 * (v[n / 2 - 1] + v[n / 2]);
}

bool Has(const std::string& figure) {
  auto it = Figures().find(figure);
  return it != Figures().end() && !it->second.empty();
}

namespace {

struct MachineSample {
  double load = 0.0;
  unsigned long long busy = 0, total = 0, steal = 0;  // every processor, in clock ticks
  double ownSeconds = 0.0;  // this process's processor time and its finished children's
};

MachineSample SampleMachine() {
  MachineSample m;
  if (std::FILE* f = std::fopen("/proc/loadavg", "r")) {
    if (std::fscanf(f, "%lf", &m.load) != 1) m.load = 0.0;
    std::fclose(f);
  }
  if (std::FILE* f = std::fopen("/proc/stat", "r")) {
    unsigned long long v[8] = {};
    // cpu  user nice system idle iowait irq softirq steal
    if (std::fscanf(f, "cpu %llu %llu %llu %llu %llu %llu %llu %llu", &v[0], &v[1], &v[2], &v[3],
                    &v[4], &v[5], &v[6], &v[7]) == 8) {
      m.steal = v[7];
      m.busy = v[0] + v[1] + v[2] + v[5] + v[6];
      m.total = m.busy + v[3] + v[4] + v[7];
    }
    std::fclose(f);
  }
  // The programs a group runs and waits for are its own work, not other processes'.
  for (const int who : {RUSAGE_SELF, RUSAGE_CHILDREN}) {
    rusage usage{};
    getrusage(who, &usage);
    for (const timeval& t : {usage.ru_utime, usage.ru_stime})
      m.ownSeconds += static_cast<double>(t.tv_sec) + 1e-6 * static_cast<double>(t.tv_usec);
  }
  return m;
}

MachineShare Compare(const MachineSample& before, const MachineSample& after) {
  MachineShare share;
  share.loadBefore = before.load;
  share.loadAfter = after.load;
  const double total = static_cast<double>(after.total - before.total);
  if (total <= 0.0) return share;
  const double tick = static_cast<double>(sysconf(_SC_CLK_TCK));
  share.stolen = static_cast<double>(after.steal - before.steal) / total;
  const double own = (after.ownSeconds - before.ownSeconds) * tick;
  share.others = std::max(0.0, (static_cast<double>(after.busy - before.busy) - own) / total);
  return share;
}

std::vector<std::pair<std::string, MachineShare>>& Groups() {
  static std::vector<std::pair<std::string, MachineShare>> groups;
  return groups;
}

}  // namespace

std::function<void(benchmark::State&)> Watched(const std::string& group,
                                               std::function<void(benchmark::State&)> body) {
  return [group, body](benchmark::State& state) {
    const MachineSample before = SampleMachine();
    std::printf("[machine] before %s: load %.2f\n", group.c_str(), before.load);
    std::fflush(stdout);
    body(state);
    const MachineShare share = Compare(before, SampleMachine());
    std::printf("[machine] after  %s: load %.2f, stolen %.1f%%, other processes %.0f%%%s\n",
                group.c_str(), share.loadAfter, 100.0 * share.stolen, 100.0 * share.others,
                share.Busy() ? "  BUSY: not evidence" : "");
    std::fflush(stdout);
    Groups().emplace_back(group, share);
  };
}

const std::vector<std::pair<std::string, MachineShare>>& WatchedGroups() {
  return Groups();
}

bool GroupBusy(const std::string& group) {
  for (const auto& [name, share] : Groups()) {
    if (name == group && share.Busy()) return true;
  }
  return false;
}

std::string BusyMark(const std::string& group) {
  return GroupBusy(group) ? " [busy]" : "";
}

}  // namespace bench
