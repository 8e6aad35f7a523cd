#include "headless/job/measure_files.h"

#include <algorithm>
#include <sstream>
#include <stdexcept>

#include "headless/batch/progress_printer.h"
#include "headless/files/input_ranges.h"
#include "headless/io/obj_read.h"
#include "headless/io/weights_file.h"
#include "headless/job/pair_measures.h"
#include "headless/job/tables.h"
#include "headless/platform/streams.h"

namespace headless {

std::string MeasureFiles(const MeasureFilesRequest& request, std::ostream& progressStream) {
  const Mesh rest = ReadObj(request.rest);
  CheckCoordinateRange(rest.points, request.rest);
  std::vector<Float32> region;
  if (!request.region.empty())
    region = ReadWeightsFile(request.region, rest.points.size(), "the rest mesh " + request.rest);
  std::vector<std::vector<Vector3>> meshes;
  for (const auto& [label, path] : request.inputs) {
    Mesh mesh = ReadObj(path);
    CheckCoordinateRange(mesh.points, path);
    if (mesh.points.size() != rest.points.size())
      throw std::runtime_error(path + ": " + std::to_string(mesh.points.size()) +
                               " points, but the rest mesh " + request.rest + " has " +
                               std::to_string(rest.points.size()));
    meshes.push_back(std::move(mesh.points));
  }

  const bool large = rest.points.size() > kMeasureLargeMesh;
  Progress progress(progressStream,
                    ChooseProgressStyle(platform::StderrIsTerminal(), request.quiet || !large),
                    "tessamire measure", "step", static_cast<Int64>(meshes.size()) + 1);
  const PairReference reference = PreparePairReference(rest, region);
  progress.Step("rest measured");
  std::ostringstream out;
  PrintPairHeader(reference, out);
  // With both given, pose kept and detail kept read the corrected mesh against the skinned one.
  const bool pair = meshes.size() == 2;
  for (size_t i = 0; i < meshes.size(); ++i) {
    const PairMeasures measures = pair ? MeasureAgainstSkinned(reference, meshes[0], meshes[i])
                                       : MeasurePair(reference, meshes[i]);
    PrintPairRow(request.inputs[i].first, measures, out);
    if (pair && i == 1)
      PrintPoseWorst(measures,
                     rest.points[static_cast<size_t>(std::max(0, measures.pose.worstPoint))], out);
    progress.Step(request.inputs[i].first + " measured");
  }
  return out.str();
}

}  // namespace headless
