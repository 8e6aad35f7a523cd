// `tessamire render`: pictures of any meshes with the renderer the main job uses. The meshes
// stand side by side, each labelled with its file name, all from one camera, lit so that relief
// casts shade; --turntable goes around them, --detail colours them by the detail they keep
// against a rest mesh, --distance by how far each point is from the same point of another mesh,
// --focus frames chosen points, --up z stands Z-up meshes upright, and --movie encodes sequences
// of them through ffmpeg (headless/picture/movie.h).
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <optional>

#include "cli/command_table.h"
#include "cli/output_folder.h"
#include "cli/progress.h"
#include "cli/sequence.h"
#include "headless/batch/frame_sequence.h"
#include "headless/files/interruption.h"
#include "headless/files/output_file.h"
#include "headless/geometry/box.h"
#include "headless/geometry/vector.h"
#include "headless/io/obj_read.h"
#include "headless/io/png.h"
#include "headless/io/weights_file.h"
#include "headless/job/detail_picture.h"
#include "headless/job/pair_measures.h"
#include "headless/picture/colour_scale.h"
#include "headless/picture/movie.h"
#include "headless/picture/side_by_side.h"
#include "headless/platform/platform.h"

namespace cli {
namespace {

namespace fs = std::filesystem;

// Above this many points in all, drawing one picture reports its stages.
constexpr size_t kLargeMeshes = 1000000;

struct Size {
  Int32 width = 480;
  Int32 height = 480;
};

// "WxH", each side 16 to 4096.
Size ParseSize(const std::string& text) {
  const size_t x = text.find('x');
  Int64 w = 0, h = 0;
  if (x == std::string::npos || !ParseInteger(text.substr(0, x), w) ||
      !ParseInteger(text.substr(x + 1), h) || w < 16 || h < 16 || w > 4096 || h > 4096)
    throw UsageError("--size wants WxH with whole numbers from 16 to 4096, not \"" + text + "\"");
  return {static_cast<Int32>(w), static_cast<Int32>(h)};
}

// "AZ,EL" in degrees: azimuth any finite number, elevation -89.9 to 89.9.
std::pair<Float, Float> ParseCamera(const std::string& text) {
  const size_t comma = text.find(',');
  Float azimuth = 0.0, elevation = 0.0;
  if (comma == std::string::npos || !ParseNumber(text.substr(0, comma), azimuth) ||
      !ParseNumber(text.substr(comma + 1), elevation) || std::fabs(elevation) > 89.9)
    throw UsageError(
        "--camera wants AZIMUTH,ELEVATION in degrees (elevation from -89.9 to 89.9), not \"" +
        text + "\"");
  return {azimuth, elevation};
}

std::string Label(const std::string& path) {
  return path == "-" ? "standard input" : fs::path(path).filename().string();
}

// One panel: a mesh, its label and, with --detail or --distance, its colours.
struct Panel {
  std::string label;
  headless::Mesh mesh;
  std::vector<headless::Rgb> colours;
  std::vector<Float> distances;  // with --distance, one per point
};

// The largest distance of the panels (0 without --distance).
Float LargestDistance(const std::vector<Panel>& panels) {
  Float max = 0.0;
  for (const Panel& p : panels)
    for (Float d : p.distances) max = std::max(max, d);
  return max;
}

// A view of bare points (no polygons) that frames them.
headless::MeshView PointsView(const std::vector<Vector3>& points) {
  headless::MeshView v;
  v.points = points.data();
  v.pointCount = static_cast<Int64>(points.size());
  return v;
}

class Renderer {
 public:
  Renderer(const Options& options, std::ostream& err) : options_(options), err_(err) {
    if (options.Has("--size")) size_ = ParseSize(options.Text("--size"));
    if (options.Has("--camera") && options.Has("--view"))
      throw UsageError("give --view or --camera, not both");
    if (options.Has("--camera")) camera_ = ParseCamera(options.Text("--camera"));
    if (options.Has("--detail") && options.Has("--distance"))
      throw UsageError("give --detail or --distance, not both: a picture has one colour scale");
    zUp_ = options.Text("--up", "y") == "z";
    if (options.Has("--distance")) {
      otherName_ = Label(options.Text("--distance"));
      other_ = headless::ReadObj(options.Text("--distance"));
    }
    if (options.Has("--detail")) {
      restName_ = Label(options.Text("--detail"));
      rest_ = headless::ReadObj(options.Text("--detail"));
      reference_ = headless::PreparePairReference(*rest_, {});
    }
  }

