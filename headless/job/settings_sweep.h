// A sweep of the correction's settings over a few frames of one rest mesh, each result scored by
// pose kept and by the fixed-scale estimate of its error against its skinned frame
// (pair_measures.h), and the setting they recommend: the least estimated error among those whose
// pose stays within a threshold. Behind
// `tessamire tune`, the pose guard's search and the ground-truth bench.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "headless/geometry/mesh.h"
#include "headless/job/pair_measures.h"

namespace headless {

// The pose guard's and tune's default threshold, in mean edge lengths of the largest departure:
// chosen on the ground-truth cases (docs/user-guide.md, "Choosing settings"), before any
// character was tried.
inline constexpr Float kDefaultPoseThreshold = 0.5;

struct SweepSetting {
  Int32 rounds = 0;
  Int32 weighting = 1;
  Int32 pinBorder = 0;
};

// "32 rounds, weighting 1, pin 0".
std::string SettingText(const SweepSetting& setting);

// Rounds 0 (the correction off, once), 1, 2, 4 ... 256 with both weightings, and both pin
// settings when the mesh has open borders.
std::vector<SweepSetting> SweepSettings(bool withBorders);

// Whether the mesh has an edge used by one polygon only.
bool HasOpenBorders(const Mesh& mesh);

struct SweepScore {
  SweepSetting setting;
  Float poseEdges = 0.0;  // the largest pose departure over the frames, in mean edge lengths
  Int32 poseWorstPoint = -1;
  size_t poseWorstFrame = 0;
  Float detailKept = 0.0;  // the mean over the frames
  Float estimate = 0.0;    // KeptAtScale::estimate, the mean over the frames, units
  Float seconds = 0.0;     // per evaluation
};

// Called with each result: the setting's index, the frame's and the result.
using SweepResult = std::function<void(size_t, size_t, const std::vector<Vector3>&)>;

// Every setting bound on `rest` once and every frame corrected and scored against `reference`
// (made from `rest`). Throws what Correction throws (the plug-in missing, a frame of another
// point count).
std::vector<SweepScore> ScoreSettings(const Mesh& rest, const PairReference& reference,
                                      const std::vector<std::vector<Vector3>>& frames,
                                      const std::vector<SweepSetting>& settings,
                                      const SweepResult& onResult = {});

// The index of the score with the least estimated error whose pose stays within `threshold` (the
// fewer rounds on a tie); the setting with rounds 0 when none does, or 0 for none at all.
size_t Recommend(const std::vector<SweepScore>& scores, Float threshold);

// The order the measures rank the settings in, best first: those within the threshold by estimated
// error, then the others by pose. Indices into scores.
std::vector<size_t> MeasuresRanking(const std::vector<SweepScore>& scores, Float threshold);

// Spearman's rank correlation of two orderings of the same n indices (1 the same order).
Float RankCorrelation(const std::vector<size_t>& first, const std::vector<size_t>& second);

}  // namespace headless
