// `tessamire run`: the main job on the built-in limb. The limb is skinned to its joints by the
// host's skin deformer, equipped by the plug-in's setup command (Shift held, so its deformer
// lands right after the skin), bound at rest, and evaluated over an animation that bends the
// elbow. Every frame is evaluated twice: with the plug-in's deformer off (what skinning alone
// gives) and on (the corrected result); both are measured against the rest detail.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <optional>
#include <stdexcept>
#include <utility>

#include "cli/main_job.h"
#include "cli/output_folder.h"
#include "cli/progress.h"
#include "cli/subcommands.h"
#include "cli/tag_settings.h"
#include "headless/deformers/skin.h"
#include "headless/geometry/vector.h"
#include "headless/host/tessamire_ids.h"
#include "headless/io/obj.h"
#include "headless/io/png.h"
#include "headless/io/scene_file.h"
#include "headless/job/detail_height.h"
#include "headless/job/detail_picture.h"
#include "headless/job/limb_scene.h"
#include "headless/job/measures.h"
#include "headless/picture/render.h"
#include "headless/platform/platform.h"
#include "headless/scene/deform.h"
#include "headless/scene/evaluate.h"
#include "headless/scene/parameters.h"
#include "headless/scene/registry.h"

namespace cli {
namespace {

namespace fs = std::filesystem;

using namespace tessamire_ids;

// Smoothing rounds of the main job at 50,000 points and beyond. The limb's ridges and grooves are
// six edges long whatever its point count, and the smoothing has to reach across about one of them
// before the smoothed surface is free of the detail; measured at 50,000 points, 64 rounds restore
// the detail height best while the edge lengths still come out closer to the rest's than skinning
// alone leaves them (128 rounds start to stretch them). See the README's table.
constexpr Int32 kRunIterations = 64;
// Half-width of the elbow's blend band: wide enough that skinning visibly flattens the detail
// across the joint.
constexpr Float kRunBlendHalfWidth = 0.6;

// On a coarser limb the blend band spans fewer edges (as the square root of the point count), and
// smoothing that reaches about the square root of its rounds in edges would start to reshape the
// bend itself; so below 50,000 points the rounds shrink with the point count.
Int32 DefaultIterations(Int64 points) {
  const Float rounds = std::round(kRunIterations * static_cast<Float>(points) / 50000.0);
  return static_cast<Int32>(std::clamp(rounds, 1.0, static_cast<Float>(kRunIterations)));
}

// Two views of the bent elbow: one from its outer side, one looking into the crease, each tilted
// a little out of the bend's plane. Answers {outer, inner} view directions (camera to elbow).
std::pair<Vector3, Vector3> ElbowViews(const headless::LimbMesh& mesh,
                                       const std::vector<Vector3>& bent) {
  const Vector3 elbow = mesh.jointPositions[1];
  auto unit = [](Vector3 v) {
    const Float len = headless::Length(v);
    return len > 0.0 ? headless::Divide(v, len) : Vector3{};
  };
  // The poles sit beyond the two ends: the upper arm and the forearm point at them.
  const size_t shoulderPole = static_cast<size_t>(mesh.rings) * static_cast<size_t>(mesh.segments);
  const Vector3 upper = unit(headless::Sub(bent[shoulderPole], elbow));
  const Vector3 fore = unit(headless::Sub(bent[shoulderPole + 1], elbow));
  Vector3 inner = unit(headless::Add(upper, fore));
  if (inner.x == 0.0 && inner.y == 0.0 && inner.z == 0.0) inner = {-1.0, 0.0, 0.0};  // straight
  constexpr Float kTilt = 0.45;
  return {unit({inner.x, inner.y, inner.z - kTilt}), unit({-inner.x, -inner.y, -inner.z - kTilt})};
}

// Rest, skinned and corrected side by side from one camera, a row each for the elbow's outer side
// and its crease, under a grazing key light so the relief reads (limb.png); and the skinned and
// corrected meshes coloured by the detail each point keeps (detail.png).
void WritePictures(const headless::LimbScene& scene, const std::vector<Vector3>& skinned,
                   const std::vector<Vector3>& corrected, const std::vector<Float>& skinnedKept,
                   const std::vector<Float>& correctedKept, const std::vector<FrameRow>& rows,
                   const fs::path& out) {
  const headless::LimbMesh& mesh = scene.mesh;
  const Vector3 elbow = mesh.jointPositions[1];
  auto view = [&](const std::vector<Vector3>& points, const std::string& caption) {
    return headless::ViewOf(points, mesh.polygons, caption);
  };
  // Frame the points near the elbow in the bent meshes.
  std::vector<Vector3> near;
  const Float reach = 0.5;
  for (const std::vector<Vector3>* points : {&skinned, &corrected})
    for (const Vector3& p : *points) {
      const Vector3 d = headless::Sub(p, elbow);
      if (headless::Dot(d, d) < reach * reach) near.push_back(p);
    }
  if (near.empty()) near = corrected;
  headless::MeshView nearView;
  nearView.points = near.data();
  nearView.pointCount = static_cast<Int64>(near.size());
  const auto [outerDirection, innerDirection] = ElbowViews(mesh, skinned);
  const Vector3 up{0.0, 0.0, 1.0};
  const headless::Camera cameras[2] = {
      headless::FitCamera({nearView}, outerDirection, up, 30.0, 1.0),
      headless::FitCamera({nearView}, innerDirection, up, 30.0, 1.0)};
  const char* const sides[2] = {"outer side", "crease"};

  constexpr Int32 kPanel = 440;
  headless::RenderOptions grazing;
  grazing.keyDirection = {-0.92, 0.25, 0.30};  // from the left, just off the image plane
  grazing.key = 0.95;
  grazing.fill = 0.26;
  grazing.ambient = 0.10;
  const Int32 margin = 4 * grazing.captionScale;
  auto draw = [&](headless::Image& image, Int32 column, Int32 row, const headless::MeshView& v,
                  const headless::Camera& camera, const headless::RenderOptions& options) {
    const Int32 x = column * kPanel;
    const Int32 y = row * kPanel;
    headless::RenderMesh(image, x, y, kPanel, kPanel, v, camera, options);
    if (column > 0) headless::FillRect(image, x, y, 1, kPanel, options.backgroundTop);
    if (row > 0) headless::FillRect(image, x, y, kPanel, 1, options.backgroundTop);
    headless::DrawText(image, x + margin, y + margin, v.caption, options.captionColor,
                       options.captionScale);
  };

  headless::Image shaded = headless::MakeImage(3 * kPanel, 2 * kPanel, {0, 0, 0});
  for (Int32 row = 0; row < 2; ++row) {
    const std::string side = sides[row];
    draw(shaded, 0, row, view(mesh.points, "rest, " + side), cameras[row], grazing);
    draw(shaded, 1, row, view(skinned, "skinned, " + side), cameras[row], grazing);
    draw(shaded, 2, row, view(corrected, "corrected, " + side), cameras[row], grazing);
  }
  headless::WritePng((out / "limb.png").string(), shaded);

  std::vector<headless::Rgb> skinnedColors, correctedColors;
  for (Float k : skinnedKept) skinnedColors.push_back(headless::KeptColor(k));
  for (Float k : correctedKept) correctedColors.push_back(headless::KeptColor(k));
  headless::RenderOptions soft;  // the default, frontal key: colour carries the message here
  headless::Image coloured =
      headless::MakeImage(2 * kPanel, 2 * kPanel + headless::kKeptLegendHeight, {22, 24, 30});
  for (Int32 row = 0; row < 2; ++row) {
    const std::string side = sides[row];
    headless::MeshView s = view(skinned, "skinned, " + side);
    s.pointColors = skinnedColors.data();
    headless::MeshView c = view(corrected, "corrected, " + side);
    c.pointColors = correctedColors.data();
    draw(coloured, 0, row, s, cameras[row], soft);
    draw(coloured, 1, row, c, cameras[row], soft);
  }
  headless::DrawKeptLegend(coloured, 2 * kPanel + 10,
                           "detail kept, last frame:", soft.captionColor);
  headless::WritePng((out / "detail.png").string(), coloured);
  WriteMeasuresPlot(rows, out / "measures.png");
}

int Run(const RunOptions& o, std::ostream& out, std::ostream& err) {
  if (!o.character.empty()) return RunCharacter(o, out, err);
  RequirePluginParts();

  headless::LimbSceneOptions sceneOptions;
  sceneOptions.limb.approximatePoints = o.points;
  sceneOptions.limb.blendHalfWidth = kRunBlendHalfWidth;
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
  const FrameMeasurer measurer(scene.mesh.points, scene.mesh.polygons, base.points, baseWeights,
                               scene.joints);

  headless::Node* tag = nullptr;
  headless::Node* deformer = nullptr;
  EquipWithCommand(*doc, scene.object, scene.skin, tag, deformer);
  ApplyRunSettings(tag, o, DefaultIterations(o.points));
  // Bind on the rest pose: the bend is 0 at frame 0.
  headless::ApplyKeysAtFrame(*doc, 0.0);
  if (!headless::PressButton(tag, kBindButton))
    throw std::runtime_error("the bind tag refused to bind the rest limb");

  const fs::path outDir(o.out);
  PrepareFolder(o.out);
  if (!o.quiet)
    out << "limb: " << count << " points, " << scene.mesh.polygons.size() << " polygons, "
        << scene.joints.size() << " joints; " << measurer.EdgeCount()
        << " edges measured where the weights blend\n";

  // The limb bends in its XY plane: Z is up.
  RunPage page("tessamire run: the limb", scene.mesh.points, scene.mesh.polygons, 'z');
  std::vector<FrameRow> rows;
  MeasuredFrame last;
  headless::Progress progress(
      err, headless::ChooseProgressStyle(headless::platform::StderrIsTerminal(), o.quiet),
      "tessamire run", "frame", o.frames);
  for (Int32 frame = 0; frame < o.frames; ++frame) {
    last = measurer.Measure(*doc, scene.object, deformer, frame);
    last.row.label = o.angle * frame / static_cast<Float>(o.frames - 1);
    rows.push_back(last.row);
    page.Add(last);
    char bend[32];
    std::snprintf(bend, sizeof bend, "bend %.1f deg", last.row.label);
    progress.Step(bend);
  }
  progress.Finish();

  PrintTable(rows, count, "angle", out);
  headless::WriteObj((outDir / "skinned.obj").string(), last.skinned, scene.mesh.polygons);
  headless::WriteObj((outDir / "corrected.obj").string(), last.corrected, scene.mesh.polygons);
  headless::SaveScene(*doc, (outDir / "limb.tsm").string());
  WritePictures(scene, last.skinned, last.corrected, last.skinnedKept, last.correctedKept, rows,
                outDir);
  // The page opens on the elbow's outer side, as the pictures show it.
  const Vector3 outer = ElbowViews(scene.mesh, last.skinned).first;
  page.SetViewDirection({-outer.x, -outer.y, -outer.z});
  page.Write(outDir / "view.html");
  if (!o.quiet)
    out << "wrote " << (outDir / "skinned.obj").string() << ", corrected.obj, limb.tsm, "
        << "limb.png, detail.png, measures.png and view.html\n";
  return kExitOk;
}

int RunMainJob(const Options& options, std::ostream& out, std::ostream& err) {
  RunOptions o;
  o.options = &options;
  o.character = options.Text("--character");
  if (!o.character.empty())
    for (const char* limbOnly : {"--points", "--frames", "--angle"})
      if (options.Has(limbOnly))
        throw UsageError(std::string(limbOnly) +
                         " applies to the limb; a character runs its own mesh and animation");
  o.points = options.Integer("--points").value_or(o.points);
  o.frames = static_cast<Int32>(options.Integer("--frames").value_or(o.frames));
  o.angle = options.Number("--angle").value_or(o.angle);
  o.out = options.Text("--out", o.out);
  if (o.out == "-") throw UsageError("--out wants a folder; run writes several files");
  o.quiet = options.Has("--quiet");
  return Run(o, out, err);
}

std::vector<OptionSpec> RunOptionSpecs() {
  std::vector<OptionSpec> declarations = {
      IntegerOption("--points", "N", "about how many points the limb has", 8, 2147483647.0,
                    "50000"),
      IntegerOption("--frames", "F", "frames of the bend, from straight to --angle", 2, 100000,
                    "30"),
      NumberOption("--angle", "DEG", "the elbow's bend at the last frame, in degrees", -180, 180,
                   "120")};
  for (OptionSpec& o : TagSettingOptions(false)) {
    if (o.name == "--iterations")
      o.meaning +=
          "; the run's own default is 64 from 50,000 points up, fewer in proportion "
          "below (it overrides the tag's)";
    declarations.push_back(o);
  }
  declarations.push_back(
      TextOption("--character", "FILE",
                 "run on this rigged character (.fbx, .gltf, .dae, .x, ...) instead "
                 "of the limb"));
  declarations.push_back(
      TextOption("--out", "DIR",
                 "the folder for meshes, scene and pictures (created when its parent "
                 "exists)",
                 "out"));
  declarations.push_back(FlagOption("--quiet", "print no progress and no summary, only the table"));
  return declarations;
}

const SubcommandRegistration kRun(
    {[] {
       CommandSpec declaration;
       declaration.name = "run";
       declaration.summary =
           "the main job: skin the built-in limb, bend its elbow, and measure the detail "
           "that skinning alone and the correction keep";
       declaration.details =
           "Skins the built-in limb, equips it with the plug-in's setup command, bends the "
           "elbow over F frames, prints the detail kept by skinning alone and by the "
           "correction per frame, and writes meshes, the scene and pictures to DIR. With "
           "--character, the same on a rigged file's largest skinned mesh over its own "
           "animation, with the tag's default rounds unless --iterations says otherwise.";
       declaration.options = RunOptionSpecs();
       return declaration;
     }(),
     RunMainJob});

}  // namespace
}  // namespace cli
