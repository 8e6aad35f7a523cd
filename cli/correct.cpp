// `tessamire correct INPUT [settings] [maps] [--clip C] [--fps F] [--frames A:B] [--bind-frame F]
// --format FORMAT --out DIR`: a rigged character (or a scene) corrected in one step, the way a
// rigger does it by hand: imported, equipped by the setup command, bound at the bind pose (or a
// frame's) with the settings and maps given, and its rest meshes and frames written as `eval`
// writes them (headless/job/correct_character.h does the work; here the options are mapped and
// the outcome printed).
#include "cli/clips.h"
#include "cli/command_table.h"
#include "cli/eval.h"
#include "cli/tag_settings.h"
#include "headless/files/printable.h"
#include "headless/files/shortest_number.h"
#include "headless/job/correct_character.h"

namespace cli {
namespace {

void PrintBound(const headless::BoundMesh& mesh, const std::optional<Float>& frame,
                std::ostream& out) {
  out << headless::Printable(mesh.name) << ": "
      << (mesh.equippedBy      ? "equipped by " + *mesh.equippedBy + " (Shift)"
          : mesh.deformerAdded ? std::string("its bind tag had no deformer; one was put after the "
                                             "skin, as the setup command does with Shift")
                               : std::string("already equipped"));
  for (const Int32 iterations : mesh.iterations) {
    out << "; bound at " << iterations << " iterations";
    if (frame) out << " on frame " << headless::ShortestNumber(*frame);
  }
  out << "\n";
}

void SetMaps(const Options& options, headless::CorrectRequest& request) {
  request.vertexMapFiles = options.Texts("--vertex-map");
  request.restrictionFiles = options.Texts("--restriction");
  if (options.Has("--vertex-map-joint"))
    request.vertexMapJoint = options.Text("--vertex-map-joint");
  if (options.Has("--restriction-joint"))
    request.restrictionJoint = options.Text("--restriction-joint");
  request.bindFrame = options.Number("--bind-frame");
  request.withSkinned = options.Has("--with-skinned");
}

int RunCorrect(const Options& options, std::ostream& out, std::ostream& err) {
  headless::CorrectRequest request;
  const EvalCommand run = ParseEvalRequest(options, "tessamire correct");
  request.eval = run.request;
  SetCorrectInput(options, request);
  if (options.Has("--save-scene")) request.saveScene = options.Text("--save-scene");
  SetMaps(options, request);

  EvalPrinter printer(run, err);
  headless::CorrectObserver observer{printer.Observer(), {}};
  if (!run.quiet)
    observer.bound = [&out, &request](const headless::BoundMesh& mesh) {
      PrintBound(mesh, request.bindFrame, out);
    };
  return printer.Finish(headless::CorrectCharacter(request, observer), out);
}

}  // namespace

Subcommand CorrectSubcommand() {
  CommandSpec declaration;
  declaration.name = "correct";
  declaration.operands = "CHARACTER|SCENE";
  declaration.minOperands = 1;
  declaration.maxOperands = 1;
  declaration.summary =
      "correct a rigged character (or a scene) in one step: import, set up, bind at the "
      "bind pose, evaluate the animation and write it";
  declaration.details =
      "Imports CHARACTER (.fbx, .gltf, .glb, .dae, .x and the other formats Assimp reads; "
      "or loads a SCENE file), runs the plug-in's setup command on every mesh a skin or a "
      "point cache deforms, as a user does with Shift held (a bind tag, and the deformer "
      "after the skin; a mesh with a bind tag but no deformer gets the deformer), gives every "
      "bind tag the settings and maps, binds it at the bind pose (or on the pose at "
      "--bind-frame) and evaluates the animation's frames, writing each corrected mesh as "
      "`eval` does, on the file's own vertices unless --welded: DIR/<object>.<frame>.obj, one "
      "cache DIR/<object>.pc2 or .mdd, or one binary glTF DIR/<file>.glb, timed at the scene's "
      "frame rate; and beside them each mesh's rest, the pose it was bound on, as "
      "DIR/<object>.rest.obj for `apply` and `measure`. A map file holds one number per welded "
      "point (`scene import --list` counts them); with several deformed meshes each file names "
      "its mesh, MESH=FILE.";
  declaration.options = {
      Required(ChoiceOption("--format", "FORMAT", "what to write per mesh",
                            {"obj", "pc2", "mdd", "glb"}, "")),
      Required(TextOption("--out", "DIR",
                          "the folder receiving the meshes or caches (created, with any "
                          "folders above it that are missing)"))};
  for (OptionSpec& o : TagSettingOptions(true)) declaration.options.push_back(o);
  declaration.options.push_back(ChoiceOption(
      "--settings", "auto", "the settings not given taken per mesh from what `tune` recommends",
      {"auto"}, ""));
  for (OptionSpec& o : ClipOptions()) declaration.options.push_back(o);
  declaration.options.push_back(AssetRootOption());
  declaration.options.push_back(TextOption(
      "--frames", "A:B", "the frames to evaluate, or one frame A", "the animation's frames"));
  declaration.options.push_back(
      NumberOption("--fps", "F", "frames per second: the character's keys and the caches' times",
                   std::nullopt, std::nullopt, "the file's own rate, else 30"));
  declaration.options.push_back(
      FlagOption("--welded",
                 "write the welded points the correction runs on, not the file's own "
                 "vertices"));
  declaration.options.push_back(SpaceOption());
  declaration.options.push_back(Repeatable(
      TextOption("--vertex-map", "[MESH=]FILE",
                 "smoothing weights from 0 (the point keeps still) to 1, one per welded point")));
  declaration.options.push_back(Repeatable(
      TextOption("--restriction", "[MESH=]FILE",
                 "the deformer's restriction, one weight per welded point (0: plain skinning)")));
  declaration.options.push_back(
      TextOption("--vertex-map-joint", "NAME",
                 "a joint's own skin weights as every mesh's smoothing weights"));
  declaration.options.push_back(
      TextOption("--restriction-joint", "NAME",
                 "a joint's own skin weights as every mesh's restriction: the correction only "
                 "where that joint moves the mesh"));
  declaration.options.push_back(NumberOption("--bind-frame", "F",
                                             "bind on the skinned pose at frame F", std::nullopt,
                                             std::nullopt, "the bind pose"));
  declaration.options.push_back(
      FlagOption("--with-skinned", "also write plain skinning, the same files under DIR/skinned"));
  declaration.options.push_back(
      TextOption("--save-scene", "FILE", "also save the corrected scene, for `eval`"));
  declaration.options.push_back(PoseCheckOption());
  declaration.options.push_back(FlagOption("--quiet", "print no progress and no summary"));
  for (OptionSpec& o : GlbOptions()) declaration.options.push_back(std::move(o));
  return {declaration, RunCorrect};
}

}  // namespace cli
