// `tessamire apply`: binds a rest mesh and corrects deformed meshes of the same topology through
// the real plug-in in a headless document. The frames come from OBJ files (a list, or a numbered
// sequence with --frames) or from every sample of one point cache; the results go to OBJ files
// written like their input (positions, normals and a material library's way change), to one point
// cache, or to one glTF on the rest OBJ's own vertices. The batch engine below does the work
// (headless/batch: the source, the sink, the correction and the frames' overlap); this command
// maps its options onto it, picks the observers and prints.
#include <filesystem>
#include <memory>
#include <optional>
#include <stdexcept>

#include "cli/apply_observers.h"
#include "cli/apply_outputs.h"
#include "cli/command_table.h"
#include "cli/sequence.h"
#include "cli/tag_settings.h"
#include "headless/batch/apply_frames.h"
#include "headless/batch/cache_frames.h"
#include "headless/batch/correction.h"
#include "headless/batch/frame_sequence.h"
#include "headless/batch/obj_frames.h"
#include "headless/batch/observers.h"
#include "headless/batch/pose_guard.h"
#include "headless/batch/progress_printer.h"
#include "headless/batch/rest_file.h"
#include "headless/io/point_cache.h"
#include "headless/io/weights_file.h"
#include "headless/job/tune_character.h"
#include "headless/platform/paths.h"
#include "headless/platform/streams.h"

