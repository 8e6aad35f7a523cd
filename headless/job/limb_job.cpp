#include "headless/job/limb_job.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <string>
#include <utility>

#include "headless/deformers/skin.h"
#include "headless/geometry/vector.h"
#include "headless/io/obj_write.h"
#include "headless/io/png.h"
#include "headless/io/scene_file.h"
#include "headless/job/detail_picture.h"
#include "headless/picture/rasterizer.h"
#include "headless/picture/side_by_side.h"
#include "headless/scene/evaluate.h"
#include "headless/scene/parameters.h"
#include "host/abi/ids.h"

namespace headless {

namespace fs = std::filesystem;

namespace {

// Half-width of the elbow's blend band: wide enough that skinning visibly flattens the detail
// across the joint.
constexpr Float kBlendHalfWidth = 0.6;

// Two views of the bent elbow: one from its outer side, one looking into the crease, each tilted
// a little out of the bend's plane. Answers {outer, inner} view directions (camera to elbow).
std::pair<Vector3, Vector3> ElbowViews(const LimbMesh& mesh, const std::vector<Vector3>& bent) {
  const Vector3 elbow = mesh.jointPositions[1];
  auto unit = [](Vector3 v) {
    const Float len = Length(v);
    return len > 0.0 ? Divide(v, len) : Vector3{};
  };
  // The poles sit beyond the two ends: the upper arm and the forearm point at them.
  const size_t shoulderPole = static_cast<size_t>(mesh.rings) * static_cast<size_t>(mesh.segments);
  const Vector3 upper = unit(Sub(bent[shoulderPole], elbow));
  const Vector3 fore = unit(Sub(bent[shoulderPole + 1], elbow));
  Vector3 inner = unit(Add(upper, fore));
  if (inner.x == 0.0 && inner.y == 0.0 && inner.z == 0.0) inner = {-1.0, 0.0, 0.0};  // straight
  constexpr Float kTilt = 0.45;
  return {unit({inner.x, inner.y, inner.z - kTilt}), unit({-inner.x, -inner.y, -inner.z - kTilt})};
}

// Rest, skinned and corrected side by side from one camera, a row each for the elbow's outer side
// and its crease, under a grazing key light so the relief reads (limb.png); and the skinned and
// corrected meshes coloured by the detail each point keeps (detail.png).
void WritePictures(const LimbMesh& mesh, const MeasuredFrame& shown, const fs::path& out) {
  const Vector3 elbow = mesh.jointPositions[1];
  auto view = [&](const std::vector<Vector3>& points, const std::string& caption) {
    return ViewOf(points, mesh.polygons, caption);
  };
  // Frame the points near the elbow in the bent meshes.
  std::vector<Vector3> near;
  const Float reach = 0.5;
  for (const std::vector<Vector3>* points : {&shown.skinned, &shown.corrected})
    for (const Vector3& p : *points) {
      const Vector3 d = Sub(p, elbow);
      if (Dot(d, d) < reach * reach) near.push_back(p);
    }
  if (near.empty()) near = shown.corrected;
  MeshView nearView;
  nearView.points = near.data();
  nearView.pointCount = static_cast<Int64>(near.size());
  const auto [outerDirection, innerDirection] = ElbowViews(mesh, shown.skinned);
  const Vector3 up{0.0, 0.0, 1.0};
  const Camera cameras[2] = {FitCamera({nearView}, outerDirection, up, 30.0, 1.0),
                             FitCamera({nearView}, innerDirection, up, 30.0, 1.0)};
  const char* const sides[2] = {"outer side", "crease"};

  constexpr Int32 kPanel = 440;
  const RenderOptions grazing = GrazingLight();
  const Int32 margin = 4 * grazing.captionScale;
  auto draw = [&](Image& image, Int32 column, Int32 row, const MeshView& v, const Camera& camera,
                  const RenderOptions& options) {
    const Int32 x = column * kPanel;
    const Int32 y = row * kPanel;
    RenderMesh(image, x, y, kPanel, kPanel, v, camera, options);
    if (column > 0) FillRect(image, x, y, 1, kPanel, options.backgroundTop);
    if (row > 0) FillRect(image, x, y, kPanel, 1, options.backgroundTop);
    DrawText(image, x + margin, y + margin, v.caption, options.captionColor, options.captionScale);
  };

  Image shaded = MakeImage(3 * kPanel, 2 * kPanel, {0, 0, 0});
  for (Int32 row = 0; row < 2; ++row) {
    const std::string side = sides[row];
    draw(shaded, 0, row, view(mesh.points, "rest, " + side), cameras[row], grazing);
    draw(shaded, 1, row, view(shown.skinned, "skinned, " + side), cameras[row], grazing);
    draw(shaded, 2, row, view(shown.corrected, "corrected, " + side), cameras[row], grazing);
  }
  WritePng((out / "limb.png").string(), shaded);

  std::vector<Rgb> skinnedColors, correctedColors;
  for (Float k : shown.skinnedKept) skinnedColors.push_back(KeptColor(k));
  for (Float k : shown.correctedKept) correctedColors.push_back(KeptColor(k));
  RenderOptions soft;  // the default, frontal key: colour carries the message here
  Image coloured = MakeImage(2 * kPanel, 2 * kPanel + kKeptLegendHeight, {22, 24, 30});
  for (Int32 row = 0; row < 2; ++row) {
    const std::string side = sides[row];
    MeshView s = view(shown.skinned, "skinned, " + side);
    s.pointColors = skinnedColors.data();
    MeshView c = view(shown.corrected, "corrected, " + side);
    c.pointColors = correctedColors.data();
    draw(coloured, 0, row, s, cameras[row], soft);
    draw(coloured, 1, row, c, cameras[row], soft);
  }
  DrawKeptLegend(coloured, 2 * kPanel + 10, "detail kept, last frame:", soft.captionColor);
  WritePng((out / "detail.png").string(), coloured);
}

}  // namespace

Float LimbJobBytes(Int64 points, Int32 frames) {
  return static_cast<Float>(points) * (1000.0 + 100.0 * static_cast<Float>(frames));
}

// The limb's ridges and grooves are six edges long whatever its point count, and the smoothing has
// to reach across about one of them before the smoothed surface is free of the detail; measured at
// 50,000 points, 64 rounds restore the detail height best while the edge lengths still come out
// closer to the rest's than skinning alone leaves them (128 rounds start to stretch them). On a
// coarser limb the blend band spans fewer edges (as the square root of the point count), and
// smoothing that reaches about the square root of its rounds in edges would start to reshape the
// bend itself; so below 50,000 points the rounds shrink with the point count.
Int32 LimbJobIterations(Int64 points) {
  const Float rounds = std::round(kLimbJobIterations * static_cast<Float>(points) / 50000.0);
  return static_cast<Int32>(std::clamp(rounds, 1.0, static_cast<Float>(kLimbJobIterations)));
}

LimbJob::LimbJob(const LimbJobOptions& options) : options_(options) {
  RequirePluginParts();
  LimbSceneOptions sceneOptions;
  sceneOptions.limb.approximatePoints = options.points;
  sceneOptions.limb.blendHalfWidth = kBlendHalfWidth;
  sceneOptions.frames = options.frames;
  sceneOptions.bendDegrees = options.angle;
  doc_ = NewDocument();
  scene_ = BuildLimbScene(*doc_, sceneOptions);

  // The same tube without detail, skinned alike, separates the detail from the bend itself.
  LimbOptions baseOptions = sceneOptions.limb;
  baseOptions.detailAmplitude = 0.0;
  LimbMesh base = MakeLimb(baseOptions);
  baseWeights_ = std::move(base.weights);
  std::vector<const Float32*> weights;
  for (const auto& w : baseWeights_) weights.push_back(w.data());
  measurer_.emplace(scene_.mesh.points, scene_.mesh.polygons, std::move(base.points), weights,
                    scene_.joints);

  const Equipment equipment = EquipWithCommand(
      *doc_, scene_.object, scene_.skin, LimbJobIterations(options.points), options.tagSettings);
  deformer_ = equipment.deformer;
  // The limb bends in its XY plane: Z is up.
  page_.emplace("tessamire run: the limb", scene_.mesh.points, scene_.mesh.polygons, 'z');
  // Bind on the rest pose: the bend is 0 at frame 0.
  ApplyKeysAtFrame(*doc_, 0.0);
  if (!PressButton(equipment.tag, TTESSAMIRE_BIND))
    throw std::runtime_error("the bind tag refused to bind the rest limb");
}

const FrameRow& LimbJob::MeasureFrame(Int32 frame) {
  last_ = measurer_->Measure(*doc_, scene_.object, deformer_, frame);
  last_.row.label = options_.angle * frame / static_cast<Float>(options_.frames - 1);
  rows_.push_back(last_.row);
  page_->Add(last_);
  return rows_.back();
}

void LimbJob::WriteOutputs(const fs::path& folder, std::string_view pageTemplate) {
  WriteObj((folder / "skinned.obj").string(), last_.skinned, scene_.mesh.polygons);
  WriteObj((folder / "corrected.obj").string(), last_.corrected, scene_.mesh.polygons);
  SaveScene(*doc_, (folder / "limb.tsm").string());
  WritePictures(scene_.mesh, last_, folder);
  WriteMeasuresPlot(rows_, folder / "measures.png");
  // The page opens on the elbow's outer side, as the pictures show it.
  const Vector3 outer = ElbowViews(scene_.mesh, last_.skinned).first;
  page_->SetViewDirection({-outer.x, -outer.y, -outer.z});
  page_->Write(folder / "view.html", pageTemplate);
}

}  // namespace headless
