#include "headless/job/mesh_pictures.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <stdexcept>

#include "headless/batch/frame_sequence.h"
#include "headless/files/interruption.h"
#include "headless/files/output_folder.h"
#include "headless/geometry/vector.h"
#include "headless/io/obj_read.h"
#include "headless/io/png.h"
#include "headless/io/weights_file.h"
#include "headless/job/detail_picture.h"
#include "headless/picture/colour_scale.h"
#include "headless/picture/movie.h"

namespace headless {
namespace {

// Above this many points in all, drawing one picture reports its stages.
constexpr size_t kLargeMeshes = 1000000;

// A view of bare points (no polygons) that frames them.
MeshView PointsView(const std::vector<Vector3>& points) {
  MeshView v;
  v.points = points.data();
  v.pointCount = static_cast<Int64>(points.size());
  return v;
}

// What a still picture's camera frames: the focus's corners, or the meshes themselves.
std::vector<MeshView> Framing(const MeshPictures& pictures, const StillPanels& still) {
  return still.focusCorners.empty() ? pictures.Views(still.panels)
                                    : std::vector<MeshView>{PointsView(still.focusCorners)};
}

}  // namespace

std::string PanelLabel(const std::string& path) {
  return path == "-" ? "standard input" : std::filesystem::path(path).filename().string();
}

Float LargestDistance(const std::vector<Panel>& panels) {
  Float max = 0.0;
  for (const Panel& p : panels)
    for (Float d : p.distances) max = std::max(max, d);
  return max;
}

MeshPictures::MeshPictures(MeshPictureSettings settings) : settings_(std::move(settings)) {
  if (!settings_.distanceOther.empty()) {
    otherName_ = PanelLabel(settings_.distanceOther);
    other_ = ReadObj(settings_.distanceOther);
  }
  if (!settings_.detailRest.empty()) {
    restName_ = PanelLabel(settings_.detailRest);
    rest_ = ReadObj(settings_.detailRest);
    reference_ = PreparePairReference(*rest_, {});
  }
}

View MeshPictures::TurnView(Int64 k, Int64 turns) const {
  View view = NamedView(settings_.view);
  if (turns > 1 || settings_.angles) {
    const auto [azimuth, elevation] =
        settings_.angles ? *settings_.angles : ViewAngles(settings_.view);
    view =
        AngleView(azimuth + 360.0 * static_cast<Float>(k) / static_cast<Float>(turns), elevation);
  }
  return settings_.zUp ? ZUp(view) : view;
}

Panel MeshPictures::Load(const std::string& path, bool kept) const {
  Panel panel{PanelLabel(path), ReadObj(path), {}, {}};
  if (reference_ && kept) {
    if (panel.mesh.points.size() != rest_->points.size())
      throw std::runtime_error(path + ": " + std::to_string(panel.mesh.points.size()) +
                               " points, but the rest mesh " + settings_.detailRest + " has " +
                               std::to_string(rest_->points.size()));
    for (Float kept : DetailKept(*reference_, panel.mesh.points))
      panel.colours.push_back(KeptColor(kept));
  }
  if (other_) {
    if (panel.mesh.points.size() != other_->points.size())
      throw std::runtime_error(path + ": " + std::to_string(panel.mesh.points.size()) +
                               " points, but " + settings_.distanceOther + " has " +
                               std::to_string(other_->points.size()));
    for (size_t i = 0; i < panel.mesh.points.size(); ++i)
      panel.distances.push_back(Length(Sub(panel.mesh.points[i], other_->points[i])));
  }
  return panel;
}

void MeshPictures::ColourDistances(std::vector<Panel>& panels) const {
  if (!other_) return;
  const Float top = distanceMax_ > 0.0 ? distanceMax_ : 1.0;
  for (Panel& p : panels) {
    p.colours.clear();
    for (Float d : p.distances) p.colours.push_back(ScaleColour(DistanceScale(), d / top));
  }
}

void MeshPictures::GrowFocus(const std::vector<Panel>& panels, std::optional<Box>& focus) {
  if (settings_.focusWeights.empty()) return;
  if (!focus_)
    focus_ = ReadWeightsFile(settings_.focusWeights, panels.front().mesh.points.size(),
                             "the first mesh " + panels.front().label);
  for (const Panel& p : panels)
    if (p.mesh.points.size() == focus_->size())
      if (const auto box = WeightedBounds(p.mesh.points, *focus_)) Enclose(focus, *box);
}

void MeshPictures::CheckFocus(const std::optional<Box>& focus) const {
  if (!settings_.focusWeights.empty() && !focus)
    throw std::runtime_error(settings_.focusWeights +
                             ": every weight is 0 (or no mesh has its point count): nothing to "
                             "frame");
}

std::vector<MeshView> MeshPictures::Views(const std::vector<Panel>& panels) const {
  std::vector<MeshView> views;
  for (const Panel& p : panels) {
    MeshView v = ViewOf(p.mesh.points, p.mesh.polygons, p.label);
    if (!p.colours.empty()) v.pointColors = p.colours.data();
    views.push_back(v);
  }
  return views;
}

Image MeshPictures::Picture(const std::vector<MeshView>& views, const Camera& camera,
                            PanelSize size, bool small) const {
  Image image =
      RenderWithCamera(views, camera, size.width, size.height, LegendHeight(), small ? 1 : 2);
  if (reference_)
    DrawKeptLegend(image, size.height + 10, "detail kept against " + restName_ + ":",
                   GrazingLight().captionColor);
  if (other_) {
    ColourScale scale = DistanceScale();
    char half[32], top[32];
    std::snprintf(half, sizeof half, "%.3g", distanceMax_ / 2.0);
    std::snprintf(top, sizeof top, "%.3g", distanceMax_);
    scale.ticks = {{0.0, "0"}, {0.5, half}, {1.0, top}};
    DrawScaleLegend(image, size.height + 10, scale, "distance to " + otherName_ + ":",
                    GrazingLight().captionColor);
  }
  return image;
}

Int32 MeshPictures::LegendHeight() const {
  return reference_ || other_ ? kScaleLegendHeight : 0;
}

StillPanels LoadStillPanels(MeshPictures& pictures, const std::vector<std::string>& paths) {
  StillPanels still;
  for (const std::string& path : paths) {
    StopIfInterrupted();
    still.panels.push_back(pictures.Load(path));
  }
  pictures.SetDistanceMax(LargestDistance(still.panels));
  pictures.ColourDistances(still.panels);
  std::optional<Box> focus;
  pictures.GrowFocus(still.panels, focus);
  pictures.CheckFocus(focus);
  if (focus) still.focusCorners = {focus->first, focus->second};
  return still;
}

Int64 PictureSteps(const StillPanels& still) {
  size_t points = 0;
  for (const Panel& p : still.panels) points += p.mesh.points.size();
  return points > kLargeMeshes ? 2 : 0;
}

void WritePicture(const MeshPictures& pictures, const StillPanels& still, const std::string& path,
                  ProgressObserver& progress) {
  const std::vector<MeshView> framing = Framing(pictures, still);
  const Int64 steps = PictureSteps(still);
  progress.Begin("step", steps);
  if (steps > 0) {
    size_t points = 0;
    for (const Panel& p : still.panels) points += p.mesh.points.size();
    progress.Step("read " + std::to_string(points) + " points");
  }
  const std::vector<MeshView> views = pictures.Views(still.panels);
  const PanelSize size = pictures.Size();
  WritePng(
      path,
      pictures.Picture(
          views, FramingCamera(framing, pictures.TurnView(0, 1), size.width, size.height), size));
  if (steps > 0) progress.Step("drawn");
}

std::string NumberedPicture(const std::string& path, Int64 k) {
  const std::filesystem::path p(path);
  return (p.parent_path() / (p.stem().string() + "." + PaddedFrame(k) + p.extension().string()))
      .string();
}

void WriteTurntable(const MeshPictures& pictures, const StillPanels& still, Int64 turns,
                    const std::string& path, ProgressObserver& progress) {
  const std::vector<MeshView> framing = Framing(pictures, still);
  const std::vector<MeshView> views = pictures.Views(still.panels);
  const PanelSize size = pictures.Size();
  const PanelSize thumb{std::max(size.width / 2, 16), std::max(size.height / 2, 16)};
  const Int64 columns = static_cast<Int64>(std::ceil(std::sqrt(static_cast<Float>(turns))));
  const Int64 rows = (turns + columns - 1) / columns;
  std::optional<Image> sheet;
  progress.Begin("picture", turns);
  for (Int64 k = 0; k < turns; ++k) {
    const View view = pictures.TurnView(k, turns);
    WritePng(NumberedPicture(path, k + 1),
             pictures.Picture(views, FramingCamera(framing, view, size.width, size.height), size));
    const Image small = pictures.Picture(
        views, FramingCamera(framing, view, thumb.width, thumb.height), thumb, true);
    if (!sheet)
      sheet = MakeImage(static_cast<Int32>(small.width * columns),
                        static_cast<Int32>(small.height * rows), {22, 24, 30});
    const Int64 x0 = (k % columns) * small.width, y0 = (k / columns) * small.height;
    for (Int32 y = 0; y < small.height; ++y)
      std::copy_n(small.rgb.begin() + 3 * static_cast<Int64>(y) * small.width, 3 * small.width,
                  sheet->rgb.begin() + 3 * ((y0 + y) * sheet->width + x0));
    progress.Step(NumberedPicture(path, k + 1));
  }
  WritePng(path, *sheet);
}

namespace {

// The movie's one camera, framing every frame of every column (or the focus's points in them),
// with the distance scale's top set to the largest distance of all frames.
Camera MovieCamera(MeshPictures& pictures, const std::vector<MovieColumn>& columns) {
  std::vector<Vector3> corners;
  std::optional<Box> focus;
  Float distanceMax = 0.0;
  for (const MovieColumn& column : columns) {
    for (const std::string& file : column.files) {
      StopIfInterrupted();
      const std::vector<Panel> panel = {pictures.Load(file, false)};
      const Mesh& mesh = panel.front().mesh;
      if (mesh.points.empty()) throw std::runtime_error(file + ": no points");
      distanceMax = std::max(distanceMax, LargestDistance(panel));
      pictures.GrowFocus(panel, focus);
      const Box bounds = Bounds(mesh.points);
      corners.push_back(bounds.first);
      corners.push_back(bounds.second);
    }
  }
  pictures.CheckFocus(focus);
  pictures.SetDistanceMax(distanceMax);
  if (focus) corners = {focus->first, focus->second};
  const PanelSize size = pictures.Size();
  return FramingCamera({PointsView(corners)}, pictures.TurnView(0, 1), size.width, size.height);
}

}  // namespace

void WriteMovie(MeshPictures& pictures, const std::string& encoder,
                const std::vector<MovieColumn>& columns, const std::string& path,
                const std::string& fps, ProgressObserver& progress) {
  const size_t frames = columns.front().files.size();
  const PanelSize size = pictures.Size();
  const Camera camera = MovieCamera(pictures, columns);
  PrepareOutputFolder(path);
  MovieWriter movie(encoder, path,
                    static_cast<Int32>(size.width * static_cast<Int64>(columns.size())),
                    size.height + pictures.LegendHeight(), fps);
  progress.Begin("frame", static_cast<Int64>(frames));
  try {
    for (size_t f = 0; f < frames; ++f) {
      StopIfInterrupted();
      std::vector<Panel> panels;
      for (const MovieColumn& column : columns) {
        panels.push_back(pictures.Load(column.files[f]));
        if (!column.label.empty()) panels.back().label = column.label;
      }
      pictures.ColourDistances(panels);
      movie.AddFrame(pictures.Picture(pictures.Views(panels), camera, size));
      progress.Step(columns.front().files[f]);
    }
  } catch (...) {
    // The drawn progress ends before the encoder is stopped, which may print its own complaint.
    progress.Finish();
    throw;
  }
  progress.Finish();
  movie.Finish();
}

}  // namespace headless