  // The view of turn `k` of `turns` (one turn: the chosen view).
  headless::View TurnView(Int64 k, Int64 turns) const {
    const std::string name = options_.Text("--view", "three-quarter");
    headless::View view = headless::NamedView(name);
    if (turns > 1 || camera_) {
      const auto [azimuth, elevation] = camera_ ? *camera_ : headless::ViewAngles(name);
      view = headless::AngleView(
          azimuth + 360.0 * static_cast<Float>(k) / static_cast<Float>(turns), elevation);
    }
    return zUp_ ? headless::ZUp(view) : view;
  }

  // The mesh at `path`, with its detail-kept colours unless `kept` is false.
  Panel Load(const std::string& path, bool kept = true) const {
    Panel panel{Label(path), headless::ReadObj(path), {}, {}};
    if (reference_ && kept) {
      if (panel.mesh.points.size() != rest_->points.size())
        throw std::runtime_error(path + ": " + std::to_string(panel.mesh.points.size()) +
                                 " points, but the rest mesh " + options_.Text("--detail") +
                                 " has " + std::to_string(rest_->points.size()));
      for (Float kept : headless::DetailKept(*reference_, panel.mesh.points))
        panel.colours.push_back(headless::KeptColor(kept));
    }
    if (other_) {
      if (panel.mesh.points.size() != other_->points.size())
        throw std::runtime_error(path + ": " + std::to_string(panel.mesh.points.size()) +
                                 " points, but " + options_.Text("--distance") + " has " +
                                 std::to_string(other_->points.size()));
      for (size_t i = 0; i < panel.mesh.points.size(); ++i)
        panel.distances.push_back(
            headless::Length(headless::Sub(panel.mesh.points[i], other_->points[i])));
    }
    return panel;
  }

  // With --distance: the scale's top, and the panels coloured on it.
  void SetDistanceMax(Float max) { distanceMax_ = max; }
  void ColourDistances(std::vector<Panel>& panels) const {
    if (!other_) return;
    const Float top = distanceMax_ > 0.0 ? distanceMax_ : 1.0;
    for (Panel& p : panels) {
      p.colours.clear();
      for (Float d : p.distances)
        p.colours.push_back(headless::ScaleColour(headless::DistanceScale(), d / top));
    }
  }

  // With --focus: the box of the points whose weight is not 0 in the panels of the weights'
  // point count (the first panel's), grown into `focus`.
  void GrowFocus(const std::vector<Panel>& panels, std::optional<headless::Box>& focus) {
    if (!options_.Has("--focus")) return;
    if (!focus_)
      focus_ =
          headless::ReadWeightsFile(options_.Text("--focus"), panels.front().mesh.points.size(),
                                    "the first mesh " + panels.front().label);
    for (const Panel& p : panels)
      if (p.mesh.points.size() == focus_->size())
        if (const auto box = headless::WeightedBounds(p.mesh.points, *focus_))
          headless::Enclose(focus, *box);
  }
  // Throws when --focus found no point.
  void CheckFocus(const std::optional<headless::Box>& focus) const {
    if (options_.Has("--focus") && !focus)
      throw std::runtime_error(options_.Text("--focus") +
                               ": every weight is 0 (or no mesh has its point count): nothing to "
                               "frame");
  }

  std::vector<headless::MeshView> Views(const std::vector<Panel>& panels) const {
    std::vector<headless::MeshView> views;
    for (const Panel& p : panels) {
      headless::MeshView v = headless::ViewOf(p.mesh.points, p.mesh.polygons, p.label);
      if (!p.colours.empty()) v.pointColors = p.colours.data();
      views.push_back(v);
    }
    return views;
  }

  headless::Image Picture(const std::vector<headless::MeshView>& views,
                          const headless::Camera& camera, Size size, bool small = false) const {
    headless::Image image = headless::RenderWithCamera(views, camera, size.width, size.height,
                                                       LegendHeight(), small ? 1 : 2);
    if (reference_)
      headless::DrawKeptLegend(image, size.height + 10, "detail kept against " + restName_ + ":",
                               headless::GrazingLight().captionColor);
    if (other_) {
      headless::ColourScale scale = headless::DistanceScale();
      char half[32], top[32];
      std::snprintf(half, sizeof half, "%.3g", distanceMax_ / 2.0);
      std::snprintf(top, sizeof top, "%.3g", distanceMax_);
      scale.ticks = {{0.0, "0"}, {0.5, half}, {1.0, top}};
      headless::DrawScaleLegend(image, size.height + 10, scale, "distance to " + otherName_ + ":",
                                headless::GrazingLight().captionColor);
    }
    return image;
  }

