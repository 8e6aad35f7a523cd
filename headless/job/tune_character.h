// `tessamire tune` on a character or a scene, and `--settings auto` (on the frames of `apply` too):
// every deformed mesh's bind points with its skinned points at the animation's frames (the
// plug-in's deformers off), and the settings sweep (tune.h) on each, one recommendation per mesh.
#pragma once

#include <functional>
#include <map>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "headless/batch/frame_source.h"
#include "headless/batch/keyed_range.h"
#include "headless/job/correct_character.h"
#include "headless/job/tune.h"

namespace headless {

// At most this many frames of the range are posed to pick the most deformed from, spread evenly:
// a long clip is read by its samples, not all of its frames.
inline constexpr size_t kTuneScanFrames = 120;

struct MeshTune {
  Node* object = nullptr;  // in the document it was tuned in; null once that is gone
  std::string stem;        // the mesh's file-name stem (FileStems)
  Mesh rest;               // the points it is bound on and its polygons
  TuneResult result;
};

// The frames of `range` tune poses: all when there are at most `most`, else `most` of them evenly
// spread, the first and the last among them.
std::vector<Float> ScanFrames(const FrameRange& range, size_t most = kTuneScanFrames);

// Tunes each of `deformed` (meshes of `doc`): its rest is `rest`'s entry where there is one, else
// its own points; its frames are its points posed with the plug-in's deformers off at the frames of
// `range` (ScanFrames; unset: the keyed range). Throws std::runtime_error naming `source` and the
// frame when the scene cannot be evaluated there, and what TuneMesh throws.
std::vector<MeshTune> TuneDeformed(Document& doc, const std::vector<Node*>& deformed,
                                   const std::map<const Node*, std::vector<Vector3>>& rest,
                                   const std::optional<FrameRange>& range,
                                   const std::string& source, Float threshold,
                                   size_t sampleCount = kTuneSampleFrames);

// `tessamire tune CHARACTER|SCENE`: the input read as `correct` reads it (its clips, rate and
// frames from `request`; settings and maps are not read) and its deformed meshes tuned on their
// bind points. Throws as LoadCorrectInput, DeformedMeshes and TuneDeformed do.
std::vector<MeshTune> TuneCharacter(const CorrectRequest& request, Float threshold,
                                    size_t sampleCount, const CorrectObserver& observer);

// The recommendation as a bind tag's settings, over `given`: what is set there stays.
CorrectionSettings AutoSettings(const TuneResult& result, const CorrectionSettings& given);

// "settings auto: NAME: R rounds, weighting W, pin P" for the settings a tag takes.
std::string AutoSettingsLine(const std::string& name, const CorrectionSettings& settings);

// `apply --settings auto`: TuneMesh (no region) on the frames of a batch source after its
// ReadAhead, at most `most` of them spread as ScanFrames spreads them, read one at a time with
// only the `sampleCount` most deformed held. Throws what the source's PointsApart and TuneMesh
// throw.
TuneResult TuneSource(std::string name, const Mesh& rest, FrameSource& source, Float threshold,
                      size_t sampleCount = kTuneSampleFrames, size_t most = kTuneScanFrames);

// `eval --settings auto`: every polygon object of `doc` with a bind tag tuned on its own points
// and the frames of `eval.frames` (unset: the keyed range), within `eval.poseCheck` (unset: the
// default threshold), and each of its tags unbound, given the recommendation and bound again;
// each mesh's settings said once through `message`. Throws std::runtime_error when no object has a
// bind tag or a tag refuses to bind, and what TuneDeformed throws.
void RebindWithAutoSettings(Document& doc, const EvalRequest& eval,
                            const std::function<void(const std::string&)>& message);

// Each mesh's table (PrintTuneTable), plot and page: DIR/<stem>.tune.png and .html, or
// DIR/tune.png and .html when `single` (one mesh, the rest-and-frames form); then the line naming
// what was written.
void WriteTuneOutputs(const std::vector<MeshTune>& tunes, const std::string& dir, bool single,
                      std::string_view pageTemplate, std::ostream& out);

}  // namespace headless
