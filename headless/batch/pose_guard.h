// The pose guard: watches a run's corrected frames for a correction that moves the pose (pose
// kept, pose_kept.h, past a threshold in mean edge lengths), on every kPoseCheckEvery-th frame so
// that it costs a few percent of the run, and once the run is through notes once where the pose
// moved, with the largest rounds that keep the worst frame within the threshold (found by
// correcting that frame alone again at fewer rounds).
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "headless/batch/correction.h"
#include "headless/batch/frame_observer.h"
#include "headless/batch/pose_kept.h"

namespace headless {

// Frames 1, 1 + N, 1 + 2N ... are checked. A check's kPoseRounds rounds of averaging, spread over
// the workers as the correction is, cost about one correction at the default rounds, so one frame
// in 20 costs about 5% of the corrections and less of a run, which also reads, skins and writes;
// checking fewer would miss short bends (`FBX/huesitos.fbx` at 32 rounds moves its pose on frames
// 17 to 23 only).
inline constexpr size_t kPoseCheckEvery = 20;

// What the guard found: the frames checked past the threshold and the worst of them.
struct PoseFinding {
  std::vector<std::string> frames;  // names of the frames past the threshold
  PoseKept worst;
  std::string worstFrame;
  std::vector<Vector3> worstInput;  // that frame's points as read
  size_t checked = 0;
};

// The note for a finding: the frames (at most five named), the worst departure and where, the
// threshold, and `rounds` when found (the largest that keeps the worst frame within it).
std::string PoseNote(const PoseFinding& finding, const Vector3& at, Float threshold,
                     std::optional<Int32> rounds, Int32 roundsInForce);

// The largest rounds below `rounds` (halving, down to 0) whose correction of `frame` keeps the
// pose within `threshold`; 0 when only the correction off does.
Int32 RoundsWithinThreshold(const Mesh& rest, CorrectionSettings settings, Int32 rounds,
                            const std::vector<Vector3>& frame, const PoseReference& reference,
                            Float threshold);

class PoseGuard final : public FrameObserver {
 public:
  // `rest` and `correction` must outlive the guard; `note` gets the note as one line.
  PoseGuard(const Mesh& rest, const Correction& correction, CorrectionSettings settings,
            Float threshold, std::function<void(const std::string&)> note);
  bool WantsPoints() const override { return true; }
  // Only the frames it checks: the others' input is taken by the correction, not copied.
  bool WantsPointsOf(size_t index) const override { return index % kPoseCheckEvery == 0; }
  void Written(const WrittenFrame& frame) override;
  void End() override;

 private:
  const Mesh& rest_;
  const Correction& correction_;
  CorrectionSettings settings_;
  Float threshold_;
  std::function<void(const std::string&)> note_;
  PoseReference reference_;
  PoseRoom room_;
  PoseFinding finding_;
};

}  // namespace headless
