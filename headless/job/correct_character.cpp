#include "headless/job/correct_character.h"

#include <algorithm>
#include <memory>
#include <stdexcept>

#include "headless/characters/character.h"
#include "headless/characters/rig_pose.h"
#include "headless/deformers/cache_deformer.h"
#include "headless/files/output_folder.h"
#include "headless/files/printable.h"
#include "headless/files/shortest_number.h"
#include "headless/io/scene_file.h"
#include "headless/job/main_job.h"
#include "headless/scene/parameters.h"
#include "headless/scene/registry.h"
#include "host/abi/ids.h"

namespace headless {
namespace {

// A polygon object that a skin or a point cache beneath it deforms, other than a character's
// rigid mesh: moved as a whole, it keeps its shape, and the correction would change nothing.
bool IsDeformed(const Document& doc, const Node* object) {
  if (!object->IsPolygonObject()) return false;
  if (doc.rig != nullptr && RigMeshIsRigid(*doc.rig, RigMeshNamed(*doc.rig, object->name)))
    return false;
  for (const Node* child = object->down; child != nullptr; child = child->next)
    if (child->type == Oskin || child->type == kPointCacheType) return true;
  return false;
}

std::vector<Node*> BindTags(const Node* object) {
  std::vector<Node*> tags;
  for (Node* tag : Document::Tags(object))
    if (tag->type == ID_TTESSAMIRE) tags.push_back(tag);
  return tags;
}

// A character's clip times the results (its own key times) and bounds the range: frames past its
// last would only repeat the last pose, so they are refused rather than written.
void TakeClipTiming(const CharacterImport& imported, EvalRequest& eval) {
  eval.frameSeconds = imported.frameSeconds;
  if (imported.lastFrame < 0 || !eval.frames || eval.frames->last <= imported.lastFrame) return;
  throw std::runtime_error(
      eval.source + ": --frames " + std::to_string(eval.frames->first) + ":" +
      std::to_string(eval.frames->last) + " goes past the clip '" + Printable(imported.clipName) +
      "', whose last frame is " + std::to_string(imported.lastFrame) + " (frames 0 to " +
      std::to_string(imported.lastFrame) + " at " + ShortestNumber(imported.fps) + " per second)");
}

// The scene to correct: the character imported, or the scene loaded (its file's version noted in
// `eval`).
std::unique_ptr<Document> LoadInput(const CorrectRequest& request, EvalRequest& eval,
                                    const CorrectObserver& observer) {
  const std::string& input = eval.source;
  // A scene may come from the standard input; a character file is read by its name.
  if (input == "-" || IsSceneFile(input)) {
    if (request.clip || !request.clips.empty() || request.allClips)
      throw std::invalid_argument(
          "--clip picks an animation of a character file; a scene holds its own");
    SceneFileInfo info;
    std::unique_ptr<Document> doc = LoadScene(input, &info);
    eval.sceneVersion = info.version;
    return doc;
  }
  auto doc = NewDocument();
  const CharacterImport imported = ImportCharacter(input, *doc,
                                                   {.fps = eval.fps.value_or(0.0),
                                                    .clip = request.clip.value_or(""),
                                                    .clips = request.clips,
                                                    .allClips = request.allClips,
                                                    .assetRoot = request.assetRoot});
  if (observer.eval.message)
    for (const std::string& note : imported.notes)
      observer.eval.message(eval.command + ": note: " + input + ": " + Printable(note));
  TakeClipTiming(imported, eval);
  return doc;
}

// Runs the setup command on the deformed meshes without a bind tag; answers them.
std::vector<Node*> Equip(Document& doc, const std::vector<Node*>& deformed) {
  std::vector<Node*> unequipped;
  for (Node* object : deformed)
    if (BindTags(object).empty()) unequipped.push_back(object);
  if (!unequipped.empty()) RunSetupCommand(doc, unequipped);
  for (const Node* object : unequipped)
    if (BindTags(object).empty())
      throw std::runtime_error("the setup command put no bind tag on " + object->name);
  return unequipped;
}

// Gives every bind tag of the deformed meshes the settings and binds it.
void Bind(const CorrectRequest& request, const std::vector<Node*>& deformed,
          const std::vector<Node*>& unequipped, const CorrectObserver& observer) {
  Registration command;
  FindRegistration(ID_ADDTESSAMIRECMD, command);
  for (Node* object : deformed) {
    BoundMesh mesh{object->name, {}, {}};
    for (Node* tag : BindTags(object)) {
      if (request.settings) {
        PressButton(tag, TTESSAMIRE_UNBIND);  // a bound tag's settings are disabled
        SetTagSettings(tag, *request.settings);
      }
      if (!PressButton(tag, TTESSAMIRE_BIND))
        throw std::runtime_error(request.eval.source + ": the bind tag of " + object->name +
                                 " refused to bind its mesh");
    }
    if (std::find(unequipped.begin(), unequipped.end(), object) != unequipped.end())
      mesh.equippedBy = command.name;
    for (const Node* tag : BindTags(object))
      mesh.iterations.push_back(tag->params.GetInt32(TTESSAMIRE_ITERATIONS).value_or(0));
    if (observer.bound) observer.bound(mesh);
  }
}

}  // namespace

EvalResult CorrectCharacter(const CorrectRequest& request, const CorrectObserver& observer) {
  RequirePluginParts();
  EvalRequest eval = request.eval;
  const std::unique_ptr<Document> doc = LoadInput(request, eval, observer);
  std::vector<Node*> deformed;
  for (Node* object : doc->Objects())
    if (IsDeformed(*doc, object)) deformed.push_back(object);
  if (deformed.empty())
    throw std::runtime_error(eval.source +
                             ": holds no mesh that a skin or point cache deforms; nothing to "
                             "correct");
  const std::vector<Node*> unequipped = Equip(*doc, deformed);
  Bind(request, deformed, unequipped, observer);
  if (!request.saveScene) return EvaluateScene(*doc, eval, observer.eval);
  // The saved scene is checked with the results, and written once they are found apart.
  eval.alsoWritten.push_back({*request.saveScene, "the saved scene"});
  return EvaluateScene(*doc, eval, observer.eval, [&] {
    PrepareOutputFolder(*request.saveScene);
    SaveScene(*doc, *request.saveScene);
  });
}

}  // namespace headless
