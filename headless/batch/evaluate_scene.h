// A scene evaluated at each frame of a range, and every polygon object's deformed mesh written
// (headless/io/results.h): per frame as `<object>.<frame>.obj`, all frames as one point cache per
// object, or everything as one glTF; on a character file's own vertices where an object came from
// one, unless welded. Behind `tessamire eval` and `tessamire correct`.
//
// Everything that can be checked before the first frame is: the range, the objects, the format,
// the output folder (created when its parent exists) and the room on its disk, and that no result
// would overwrite the scene's own file. Frames are evaluated in order; the first that fails stops
// the run, and what was written for the frames before it stays as the results' writer leaves it.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "headless/batch/keyed_range.h"
#include "headless/batch/progress_observer.h"
#include "headless/files/planned_outputs.h"
#include "headless/io/scene_file.h"
#include "headless/scene/scene.h"

namespace headless {

struct EvalRequest {
  // The file the scene came from ("-": the standard input): named in messages, never
  // overwritten; its stem names a glTF.
  std::string source;
  std::optional<FrameRange> frames;  // unset: the frames the keys and point caches span
  std::string format = "obj";        // obj, pc2, mdd or glb
  std::string dir;                   // the output folder
  std::optional<Float> fps;          // MDD and glTF times' rate; unset: the scene's own
  // The source's own time in seconds of frames 0, 1, ... (a character file's key times), which
  // MDD and glTF times take where given (ResultOptions::frameSeconds).
  std::vector<Float> frameSeconds;
  bool welded = false;  // the welded points even where a file's vertices are kept
  // OBJ and caches: each character mesh placed in the world by its node (WorldPlacements in
  // headless/characters/rig_pose.h), so that a character's meshes line up; false: every mesh in
  // its own space.
  bool worldSpace = false;
  // glTF: "skin" or "frames" (results.h's GlbForm; empty: the skin where the scene has a rig),
  // influences per vertex (4 or 8) and quantised targets (int16 positions, int8 normals).
  std::string glbForm;
  int influences = 4;
  bool quantised = true;
  // The format version of the scene file the scene came from (its current one for a scene made
  // in memory), for the note on objects an old file kept no file vertices for.
  std::uint32_t sceneVersion = kSceneFormatVersion;
  // How the notes and warnings begin, and what the range's messages tell to give.
  std::string command = "tessamire eval";
  // Also every object's rest mesh, DIR/<stem>.rest.obj (ResultWriter::WriteRest), before the
  // first frame: at `restPoints` where they hold the object, else at its own points.
  bool restMeshes = false;
  std::map<const Node*, std::vector<Vector3>> restPoints;
  // The pose guard's threshold in mean edge lengths (scene_pose_guard.h); unset: no guard.
  std::optional<Float> poseCheck;
  // The command's other outputs (a saved scene, ...), checked with the results before anything
  // is written (headless/files/planned_outputs.h), and the files it read besides the source.
  std::vector<PlannedOutput> alsoWritten{};
  std::vector<std::string> alsoRead{};
};

// Whoever watches a run; both may be left empty.
struct EvalObserver {
  // Each note and warning as one line without its end: "<command>: note: <source>: ..." before
  // the first frame, "<command>: warning: frame N: ..." as a frame's deformers report them.
  std::function<void(const std::string& line)> message;
  // Begins with the unit "frame" and the frame count once the outputs are checked, steps after
  // each frame ("at frame N") and is finished when the run ends, whether done or failed.
  ProgressObserver* progress = nullptr;
};

struct EvalResult {
  std::string written;   // what was written, e.g. "3 OBJ files" (ResultWriter::Written)
  Int64 pointsKept = 0;  // points whose correction was not finite, kept at their input, all frames
};

// Every file EvaluateScene(doc, request) would write, in the order it writes them. Throws as
// EvaluateScene does for a range, objects or a format at fault.
std::vector<std::string> PlannedOutputs(const Document& doc, const EvalRequest& request);

// Evaluates `doc` at every frame of the range and writes the results into `request.dir`. Throws
// std::invalid_argument for an unknown format or world space asked of a glTF, std::runtime_error
// naming the fault (before anything is written when the range, the objects or the outputs are
// wrong), Interrupted on Ctrl-C.
EvalResult EvaluateScene(Document& doc, const EvalRequest& request, const EvalObserver& observer);
// The same, calling `beforeFrames` once the outputs are checked and before the first result is
// written: where the command writes its other outputs.
EvalResult EvaluateScene(Document& doc, const EvalRequest& request, const EvalObserver& observer,
                         const std::function<void()>& beforeFrames);

}  // namespace headless
