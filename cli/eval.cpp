// `tessamire eval`: loads a saved scene, evaluates it at each frame of a range (keyed joints
// first, then the expression and deform passes) and writes every polygon object's deformed mesh
// (headless/io/results.h): per frame as `<object>.<frame>.obj` (the frame zero-padded to 4
// digits), all frames in one point cache per object, `<object>.pc2` or `<object>.mdd`, or every
// object and frame in one glTF, `<scene>.glb`; on a character file's own vertices where an object
// came from one, unless --welded.
#include <memory>

#include "cli/command_table.h"
#include "cli/eval.h"
#include "cli/sequence.h"
#include "cli/tag_settings.h"
#include "headless/io/scene_file.h"
#include "headless/job/tune_character.h"
#include "headless/platform/paths.h"
#include "headless/platform/streams.h"

namespace cli {

EvalCommand ParseEvalRequest(const Options& options, const std::string& command) {
  EvalCommand run;
  headless::EvalRequest& request = run.request;
  request.command = command;
  request.source = options.Operands().front();
  if (options.Has("--frames")) {
    headless::FrameRange range;
    if (!ParseFrameRange(options.Text("--frames"), range.first, range.last))
      throw UsageError("--frames wants A:B with whole numbers A <= B (or one frame A), not \"" +
                       options.Text("--frames") + "\"");
    request.frames = range;
  }
  request.format = options.Text("--format", "obj");
  request.fps = options.Number("--fps");
  if (request.fps && !(*request.fps > 0.0)) throw UsageError("--fps wants a number above 0");
  request.welded = options.Has("--welded");
  request.worldSpace = options.Text("--space", "mesh") == "world";
  if (request.worldSpace && request.format == "glb")
    throw UsageError("--space world applies to obj, pc2 and mdd; a glTF places its meshes itself");
  request.glbForm = options.Text("--glb-form", "");
  request.influences = options.Has("--influences") ? std::stoi(options.Text("--influences")) : 4;
  if (options.Has("--glb-int16") && options.Text("--glb-targets", "quantised") != "quantised")
    throw UsageError("--glb-int16 is --glb-targets quantised: give one of them");
  request.quantised = options.Text("--glb-targets", "quantised") == "quantised";
  if ((options.Has("--glb-form") || options.Has("--influences") || options.Has("--glb-targets") ||
       options.Has("--glb-int16")) &&
      request.format != "glb")
    throw UsageError("--glb-form, --influences and --glb-targets shape a glTF: give --format glb");
  run.quiet = options.Has("--quiet");
  request.poseCheck = PoseCheckOf(options);
  request.dir = options.Text("--out");
  if (request.dir == "-") throw UsageError("--out wants a folder; a file is written per object");
  return run;
}

OptionSpec SpaceOption() {
  OptionSpec space = ChoiceOption("--space", "SPACE",
                                  "where OBJ and cache points lie: each mesh in its own space, "
                                  "or a character's meshes placed by their nodes in the world",
                                  {"mesh", "world"}, "mesh");
  space.choiceMeanings = {"each mesh in its own coordinates, as the file gives its vertices",
                          "placed by the node drawing it, so the meshes line up"};
  return space;
}

std::vector<OptionSpec> GlbOptions() {
  return {ChoiceOption("--glb-form", "FORM",
                       "a glTF's form: skin (the skeleton and clips, the correction as morph "
                       "targets) or frames (every frame a whole morph target)",
                       {"skin", "frames"}, "skin for a character, else frames"),
          ChoiceOption("--influences", "N", "joints per vertex in a skinned glTF", {"4", "8"}, "4"),
          ChoiceOption("--glb-targets", "CODING",
                       "how a skinned glTF's targets are stored: quantised (KHR_mesh_quantization: "
                       "int16 positions within 1/65534 of each frame's largest target value, int8 "
                       "normals; about half the size of float) or float (float32, exact)",
                       {"quantised", "float"}, "quantised"),
          FlagOption("--glb-int16", "the same as --glb-targets quantised, the default")};
}

EvalPrinter::EvalPrinter(const EvalCommand& command, std::ostream& err)
    : command_(command),
      err_(err),
      progress_(
          err, headless::ChooseProgressStyle(headless::platform::StderrIsTerminal(), command.quiet),
          command.request.command) {
  observer_.message = [this](const std::string& line) { err_ << line << "\n"; };
  observer_.progress = &progress_;
}

int EvalPrinter::Finish(const headless::EvalResult& result, std::ostream& out) {
  if (!command_.quiet) out << "wrote " << result.written << " to " << command_.request.dir << "\n";
  return KeptPointsExit(result.pointsKept, command_.request.command, err_);
}

namespace {

int RunEval(const Options& options, std::ostream& out, std::ostream& err) {
  EvalCommand run = ParseEvalRequest(options, "tessamire eval");
  headless::SceneFileInfo info;
  const std::unique_ptr<headless::Document> doc = headless::LoadScene(run.request.source, &info);
  run.request.sceneVersion = info.version;
  EvalPrinter printer(run, err);
  if (options.Has("--settings"))
    headless::RebindWithAutoSettings(*doc, run.request, printer.Observer().message);
  return printer.Finish(headless::EvaluateScene(*doc, run.request, printer.Observer()), out);
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
      SpaceOption(),
      NumberOption("--fps", "F", "frames per second of an MDD cache's or a glTF's times",
                   std::nullopt, std::nullopt, "the scene's own rate"),
      PoseCheckOption(),
      ChoiceOption("--settings", "auto", "every bind tag bound again with what `tune` recommends",
                   {"auto"}, ""),
      FlagOption("--quiet", "print no progress and no summary")};
  for (OptionSpec& o : GlbOptions()) declaration.options.push_back(std::move(o));
  return {declaration, RunEval};
}

}  // namespace cli
