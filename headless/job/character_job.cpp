#include "headless/job/character_job.h"

#include <algorithm>
#include <stdexcept>

#include "headless/characters/character.h"
#include "headless/geometry/vector.h"
#include "headless/io/character_reader.h"
#include "headless/io/obj_write.h"
#include "headless/io/png.h"
#include "headless/io/scene_file.h"
#include "headless/job/detail_height.h"
#include "headless/job/detail_picture.h"
#include "headless/picture/rasterizer.h"
#include "headless/picture/side_by_side.h"
#include "headless/scene/parameters.h"
#include "host/abi/ids.h"

namespace headless {

namespace fs = std::filesystem;

namespace {

// Front and side of the character: it is looked at along the shortest side of its box, then the
// middle one, the longest side up.
void WritePictures(const std::vector<Vector3>& rest, const std::vector<CPolygon>& polygons,
                   const MeasuredFrame& shown, const fs::path& out) {
  Vector3 lo = rest[0], hi = rest[0];
  for (const Vector3& p : rest) {
    lo = {std::min(lo.x, p.x), std::min(lo.y, p.y), std::min(lo.z, p.z)};
    hi = {std::max(hi.x, p.x), std::max(hi.y, p.y), std::max(hi.z, p.z)};
  }
  const Vector3 size = Sub(hi, lo);
  const Float extents[3] = {size.x, size.y, size.z};
  int order[3] = {0, 1, 2};
  std::sort(order, order + 3, [&](int a, int b) { return extents[a] < extents[b]; });
  auto axis = [](int i, Float sign) {
    Vector3 v;
    (i == 0 ? v.x : i == 1 ? v.y : v.z) = sign;
    return v;
  };
  const Vector3 up = axis(order[2], 1.0);
  const Vector3 directions[2] = {Normalized(Add(axis(order[0], -1.0), axis(order[1], 0.25))),
                                 Normalized(Add(axis(order[1], -1.0), axis(order[0], 0.25)))};
  auto view = [&](const std::vector<Vector3>& points, const std::string& caption) {
    return ViewOf(points, polygons, caption);
  };
  const std::string at = "frame " + std::to_string(shown.row.frame);
  constexpr Int32 kPanel = 400;
  const RenderOptions grazing = GrazingLight();
  RenderOptions soft;
  Image shaded = MakeImage(3 * kPanel, 2 * kPanel, {0, 0, 0});
  Image coloured = MakeImage(2 * kPanel, 2 * kPanel, {0, 0, 0});
  std::vector<Rgb> skinnedColors, correctedColors;
  for (Float k : shown.skinnedKept) skinnedColors.push_back(KeptColor(k));
  for (Float k : shown.correctedKept) correctedColors.push_back(KeptColor(k));
  for (Int32 row = 0; row < 2; ++row) {
    const Camera camera =
        FitCamera({view(rest, ""), view(shown.skinned, ""), view(shown.corrected, "")},
                  directions[row], up, 30.0, 1.0);
    const Int32 y = row * kPanel;
    RenderMesh(shaded, 0, y, kPanel, kPanel, view(rest, "rest"), camera, grazing);
    RenderMesh(shaded, kPanel, y, kPanel, kPanel, view(shown.skinned, "skinned, " + at), camera,
               grazing);
    RenderMesh(shaded, 2 * kPanel, y, kPanel, kPanel, view(shown.corrected, "corrected, " + at),
               camera, grazing);
    MeshView s = view(shown.skinned, "detail kept, skinned");
    s.pointColors = skinnedColors.data();
    MeshView c = view(shown.corrected, "detail kept, corrected");
    c.pointColors = correctedColors.data();
    RenderMesh(coloured, 0, y, kPanel, kPanel, s, camera, soft);
    RenderMesh(coloured, kPanel, y, kPanel, kPanel, c, camera, soft);
  }
  for (Int32 row = 0; row < 2; ++row)
    for (Int32 column = 0; column < 3; ++column) {
      const Int32 x = column * kPanel, y = row * kPanel;
      DrawText(shaded, x + 8, y + 8,
               column == 0   ? "rest"
               : column == 1 ? "skinned, " + at
                             : "corrected, " + at,
               grazing.captionColor, grazing.captionScale);
      if (column < 2)
        DrawText(coloured, x + 8, y + 8,
                 column == 0 ? "detail kept, skinned" : "detail kept, corrected", soft.captionColor,
                 soft.captionScale);
    }
  WritePng((out / "character.png").string(), shaded);
  WritePng((out / "character-detail.png").string(), coloured);
}

}  // namespace

CharacterJob::CharacterJob(const CharacterJobOptions& options) {
  RequirePluginParts();
  CharacterOptions character;
  character.readerSeconds = options.readerSeconds;
  character.assetRoot = options.assetRoot;
  ReadCharacter read = ReadCharacterApart(options.file, character);
  doc_ = std::move(read.document);
  const CharacterImport& imported = read.imported;
  if (options.note)
    for (const std::string& note : imported.notes) options.note(note);
  if (imported.lastFrame < 1)
    throw std::runtime_error(options.file + ": no animation of two frames or more to run");
  // The largest skinned mesh: a rigid one has no bending to measure.
  const ImportedMesh* mesh = nullptr;
  for (const ImportedMesh& m : imported.meshes)
    if (!m.rigid && (mesh == nullptr || m.object->points.size() > mesh->object->points.size()))
      mesh = &m;
  if (mesh == nullptr) throw std::runtime_error(options.file + ": holds no skinned mesh to run");
  object_ = mesh->object;
  rest_ = object_->points;
  jointCount_ = static_cast<Int64>(mesh->joints.size());
  lastFrame_ = imported.lastFrame;
  fps_ = imported.fps;
  const std::vector<CPolygon>& polygons = object_->polygons;
  std::vector<const Float32*> weights;
  for (const Node* map : mesh->maps) weights.push_back(map->weights.data());

  const std::vector<Vector3> base =
      SmoothedPoints(rest_, PointNeighbours(PointCount(), polygons), kDetailHeightRounds);
  measurer_.emplace(rest_, polygons, base, weights, mesh->joints);

  // The tag's own default rounds unless the user's settings say otherwise.
  const Equipment equipment =
      EquipWithCommand(*doc_, object_, mesh->skin, std::nullopt, options.tagSettings);
  deformer_ = equipment.deformer;
  page_.emplace("tessamire run: " + object_->name, rest_, polygons, 'y');
  if (!PressButton(equipment.tag, TTESSAMIRE_BIND))
    throw std::runtime_error(options.file + ": the bind tag refused to bind the rest mesh");
  shown_.row.skinnedHeight = -1.0;
}

const FrameRow& CharacterJob::MeasureFrame(Int32 frame) {
  MeasuredFrame m = measurer_->Measure(*doc_, object_, deformer_, frame);
  m.row.label = frame / fps_;
  rows_.push_back(m.row);
  page_->Add(m);
  if (m.row.skinnedHeight > shown_.row.skinnedHeight) shown_ = std::move(m);
  return rows_.back();
}

void CharacterJob::WriteOutputs(const fs::path& folder, std::string_view pageTemplate) const {
  const std::vector<CPolygon>& polygons = object_->polygons;
  WriteObj((folder / "skinned.obj").string(), shown_.skinned, polygons);
  WriteObj((folder / "corrected.obj").string(), shown_.corrected, polygons);
  SaveScene(*doc_, (folder / "character.tsm").string());
  WritePictures(rest_, polygons, shown_, folder);
  WriteMeasuresPlot(rows_, folder / "measures.png");
  page_->Write(folder / "view.html", pageTemplate);
}

}  // namespace headless
