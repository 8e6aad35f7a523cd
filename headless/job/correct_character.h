// A rigged character (or a saved scene) corrected in one step, the way a rigger does it by hand:
// behind `tessamire correct`. The character is imported (its clips, at its own rate or the
// request's); the setup command runs once on every deformed mesh (a polygon object with a skin or
// a point cache beneath it, not a character's rigid mesh) that carries no bind tag yet, each
// selected, Shift held, which puts a bind tag on it and the deformer after the skin; a mesh with a
// bind tag but no deformer gets the deformer where the command puts it. Every bind tag of those
// meshes takes the settings and maps given (unbound first when it was bound, since the plug-in
// disables a bound tag's settings) and is bound by its button on the mesh's own points (the bind
// pose) or on its skinned pose at a frame; the rest meshes are written, then the frames are
// evaluated and written as EvaluateScene does (headless/batch/evaluate_scene.h), and, when asked,
// again with the plug-in's deformers off (plain skinning) under DIR/skinned.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "headless/batch/correction.h"
#include "headless/batch/evaluate_scene.h"
#include "headless/job/correct_maps.h"

namespace headless {

struct CorrectRequest {
  // What to evaluate and write. `eval.source` is the character file, or a scene file ("-": a
  // scene from the standard input); `eval.fps` is also the rate the character's keys are sampled
  // at (unset: the file's own, else 30). The scene version is that of the loaded file.
  EvalRequest eval;
  // The character's animation by name or 0-based index; unset (or empty): the first.
  std::optional<std::string> clip;
  std::vector<std::string> clips;  // further animations, after `clip` on the timeline
  bool allClips = false;           // every animation of the file
  Float readerSeconds = 0.0;       // the character reader's time (0: its default)
  std::string assetRoot{};      // where the files the character names must lie (empty: its folder)
  std::string readerProgram{};  // the character reader to start (empty: beside this program)
  // Set on every bind tag of the deformed meshes when given; unset: the tags keep theirs.
  std::optional<CorrectionSettings> settings;
  // The settings not given in `settings` taken per mesh from tune's recommendation on its bind
  // (rest) points and a sample of its skinned frames (tune_character.h), each said once.
  bool autoSettings = false;
  std::optional<std::string> saveScene;  // where the corrected scene is also saved, when set
  // Smoothing weights (a vertex map the bind tags link to) and the deformers' restriction, per
  // deformed mesh: "FILE" or "MESH=FILE" (ParseMapFile), or a joint's skin weights.
  std::vector<std::string> vertexMapFiles, restrictionFiles;
  std::optional<std::string> vertexMapJoint, restrictionJoint;
  // Bind on the skinned pose at this frame; unset: on the bind pose (the meshes' own points).
  std::optional<Float> bindFrame;
  bool withSkinned = false;  // also plain skinning, the same files under DIR/skinned
};

// A deformed mesh once its bind tags are bound.
struct BoundMesh {
  std::string name;
  // The name of the setup command that equipped it; unset when it had its bind tag already.
  std::optional<std::string> equippedBy;
  bool deformerAdded = false;     // it had a bind tag but no deformer, and was given one
  std::vector<Int32> iterations;  // each bind tag's smoothing rounds
};

struct CorrectObserver {
  // Notes of the import ("<command>: note: <source>: ...", the note made printable), then
  // EvaluateScene's notes, warnings and progress.
  EvalObserver eval;
  // Each deformed mesh in the scene's order, once bound. May be empty.
  std::function<void(const BoundMesh& mesh)> bound;
};

// The scene `request` names: its character imported (the clip's timing taken into `eval`, its
// notes passed to the observer) or its scene loaded (the file's version noted in `eval`). Throws
// std::invalid_argument for a clip asked of a scene, std::runtime_error for a file that cannot be
// read or frames past the clip.
std::unique_ptr<Document> LoadCorrectInput(const CorrectRequest& request, EvalRequest& eval,
                                           const CorrectObserver& observer);

// The polygon objects a skin or point cache beneath them deforms (not a character's rigid
// meshes), in the scene's order. Throws std::runtime_error naming `source` when there is none.
std::vector<Node*> DeformedMeshes(const Document& doc, const std::string& source);

// The loaded scene equipped by the setup command and its bind tags given the settings and maps
// and bound, as CorrectCharacter does before it evaluates (the bind frame's points, when asked,
// in `eval.restPoints`); answers the deformed meshes. Throws as CorrectCharacter does.
std::vector<Node*> BindCorrection(Document& doc, const CorrectRequest& request, EvalRequest& eval,
                                  const CorrectObserver& observer);

// Turns the plug-in's deformers off while it lives: the meshes come out as the skin poses them.
class PluginDeformersOff {
 public:
  explicit PluginDeformersOff(const Document& doc);
  PluginDeformersOff(const PluginDeformersOff&) = delete;
  PluginDeformersOff& operator=(const PluginDeformersOff&) = delete;
  ~PluginDeformersOff();

 private:
  std::vector<Node*> off_;
};

// A scene ready for its frames: imported or loaded, its deformed meshes equipped and bound, and the
// request to evaluate and write it (its rest meshes, the clip's timing, the other files planned).
struct PreparedCorrection {
  std::unique_ptr<Document> doc;
  EvalRequest eval;
};

// CorrectCharacter's steps up to the first frame, for a caller that evaluates the frames itself.
// Throws as CorrectCharacter does before its frames.
PreparedCorrection PrepareCorrection(const CorrectRequest& request,
                                     const CorrectObserver& observer);

// Throws std::invalid_argument for a clip asked of a scene or a map at fault (correct_maps.h),
// std::runtime_error naming the fault (the plug-in's parts missing, a file that cannot be read,
// nothing to correct, a tag that was not made or refuses to bind, an output over an input, and
// EvaluateScene's faults), Interrupted on Ctrl-C. The folder of the results is created with any
// folders it lacks.
EvalResult CorrectCharacter(const CorrectRequest& request, const CorrectObserver& observer);

}  // namespace headless
