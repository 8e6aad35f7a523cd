// `tessamire view`: one self-contained HTML page of any meshes and animations, to orbit, zoom,
// scrub and compare in a browser: OBJ meshes, numbered sequences, point caches on a rest mesh,
// saved scenes evaluated over their frames and binary glTF files of moving meshes, side by side or
// overlaid, shaded or coloured by the detail kept, the distance between inputs or weights (web/
// holds the viewer, headless/job/view_inputs.h reads the inputs, headless/io/page.h the page's
// data).
#include <algorithm>

#include "cli/clips.h"
#include "cli/command_table.h"
#include "cli/output_folder.h"
#include "cli/sequence.h"
#include "headless/batch/keyed_range.h"
#include "headless/batch/progress_printer.h"
#include "headless/files/interruption.h"
#include "headless/job/view_inputs.h"
#include "headless/job/view_page.h"
#include "headless/platform/streams.h"
#include "web/page_template.h"

namespace cli {
namespace {

// Opens each operand, refusing those the options give too little for.
std::vector<headless::ViewSource> OpenSources(const Options& options,
                                              const headless::ViewReading& reading) {
  std::vector<headless::ViewSource> sources;
  for (const std::string& operand : options.Operands()) {
    headless::StopIfInterrupted();
    const headless::ViewSourceKind kind = headless::ViewSourceKindOf(operand);
    if (kind == headless::ViewSourceKind::kCache && !reading.rest)
      throw UsageError(operand + " holds only points: give the mesh they move with --rest");
    if (kind == headless::ViewSourceKind::kSequence && !reading.frames)
      throw UsageError(operand + " names a numbered sequence: give --frames A:B");
    sources.push_back(headless::OpenViewSource(operand, kind, reading));
  }
  return sources;
}

int RunView(const Options& options, std::ostream&, std::ostream& err) {
  const std::string out = options.Text("--out");
  headless::ViewReading reading{{},
                                options.Text("--rest"),
                                {},
                                options.Number("--fps").value_or(30.0),
                                options.Text("--asset-root")};
  if (options.Has("--frames")) {
    headless::FrameRange range;
    try {
      ParseSequenceRange(options.Text("--frames"), range.first, range.last);
    } catch (const std::invalid_argument& e) {
      throw UsageError(e.what());
    }
    reading.frames = range;
  }
  std::vector<std::string> inputs = options.Operands();
  Int32 fromStandardInput = 0;
  for (const char* option : {"--rest", "--weights", "--focus"}) {
    inputs.push_back(options.Text(option));
    fromStandardInput += options.Text(option) == "-";
  }
  for (const std::string& operand : options.Operands()) fromStandardInput += operand == "-";
  if (fromStandardInput > 1) throw UsageError("only one input can come from the standard input");
  RefuseOverwritingInputs(out, inputs);

  if (options.Has("--rest")) reading.rest = headless::ReadViewMesh(options.Text("--rest"));
  const std::vector<headless::ViewSource> sources = OpenSources(options, reading);
  Int64 total = 0, inputCount = 0;
  for (const headless::ViewSource& s : sources) {
    total += s.Frames();
    inputCount += s.Inputs();
  }
  if (reading.frames && std::none_of(sources.begin(), sources.end(), [](const auto& s) {
        return s.kind == headless::ViewSourceKind::kSequence ||
               s.kind == headless::ViewSourceKind::kScene;
      }))
    throw UsageError("--frames applies to a numbered sequence such as walk.####.obj or a scene");
  const Int64 reference = options.Integer("--distance-to").value_or(1);
  if (reference > inputCount)
    throw UsageError("--distance-to " + std::to_string(reference) + ": the page has " +
                     std::to_string(inputCount) + " inputs");

  std::string title = "tessamire view:";
  for (const std::string& name : headless::ViewInputNames(options.Operands())) title += " " + name;
  headless::ViewPage page(title);
  page.Builder().SetUp(options.Text("--up", "y")[0]);
  page.Builder().SetFps(reading.fps);
  if (reading.rest) page.SetRest(*reading.rest, headless::ViewInputName(reading.restPath));
  page.SetWeightsFile(options.Text("--weights"));
  page.SetFocusFile(options.Text("--focus"));

  headless::Progress progress(err,
                              headless::ChooseProgressStyle(headless::platform::StderrIsTerminal(),
                                                            options.Has("--quiet") || total < 2),
                              "tessamire view");
  headless::AddViewSources(sources, reading, page, progress, [&err](const std::string& line) {
    err << "tessamire view: warning: " << line << "\n";
  });
  page.Builder().SetDistanceReference(static_cast<Int32>(reference - 1));
  PrepareOutputFolder(out);
  page.Write(out, web::PageTemplate());
  return kExitOk;
}

}  // namespace

Subcommand ViewSubcommand() {
  CommandSpec declaration;
  declaration.name = "view";
  declaration.operands = "INPUT...";
  declaration.minOperands = 1;
  declaration.maxOperands = -1;
  declaration.summary =
      "write one HTML page of meshes, sequences, caches, scenes and glTF files to orbit, "
      "scrub and "
      "compare in any browser";
  declaration.details =
      "Each INPUT is an OBJ mesh (- for the standard input), a numbered sequence "
      "(walk.####.obj or walk.%04d.obj) over --frames A:B, a point cache (.pc2, .mdd) of "
      "the --rest mesh's points, or a saved scene, evaluated at every frame its keys span "
      "(or over --frames), each polygon object an input of its own, or a binary glTF (.glb) "
      "such as apply and eval write, each mesh an input whose morph targets are its frames, "
      "at the times its animation gives them. The page holds "
      "everything, the viewer (three.js) included, so it opens from a file with nothing "
      "fetched. In it: the inputs side by side or overlaid (keys 1..9), one camera for all, "
      "a frame slider with play, wireframe, the up axis, and colours: shaded, the detail "
      "kept against --rest, the distance per point between two inputs, or --weights. "
      "Positions are stored as 16-bit codes within each frame's bounds: each coordinate is "
      "within 1/131070 of that frame's extent along its axis.";
  declaration.options = {
      Required(TextOption("--out", "PAGE.html", "the page to write (- for the standard output)")),
      TextOption("--frames", "A:B", "the frames of sequences, or of scenes instead of their keys"),
      TextOption("--rest", "REST.obj",
                 "the rest mesh: the polygons of point caches, and what the detail-kept "
                 "colours compare with (inputs of its point count)"),
      TextOption("--weights", "W.txt",
                 "per-point weights (one number per line) of the first input's points, "
                 "shown by the weights colours on every input of that point count"),
      TextOption("--focus", "W.txt",
                 "frame the camera first on the points whose weight is not 0 (the first "
                 "input's points, one number per line)"),
      ChoiceOption("--up", "AXIS", "the axis pointing up at first (the page can switch)",
                   {"y", "z"}, "y"),
      IntegerOption("--distance-to", "N",
                    "the input (1 for the first) the distance colours compare the others "
                    "with at first",
                    1, 2147483647.0, "1"),
      NumberOption("--fps", "F",
                   "frames per second of playback, and of an MDD cache's and a glTF's times", 1e-3,
                   1000, "30"),
      AssetRootOption(),
      FlagOption("--quiet", "print no progress")};
  return {declaration, RunView};
}

}  // namespace cli
