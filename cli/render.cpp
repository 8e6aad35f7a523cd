// `tessamire render`: pictures of any meshes with the renderer the main job uses. The meshes
// stand side by side, each labelled with its file name, all from one camera, lit so that relief
// casts shade; --turntable goes around them, --detail colours them by the detail they keep
// against a rest mesh, --distance by how far each point is from the same point of another mesh,
// --focus frames chosen points, --up z stands Z-up meshes upright, and --movie encodes sequences
// of them through ffmpeg. The pictures are made by headless/job/mesh_pictures.h.
#include <algorithm>
#include <cmath>

#include "cli/command_table.h"
#include "cli/output_folder.h"
#include "cli/sequence.h"
#include "headless/batch/frame_sequence.h"
#include "headless/batch/progress_printer.h"
#include "headless/files/planned_outputs.h"
#include "headless/job/mesh_pictures.h"
#include "headless/picture/movie.h"
#include "headless/picture/side_by_side.h"
#include "headless/platform/processes.h"
#include "headless/platform/streams.h"

namespace cli {
namespace {

// "WxH", each side 16 to 4096.
headless::PanelSize ParseSize(const std::string& text) {
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

headless::MeshPictureSettings PictureSettings(const Options& options) {
  headless::MeshPictureSettings settings;
  if (options.Has("--size")) settings.size = ParseSize(options.Text("--size"));
  if (options.Has("--camera") && options.Has("--view"))
    throw UsageError("give --view or --camera, not both");
  if (options.Has("--camera")) settings.angles = ParseCamera(options.Text("--camera"));
  if (options.Has("--detail") && options.Has("--distance"))
    throw UsageError("give --detail or --distance, not both: a picture has one colour scale");
  settings.view = options.Text("--view", "three-quarter");
  settings.zUp = options.Text("--up", "y") == "z";
  settings.detailRest = options.Text("--detail");
  settings.distanceOther = options.Text("--distance");
  settings.focusWeights = options.Text("--focus");
  return settings;
}

headless::Progress MakeProgress(const Options& options, std::ostream& err, Int64 total) {
  return headless::Progress(err,
                            headless::ChooseProgressStyle(headless::platform::StderrIsTerminal(),
                                                          options.Has("--quiet") || total < 2),
                            "tessamire render");
}

// The columns of a movie: each operand naming a numbered sequence (walk.####.obj, walk.%04d.obj)
// is one over --frames, labelled by its pattern; without any, the operands are the frames of one
// sequence, each labelled by its own name.
std::vector<headless::MovieColumn> MovieColumns(const Options& options) {
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
  std::vector<headless::MovieColumn> columns;
  for (const std::string& operand : operands) {
    headless::MovieColumn column{{}, headless::PanelLabel(operand)};
    for (Int64 f = first; f <= last; ++f)
      column.files.push_back(headless::IsFramePattern(operand) ? headless::FramePath(operand, f)
                                                               : operand);
    columns.push_back(std::move(column));
  }
  return columns;
}

void Movie(headless::MeshPictures& pictures, const Options& options, const std::string& path,
           std::ostream& err) {
  const std::string ffmpeg = headless::FindMovieEncoder();
  const std::vector<headless::MovieColumn> columns = MovieColumns(options);
  for (const headless::MovieColumn& column : columns)
    for (const std::string& file : column.files)
      if (file == "-") throw UsageError("a movie's frames cannot come from the standard input");
  headless::Progress progress =
      MakeProgress(options, err, static_cast<Int64>(columns.front().files.size()));
  headless::WriteMovie(pictures, ffmpeg, columns, path, options.Text("--fps", "24"), progress);
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
  std::vector<headless::PlannedOutput> planned{
      {movie.empty() ? out : movie, movie.empty() ? "the picture" : "the movie"}};
  for (Int64 k = 1; turns > 1 && k <= turns; ++k)
    planned.push_back({headless::NumberedPicture(out, k), "a turntable's picture"});
  headless::CheckOutputs(planned, inputs);

  headless::MeshPictures pictures(PictureSettings(options));
  if (!movie.empty()) {
    Movie(pictures, options, movie, err);
    return kExitOk;
  }
  if (options.Has("--frames")) throw UsageError("--frames goes with --movie");
  const headless::StillPanels still = headless::LoadStillPanels(pictures, options.Operands());
  PrepareOutputFolder(out);
  headless::Progress progress =
      MakeProgress(options, err, turns > 1 ? turns : headless::PictureSteps(still));
  if (turns > 1)
    headless::WriteTurntable(pictures, still, turns, out, progress);
  else
    headless::WritePicture(pictures, still, out, progress);
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
