// `tessamire run`: the main job on the built-in limb. The limb is skinned to its joints by the
// host's skin deformer, equipped by the plug-in's setup command (Shift held, so its deformer
// lands right after the skin), bound at rest, and evaluated over an animation that bends the
// elbow. Every frame is evaluated twice: with the plug-in's deformer off (what skinning alone
// gives) and on (the corrected result); both are measured against the rest detail.
#include <algorithm>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <optional>
#include <stdexcept>

#include "headless/cli/subcommands.h"
#include "headless/deform.h"
#include "headless/detail_height.h"
#include "headless/limb_scene.h"
#include "headless/measures.h"
#include "headless/obj.h"
#include "headless/parameters.h"
#include "headless/platform.h"
#include "headless/plot.h"
#include "headless/png.h"
#include "headless/progress.h"
#include "headless/registry.h"
#include "headless/render.h"
#include "headless/scene_file.h"
#include "headless/selection.h"
#include "headless/skin.h"

namespace cli {
namespace {

namespace fs = std::filesystem;

constexpr Int32 kCommandType = 1035622;
constexpr Int32 kDeformerType = 1035447;
constexpr Int32 kTagType = 1035496;
constexpr Int32 kBind = 1000;
constexpr Int32 kWeighting = 1003;
constexpr Int32 kIterations = 1004;
constexpr Int32 kStrength = 1008;
// Rounds of neighbour averaging behind the detail height measure: enough to flatten the limb's
// ridges and bumps, few enough to keep the tube's shape.
constexpr Int32 kHeightSmoothing = 8;
// Smoothing rounds of the main job at 50,000 points; see DefaultIterations.
constexpr Int32 kRunIterations = 32;

struct RunOptions {
  Int64 points = 50000;
  Int32 frames = 30;
  Float angle = 120.0;
  std::optional<Int32> iterations;
  std::optional<Int32> weighting;
  std::optional<Float> strength;
  std::string out = "out";
  std::string plugins;
  bool quiet = false;
};

template <typename T>
bool ParseNumber(const std::string& text, T& out) {
  const char* end = text.data() + text.size();
  const auto [stop, error] = std::from_chars(text.data(), end, out);
  return error == std::errc() && stop == end && !text.empty();
}

bool ParseOptions(const std::vector<std::string>& args, RunOptions& o, std::string& error) {
  ParsedArgs parsed;
  if (!ParseArgs(args,
                 {"--points", "--frames", "--angle", "--iterations", "--weighting", "--strength",
                  "--out", "--plugins"},
                 {"--quiet"}, parsed, error))
    return false;
  auto fail = [&](const std::string& message) {
    error = message;
    return false;
  };
  if (!parsed.positional.empty()) return fail("unexpected argument " + parsed.positional.front());
  const auto& v = parsed.values;
  auto has = [&](const char* name) { return v.count(name) != 0; };
  if (has("--points") && (!ParseNumber(v.at("--points"), o.points) || o.points < 8))
    return fail("--points wants a whole number >= 8, not \"" + v.at("--points") + "\"");
  if (has("--frames") && (!ParseNumber(v.at("--frames"), o.frames) || o.frames < 2))
    return fail("--frames wants a whole number >= 2, not \"" + v.at("--frames") + "\"");
  if (has("--angle") && (!ParseNumber(v.at("--angle"), o.angle) || !std::isfinite(o.angle) ||
                         std::fabs(o.angle) > 180.0))
    return fail("--angle wants degrees in [-180, 180], not \"" + v.at("--angle") + "\"");
  Int32 n = 0;
  if (has("--iterations")) {
    if (!ParseNumber(v.at("--iterations"), n) || n < 0)
      return fail("--iterations wants a whole number >= 0, not \"" + v.at("--iterations") + "\"");
    o.iterations = n;
  }
  if (has("--weighting")) {
    if (!ParseNumber(v.at("--weighting"), n) || (n != 0 && n != 1))
      return fail("--weighting wants 0 or 1, not \"" + v.at("--weighting") + "\"");
    o.weighting = n;
  }
  if (has("--strength")) {
    Float s = 0.0;
    if (!ParseNumber(v.at("--strength"), s) || !std::isfinite(s))
      return fail("--strength wants a finite number, not \"" + v.at("--strength") + "\"");
    o.strength = s;
  }
  if (has("--out")) o.out = v.at("--out");
  if (o.out.empty()) return fail("--out wants a folder");
  if (has("--plugins")) o.plugins = v.at("--plugins");
  o.quiet = parsed.flags.count("--quiet") != 0;
  return true;
}

// The tag's default (2 rounds) suits fine noise; the limb's ridges and bumps are several edges
// wide at 50,000 points, so the main job smooths further there. A feature's width in edges grows
// with the square root of the point count and smoothing reaches about the square root of its
// rounds, so the rounds scale with the point count.
Int32 DefaultIterations(Int64 points) {
  const Float rounds = std::round(kRunIterations * static_cast<Float>(points) / 50000.0);
  return static_cast<Int32>(std::clamp(rounds, 1.0, 1000.0));
}

headless::Value IntValue(Int32 i) {
  headless::Value value;
  value.type = headless::ValueType::kInt32;
  value.int32 = i;
  return value;
}

// Runs the setup command on the selected limb with Shift held and checks where it put things:
// the bind tag on the limb, the deformer right after the skin.
void EquipLimb(headless::Document& doc, const headless::LimbScene& scene, headless::Node*& tag,
               headless::Node*& deformer) {
  headless::ClearSelection(doc);
  headless::SetSelected(scene.object, true);
  headless::SetActiveDocument(&doc);
  headless::SetKeyboardQualifier(QSHIFT);
  bool ran = false;
  try {
    ran = headless::ExecuteCommand(kCommandType);
  } catch (...) {
    headless::SetKeyboardQualifier(0);
    headless::SetActiveDocument(nullptr);
    throw;
  }
  headless::SetKeyboardQualifier(0);
  headless::SetActiveDocument(nullptr);
  if (!ran) throw std::runtime_error("the setup command failed on the limb");
  tag = nullptr;
  for (headless::Node* t : headless::Document::Tags(scene.object))
    if (t->type == kTagType) tag = t;
  deformer = scene.skin->next;
  if (tag == nullptr) throw std::runtime_error("the setup command put no bind tag on the limb");
  if (deformer == nullptr || deformer->type != kDeformerType)
    throw std::runtime_error("the setup command did not place its deformer right after the skin");
}

struct FrameRow {
  Int32 frame = 0;
  Float angle = 0.0;
  headless::DetailMeasures skinned;
  headless::DetailMeasures corrected;
  Float skinnedHeight = 0.0;  // detail height error, fraction of the rest detail
  Float correctedHeight = 0.0;
  Float skinnedSeconds = 0.0;
  Float correctedSeconds = 0.0;
};

// Evaluates the document at `frame` and answers the seconds it took.
Float TimedEvaluation(headless::Document& doc, Int32 frame) {
  const auto start = std::chrono::steady_clock::now();
  const headless::DeformReport report =
      headless::EvaluateDocumentAtFrame(doc, static_cast<Float>(frame));
  const auto stop = std::chrono::steady_clock::now();
  if (!report.Ok())
    throw std::runtime_error("frame " + std::to_string(frame) + ": " + report.errors.front());
  return std::chrono::duration<Float>(stop - start).count();
}

void PrintTable(const std::vector<FrameRow>& rows, Int64 points, std::ostream& out) {
  out << "frame  angle | height error (%)   | edge change (%)    | hinge change (deg) | "
         "corrected eval\n"
         "             | skinned  corrected | skinned  corrected | skinned  corrected |    ms  "
         " Mpts/s\n";
  char line[160];
  for (const FrameRow& r : rows) {
    const Float rate =
        r.correctedSeconds > 0.0 ? static_cast<Float>(points) / r.correctedSeconds / 1.0e6 : 0.0;
    std::snprintf(line, sizeof line,
                  "%5d %6.1f | %7.2f %10.2f | %7.3f %10.3f | %7.3f %10.3f | %6.1f %8.2f\n",
                  static_cast<int>(r.frame), r.angle, 100.0 * r.skinnedHeight,
                  100.0 * r.correctedHeight, 100.0 * r.skinned.edgeLengthChange,
                  100.0 * r.corrected.edgeLengthChange, r.skinned.normalAngleDegrees,
                  r.corrected.normalAngleDegrees, 1000.0 * r.correctedSeconds, rate);
    out << line;
  }
}

// Rest, skinned and corrected side by side, from a camera close on the elbow.
void WritePictures(const headless::LimbScene& scene, const std::vector<Vector3>& skinned,
                   const std::vector<Vector3>& corrected, const std::vector<FrameRow>& rows,
                   const fs::path& out) {
  const headless::LimbMesh& mesh = scene.mesh;
  const Vector3 elbow = mesh.jointPositions[1];
  auto view = [&](const std::vector<Vector3>& points, const char* caption) {
    headless::MeshView v;
    v.points = points.data();
    v.pointCount = static_cast<Int64>(points.size());
    v.polygons = mesh.polygons.data();
    v.polygonCount = static_cast<Int64>(mesh.polygons.size());
    v.caption = caption;
    return v;
  };
  // Frame the points near the elbow in the bent meshes.
  std::vector<Vector3> near;
  const Float reach = 0.45;
  for (const std::vector<Vector3>* points : {&skinned, &corrected})
    for (const Vector3& p : *points) {
      const Vector3 d{p.x - elbow.x, p.y - elbow.y, p.z - elbow.z};
      if (d.x * d.x + d.y * d.y + d.z * d.z < reach * reach) near.push_back(p);
    }
  if (near.empty()) near = corrected;
  headless::MeshView nearView;
  nearView.points = near.data();
  nearView.pointCount = static_cast<Int64>(near.size());
  constexpr Int32 kPanelWidth = 560;
  constexpr Int32 kPanelHeight = 560;
  const headless::Camera camera =
      headless::FitCamera({nearView}, {0.35, 0.2, -1.0}, {0.0, 1.0, 0.0}, 30.0, 1.0);
  const headless::Image panels = headless::RenderPanels(
      {view(mesh.points, "rest"), view(skinned, "skinned"), view(corrected, "corrected")}, camera,
      kPanelWidth, kPanelHeight);
  headless::WritePng((out / "limb.png").string(), panels);

  std::vector<Float> x;
  headless::PlotSeries skinEdge{"skinned", {}, {200, 60, 60}};
  headless::PlotSeries fixEdge{"corrected", {}, {40, 110, 200}};
  headless::PlotSeries skinHinge = skinEdge, fixHinge = fixEdge;
  headless::PlotSeries skinHeight = skinEdge, fixHeight = fixEdge;
  for (const FrameRow& r : rows) {
    x.push_back(r.frame);
    skinEdge.values.push_back(100.0 * r.skinned.edgeLengthChange);
    fixEdge.values.push_back(100.0 * r.corrected.edgeLengthChange);
    skinHinge.values.push_back(r.skinned.normalAngleDegrees);
    fixHinge.values.push_back(r.corrected.normalAngleDegrees);
    skinHeight.values.push_back(100.0 * r.skinnedHeight);
    fixHeight.values.push_back(100.0 * r.correctedHeight);
  }
  const headless::Image plot =
      headless::PlotPanels(x, {{"detail height error (%)", {skinHeight, fixHeight}},
                               {"edge change of the detail (%)", {skinEdge, fixEdge}},
                               {"hinge change of the detail (deg)", {skinHinge, fixHinge}}});
  headless::WritePng((out / "measures.png").string(), plot);
}

int Run(const RunOptions& o, std::ostream& out, std::ostream& err) {
  headless::PluginFolder folder;
  if (!StartPlugins(o.plugins, folder, err)) return kExitFailure;
  headless::Registration registration;
  for (Int32 id : {kCommandType, kDeformerType, kTagType})
    if (!headless::FindRegistration(id, registration))
      throw std::runtime_error("the plug-in did not register part " + std::to_string(id));

  headless::LimbSceneOptions sceneOptions;
  sceneOptions.limb.approximatePoints = o.points;
  sceneOptions.frames = o.frames;
  sceneOptions.bendDegrees = o.angle;
  std::unique_ptr<headless::Document> doc = headless::NewDocument();
  const headless::LimbScene scene = headless::BuildLimbScene(*doc, sceneOptions);
  const Int64 count = static_cast<Int64>(scene.mesh.points.size());

  // The same tube without detail, skinned alike, separates the detail from the bend itself.
  headless::LimbOptions baseOptions = sceneOptions.limb;
  baseOptions.detailAmplitude = 0.0;
  const headless::LimbMesh base = headless::MakeLimb(baseOptions);
  std::vector<const Float32*> baseWeights;
  for (const auto& w : base.weights) baseWeights.push_back(w.data());
  const std::vector<Int32> region = headless::BlendRegion(baseWeights, count);
  const headless::DetailReference reference = headless::PrepareDetailReference(
      scene.mesh.points.data(), count, scene.mesh.polygons.data(),
      static_cast<Int64>(scene.mesh.polygons.size()), region, base.points.data());
  const std::vector<std::vector<Int32>> neighbours =
      headless::PointNeighbours(count, scene.mesh.polygons);
  auto heights = [&](const std::vector<Vector3>& points) {
    return headless::DetailHeights(points, scene.mesh.polygons, neighbours, kHeightSmoothing);
  };
  const std::vector<Float> restHeights = heights(scene.mesh.points);
  const std::vector<Float> restBaseHeights = heights(base.points);

  headless::Node* tag = nullptr;
  headless::Node* deformer = nullptr;
  EquipLimb(*doc, scene, tag, deformer);
  headless::SetParameter(tag, kIterations,
                         IntValue(o.iterations.value_or(DefaultIterations(o.points))));
  if (o.weighting) headless::SetParameter(tag, kWeighting, IntValue(*o.weighting));
  if (o.strength) {
    headless::Value value;
    value.type = headless::ValueType::kFloat;
    value.real = *o.strength;
    headless::SetParameter(tag, kStrength, value);
  }
  // Bind on the rest pose: the bend is 0 at frame 0.
  headless::ApplyKeysAtFrame(*doc, 0.0);
  if (!headless::PressButton(tag, kBind))
    throw std::runtime_error("the bind tag refused to bind the rest limb");

  const fs::path outDir(o.out);
  fs::create_directories(outDir);
  if (!o.quiet)
    out << "limb: " << count << " points, " << scene.mesh.polygons.size() << " polygons, "
        << scene.joints.size() << " joints; " << reference.edges.size()
        << " edges measured where the weights blend\n";

  std::vector<FrameRow> rows;
  std::vector<Vector3> skinned, corrected, baseSkinned(base.points.size());
  headless::Progress progress(
      err, headless::ChooseProgressStyle(headless::platform::StderrIsTerminal(), o.quiet),
      "tessamire run", "frame", o.frames);
  for (Int32 frame = 0; frame < o.frames; ++frame) {
    FrameRow row;
    row.frame = frame;
    row.angle = o.angle * frame / static_cast<Float>(o.frames - 1);
    deformer->deformMode = false;
    row.skinnedSeconds = TimedEvaluation(*doc, frame);
    skinned = headless::DeformedPoints(scene.object);
    deformer->deformMode = true;
    row.correctedSeconds = TimedEvaluation(*doc, frame);
    corrected = headless::DeformedPoints(scene.object);
    headless::SkinPoints(base.points.data(), count, headless::CurrentPoses(scene.joints),
                         baseWeights, baseSkinned.data());
    row.skinned = headless::MeasureDetail(reference, skinned.data(), count, baseSkinned.data());
    row.corrected = headless::MeasureDetail(reference, corrected.data(), count, baseSkinned.data());
    const std::vector<Float> baseHeights = heights(baseSkinned);
    row.skinnedHeight = headless::DetailHeightError(heights(skinned), restHeights, baseHeights,
                                                    restBaseHeights, region);
    row.correctedHeight = headless::DetailHeightError(heights(corrected), restHeights, baseHeights,
                                                      restBaseHeights, region);
    rows.push_back(row);
    char bend[32];
    std::snprintf(bend, sizeof bend, "bend %.1f deg", row.angle);
    progress.Step(bend);
  }
  progress.Finish();

  PrintTable(rows, count, out);
  headless::WriteObj((outDir / "skinned.obj").string(), skinned, scene.mesh.polygons);
  headless::WriteObj((outDir / "corrected.obj").string(), corrected, scene.mesh.polygons);
  headless::SaveScene(*doc, (outDir / "limb.tsm").string());
  WritePictures(scene, skinned, corrected, rows, outDir);
  if (!o.quiet)
    out << "wrote " << (outDir / "skinned.obj").string() << ", corrected.obj, limb.tsm, "
        << "limb.png and measures.png\n";
  doc.reset();
  folder.Close();
  return kExitOk;
}

int RunMainJob(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  RunOptions options;
  std::string error;
  if (!ParseOptions(args, options, error)) {
    err << "tessamire run: " << error << "\n";
    return kExitUsage;
  }
  try {
    return Run(options, out, err);
  } catch (const std::exception& e) {
    err << "tessamire run: " << e.what() << "\n";
    return kExitFailure;
  }
}

const SubcommandRegistration kRun(
    {"run",
     "run [--points N] [--frames F] [--angle DEG] [--iterations N] [--weighting 0|1] "
     "[--strength S] [--out DIR] [--quiet] [--plugins DIR]",
     "the main job: skin the built-in limb, equip it with the setup command, bend the elbow "
     "over F frames, print the detail kept by skinning alone and by the correction, and write "
     "meshes, the scene and pictures to DIR (default out)",
     RunMainJob});

}  // namespace
}  // namespace cli
