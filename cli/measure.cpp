// `tessamire measure`: the main job's three measures for any rest mesh and deformed copies of it,
// so that settings can be judged on one's own meshes: the detail height error, the edge change
// and the hinge change of a skinned (uncorrected) and a corrected mesh against the rest, over
// every point or over the points a weight file marks.
#include "cli/command_table.h"
#include "headless/job/measure_files.h"

namespace cli {
namespace {

int RunMeasure(const Options& options, std::ostream& out, std::ostream& err) {
  headless::MeasureFilesRequest request;
  request.rest = options.Text("--rest");
  request.region = options.Text("--region");
  request.quiet = options.Has("--quiet");
  for (const char* name : {"--skinned", "--corrected"})
    if (options.Has(name))
      request.inputs.emplace_back(std::string(name).substr(2), options.Text(name));
  if (request.inputs.empty()) throw UsageError("give --skinned A.obj, --corrected B.obj or both");
  Int32 fromStandardInput = (request.rest == "-") + (request.region == "-");
  for (const auto& input : request.inputs) fromStandardInput += input.second == "-";
  if (fromStandardInput > 1) throw UsageError("only one input can come from the standard input");
  out << headless::MeasureFiles(request, err);
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
