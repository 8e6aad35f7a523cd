// `tessamire tune --rest R.obj FRAMES... --out DIR`: which settings suit one's own mesh. The
// settings sweep runs on the most deformed of the skinned frames given (OBJ files, a numbered
// sequence with --frames, or one point cache); headless/job/tune.h does the work, here the
// inputs are read and the outputs named.
#include <algorithm>
#include "headless/job/tune_character.h"

#include "cli/command_table.h"
#include "cli/output_folder.h"
#include "cli/sequence.h"
#include "cli/tag_settings.h"
#include "headless/batch/frame_sequence.h"
#include "headless/files/input_ranges.h"
#include "headless/io/obj_read.h"
#include "headless/io/point_cache.h"
#include "headless/io/weights_file.h"
#include "web/page_template.h"

namespace cli {
namespace {

struct TuneFrames {
  std::vector<std::vector<Vector3>> points;
  std::vector<std::string> names;
};

TuneFrames ReadTuneFrames(const Options& options, size_t restPoints) {
  const std::vector<std::string> operands = options.Operands();
  TuneFrames frames;
  if (operands.size() == 1 && headless::PointCacheFormatOf(operands[0])) {
    if (options.Has("--frames"))
      throw UsageError("--frames applies to a numbered OBJ sequence, not a cache");
    const headless::PointCache cache = headless::ReadPointCache(operands[0]);
    if (static_cast<size_t>(cache.pointCount) != restPoints)
      throw std::runtime_error(operands[0] + ": " + std::to_string(cache.pointCount) +
                               " points per sample, but the rest mesh has " +
                               std::to_string(restPoints));
    for (Int64 s = 0; s < cache.SampleCount(); ++s) {
      frames.points.push_back(cache.Sample(s));
      frames.names.push_back(operands[0] + " sample " + std::to_string(s + 1));
    }
    return frames;
  }
  Int32 first = 0, last = 0;
  const bool hasRange = options.Has("--frames");
  std::vector<Int64> numbers;
  std::vector<std::string> files;
  try {
    if (hasRange) ParseSequenceRange(options.Text("--frames"), first, last);
    files = headless::ExpandSequence(operands, hasRange, first, last, numbers);
  } catch (const std::invalid_argument& e) {
    throw UsageError(e.what());
  }
  for (const std::string& file : files) {
    headless::Mesh mesh = headless::ReadObj(file);
    headless::CheckCoordinateRange(mesh.points, file);
    frames.points.push_back(std::move(mesh.points));
    frames.names.push_back(file);
  }
  return frames;
}

// A character or scene file: its deformed meshes tuned on their bind points and skinned frames.
int TuneInput(const Options& options, Float threshold, std::ostream& out, std::ostream& err) {
  headless::CorrectRequest request;
  request.eval.source = options.Operands().front();
  request.eval.command = "tessamire tune";
  if (options.Operands().size() > 1 || headless::PointCacheFormatOf(request.eval.source))
    throw UsageError("tune without --rest takes one character or scene file");
  if (options.Has("--region")) throw UsageError("--region applies to a rest mesh given by --rest");
  if (options.Has("--frames")) {
    request.eval.frames.emplace();
    ParseSequenceRange(options.Text("--frames"), request.eval.frames->first,
                       request.eval.frames->last);
  }
  headless::CorrectObserver observer;
  observer.eval.message = [&err](const std::string& line) { err << line << "\n"; };
  const auto tunes = headless::TuneCharacter(
      request, threshold, static_cast<size_t>(*options.IntegerOrDefault("--samples")), observer);
  PrepareFolder(options.Text("--out"));
  headless::WriteTuneOutputs(tunes, options.Text("--out"), false, web::PageTemplate(), out);
  return kExitOk;
}

int RunTune(const Options& options, std::ostream& out, std::ostream& err) {
  const std::string restPath = options.Text("--rest");
  const std::string dir = options.Text("--out");
  const std::optional<Float> threshold = PoseCheckOf(options);
  if (!threshold) throw UsageError("--pose-check off leaves tune nothing to keep the pose within");
  if (!options.Has("--rest")) return TuneInput(options, *threshold, out, err);
  const headless::Mesh rest = headless::ReadObj(restPath);
  headless::CheckCoordinateRange(rest.points, restPath);
  std::vector<Float32> region;
  if (options.Has("--region"))
    region = headless::ReadWeightsFile(options.Text("--region"), rest.points.size(),
                                       "the rest mesh " + restPath);
  const TuneFrames frames = ReadTuneFrames(options, rest.points.size());
  const Int64 samples = options.IntegerOrDefault("--samples").value_or(3);
  PrepareFolder(dir);
  if (!options.Has("--quiet"))
    err << "tessamire tune: sweeping the settings on the most deformed "
        << std::min<size_t>(static_cast<size_t>(samples), frames.points.size()) << " of "
        << frames.points.size() << " frames\n";
  const headless::TuneResult result =
      headless::TuneMesh(restPath, rest, region, frames.points, frames.names, *threshold,
                         static_cast<size_t>(samples));
  headless::WriteTuneOutputs({{nullptr, "", rest, result}}, dir, true, web::PageTemplate(), out);
  return kExitOk;
}

}  // namespace

Subcommand TuneSubcommand() {
  CommandSpec declaration;
  declaration.name = "tune";
  declaration.operands = "FRAMES...|CHARACTER|SCENE";
  declaration.minOperands = 1;
  declaration.maxOperands = -1;
  declaration.summary =
      "find the settings that suit a mesh: sweep rounds, weighting and pinned borders on its "
      "most deformed skinned frames and recommend one";
  declaration.details =
      "Reads the rest mesh and its skinned (uncorrected) frames: OBJ files, a numbered "
      "sequence (walk.####.obj with --frames A:B) or one point cache (.pc2, .mdd). Picks the "
      "most deformed frames by the skinning's own change of edges and hinges, corrects each "
      "with every setting (rounds 0, 1, 2, 4 ... 256, weighting 0 and 1, pinned borders where "
      "the mesh has open ones) and prints per setting pose kept (the largest departure of the "
      "large-scale shape from the skinned one, in mean edge lengths), detail kept, the "
      "estimated error (pose and detail read at one fixed scale, in units and as a share of "
      "the rest's detail) and the time per evaluation. Recommends the setting of least "
      "estimated error whose pose stays within the --pose-check threshold, and writes "
      "DIR/tune.png (the sweep plotted) and DIR/tune.html (the most deformed frame skinned "
      "and corrected by the recommended and neighbouring settings, side by side). Without --rest "
      "it reads one character or scene "
      "file as `correct` does and tunes each deformed mesh on its bind points and its skinned "
      "frames: DIR/<mesh>.tune.png and .html.";
  declaration.options = {
      TextOption("--rest", "REST.obj", "the rest mesh; every frame has its points", ""),
      Required(TextOption("--out", "DIR",
                          "the folder receiving tune.png and tune.html (created when its "
                          "parent exists)")),
      TextOption("--frames", "A:B", "the frames of a numbered OBJ sequence or of the animation",
                 ""),
      TextOption("--region", "W.txt",
                 "weights, one per point: only points not 0 are read (every point when not "
                 "given)",
                 ""),
      IntegerOption("--samples", "N", "how many of the most deformed frames to evaluate", 1.0,
                    100.0, "3"),
      PoseCheckOption(),
      FlagOption("--quiet", "print no progress")};
  return {declaration, RunTune};
}

}  // namespace cli
