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
#include "cli/eval.h"
#include "cli/keyed_range.h"
#include "cli/output_folder.h"
#include "cli/progress.h"
#include "cli/sequence.h"
#include "headless/files/interruption.h"
#include "headless/files/printable.h"
#include "headless/io/results.h"
#include "headless/io/scene_file.h"
#include "headless/platform/paths.h"
#include "headless/platform/streams.h"
#include "headless/scene/deform.h"
#include "headless/scene/evaluate.h"

namespace cli {
namespace {

namespace fs = std::filesystem;

}  // namespace

EvalRequest ParseEvalRequest(const Options& options, const std::string& command) {
  EvalRequest request;
  request.command = command;
  request.source = options.Operands().front();
  if (options.Has("--frames")) {
    FrameRange range;
    if (!ParseFrameRange(options.Text("--frames"), range.first, range.last))
      throw UsageError("--frames wants A:B with whole numbers A <= B (or one frame A), not \"" +
                       options.Text("--frames") + "\"");
    request.frames = range;
  }
  request.format = options.Text("--format", "obj");
  request.fps = options.Number("--fps");
  if (request.fps && !(*request.fps > 0.0)) throw UsageError("--fps wants a number above 0");
  request.welded = options.Has("--welded");
  request.quiet = options.Has("--quiet");
  request.dir = options.Text("--out");
  if (request.dir == "-") throw UsageError("--out wants a folder; a file is written per object");
  return request;
}

int EvaluateScene(headless::Document& doc, const EvalRequest& request, std::ostream& out,
                  std::ostream& err) {
  const std::string& path = request.source;
  const std::string& dir = request.dir;
  const std::string& command = request.command;
  const bool hasRange = request.frames.has_value();
  const FrameRange range = hasRange ? *request.frames : KeyedRange(doc);
  const Int64 total = static_cast<Int64>(range.last) - range.first + 1;
  if (!hasRange && total > kMaxKeyedFrames)
    throw std::runtime_error(path + ": the keys span " + std::to_string(total) + " frames (" +
                             std::to_string(range.first) + " to " + std::to_string(range.last) +
                             "), more than " + std::to_string(kMaxKeyedFrames) +
                             "; give --frames A:B to evaluate that many");
  std::vector<headless::Node*> objects;
  for (headless::Node* node : doc.Objects())
    if (node->IsPolygonObject()) objects.push_back(node);
  if (objects.empty()) throw std::runtime_error(path + ": the scene holds no polygon object");

  headless::ResultOptions results;
  results.format = *headless::ResultFormatNamed(request.format);
  results.folder = dir;
  const fs::path scene = headless::platform::PathFromUtf8(path);
  if (path != "-") results.name = headless::platform::Utf8FromPath(scene.stem());
  results.fps = request.fps.value_or(doc.FrameRate());
  results.welded = request.welded;
  results.sceneVersion = request.sceneVersion;
  headless::ResultWriter writer(objects, results, range.first, range.last);
  for (const std::string& note : writer.Notes())
    err << command << ": note: " << path << ": " << note << "\n";
  for (const std::string& note : SampleSpacingNotes(doc))
    err << command << ": note: " << path << ": " << note << "\n";
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

  Progress progress(
      err, ChooseProgressStyle(headless::platform::StderrIsTerminal(), request.quiet),
      command, "frame", total);
  Int64 pointsKept = 0;
  for (Int64 frame = range.first; frame <= range.last; ++frame) {
    headless::StopIfInterrupted();
    const headless::DeformReport report =
        headless::EvaluateDocumentAtFrame(doc, static_cast<Float>(frame));
    for (const std::string& warning : report.warnings)
      err << command << ": warning: frame " << frame << ": " << headless::Printable(warning)
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
  if (!request.quiet) out << "wrote " << writer.Written() << " to " << dir << "\n";
  return KeptPointsExit(pointsKept, command, err);
}

namespace {

int RunEval(const Options& options, std::ostream& out, std::ostream& err) {
  EvalRequest request = ParseEvalRequest(options, "tessamire eval");
  headless::SceneFileInfo info;
  const std::unique_ptr<headless::Document> doc = headless::LoadScene(request.source, &info);
  request.sceneVersion = info.version;
  return EvaluateScene(*doc, request, out, err);
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
                   std::nullopt, std::nullopt, "the scene's own rate"),
      FlagOption("--quiet", "print no progress and no summary")};
  return {declaration, RunEval};
}

}  // namespace cli
