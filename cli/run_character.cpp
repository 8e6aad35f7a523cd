// `tessamire run --character FILE`: the main job's second act on a rigged character made
// elsewhere. The character comes in with its own bind pose, weights and animation (headless/io/
// character.h); its largest skinned mesh is equipped by the setup command and bound at rest,
// and every frame of its animation is evaluated with the deformer off and on and measured like
// the limb. A character has no detail-free twin, so the base the measures take the bend's share
// out with is its rest mesh smoothed (kBaseRounds rounds of neighbour averaging), skinned with
// the same weights and poses.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>
#include <stdexcept>

#include "cli/main_job.h"
#include "cli/output_folder.h"
#include "cli/progress.h"
#include "cli/subcommands.h"
#include "headless/deformers/skin.h"
#include "headless/deformers/skinning.h"
#include "headless/geometry/vector.h"
#include "headless/host/tessamire_ids.h"
#include "headless/io/character.h"
#include "headless/io/obj.h"
#include "headless/io/png.h"
#include "headless/io/printable.h"
#include "headless/io/scene_file.h"
#include "headless/job/detail_height.h"
#include "headless/job/detail_picture.h"
#include "headless/job/limb_scene.h"
#include "headless/picture/render.h"
#include "headless/platform/platform.h"
#include "headless/scene/deform.h"
#include "headless/scene/parameters.h"
#include "headless/scene/registry.h"

