#include "headless/job/truth_sweep.h"

#include <algorithm>
#include <cstdio>
#include <numeric>
#include <string>

namespace headless {
namespace {

std::string Percent(Float share) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f%%", 100.0 * share);
  return text;
}

std::string Compact(const SweepSetting& s) {
  return std::to_string(s.rounds) + "/w" + std::to_string(s.weighting) + "/p" +
         std::to_string(s.pinBorder);
}

}  // namespace

TruthSweep SweepTruthCase(const TruthCase& truth, Float threshold) {
  TruthSweep sweep;
  const PairReference reference = PreparePairReference(truth.rest, [&] {
    std::vector<Float32> region(truth.rest.points.size(), 0.0f);
    for (Int32 p : truth.region) region[static_cast<size_t>(p)] = 1.0f;
    return region;
  }());
  const std::vector<SweepSetting> settings = SweepSettings(truth.hasBorders);
  sweep.errors.resize(settings.size());
  sweep.scores = ScoreSettings(truth.rest, reference, {truth.skinned}, settings,
                               [&](size_t s, size_t, const std::vector<Vector3>& result) {
                                 sweep.errors[s] = MeasureTrueError(truth, result);
                               });
  for (size_t i = 0; i < settings.size(); ++i) {
    const SweepSetting& s = settings[i];
    if (s.rounds == 0) sweep.skinning = i;
    if (s.rounds == 2 && s.weighting == 1 && s.pinBorder == 0) sweep.defaultSetting = i;
    if (sweep.errors[i].mean < sweep.errors[sweep.trueBest].mean) sweep.trueBest = i;
  }
  sweep.chosen = Recommend(sweep.scores, threshold);
  std::vector<size_t> truthOrder(settings.size());
  std::iota(truthOrder.begin(), truthOrder.end(), size_t{0});
  std::stable_sort(truthOrder.begin(), truthOrder.end(),
                   [&](size_t a, size_t b) { return sweep.errors[a].mean < sweep.errors[b].mean; });
  sweep.rankCorrelation = RankCorrelation(MeasuresRanking(sweep.scores, threshold), truthOrder);
  return sweep;
}

void PrintTruthSweep(const TruthCase& truth, const TruthSweep& sweep, std::ostream& out) {
  char line[200];
  std::snprintf(line, sizeof line, "%s: %zu points, %zu in the blend region, detail %.4g units\n",
                truth.name.c_str(), truth.rest.points.size(), truth.region.size(),
                truth.detailHeight);
  out << line;
  out << "  setting        true mean    true p95   share   p95 share  pose kept  detail kept"
         "   estimate\n";
  for (size_t i = 0; i < sweep.scores.size(); ++i) {
    const TrueError& e = sweep.errors[i];
    const SweepScore& s = sweep.scores[i];
    std::snprintf(line, sizeof line, "  %-13s %10.4g %10.4g %7s %10s %10.3f %11s %10.4g\n",
                  Compact(s.setting).c_str(), e.mean, e.p95, Percent(e.meanShare).c_str(),
                  Percent(e.p95Share).c_str(), s.poseEdges, Percent(s.detailKept).c_str(),
                  s.estimate);
    out << line;
  }
  std::snprintf(line, sizeof line, "  rank correlation of the measures with the truth: %.3f\n",
                sweep.rankCorrelation);
  out << line;
}

void PrintTruthTableHeader(std::ostream& out) {
  out << "case    points  skinning  default         true best               measures' choice"
         "        choice/best  rank corr.\n";
}

void PrintTruthTableRow(const TruthCase& truth, const TruthSweep& sweep, std::ostream& out) {
  auto share = [&](size_t i) { return Percent(sweep.errors[i].meanShare); };
  const Float best = sweep.errors[sweep.trueBest].mean;
  char line[240];
  std::snprintf(line, sizeof line, "%-6s %7zu  %8s  %-7s  %-12s %7s  %-12s %7s  %10.3f  %10.3f\n",
                truth.name.c_str(), truth.rest.points.size(), share(sweep.skinning).c_str(),
                share(sweep.defaultSetting).c_str(),
                Compact(sweep.scores[sweep.trueBest].setting).c_str(),
                share(sweep.trueBest).c_str(), Compact(sweep.scores[sweep.chosen].setting).c_str(),
                share(sweep.chosen).c_str(),
                best > 0.0 ? sweep.errors[sweep.chosen].mean / best : 1.0, sweep.rankCorrelation);
  out << line;
}

}  // namespace headless