  Int32 LegendHeight() const { return reference_ || other_ ? headless::kScaleLegendHeight : 0; }

  Size PanelSize() const { return size_; }
  const Options& options() const { return options_; }
  std::ostream& err() const { return err_; }

 private:
  const Options& options_;
  std::ostream& err_;
  Size size_;
  std::optional<std::pair<Float, Float>> camera_;
  std::string restName_;
  std::optional<headless::Mesh> rest_;
  std::optional<headless::PairReference> reference_;
  bool zUp_ = false;
  std::string otherName_;
  std::optional<headless::Mesh> other_;
  Float distanceMax_ = 0.0;
  std::optional<std::vector<Float32>> focus_;
};

Progress MakeProgress(const Renderer& r, const std::string& unit, Int64 total) {
  return Progress(r.err(),
                  ChooseProgressStyle(headless::platform::StderrIsTerminal(),
                                      r.options().Has("--quiet") || total < 2),
                  "tessamire render", unit, total);
}

// The name of turn or frame `k` of a picture series: PIC.png -> PIC.0001.png.
std::string NumberedName(const std::string& path, Int64 k) {
  const fs::path p(path);
  return (p.parent_path() /
          (p.stem().string() + "." + headless::PaddedFrame(k) + p.extension().string()))
      .string();
}

// Pictures around the vertical axis, each written as its own file, and a contact sheet of
// them (at half size, in rows) at `out`.
void Turntable(const Renderer& r, const std::vector<Panel>& panels,
               const std::vector<headless::MeshView>& framing, Int64 turns,
               const std::string& out) {
  const std::vector<headless::MeshView> views = r.Views(panels);
  const Size size = r.PanelSize();
  const Size thumb{std::max(size.width / 2, 16), std::max(size.height / 2, 16)};
  const Int64 columns = static_cast<Int64>(std::ceil(std::sqrt(static_cast<Float>(turns))));
  const Int64 rows = (turns + columns - 1) / columns;
  std::optional<headless::Image> sheet;
  Progress progress = MakeProgress(r, "picture", turns);
  for (Int64 k = 0; k < turns; ++k) {
    const headless::View view = r.TurnView(k, turns);
    headless::WritePng(
        NumberedName(out, k + 1),
        r.Picture(views, headless::FramingCamera(framing, view, size.width, size.height), size));
    const headless::Image small = r.Picture(
        views, headless::FramingCamera(framing, view, thumb.width, thumb.height), thumb, true);
    if (!sheet)
      sheet = headless::MakeImage(static_cast<Int32>(small.width * columns),
                                  static_cast<Int32>(small.height * rows), {22, 24, 30});
    const Int64 x0 = (k % columns) * small.width, y0 = (k / columns) * small.height;
    for (Int32 y = 0; y < small.height; ++y)
      std::copy_n(small.rgb.begin() + 3 * static_cast<Int64>(y) * small.width, 3 * small.width,
                  sheet->rgb.begin() + 3 * ((y0 + y) * sheet->width + x0));
    progress.Step(NumberedName(out, k + 1));
  }
  headless::WritePng(out, *sheet);
}

// One column of a movie: its files, one per frame, and the label its panel keeps throughout
// (empty: each frame's file name).
struct MovieColumn {
  std::vector<std::string> files;
  std::string label;
};

// The columns of a movie: each operand naming a numbered sequence (walk.####.obj, walk.%04d.obj)
// is one over --frames, labelled by its pattern; without any, the operands are the frames of one
// sequence, each labelled by its own name.
std::vector<MovieColumn> MovieColumns(const Options& options) {
  const std::vector<std::string>& operands = options.Operands();
  const bool patterns = std::any_of(operands.begin(), operands.end(), headless::IsFramePattern);
  if (!patterns) {
    if (options.Has("--frames"))
      throw UsageError("--frames numbers the files of sequences such as walk.####.obj");
    return {{operands, ""}};
  }
  if (!options.Has("--frames"))
    throw UsageError("a sequence such as walk.####.obj needs --frames A:B");
  Int32 first = 0, last = 0;
  try {
    ParseSequenceRange(options.Text("--frames"), first, last);
  } catch (const std::invalid_argument& e) {
    throw UsageError(e.what());
  }
  std::vector<MovieColumn> columns;
  for (const std::string& operand : operands) {
    MovieColumn column{{}, Label(operand)};
    for (Int64 f = first; f <= last; ++f)
      column.files.push_back(headless::IsFramePattern(operand) ? headless::FramePath(operand, f)
                                                               : operand);
    columns.push_back(std::move(column));
  }
  return columns;
}

// Encodes the frames side by side through ffmpeg (headless/picture/movie.h).
void Movie(Renderer& r, const std::string& moviePath) {
  const std::string ffmpeg = headless::FindMovieEncoder();
  const std::vector<MovieColumn> columns = MovieColumns(r.options());
  const size_t frames = columns.front().files.size();
  for (const MovieColumn& column : columns)
    for (const std::string& file : column.files)
      if (file == "-") throw UsageError("a movie's frames cannot come from the standard input");
  const Size size = r.PanelSize();
  // One camera and one colour scale for the whole movie, framing every frame (or its focus): a
  // first pass gathers the bounds and the largest distance.
  std::vector<Vector3> corners;
  std::optional<headless::Box> focus;
  Float distanceMax = 0.0;
  for (const MovieColumn& column : columns) {
    for (const std::string& file : column.files) {
      headless::StopIfInterrupted();
      const std::vector<Panel> panel = {r.Load(file, false)};
      const headless::Mesh& mesh = panel.front().mesh;
      if (mesh.points.empty()) throw std::runtime_error(file + ": no points");
      distanceMax = std::max(distanceMax, LargestDistance(panel));
      r.GrowFocus(panel, focus);
      Vector3 lo = mesh.points.front(), hi = lo;
      for (const Vector3& p : mesh.points) {
        lo = {std::min(lo.x, p.x), std::min(lo.y, p.y), std::min(lo.z, p.z)};
        hi = {std::max(hi.x, p.x), std::max(hi.y, p.y), std::max(hi.z, p.z)};
      }
      corners.push_back(lo);
      corners.push_back(hi);
    }
  }
  r.CheckFocus(focus);
  r.SetDistanceMax(distanceMax);
  if (focus) corners = {focus->first, focus->second};
  const headless::Camera camera =
      headless::FramingCamera({PointsView(corners)}, r.TurnView(0, 1), size.width, size.height);

  PrepareOutputFolder(moviePath);
  headless::MovieWriter movie(ffmpeg, moviePath,
                              static_cast<Int32>(size.width * static_cast<Int64>(columns.size())),
                              size.height + r.LegendHeight(), r.options().Text("--fps", "24"));
  Progress progress = MakeProgress(r, "frame", static_cast<Int64>(frames));
  for (size_t f = 0; f < frames; ++f) {
    headless::StopIfInterrupted();
    std::vector<Panel> panels;
    for (const MovieColumn& column : columns) {
      panels.push_back(r.Load(column.files[f]));
      if (!column.label.empty()) panels.back().label = column.label;
    }
    r.ColourDistances(panels);
    movie.AddFrame(r.Picture(r.Views(panels), camera, size));
    progress.Step(columns.front().files[f]);
  }
  progress.Finish();
  movie.Finish();
}

int RunRender(const Options& options, std::ostream&, std::ostream& err) {
  const std::string out = options.Text("--out");
  const std::string movie = options.Text("--movie");
  if (out.empty() == movie.empty()) throw UsageError("give --out PIC.png or --movie OUT.mp4");
  if (options.Has("--turntable") && !movie.empty())
    throw UsageError("--turntable makes pictures; it does not go with --movie");
  Int32 fromStandardInput = 0;
  for (const char* option : {"--detail", "--distance", "--focus"})
    fromStandardInput += options.Text(option) == "-";
  for (const std::string& operand : options.Operands()) fromStandardInput += operand == "-";
  if (fromStandardInput > 1) throw UsageError("only one input can come from the standard input");
  std::vector<std::string> inputs = options.Operands();
  for (const char* option : {"--detail", "--distance", "--focus"})
    inputs.push_back(options.Text(option));
  if (movie == "-") throw UsageError("--movie wants a file name; an MP4 needs a seekable file");
  const Int64 turns = options.Integer("--turntable").value_or(1);
  if (turns > 1 && out == "-")
    throw UsageError("--turntable writes several pictures; it needs --out PIC.png");
  // Every file the run writes: the movie, or the picture and a turntable's numbered ones.
  const InputFiles read(inputs);
  read.RefuseOverwriting(movie.empty() ? out : movie);
  for (Int64 k = 1; turns > 1 && k <= turns; ++k) read.RefuseOverwriting(NumberedName(out, k));

  Renderer renderer(options, err);
  if (!movie.empty()) {
    Movie(renderer, movie);
    return kExitOk;
  }
  if (options.Has("--frames")) throw UsageError("--frames goes with --movie");
  std::vector<Panel> panels;
  for (const std::string& path : options.Operands()) {
    headless::StopIfInterrupted();
    panels.push_back(renderer.Load(path));
  }
  renderer.SetDistanceMax(LargestDistance(panels));
  renderer.ColourDistances(panels);
  std::optional<headless::Box> focus;
  renderer.GrowFocus(panels, focus);
  renderer.CheckFocus(focus);
  const std::vector<Vector3> corners =
      focus ? std::vector<Vector3>{focus->first, focus->second} : std::vector<Vector3>{};
  const std::vector<headless::MeshView> framing =
      focus ? std::vector<headless::MeshView>{PointsView(corners)} : renderer.Views(panels);
  PrepareOutputFolder(out);
  if (turns > 1) {
    Turntable(renderer, panels, framing, turns, out);
    return kExitOk;
  }
  // Large meshes take a while to draw: say so.
  size_t points = 0;
  for (const Panel& p : panels) points += p.mesh.points.size();
  const bool large = points > kLargeMeshes;
  Progress progress = MakeProgress(renderer, "step", large ? 2 : 0);
  if (large) progress.Step("read " + std::to_string(points) + " points");
  const std::vector<headless::MeshView> views = renderer.Views(panels);
  const Size size = renderer.PanelSize();
  headless::WritePng(out, renderer.Picture(views,
                                           headless::FramingCamera(framing, renderer.TurnView(0, 1),
                                                                   size.width, size.height),
                                           size));
  if (large) progress.Step("drawn");
  return kExitOk;
}

}  // namespace

Subcommand RenderSubcommand() {
  CommandSpec declaration;
  declaration.name = "render";
  declaration.operands = "MESH.obj...";
  declaration.minOperands = 1;
  declaration.maxOperands = -1;
  declaration.summary =
      "draw any OBJ meshes side by side, labelled, from one camera: pictures, turntables, "
      "detail-kept colours and movies";
  declaration.details =
      "Each mesh gets a panel with its file name; all panels share one camera that frames "
      "every mesh, and a light from the left that grazes the surface so relief casts shade. "
      "Meshes are taken as Y-up unless --up z. One mesh may be - (the standard input), and "
      "--out - writes "
      "the picture to the standard output.\n"
      "With --movie, each operand holding a run of '#' (walk.####.obj) is a sequence over "
      "--frames A:B, drawn side by side with the others and labelled by its pattern; "
      "without one, the operands are the frames of one sequence, in order, each labelled "
      "by its file name. The frames go, as raw RGB, to the ffmpeg program "
      "(Debian's ffmpeg package), which writes the MP4 file.";
  declaration.loadsPlugins = false;
  declaration.options = {
      TextOption("--out", "PIC.png",
                 "the picture to write (- for the standard output); with --turntable, the "
                 "contact sheet, the pictures going to PIC.0001.png and on"),
      ChoiceOption("--view", "NAME", "where the camera stands", headless::ViewNames(),
                   "three-quarter"),
      TextOption("--camera", "AZ,EL",
                 "the camera by angles in degrees instead: AZ around the vertical axis (0 "
                 "front, 90 right), EL above the horizon (-89.9 to 89.9)"),
      TextOption("--size", "WxH", "the size of each mesh's panel in pixels (16 to 4096)",
                 "480x480"),
      IntegerOption("--turntable", "N",
                    "N pictures around the vertical axis, starting at the chosen view", 2, 360),
      TextOption("--detail", "REST.obj",
                 "colour each mesh by the share of the rest mesh's detail each point keeps "
                 "(blue as at rest, red flattened, purple exaggerated), with a legend"),
      TextOption("--distance", "OTHER.obj",
                 "colour each mesh by each point's distance to the same point of OTHER.obj, "
                 "from 0 to the largest distance of all meshes (and frames), with a legend"),
      TextOption("--focus", "W.txt",
                 "frame the camera on the points whose weight is not 0 (one number per line, "
                 "for the first mesh's points; every mesh of that point count counts)"),
      ChoiceOption("--up", "AXIS", "the meshes' up axis: y, or z for Z-up meshes", {"y", "z"}, "y"),
      TextOption("--movie", "OUT.mp4", "encode the frames as a movie through ffmpeg"),
      TextOption("--frames", "A:B", "the frames of sequences such as walk.####.obj"),
      NumberOption("--fps", "F", "frames per second of the movie", 1, 240, "24"),
      FlagOption("--quiet", "print no progress")};
  return {declaration, RunRender};
}

}  // namespace cli
