#include "headless/job/settings_sweep.h"

#include <algorithm>
#include <chrono>
#include <map>
#include <numeric>
#include <utility>

#include "headless/batch/correction.h"

namespace headless {

std::string SettingText(const SweepSetting& s) {
  return std::to_string(s.rounds) + " rounds, weighting " + std::to_string(s.weighting) + ", pin " +
         std::to_string(s.pinBorder);
}

std::vector<SweepSetting> SweepSettings(bool withBorders) {
  std::vector<SweepSetting> settings = {{0, 1, 0}};
  for (Int32 pin = 0; pin <= (withBorders ? 1 : 0); ++pin)
    for (Int32 weighting = 0; weighting <= 1; ++weighting)
      for (Int32 rounds = 1; rounds <= 256; rounds *= 2)
        settings.push_back({rounds, weighting, pin});
  return settings;
}

bool HasOpenBorders(const Mesh& mesh) {
  std::map<std::pair<Int32, Int32>, Int32> uses;
  for (const CPolygon& f : mesh.polygons) {
    const Int32 c[4] = {f.a, f.b, f.c, f.d};
    for (Int32 k = 0; k < 4; ++k)
      if (c[k] != c[(k + 1) & 3]) ++uses[std::minmax(c[k], c[(k + 1) & 3])];
  }
  return std::any_of(uses.begin(), uses.end(), [](const auto& u) { return u.second == 1; });
}

std::vector<SweepScore> ScoreSettings(const Mesh& rest, const PairReference& reference,
                                      const std::vector<std::vector<Vector3>>& frames,
                                      const std::vector<SweepSetting>& settings,
                                      const SweepResult& onResult) {
  std::vector<SweepScore> scores;
  for (size_t s = 0; s < settings.size(); ++s) {
    const SweepSetting& setting = settings[s];
    Correction correction("", rest.points, rest.polygons,
                          {setting.rounds, setting.weighting, setting.pinBorder, std::nullopt});
    SweepScore score{setting};
    Float seconds = 0.0;
    for (size_t f = 0; f < frames.size(); ++f) {
      const auto start = std::chrono::steady_clock::now();
      correction.Correct(std::span<const Vector3>(frames[f]), "frame " + std::to_string(f + 1));
      seconds += std::chrono::duration<Float>(std::chrono::steady_clock::now() - start).count();
      const std::vector<Vector3>& result = correction.Result();
      const PoseKept pose = MeasurePoseKept(reference.pose, frames[f], result);
      if (f == 0 || pose.largestEdges > score.poseEdges) {
        score.poseEdges = pose.largestEdges;
        score.poseWorstPoint = pose.worstPoint;
        score.poseWorstFrame = f;
      }
      const KeptAtScale kept = MeasureKeptAtScale(reference, frames[f], result);
      score.detailKept += kept.detailKept;
      score.estimate += kept.estimate;
      if (onResult) onResult(s, f, result);
    }
    if (!frames.empty()) {
      score.detailKept /= static_cast<Float>(frames.size());
      score.estimate /= static_cast<Float>(frames.size());
      score.seconds = seconds / static_cast<Float>(frames.size());
    }
    scores.push_back(score);
  }
  return scores;
}

std::vector<size_t> MeasuresRanking(const std::vector<SweepScore>& scores, Float threshold) {
  std::vector<size_t> order(scores.size());
  std::iota(order.begin(), order.end(), size_t{0});
  std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) {
    const bool inA = scores[a].poseEdges <= threshold, inB = scores[b].poseEdges <= threshold;
    if (inA != inB) return inA;
    if (!inA) return scores[a].poseEdges < scores[b].poseEdges;
    if (scores[a].estimate != scores[b].estimate) return scores[a].estimate < scores[b].estimate;
    return scores[a].setting.rounds < scores[b].setting.rounds;
  });
  return order;
}

size_t Recommend(const std::vector<SweepScore>& scores, Float threshold) {
  if (scores.empty()) return 0;
  const size_t best = MeasuresRanking(scores, threshold).front();
  if (scores[best].poseEdges <= threshold) return best;
  for (size_t i = 0; i < scores.size(); ++i)
    if (scores[i].setting.rounds == 0) return i;
  return best;
}

Float RankCorrelation(const std::vector<size_t>& first, const std::vector<size_t>& second) {
  const size_t n = first.size();
  if (n < 2 || second.size() != n) return 1.0;
  std::vector<Float> rankA(n), rankB(n);
  for (size_t i = 0; i < n; ++i) {
    rankA[first[i]] = static_cast<Float>(i);
    rankB[second[i]] = static_cast<Float>(i);
  }
  Float d2 = 0.0;
  for (size_t i = 0; i < n; ++i) d2 += (rankA[i] - rankB[i]) * (rankA[i] - rankB[i]);
  const Float nn = static_cast<Float>(n);
  return 1.0 - 6.0 * d2 / (nn * (nn * nn - 1.0));
}

}  // namespace headless
