#include "headless/batch/scene_pose_guard.h"

#include "headless/scene/evaluate.h"
#include "host/abi/ids.h"

namespace headless {
namespace {

Node* ChildOfType(Node* object, Int32 type) {
  for (Node* child = object->down; child != nullptr; child = child->next)
    if (child->type == type) return child;
  return nullptr;
}

Node* TagOfType(Node* object, Int32 type) {
  for (Node* tag = object->firstTag; tag != nullptr; tag = tag->next)
    if (tag->type == type) return tag;
  return nullptr;
}

}  // namespace

ScenePoseGuard::ScenePoseGuard(Document& doc, Float threshold) : doc_(doc), threshold_(threshold) {
  for (Node* object : doc.Objects()) {
    if (!object->IsPolygonObject()) continue;
    Node* deformer = ChildOfType(object, ID_OTESSAMIRE);
    Node* tag = TagOfType(object, ID_TTESSAMIRE);
    if (deformer == nullptr || tag == nullptr || !deformer->deformMode) continue;
    Watched w{object, deformer, tag, Mesh{object->points, object->polygons}, {}, {}};
    w.reference = PreparePoseReference(w.rest);
    watched_.push_back(std::move(w));
  }
}

void ScenePoseGuard::Check(Float frame, Int64 index) {
  if (watched_.empty() || index % static_cast<Int64>(kPoseCheckEvery) != 0) return;
  std::vector<std::vector<Vector3>> corrected;
  for (Watched& w : watched_) {
    corrected.push_back(DeformedPoints(w.object));
    w.deformer->deformMode = false;
  }
  try {
    EvaluateDocumentAtFrame(doc_, frame);
  } catch (...) {
    for (Watched& w : watched_) w.deformer->deformMode = true;
    throw;
  }
  for (Watched& w : watched_) w.deformer->deformMode = true;
  const std::string name = "frame " + std::to_string(static_cast<Int64>(frame));
  for (size_t i = 0; i < watched_.size(); ++i) {
    Watched& w = watched_[i];
    const std::vector<Vector3>& skinned = DeformedPoints(w.object);
    ++w.finding.checked;
    const PoseKept pose = MeasurePoseKept(w.reference, skinned, corrected[i], room_);
    if (pose.largestEdges <= threshold_) continue;
    w.finding.frames.push_back(name);
    if (w.finding.frames.size() == 1 || pose.largestEdges > w.finding.worst.largestEdges) {
      w.finding.worst = pose;
      w.finding.worstFrame = name;
      w.finding.worstInput = skinned;
    }
  }
}

std::vector<std::string> ScenePoseGuard::Notes() const {
  std::vector<std::string> notes;
  for (const Watched& w : watched_) {
    if (w.finding.frames.empty()) continue;
    CorrectionSettings settings;
    settings.weighting = w.tag->params.GetInt32(TTESSAMIRE_WEIGHTING);
    settings.pinBorder = w.tag->params.GetInt32(TTESSAMIRE_PINBORDER);
    settings.strength = w.tag->params.GetFloat(TTESSAMIRE_STRENGTH);
    const Int32 rounds = w.tag->params.GetInt32(TTESSAMIRE_ITERATIONS).value_or(0);
    const Int32 within = RoundsWithinThreshold(w.rest, settings, rounds, w.finding.worstInput,
                                               w.reference, threshold_);
    notes.push_back(w.object->name + ": " +
                    PoseNote(w.finding,
                             w.rest.points[static_cast<size_t>(w.finding.worst.worstPoint)],
                             threshold_, within, rounds));
  }
  return notes;
}

}  // namespace headless
