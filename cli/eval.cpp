// `tessamire eval`: loads a saved scene, evaluates it at each frame of a range (keyed joints
// first, then the expression and deform passes) and writes every polygon object's deformed mesh
// (headless/io/results.h): per frame as `<object>.<frame>.obj` (the frame zero-padded to 4
// digits), all frames in one point cache per object, `<object>.pc2` or `<object>.mdd`, or every
// object and frame in one glTF, `<scene>.glb`; on a character file's own vertices where an object
// came from one, unless --welded.
#include <filesystem>
#include <memory>
#include <stdexcept>

#include "cli/command_table.h"
#include "cli/keyed_range.h"
#include "cli/output_folder.h"
#include "cli/progress.h"
#include "cli/sequence.h"
#include "headless/io/printable.h"
#include "headless/io/results.h"
#include "headless/io/scene_file.h"
#include "headless/platform/platform.h"
#include "headless/scene/deform.h"
#include "headless/scene/evaluate.h"

namespace cli {
namespace {

namespace fs = std::filesystem;

int RunEval(const Options& options, std::ostream& out, std::ostream& err) {
  FrameRange range;
  const bool hasRange = options.Has("--frames");
  if (hasRange && !ParseFrameRange(options.Text("--frames"), range.first, range.last))
    throw UsageError("--frames wants A:B with whole numbers A <= B (or one frame A), not \"" +
                     options.Text("--frames") + "\"");
  const std::string format = options.Text("--format", "obj");
  const Float fps = options.Number("--fps").value_or(30.0);
  if (!(fps > 0.0)) throw UsageError("--fps wants a number above 0");
  const std::string path = options.Operands().front();
  const bool quiet = options.Has("--quiet");
  const std::string dir = options.Text("--out");
  if (dir == "-") throw UsageError("--out wants a folder; eval writes a file per object");

  headless::SceneFileInfo info;
  std::unique_ptr<headless::Document> doc = headless::LoadScene(path, &info);
  if (!hasRange) range = KeyedRange(*doc);
  const Int64 total = static_cast<Int64>(range.last) - range.first + 1;
  if (!hasRange && total > kMaxKeyedFrames)
    throw std::runtime_error(path + ": the keys span " + std::to_string(total) + " frames (" +
                             std::to_string(range.first) + " to " + std::to_string(range.last) +
                             "), more than " + std::to_string(kMaxKeyedFrames) +
                             "; give --frames A:B to evaluate that many");
  std::vector<headless::Node*> objects;
  for (headless::Node* node : doc->Objects())
    if (node->IsPolygonObject()) objects.push_back(node);
  if (objects.empty()) throw std::runtime_error(path + ": the scene holds no polygon object");

  headless::ResultOptions results;
  results.format = *headless::ResultFormatNamed(format);
  results.folder = dir;
  const fs::path scene = headless::platform::PathFromUtf8(path);
  if (path != "-") results.name = headless::platform::Utf8FromPath(scene.stem());
  results.fps = fps;
  results.welded = options.Has("--welded");
  results.sceneVersion = info.version;
  headless::ResultWriter writer(objects, results, range.first, range.last);
  for (const std::string& note : writer.Notes())
    err << "tessamire eval: note: " << path << ": " << note << "\n";
  for (const std::string& note : SampleSpacingNotes(*doc))
    err << "tessamire eval: note: " << path << ": " << note << "\n";
  PrepareFolder(dir);
  // The scene itself may lie among the outputs.
  const std::string sceneName = headless::platform::Utf8FromPath(scene.filename());
  if (SameFile(
          scene.parent_path().empty() ? "." : headless::platform::Utf8FromPath(scene.parent_path()),
          dir) &&
      writer.Holds(sceneName))
    throw std::runtime_error(
        headless::platform::Utf8FromPath(headless::platform::PathFromUtf8(dir) / scene.filename()) +
        ": the result would overwrite the input " + path);
  writer.CheckFreeSpace();

  headless::Progress progress(
      err, headless::ChooseProgressStyle(headless::platform::StderrIsTerminal(), quiet),
      "tessamire eval", "frame", total);
  Int64 pointsKept = 0;
  for (Int64 frame = range.first; frame <= range.last; ++frame) {
    headless::StopIfInterrupted();
    const headless::DeformReport report =
        headless::EvaluateDocumentAtFrame(*doc, static_cast<Float>(frame));
    for (const std::string& warning : report.warnings)
      err << "tessamire eval: warning: frame " << frame << ": " << headless::Printable(warning)
          << "\n";
    if (!report.Ok())
      throw std::runtime_error(path + ": frame " + std::to_string(frame) + ": " +
                               report.errors.front());
    pointsKept += report.PointsKept();
    writer.AddFrame(frame);
    progress.Step("at frame " + std::to_string(frame));
  }
  writer.Finish();
  progress.Finish();
  if (!quiet) out << "wrote " << writer.Written() << " to " << dir << "\n";
  return KeptPointsExit(pointsKept, "tessamire eval", err);
}

}  // namespace

Subcommand EvalSubcommand() {
  CommandSpec declaration;
  declaration.name = "eval";
  declaration.operands = "SCENE";
  declaration.minOperands = 1;
  declaration.maxOperands = 1;
  declaration.summary =
      "evaluate a saved scene over a range of frames and write each polygon object's "
      "deformed mesh per frame, or all frames as one point cache per object";
  declaration.details =
      "Loads SCENE (- for the standard input), evaluates it at every frame from A to "
      "B (keyed joints first, then expression tags, then deformers in tree order) and "
      "writes each polygon object's deformed mesh as DIR/<object>.<frame>.obj (the frame "
      "zero-padded to 4 digits), with --format pc2 or mdd all frames as one cache "
      "DIR/<object>.pc2 or .mdd, or with --format glb every object and frame as one "
      "binary glTF DIR/<scene>.glb (morph targets keyed at frame / F seconds). An object "
      "imported from a character file is written on the file's own vertices, with its "
      "normals turned with the surface, texture coordinates, materials and names, unless "
      "--welded. A range with A > B, a missing or damaged scene, or a DIR that is a file is "
      "refused before anything is written.";
  declaration.options = {
      TextOption("--frames", "A:B", "the frames to evaluate, or one frame A",
                 "the frames the scene's joints are keyed over and its point caches span"),
      Required(TextOption("--out", "DIR",
                          "the folder receiving the meshes or caches (created when its "
                          "parent exists)")),
      ChoiceOption("--format", "FORMAT", "what to write per polygon object",
                   {"obj", "pc2", "mdd", "glb"}, "obj"),
      FlagOption("--welded",
                 "write the welded points the correction runs on, not the vertices of the "
                 "file a character came from"),
      NumberOption("--fps", "F", "frames per second of an MDD cache's or a glTF's times",
                   std::nullopt, std::nullopt, "30"),
      FlagOption("--quiet", "print no progress and no summary")};
  return {declaration, RunEval};
}

}  // namespace cli
