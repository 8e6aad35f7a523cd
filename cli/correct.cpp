// `tessamire correct INPUT [settings] [--clip C] [--fps F] [--frames A:B] --format FORMAT --out
// DIR`: a rigged character (or a scene) corrected in one step, the way a rigger does it by hand.
// The character is imported (one clip, at its own rate or --fps); the setup command runs once
// on every deformed mesh that carries no bind tag yet (each selected, Shift held: a tag and a
// deformer after the skin); every bind tag of those meshes takes the settings given (unbound
// first when it was bound, since the plug-in disables a bound tag's settings) and is bound by
// its button, which binds the mesh's own points, the bind pose; then the clip's frames are
// evaluated and written as `eval` writes them (cli/eval.h).
#include <algorithm>
#include <memory>
#include <stdexcept>

#include "cli/command_table.h"
#include "cli/eval.h"
#include "cli/output_folder.h"
#include "cli/tag_settings.h"
#include "headless/deformers/cache_deformer.h"
#include "headless/deformers/skin.h"
#include "headless/characters/character.h"
#include "headless/files/printable.h"
#include "headless/io/scene_file.h"
#include "headless/job/main_job.h"
#include "headless/scene/parameters.h"
#include "headless/scene/registry.h"
#include "host/abi/ids.h"

namespace cli {
namespace {

// A polygon object that a skin or a point cache beneath it deforms.
bool IsDeformed(const headless::Node* object) {
  if (!object->IsPolygonObject()) return false;
  for (const headless::Node* child = object->down; child != nullptr; child = child->next)
    if (child->type == Oskin || child->type == headless::kPointCacheType) return true;
  return false;
}

std::vector<headless::Node*> BindTags(const headless::Node* object) {
  std::vector<headless::Node*> tags;
  for (headless::Node* tag : headless::Document::Tags(object))
    if (tag->type == ID_TTESSAMIRE) tags.push_back(tag);
  return tags;
}

bool GivesSettings(const Options& options) {
  for (const OptionSpec& o : TagSettingOptions(true))
    if (options.Has(o.name)) return true;
  return false;
}

// The scene to correct: the character imported, or the scene loaded (its file's version noted in
// `request`).
std::unique_ptr<headless::Document> LoadInput(EvalRequest& request, const Options& options,
                                              std::ostream& err) {
  const std::string& input = request.source;
  // A scene may come from the standard input; a character file is read by its name.
  if (input == "-" || headless::IsSceneFile(input)) {
    if (options.Has("--clip"))
      throw UsageError("--clip picks an animation of a character file; a scene holds its own");
    headless::SceneFileInfo info;
    std::unique_ptr<headless::Document> doc = headless::LoadScene(input, &info);
    request.sceneVersion = info.version;
    return doc;
  }
  auto doc = headless::NewDocument();
  const headless::CharacterImport imported = headless::ImportCharacter(
      input, *doc, {.fps = options.Number("--fps").value_or(0.0), .clip = options.Text("--clip")});
  for (const std::string& note : imported.notes)
    err << "tessamire correct: note: " << input << ": " << headless::Printable(note) << "\n";
  return doc;
}

int RunCorrect(const Options& options, std::ostream& out, std::ostream& err) {
  EvalRequest request = ParseEvalRequest(options, "tessamire correct");
  headless::RequirePluginParts();

  const std::unique_ptr<headless::Document> doc = LoadInput(request, options, err);
  std::vector<headless::Node*> deformed, unequipped;
  for (headless::Node* object : doc->Objects()) {
    if (!IsDeformed(object)) continue;
    deformed.push_back(object);
    if (BindTags(object).empty()) unequipped.push_back(object);
  }
  if (deformed.empty())
    throw std::runtime_error(request.source +
                             ": holds no mesh that a skin or point cache deforms; nothing to "
                             "correct");
  headless::Registration command;
  headless::FindRegistration(ID_ADDTESSAMIRECMD, command);
  if (!unequipped.empty()) headless::RunSetupCommand(*doc, unequipped);
  for (const headless::Node* object : unequipped)
    if (BindTags(object).empty())
      throw std::runtime_error("the setup command put no bind tag on " + object->name);

  const bool settings = GivesSettings(options);
  for (headless::Node* object : deformed) {
    for (headless::Node* tag : BindTags(object)) {
      if (settings) {
        headless::PressButton(tag, TTESSAMIRE_UNBIND);  // a bound tag's settings are disabled
        ApplyTagSettings(options, tag);
      }
      if (!headless::PressButton(tag, TTESSAMIRE_BIND))
        throw std::runtime_error(request.source + ": the bind tag of " + object->name +
                                 " refused to bind its mesh");
    }
    if (!request.quiet) {
      out << headless::Printable(object->name) << ": "
          << (std::find(unequipped.begin(), unequipped.end(), object) != unequipped.end()
                  ? "equipped by " + command.name + " (Shift)"
                  : std::string("already equipped"));
      for (const headless::Node* tag : BindTags(object))
        out << "; bound at " << tag->params.GetInt32(TTESSAMIRE_ITERATIONS).value_or(0)
            << " iterations";
      out << "\n";
    }
  }
  if (options.Has("--save-scene")) {
    const std::string scene = options.Text("--save-scene");
    RefuseOverwritingInputs(scene, {request.source});
    PrepareOutputFolder(scene);
    headless::SaveScene(*doc, scene);
  }
  return EvaluateScene(*doc, request, out, err);
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
      "after the skin), gives every bind tag the settings, binds it at the bind pose and "
      "evaluates the animation's frames, writing each corrected mesh as `eval` does, on "
      "the file's own vertices unless --welded: DIR/<object>.<frame>.obj, one cache "
      "DIR/<object>.pc2 or .mdd, or one binary glTF DIR/<file>.glb, timed at the scene's "
      "frame rate.";
  declaration.options = {
      Required(ChoiceOption("--format", "FORMAT", "what to write per mesh",
                            {"obj", "pc2", "mdd", "glb"}, "")),
      Required(TextOption("--out", "DIR",
                          "the folder receiving the meshes or caches (created when its "
                          "parent exists)"))};
  for (OptionSpec& o : TagSettingOptions(true)) declaration.options.push_back(o);
  declaration.options.push_back(
      TextOption("--clip", "NAME|INDEX",
                 "the character's animation, by name or 0-based index (scene import --list "
                 "lists them)",
                 "the first"));
  declaration.options.push_back(TextOption(
      "--frames", "A:B", "the frames to evaluate, or one frame A", "the animation's frames"));
  declaration.options.push_back(
      NumberOption("--fps", "F", "frames per second: the character's keys and the caches' times",
                   std::nullopt, std::nullopt, "the file's own rate, else 30"));
  declaration.options.push_back(
      FlagOption("--welded",
                 "write the welded points the correction runs on, not the file's own "
                 "vertices"));
  declaration.options.push_back(
      TextOption("--save-scene", "FILE", "also save the corrected scene, for `eval`"));
  declaration.options.push_back(FlagOption("--quiet", "print no progress and no summary"));
  return {declaration, RunCorrect};
}

}  // namespace cli
