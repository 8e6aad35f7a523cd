#include "headless/job/correct_character.h"

#include <algorithm>
#include <filesystem>
#include <map>
#include <memory>
#include <stdexcept>

#include "headless/characters/character.h"
#include "headless/characters/rig_pose.h"
#include "headless/deformers/cache_deformer.h"
#include "headless/files/output_folder.h"
#include "headless/files/printable.h"
#include "headless/files/shortest_number.h"
#include "headless/io/character_reader.h"
#include "headless/io/scene_file.h"
#include "headless/job/main_job.h"
#include "headless/job/tune_character.h"
#include "headless/platform/paths.h"
#include "headless/scene/evaluate.h"
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

bool HasPluginDeformer(const Node* object) {
  for (const Node* child = object->down; child != nullptr; child = child->next)
    if (child->type == ID_OTESSAMIRE) return true;
  return false;
}

// Puts the plug-in's deformer among `object`'s children where the setup command does with Shift:
// right after its first skin, or last.
void AddPluginDeformer(Document& doc, Node* object) {
  Registration deformer;
  FindRegistration(ID_OTESSAMIRE, deformer);
  Node* node = NewNode(ID_OTESSAMIRE, false);
  if (node == nullptr)
    throw std::runtime_error("the deformer for " + object->name + " could not be created");
  node->name = deformer.name;
  Node* skin = object->down;
  while (skin != nullptr && skin->type != Oskin) skin = skin->next;
  try {
    if (skin != nullptr)
      doc.InsertAfter(node, skin);
    else
      doc.InsertLast(node, object);
  } catch (...) {
    DestroyNode(node);
    throw;
  }
}

// Runs the setup command on the deformed meshes without a bind tag, and gives a deformer to those
// with a tag but none (the command would add a second tag); answers both lists.
std::pair<std::vector<Node*>, std::vector<Node*>> Equip(Document& doc,
                                                        const std::vector<Node*>& deformed) {
  std::vector<Node*> unequipped, added;
  for (Node* object : deformed)
    if (BindTags(object).empty())
      unequipped.push_back(object);
    else if (!HasPluginDeformer(object))
      added.push_back(object);
  if (!unequipped.empty()) RunSetupCommand(doc, unequipped);
  for (const Node* object : unequipped)
    if (BindTags(object).empty())
      throw std::runtime_error("the setup command put no bind tag on " + object->name);
  for (Node* object : added) AddPluginDeformer(doc, object);
  return {unequipped, added};
}

// Each deformed mesh's points as the deformers before the plug-in's pose them at `frame`.
std::map<const Node*, std::vector<Vector3>> PosedAt(Document& doc,
                                                    const std::vector<Node*>& deformed, Float frame,
                                                    const std::string& source) {
  const PluginDeformersOff off(doc);
  const DeformReport report = EvaluateDocumentAtFrame(doc, frame);
  if (!report.Ok())
    throw std::runtime_error(source + ": --bind-frame " + ShortestNumber(frame) + ": " +
                             report.errors.front());
  std::map<const Node*, std::vector<Vector3>> posed;
  for (const Node* object : deformed) posed[object] = DeformedPoints(object);
  return posed;
}

// The maps of the request per deformed mesh: smoothing weights, then restrictions.
std::pair<std::vector<std::vector<Float32>>, std::vector<std::vector<Float32>>> MapsOf(
    const CorrectRequest& request, const std::vector<Node*>& deformed) {
  std::vector<std::string> names;
  for (const Node* object : deformed) names.push_back(object->name);
  auto sources = [&](const std::vector<std::string>& files, const std::optional<std::string>& joint,
                     const std::string& option) {
    std::vector<MapSource> list;
    for (const std::string& file : files) list.push_back(ParseMapFile(file, names, option));
    if (joint) list.push_back({"", "", *joint});
    return list;
  };
  return {MapWeights(sources(request.vertexMapFiles, request.vertexMapJoint, "--vertex-map"),
                     deformed, "--vertex-map", true),
          MapWeights(sources(request.restrictionFiles, request.restrictionJoint, "--restriction"),
                     deformed, "--restriction", false)};
}

bool Rebinds(const CorrectRequest& request) {
  return request.settings || request.autoSettings || request.bindFrame ||
         !request.vertexMapFiles.empty() || !request.restrictionFiles.empty() ||
         request.vertexMapJoint || request.restrictionJoint;
}

