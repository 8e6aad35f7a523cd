// `tessamire measure`: the main job's three measures for any rest mesh and deformed copies of it,
// so that settings can be judged on one's own meshes: the detail height error, the edge change
// and the hinge change of a skinned (uncorrected) and a corrected mesh against the rest, over
// every point or over the points a weight file marks.
#include <algorithm>

#include "cli/command_table.h"
#include "headless/batch/progress_printer.h"
#include "headless/files/input_ranges.h"
#include "headless/io/obj_read.h"
#include "headless/io/weights_file.h"
#include "headless/job/pair_measures.h"
#include "headless/job/tables.h"
#include "headless/platform/streams.h"

namespace cli {
namespace {

// Above this many points the measure reports its stages.
constexpr size_t kLargeMesh = 200000;

int RunMeasure(const Options& options, std::ostream& out, std::ostream& err) {
  const std::string restPath = options.Text("--rest");
  std::vector<std::pair<std::string, std::string>> inputs;  // label, path
  for (const char* name : {"--skinned", "--corrected"})
    if (options.Has(name)) inputs.emplace_back(std::string(name).substr(2), options.Text(name));
  if (inputs.empty()) throw UsageError("give --skinned A.obj, --corrected B.obj or both");
  Int32 fromStandardInput = restPath == "-";
  for (const auto& input : inputs) fromStandardInput += input.second == "-";
  if (options.Text("--region") == "-") ++fromStandardInput;
  if (fromStandardInput > 1) throw UsageError("only one input can come from the standard input");

  const headless::Mesh rest = headless::ReadObj(restPath);
  headless::CheckCoordinateRange(rest.points, restPath);
  std::vector<Float32> region;
  if (options.Has("--region"))
    region = headless::ReadWeightsFile(options.Text("--region"), rest.points.size(),
                                       "the rest mesh " + restPath);
  std::vector<std::vector<Vector3>> meshes;
  for (const auto& [label, path] : inputs) {
    headless::Mesh mesh = headless::ReadObj(path);
    headless::CheckCoordinateRange(mesh.points, path);
    if (mesh.points.size() != rest.points.size())
      throw std::runtime_error(path + ": " + std::to_string(mesh.points.size()) +
                               " points, but the rest mesh " + restPath + " has " +
                               std::to_string(rest.points.size()));
    meshes.push_back(std::move(mesh.points));
  }

  const bool large = rest.points.size() > kLargeMesh;
  headless::Progress progress(err,
                              headless::ChooseProgressStyle(headless::platform::StderrIsTerminal(),
                                                            options.Has("--quiet") || !large),
                              "tessamire measure", "step", static_cast<Int64>(inputs.size()) + 1);
  const headless::PairReference reference = headless::PreparePairReference(rest, region);
  progress.Step("rest measured");
  headless::PrintPairHeader(reference, out);
  // With both given, pose kept and detail kept read the corrected mesh against the skinned one.
  const bool pair = meshes.size() == 2;
  for (size_t i = 0; i < meshes.size(); ++i) {
    const headless::PairMeasures measures =
        pair ? headless::MeasureAgainstSkinned(reference, meshes[0], meshes[i])
             : headless::MeasurePair(reference, meshes[i]);
    headless::PrintPairRow(inputs[i].first, measures, out);
    if (pair && i == 1)
      headless::PrintPoseWorst(
          measures, rest.points[static_cast<size_t>(std::max(0, measures.pose.worstPoint))], out);
    progress.Step(inputs[i].first + " measured");
  }
  return kExitOk;
}

}  // namespace

Subcommand MeasureSubcommand() {
  CommandSpec declaration;
  declaration.name = "measure";
  declaration.summary =
      "print the main job's measures of detail kept (height error, edge change, hinge "
      "change) for any rest mesh and deformed copies of it";
  declaration.details =
      "Compares A.obj (say, skinned alone) and B.obj (say, corrected by `tessamire apply`) "
      "with REST.obj, which they share points and polygons with. Detail height error: how "
      "far the points' heights above their own smoothed surface (8 rounds of neighbour "
      "averaging) differ from the rest's, as a share of the rest's; edge change: the mean "
      "relative change of edge lengths; hinge change: the mean change of the angle between "
      "the polygons across each edge. 0 is the rest's detail kept exactly; lower is better. "
      "Unlike `tessamire run`, which takes out the bend's own share with a detail-free base "
      "mesh, these count the change of the large-scale shape too: compare the two rows "
      "rather than reading one alone. Given both, two columns more read B against A: pose "
      "kept, how far B's large-scale shape (the difference B - A averaged 16 rounds over "
      "neighbours) departs from A's at its worst point, in mean edge lengths and units, the "
      "point named below; detail kept, how close B comes to the rest's detail put on A's "
      "smoothed surface (100% as at rest, 0% as far off as losing it), so a B that lost A's "
      "pose cannot score well. One input may be - (the standard input).";
  declaration.loadsPlugins = false;
  declaration.options = {
      Required(TextOption("--rest", "REST.obj", "the rest mesh")),
      TextOption("--skinned", "A.obj", "a deformed copy without correction"),
      TextOption("--corrected", "B.obj", "a deformed copy with correction"),
      TextOption("--region", "W.txt",
                 "measure only the points whose weight (one number per line) is not 0",
                 "every point"),
      FlagOption("--quiet", "print no progress")};
  return {declaration, RunMeasure};
}

}  // namespace cli