namespace cli {
namespace {

// The options of one run; tag settings not given keep the tag's defaults.
struct ApplyOptions {
  const Options* options = nullptr;
  std::string rest;
  std::string out;
  std::vector<std::string> frames;
  bool hasRange = false;
  Int32 first = 0, last = 0;
  Float fps = 30.0;
  std::string vertexMap;
  std::string restriction;
  std::string region;
  std::string preview;
  bool showSmoothed = false;
  bool report = false;
  bool quiet = false;
  bool autoSettings = false;
  std::optional<Float> poseCheck;
};

// Whether the run's frames are the samples of one point cache.
bool FramesOfOneCache(const ApplyOptions& o) {
  return o.frames.size() == 1 && headless::PointCacheFormatOf(o.frames[0]).has_value();
}

// The run's frames: the samples of one cache (opened by `opening` beside the rest's reading), or
// OBJ files, a numbered sequence expanded.
std::unique_ptr<headless::FrameSource> OpenFrames(const ApplyOptions& o,
                                                  const headless::ObjFile& rest,
                                                  headless::CacheOpening& opening) {
  if (FramesOfOneCache(o)) {
    if (o.hasRange) throw UsageError("--frames applies to a numbered OBJ sequence, not a cache");
    std::unique_ptr<headless::PointCacheSamples> samples = opening.Take(o.frames[0]);
    return std::make_unique<headless::CacheFrames>(o.frames[0], std::move(samples), o.rest,
                                                   rest.mesh.points.size(), o.fps);
  }
  std::vector<Int64> numbers;
  std::vector<std::string> files =
      headless::ExpandSequence(o.frames, o.hasRange, o.first, o.last, numbers);
  return std::make_unique<headless::ObjFrames>(std::move(files), numbers, rest);
}

// Above this many point-rounds (points times smoothing rounds) one evaluation takes about a second
// or more on a small machine, so even one frame reports its stages.
constexpr Float kLongEvaluation = 5.0e7;

// A long single evaluation reports its stages; many frames report each frame. The rounds not
// given are the tag's default, which the plug-in's description states; without it the run counts
// as long.
bool LongRun(const ApplyOptions& o, const headless::CorrectionSettings& settings, size_t frames,
             size_t points) {
  const std::optional<Int64> iterations =
      settings.iterations ? *settings.iterations : o.options->IntegerOrDefault("--iterations");
  return frames > 1 || !iterations ||
         static_cast<Float>(points) * static_cast<Float>(*iterations) > kLongEvaluation;
}

// The settings given, and with --settings auto the others from tune's recommendation on the
// run's frames, said on the standard error.
headless::CorrectionSettings SettingsOf(const ApplyOptions& o, const headless::Mesh& rest,
                                        headless::FrameSource& frames, std::ostream& err) {
  const headless::CorrectionSettings given = TagSettingsOf(*o.options);
  if (!o.autoSettings) return given;
  if (!o.quiet) err << "tessamire apply: sweeping the settings on the most deformed frames\n";
  const headless::CorrectionSettings settings = headless::AutoSettings(
      headless::TuneSource(o.rest, rest, frames,
                           o.poseCheck.value_or(headless::kDefaultPoseThreshold)),
      given);
  err << "tessamire apply: " << headless::AutoSettingsLine(o.rest, settings) << "\n";
  return settings;
}

int Apply(const ApplyOptions& o, std::ostream& out, std::ostream& err) {
  headless::CacheOpening opening(FramesOfOneCache(o) && !o.hasRange ? o.frames[0] : "");
  headless::ObjFile rest = headless::ReadRestFile(o.rest);
  const size_t count = rest.mesh.points.size();
  const std::string restName = "the rest mesh " + o.rest;
  std::vector<Float32> vertexMap, restriction, region;
  // Smoothing weights run from 0 (the point keeps still) to 1 (it moves fully); restriction
  // weights extrapolate beyond them.
  if (!o.vertexMap.empty())
    vertexMap = headless::ReadWeightsFile(o.vertexMap, count, restName, true);
  if (!o.restriction.empty())
    restriction = headless::ReadWeightsFile(o.restriction, count, restName);
  if (!o.region.empty()) region = headless::ReadWeightsFile(o.region, count, restName);
  const std::unique_ptr<headless::FrameSource> frames = OpenFrames(o, rest, opening);
  const std::vector<std::filesystem::path> outputs =
      PlanOutputs(o.out, o.preview, {o.rest, o.vertexMap, o.restriction, o.region}, *frames,
                  FramesOfOneCache(o) ? o.frames[0] : "");
  const std::unique_ptr<headless::ResultSink> sink =
      OpenResults(o.out, outputs, rest, *frames, o.fps);
  headless::ReadBeforeBind(rest, *frames, *sink);
  PrepareOutputFolders(o.out, outputs, o.preview);
  const headless::CorrectionSettings settings = SettingsOf(o, rest.mesh, *frames, err);

  const size_t total = frames->Count();
  headless::Progress progress(
      err,
      headless::ChooseProgressStyle(headless::platform::StderrIsTerminal(),
                                    o.quiet || !LongRun(o, settings, total, count)),
      "tessamire apply", "step", static_cast<Int64>(total) + 1);
  // The rest's points and polygons go to the correction's document unless the preview, the
  // report, a glTF or turning the rest's normals needs them again.
  const bool restMeshAgain = o.poseCheck.has_value() || o.report || !o.preview.empty() ||
                             sink->NeedsRestMesh() || !rest.normals.empty();
  headless::Correction correction(
      o.rest, restMeshAgain ? rest.mesh.points : std::move(rest.mesh.points),
      restMeshAgain ? rest.mesh.polygons : std::move(rest.mesh.polygons), settings,
      std::move(vertexMap), std::move(restriction));
  progress.Step("bound " + o.rest);

  // In the order they print: the warnings before the frame's progress, the report's row after.
  headless::WarningLines warnings(err, "tessamire apply");
  headless::ProgressSteps steps(progress);
  std::vector<headless::FrameObserver*> observers = {&warnings, &steps};
  std::optional<ReportRows> report;
  std::optional<headless::PreviewPicture> picture;
  std::optional<PreviewPage> page;
  // The report shares the standard output with nothing but itself.
  if (o.report)
    observers.push_back(&report.emplace(rest.mesh, region, o.region, o.out == "-" ? err : out));
  if (!o.preview.empty()) observers.push_back(&picture.emplace(o.preview, rest.mesh));
  if (!o.preview.empty() && o.preview != "-")
    observers.push_back(
        &page.emplace(PreviewPagePath(o.preview), o.rest, rest.mesh, o.frames, *frames, err));
  std::optional<headless::PoseGuard> guard;
  if (o.poseCheck && !o.showSmoothed)
    observers.push_back(&guard.emplace(
        rest.mesh, correction, settings, *o.poseCheck,
        [&err](const std::string& note) { err << "tessamire apply: note: " << note << "\n"; }));
  const headless::ApplySummary summary =
      headless::ApplyFrames(*frames, *sink, correction, observers, {.smoothed = o.showSmoothed});
  return KeptPointsExit(summary.pointsKept, "tessamire apply", err);
}

int RunApply(const Options& options, std::ostream& out, std::ostream& err) {
  ApplyOptions o;
  o.options = &options;
  o.rest = options.Text("--rest");
  o.out = options.Text("--out");
  o.frames = options.Operands();
  o.vertexMap = options.Text("--vertex-map");
  o.restriction = options.Text("--restriction");
  o.region = options.Text("--region");
  o.preview = options.Text("--preview");
  o.showSmoothed = options.Has("--show-smoothed");
  o.report = options.Has("--report");
  o.quiet = options.Has("--quiet");
  o.poseCheck = PoseCheckOf(options);
  o.autoSettings = options.Has("--settings");
  if (options.Has("--frames")) {
    try {
      ParseSequenceRange(options.Text("--frames"), o.first, o.last);
    } catch (const std::invalid_argument& e) {
      throw UsageError(e.what());
    }
    o.hasRange = true;
  }
  o.fps = options.Number("--fps").value_or(30.0);
  if (!(o.fps > 0.0)) throw UsageError("--fps wants a number above 0");
  Int32 fromStandardInput = 0;
  for (const std::string* input : {&o.rest, &o.vertexMap, &o.restriction, &o.region})
    fromStandardInput += *input == "-";
  for (const std::string& frame : o.frames) fromStandardInput += frame == "-";
  if (fromStandardInput > 1) throw UsageError("only one input can come from the standard input");
  if (!o.region.empty() && !o.report)
    throw UsageError("--region chooses the points --report measures; give --report too");
  if (o.preview == "-" && o.out == "-")
    throw UsageError("--out and --preview cannot both go to the standard output");
  return Apply(o, out, err);
}

std::vector<OptionSpec> ApplyOptionSpecs() {
  std::vector<OptionSpec> declarations = {
      Required(TextOption("--rest", "REST.obj",
                          "the rest mesh the bind tag binds; every frame has its points and "
                          "polygons")),
      Required(TextOption("--out", "OUT",
                          "where the corrected frames go: OUT ending in .pc2 or .mdd gets one "
                          "cache of all frames, OUT ending in .glb one binary glTF of the rest "
                          "mesh's own vertices with every frame as a morph target keyed at its "
                          "frame / F seconds; a pattern (####) one OBJ per frame; one frame "
                          "and OUT ending in .obj (or -, the standard output) write that file; "
                          "otherwise OUT is a folder (created when its parent exists) receiving "
                          "each frame under its own name (a cache's samples as "
                          "<cache>.<frame>.obj)"))};
  for (OptionSpec& o : TagSettingOptions(true)) declarations.push_back(o);
  declarations.push_back(ChoiceOption(
      "--settings", "auto",
      "the settings not given taken from what `tune` recommends for the most deformed frames",
      {"auto"}, ""));
  declarations.push_back(
      TextOption("--vertex-map", "W.txt",
                 "per-point smoothing weights (one number per line, from 0 to 1): a "
                 "point of weight 0 is not smoothed, so its detail is not restored"));
  declarations.push_back(
      TextOption("--restriction", "R.txt",
                 "per-point weights (one number per line) blending the corrected "
                 "result with the input: 0 keeps the input, 1 the correction"));
  declarations.push_back(
      FlagOption("--show-smoothed",
                 "write the smoothed mesh the correction is built on instead of the "
                 "corrected one"));
  declarations.push_back(
      FlagOption("--report",
                 "print per frame the detail height error, edge change and hinge "
                 "change of the input and of the corrected mesh against the rest, "
                 "and the time the frame took"));
  declarations.push_back(TextOption("--region", "W.txt",
                                    "with --report, measure only the points whose weight (one "
                                    "number per line) is not 0",
                                    "every point"));
  declarations.push_back(TextOption("--preview", "PIC.png",
                                    "draw rest, input and corrected mesh of the last frame side by "
                                    "side, and write PIC.html beside it: the page of `tessamire "
                                    "view` with every frame as given and corrected"));
  declarations.push_back(TextOption(
      "--frames", "A:B", "the frames of a numbered sequence (walk.####.obj or walk.%04d.obj)"));
  declarations.push_back(
      NumberOption("--fps", "F",
                   "frames per second of an MDD cache's times, which are in seconds, and of a "
                   "glTF's",
                   std::nullopt, std::nullopt, "30"));
  declarations.push_back(PoseCheckOption());
  declarations.push_back(FlagOption("--quiet", "print no progress"));
  return declarations;
}

}  // namespace

Subcommand ApplySubcommand() {
  CommandSpec declaration;
  declaration.name = "apply";
  declaration.operands = "FRAME.obj...|SEQ.####.obj|CACHE.pc2|CACHE.mdd";
  declaration.minOperands = 1;
  declaration.maxOperands = -1;
  declaration.summary =
      "correct deformed meshes of one rest mesh with the plug-in's bind tag and "
      "deformer";
  declaration.details =
      "Binds REST.obj once with the plug-in's bind tag and corrects each frame (the "
      "rest mesh's points moved, the same faces) with the deformer: OBJ files, a "
      "numbered sequence over --frames A:B, or every sample of one point cache. OBJ "
      "results keep every line of their input but the positions, the normals (turned "
      "with the surface) and a relative material library's name (rewritten to reach it "
      "from the result's folder). One input may be - (the standard input).";
  declaration.options = ApplyOptionSpecs();
  return {declaration, RunApply};
}

}  // namespace cli