// Gives every bind tag of the deformed meshes the settings and maps, and binds it on `rest` where
// that holds the mesh (its own points are back in place after).
void Bind(Document& doc, const CorrectRequest& request, const std::vector<Node*>& deformed,
          const std::pair<std::vector<Node*>, std::vector<Node*>>& equipped,
          const std::map<const Node*, CorrectionSettings>& settings,
          std::map<const Node*, std::vector<Vector3>>& rest, const CorrectObserver& observer) {
  Registration command;
  FindRegistration(ID_ADDTESSAMIRECMD, command);
  auto [smoothing, restriction] = MapsOf(request, deformed);
  for (size_t m = 0; m < deformed.size(); ++m) {
    Node* object = deformed[m];
    BoundMesh mesh;
    mesh.name = object->name;
    if (!smoothing[m].empty()) LinkSmoothingMap(doc, object, std::move(smoothing[m]));
    if (!restriction[m].empty()) RestrictDeformers(doc, object, std::move(restriction[m]));
    const auto posed = rest.find(object);
    if (posed != rest.end()) std::swap(object->points, posed->second);
    try {
      for (Node* tag : BindTags(object)) {
        if (Rebinds(request))
          PressButton(tag, TTESSAMIRE_UNBIND);  // settings of a bound tag are off
        if (const auto given = settings.find(object); given != settings.end())
          SetTagSettings(tag, given->second);
        if (!PressButton(tag, TTESSAMIRE_BIND))
          throw std::runtime_error(request.eval.source + ": the bind tag of " + object->name +
                                   " refused to bind its mesh");
      }
    } catch (...) {
      if (posed != rest.end()) std::swap(object->points, posed->second);
      throw;
    }
    if (posed != rest.end()) std::swap(object->points, posed->second);
    const auto& [unequipped, added] = equipped;
    if (std::find(unequipped.begin(), unequipped.end(), object) != unequipped.end())
      mesh.equippedBy = command.name;
    mesh.deformerAdded = std::find(added.begin(), added.end(), object) != added.end();
    for (const Node* tag : BindTags(object))
      mesh.iterations.push_back(tag->params.GetInt32(TTESSAMIRE_ITERATIONS).value_or(0));
    if (observer.bound) observer.bound(mesh);
  }
}

// The settings each mesh's tags take: those given, and with --settings auto the rest of them
// from tune's recommendation for the mesh, said once per mesh.
std::map<const Node*, CorrectionSettings> SettingsPerMesh(
    Document& doc, const CorrectRequest& request, const EvalRequest& eval,
    const std::vector<Node*>& deformed, const std::map<const Node*, std::vector<Vector3>>& rest,
    const CorrectObserver& observer) {
  std::map<const Node*, CorrectionSettings> settings;
  if (!request.autoSettings) {
    if (request.settings)
      for (const Node* object : deformed) settings[object] = *request.settings;
    return settings;
  }
  for (const MeshTune& tune : TuneDeformed(doc, deformed, rest, eval.frames, eval.source,
                                           eval.poseCheck.value_or(kDefaultPoseThreshold))) {
    settings[tune.object] =
        AutoSettings(tune.result, request.settings.value_or(CorrectionSettings{}));
    if (observer.eval.message)
      observer.eval.message(eval.command + ": " +
                            AutoSettingsLine(Printable(tune.object->name), settings[tune.object]));
  }
  return settings;
}

EvalRequest SkinnedRequest(const EvalRequest& eval) {
  EvalRequest skinned = eval;
  skinned.dir = platform::Utf8FromPath(platform::PathFromUtf8(eval.dir) / "skinned");
  skinned.restMeshes = false;
  skinned.alsoWritten.clear();  // checked with the corrected run's outputs
  return skinned;
}

// The run's files besides the results and their rest meshes (plain skinning's when asked, the
// saved scene) and the maps it reads, for the check every output passes before anything is
// written.
void PlanOtherFiles(const Document& doc, const CorrectRequest& request, EvalRequest& eval) {
  if (request.withSkinned)
    for (std::string& file : PlannedOutputs(doc, SkinnedRequest(eval)))
      eval.alsoWritten.push_back({std::move(file), "plain skinning"});
  if (request.saveScene) eval.alsoWritten.push_back({*request.saveScene, "the saved scene"});
  for (const auto* list : {&request.vertexMapFiles, &request.restrictionFiles})
    for (const std::string& file : *list) {
      const size_t equals = file.find('=');
      eval.alsoRead.push_back(file);
      if (equals != std::string::npos) eval.alsoRead.push_back(file.substr(equals + 1));
    }
}