namespace cli {
namespace {

namespace fs = std::filesystem;
using namespace tessamire_ids;

// Rounds of neighbour averaging that make the base from the rest mesh: as many as the height
// measure uses, so the base keeps the shape and loses what the measure counts as detail.
constexpr Int32 kBaseRounds = 8;

std::vector<Vector3> Smoothed(std::vector<Vector3> points,
                              const std::vector<std::vector<Int32>>& neighbours, Int32 rounds) {
  std::vector<Vector3> next(points.size());
  for (Int32 r = 0; r < rounds; ++r) {
    for (size_t p = 0; p < points.size(); ++p) {
      if (neighbours[p].empty()) {
        next[p] = points[p];
        continue;
      }
      Vector3 sum;
      for (Int32 n : neighbours[p]) sum = headless::Add(sum, points[static_cast<size_t>(n)]);
      next[p] = headless::Divide(sum, static_cast<Float>(neighbours[p].size()));
    }
    points.swap(next);
  }
  return points;
}

// Front and side of the character: it is looked at along the shortest side of its box, then the
// middle one, the longest side up.
void WritePictures(const std::vector<Vector3>& rest, const std::vector<CPolygon>& polygons,
                   const MeasuredFrame& shown, const fs::path& out) {
  Vector3 lo = rest[0], hi = rest[0];
  for (const Vector3& p : rest) {
    lo = {std::min(lo.x, p.x), std::min(lo.y, p.y), std::min(lo.z, p.z)};
    hi = {std::max(hi.x, p.x), std::max(hi.y, p.y), std::max(hi.z, p.z)};
  }
  const Vector3 size = headless::Sub(hi, lo);
  const Float extents[3] = {size.x, size.y, size.z};
  int order[3] = {0, 1, 2};
  std::sort(order, order + 3, [&](int a, int b) { return extents[a] < extents[b]; });
  auto axis = [](int i, Float sign) {
    Vector3 v;
    (i == 0 ? v.x : i == 1 ? v.y : v.z) = sign;
    return v;
  };
  const Vector3 up = axis(order[2], 1.0);
  const Vector3 directions[2] = {
      headless::Normalized(headless::Add(axis(order[0], -1.0), axis(order[1], 0.25))),
      headless::Normalized(headless::Add(axis(order[1], -1.0), axis(order[0], 0.25)))};
  auto view = [&](const std::vector<Vector3>& points, const std::string& caption) {
    headless::MeshView v;
    v.points = points.data();
    v.pointCount = static_cast<Int64>(points.size());
    v.polygons = polygons.data();
    v.polygonCount = static_cast<Int64>(polygons.size());
    v.caption = caption;
    return v;
  };
  const std::string at = "frame " + std::to_string(shown.row.frame);
  constexpr Int32 kPanel = 400;
  headless::RenderOptions grazing;
  grazing.keyDirection = {-0.92, 0.25, 0.30};
  grazing.key = 0.95;
  grazing.fill = 0.26;
  grazing.ambient = 0.10;
  headless::RenderOptions soft;
  headless::Image shaded = headless::MakeImage(3 * kPanel, 2 * kPanel, {0, 0, 0});
  headless::Image coloured = headless::MakeImage(2 * kPanel, 2 * kPanel, {0, 0, 0});
  std::vector<headless::Rgb> skinnedColors, correctedColors;
  for (Float k : shown.skinnedKept) skinnedColors.push_back(headless::KeptColor(k));
  for (Float k : shown.correctedKept) correctedColors.push_back(headless::KeptColor(k));
  for (Int32 row = 0; row < 2; ++row) {
    const headless::Camera camera =
        headless::FitCamera({view(rest, ""), view(shown.skinned, ""), view(shown.corrected, "")},
                            directions[row], up, 30.0, 1.0);
    const Int32 y = row * kPanel;
    headless::RenderMesh(shaded, 0, y, kPanel, kPanel, view(rest, "rest"), camera, grazing);
    headless::RenderMesh(shaded, kPanel, y, kPanel, kPanel, view(shown.skinned, "skinned, " + at),
                         camera, grazing);
    headless::RenderMesh(shaded, 2 * kPanel, y, kPanel, kPanel,
                         view(shown.corrected, "corrected, " + at), camera, grazing);
    headless::MeshView s = view(shown.skinned, "detail kept, skinned");
    s.pointColors = skinnedColors.data();
    headless::MeshView c = view(shown.corrected, "detail kept, corrected");
    c.pointColors = correctedColors.data();
    headless::RenderMesh(coloured, 0, y, kPanel, kPanel, s, camera, soft);
    headless::RenderMesh(coloured, kPanel, y, kPanel, kPanel, c, camera, soft);
  }
  for (Int32 row = 0; row < 2; ++row)
    for (Int32 column = 0; column < 3; ++column) {
      const Int32 x = column * kPanel, y = row * kPanel;
      headless::DrawText(shaded, x + 8, y + 8,
                         column == 0   ? "rest"
                         : column == 1 ? "skinned, " + at
                                       : "corrected, " + at,
                         grazing.captionColor, grazing.captionScale);
      if (column < 2)
        headless::DrawText(coloured, x + 8, y + 8,
                           column == 0 ? "detail kept, skinned" : "detail kept, corrected",
                           soft.captionColor, soft.captionScale);
    }
  headless::WritePng((out / "character.png").string(), shaded);
  headless::WritePng((out / "character-detail.png").string(), coloured);
}

}  // namespace

int RunCharacter(const RunOptions& o, std::ostream& out, std::ostream& err) {
  RequirePluginParts();

  std::unique_ptr<headless::Document> doc = headless::NewDocument();
  const headless::CharacterImport imported = headless::ImportCharacter(o.character, *doc);
  for (const std::string& note : imported.notes)
    err << "tessamire run: note: " << o.character << ": " << headless::Printable(note) << "\n";
  if (imported.lastFrame < 1)
    throw std::runtime_error(o.character + ": no animation of two frames or more to run");
  const headless::ImportedMesh* mesh = &imported.meshes[0];
  for (const headless::ImportedMesh& m : imported.meshes)
    if (m.object->points.size() > mesh->object->points.size()) mesh = &m;
  const std::vector<Vector3> rest = mesh->object->points;
  const std::vector<CPolygon>& polygons = mesh->object->polygons;
  const Int64 count = static_cast<Int64>(rest.size());
  std::vector<const Float32*> weights;
  for (const headless::Node* map : mesh->maps) weights.push_back(map->weights.data());

  const std::vector<Vector3> base =
      Smoothed(rest, headless::PointNeighbours(count, polygons), kBaseRounds);
  const FrameMeasurer measurer(rest, polygons, base, weights, mesh->joints);

  headless::Node* tag = nullptr;
  headless::Node* deformer = nullptr;
  EquipWithCommand(*doc, mesh->object, mesh->skin, tag, deformer);
  // The tag's own default rounds unless asked: a character's detail scale is not known here.
  ApplyRunSettings(tag, o, std::nullopt);
  if (!headless::PressButton(tag, kBindButton))
    throw std::runtime_error(o.character + ": the bind tag refused to bind the rest mesh");

  const fs::path outDir(o.out);
  PrepareFolder(o.out);
  if (!o.quiet)
    out << headless::Printable(mesh->object->name) << ": " << count << " points, "
        << polygons.size() << " polygons, " << mesh->joints.size() << " joints, frames 0 to "
        << imported.lastFrame << " at " << headless::ShortestNumber(imported.fps) << " per second; "
        << measurer.EdgeCount() << " edges measured where the weights blend\n";

  RunPage page("tessamire run: " + mesh->object->name, rest, polygons, 'y');
  std::vector<FrameRow> rows;
  // The frame shown in the pictures: the one where skinning alone loses most detail.
  MeasuredFrame shown;
  shown.row.skinnedHeight = -1.0;
  const Int32 frames = imported.lastFrame + 1;
  headless::Progress progress(
      err, headless::ChooseProgressStyle(headless::platform::StderrIsTerminal(), o.quiet),
      "tessamire run", "frame", frames);
  for (Int32 frame = 0; frame < frames; ++frame) {
    MeasuredFrame m = measurer.Measure(*doc, mesh->object, deformer, frame);
    m.row.label = frame / imported.fps;
    rows.push_back(m.row);
    page.Add(m);
    if (m.row.skinnedHeight > shown.row.skinnedHeight) shown = std::move(m);
    progress.Step("at frame " + std::to_string(frame));
  }
  progress.Finish();

  PrintTable(rows, count, "time", out);
  headless::WriteObj((outDir / "skinned.obj").string(), shown.skinned, polygons);
  headless::WriteObj((outDir / "corrected.obj").string(), shown.corrected, polygons);
  headless::SaveScene(*doc, (outDir / "character.tsm").string());
  WritePictures(rest, polygons, shown, outDir);
  WriteMeasuresPlot(rows, outDir / "measures.png");
  page.Write(outDir / "view.html");
  if (!o.quiet)
    out << "frame " << shown.row.frame << " (where skinning loses most detail): wrote "
        << (outDir / "skinned.obj").string()
        << ", corrected.obj, character.tsm, character.png, character-detail.png, "
           "measures.png and view.html\n";
  return kExitOk;
}

}  // namespace cli
