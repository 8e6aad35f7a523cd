#include "headless/batch/pose_guard.h"

#include <cstdio>

#include "host/abi/ids.h"

namespace headless {

std::string PoseNote(const PoseFinding& finding, const Vector3& at, Float threshold,
                     std::optional<Int32> rounds, Int32 roundsInForce) {
  std::string names;
  for (size_t i = 0; i < finding.frames.size() && i < 5; ++i)
    names += (i ? ", " : "") + finding.frames[i];
  if (finding.frames.size() > 5)
    names += " and " + std::to_string(finding.frames.size() - 5) + " more";
  char text[400];
  std::snprintf(text, sizeof text,
                "the correction moved the pose past %.3g mean edge lengths on %zu of %zu frames "
                "checked (%s); worst %s, %.3g mean edge lengths (%.4g units) around point %d "
                "(%.4g, %.4g, %.4g) of the rest, at %d rounds",
                threshold, finding.frames.size(), finding.checked, names.c_str(),
                finding.worstFrame.c_str(), finding.worst.largestEdges, finding.worst.largest,
                static_cast<int>(finding.worst.worstPoint + 1), at.x, at.y, at.z,
                static_cast<int>(roundsInForce));
  std::string note = text;
  if (rounds)
    note += *rounds > 0 ? "; up to " + std::to_string(*rounds) +
                              " rounds keep that frame within it (--iterations)"
                        : "; no rounds keep that frame within it but the correction off";
  return note;
}

Int32 RoundsWithinThreshold(const Mesh& rest, CorrectionSettings settings, Int32 rounds,
                            const std::vector<Vector3>& frame, const PoseReference& reference,
                            Float threshold) {
  for (Int32 r = rounds / 2; r > 0; r /= 2) {
    settings.iterations = r;
    Correction trial("", rest.points, rest.polygons, settings);
    trial.Correct(std::span<const Vector3>(frame), "the worst frame");
    if (MeasurePoseKept(reference, frame, trial.Result()).largestEdges <= threshold) return r;
  }
  return 0;
}

PoseGuard::PoseGuard(const Mesh& rest, const Correction& correction, CorrectionSettings settings,
                     Float threshold, std::function<void(const std::string&)> note)
    : rest_(rest),
      correction_(correction),
      settings_(settings),
      threshold_(threshold),
      note_(std::move(note)),
      reference_(PreparePoseReference(rest)) {}

void PoseGuard::Written(const WrittenFrame& frame) {
  if (frame.index % kPoseCheckEvery != 0 || frame.input.size() != frame.result.size()) return;
  ++finding_.checked;
  const PoseKept pose = MeasurePoseKept(reference_, frame.input, frame.result, room_);
  if (pose.largestEdges <= threshold_) return;
  finding_.frames.push_back(frame.name);
  if (finding_.frames.size() == 1 || pose.largestEdges > finding_.worst.largestEdges) {
    finding_.worst = pose;
    finding_.worstFrame = frame.name;
    finding_.worstInput = frame.input;
  }
}

void PoseGuard::End() {
  if (finding_.frames.empty()) return;
  const Int32 rounds = correction_.Tag()->params.GetInt32(TTESSAMIRE_ITERATIONS).value_or(0);
  const Int32 within =
      RoundsWithinThreshold(rest_, settings_, rounds, finding_.worstInput, reference_, threshold_);
  note_(PoseNote(finding_, rest_.points[static_cast<size_t>(finding_.worst.worstPoint)], threshold_,
                 within, rounds));
}

}  // namespace headless