// The folders above the results' that do not exist yet; the results' own is made as it is
// written.
void MakeParentFolders(const std::string& dir) {
  const std::filesystem::path parent = platform::PathFromUtf8(dir).parent_path();
  std::error_code ec;
  if (parent.empty() || std::filesystem::is_directory(parent, ec)) return;
  std::filesystem::create_directories(parent, ec);
  if (ec)
    throw std::runtime_error("cannot create the folder " + platform::Utf8FromPath(parent) + ": " +
                             ec.message());
}

}  // namespace

// The scene to correct: the character imported, or the scene loaded (its file's version noted in
// `eval`).
std::unique_ptr<Document> LoadCorrectInput(const CorrectRequest& request, EvalRequest& eval,
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
  ReadCharacter read = ReadCharacterApart(input, {.fps = eval.fps.value_or(0.0),
                                                  .clip = request.clip.value_or(""),
                                                  .clips = request.clips,
                                                  .allClips = request.allClips,
                                                  .readerSeconds = request.readerSeconds,
                                                  .readerProgram = request.readerProgram,
                                                  .assetRoot = request.assetRoot});
  std::unique_ptr<Document> doc = std::move(read.document);
  const CharacterImport& imported = read.imported;
  if (observer.eval.message)
    for (const std::string& note : imported.notes)
      observer.eval.message(eval.command + ": note: " + input + ": " + Printable(note));
  TakeClipTiming(imported, eval);
  return doc;
}

std::vector<Node*> DeformedMeshes(const Document& doc, const std::string& source) {
  std::vector<Node*> deformed;
  for (Node* object : doc.Objects())
    if (IsDeformed(doc, object)) deformed.push_back(object);
  if (deformed.empty())
    throw std::runtime_error(source +
                             ": holds no mesh that a skin or point cache deforms; nothing to "
                             "correct");
  return deformed;
}

PluginDeformersOff::PluginDeformersOff(const Document& doc) {
  for (Node* node : doc.Objects())
    if (node->type == ID_OTESSAMIRE && node->deformMode) {
      node->deformMode = false;
      off_.push_back(node);
    }
}

PluginDeformersOff::~PluginDeformersOff() {
  for (Node* node : off_) node->deformMode = true;
}

std::vector<Node*> BindCorrection(Document& doc, const CorrectRequest& request, EvalRequest& eval,
                                  const CorrectObserver& observer) {
  const std::vector<Node*> deformed = DeformedMeshes(doc, eval.source);
  const auto equipped = Equip(doc, deformed);
  std::map<const Node*, std::vector<Vector3>> rest;
  if (request.bindFrame) rest = PosedAt(doc, deformed, *request.bindFrame, eval.source);
  Bind(doc, request, deformed, equipped,
       SettingsPerMesh(doc, request, eval, deformed, rest, observer), rest, observer);
  eval.restPoints = std::move(rest);
  return deformed;
}

PreparedCorrection PrepareCorrection(const CorrectRequest& request,
                                     const CorrectObserver& observer) {
  RequirePluginParts();
  PreparedCorrection prepared{nullptr, request.eval};
  EvalRequest& eval = prepared.eval;
  prepared.doc = LoadCorrectInput(request, eval, observer);
  BindCorrection(*prepared.doc, request, eval, observer);
  eval.restMeshes = true;
  PlanOtherFiles(*prepared.doc, request, eval);
  return prepared;
}

EvalResult CorrectCharacter(const CorrectRequest& request, const CorrectObserver& observer) {
  PreparedCorrection prepared = PrepareCorrection(request, observer);
  const std::unique_ptr<Document>& doc = prepared.doc;
  const EvalRequest& eval = prepared.eval;
  MakeParentFolders(eval.dir);
  // The saved scene is written once every output is found apart from the others and the inputs.
  EvalResult result = EvaluateScene(*doc, eval, observer.eval, [&] {
    if (!request.saveScene) return;
    PrepareOutputFolder(*request.saveScene);
    SaveScene(*doc, *request.saveScene);
  });
  if (!request.withSkinned) return result;
  const PluginDeformersOff off(*doc);
  EvaluateScene(*doc, SkinnedRequest(eval), observer.eval);
  result.written += ", and their plain skinning in skinned/";
  return result;
}

}  // namespace headless
