#include "headless/job/tune.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <numeric>
#include <stdexcept>

#include "headless/batch/correction.h"
#include "headless/io/png.h"
#include "headless/job/view_page.h"
#include "headless/picture/plot.h"

namespace headless {
namespace {

constexpr Float kPi = 3.14159265358979323846;

// The lines of the plot: rounds 0 belongs to every line, the correction being off there.
struct Line {
  Int32 weighting, pin;
};

std::vector<Line> LinesOf(const std::vector<SweepScore>& scores) {
  std::vector<Line> lines;
  for (const SweepScore& s : scores)
    if (s.setting.rounds > 0 && std::none_of(lines.begin(), lines.end(), [&](const Line& l) {
          return l.weighting == s.setting.weighting && l.pin == s.setting.pinBorder;
        }))
      lines.push_back({s.setting.weighting, s.setting.pinBorder});
  return lines;
}

// Rounds 0, 1, 2, 4 ... at 0, 1, 2, 3 ...: the sweep doubles its rounds.
Float RoundsStep(Int32 rounds) {
  return rounds == 0 ? 0.0 : 1.0 + std::log2(rounds);
}

size_t FindSetting(const std::vector<SweepScore>& scores, Int32 rounds, Int32 weighting,
                   Int32 pin) {
  for (size_t i = 0; i < scores.size(); ++i)
    if (scores[i].setting.rounds == rounds &&
        (rounds == 0 ||
         (scores[i].setting.weighting == weighting && scores[i].setting.pinBorder == pin)))
      return i;
  return scores.size();
}

}  // namespace

Float SkinningChange(const PairReference& reference, const std::vector<Vector3>& frame) {
  const DetailMeasures m =
      MeasureDetail(reference.detail, frame.data(), static_cast<Int64>(frame.size()));
  return m.edgeLengthChange + m.normalAngleDegrees * kPi / 180.0;
}

std::vector<size_t> MostDeformedFrames(const PairReference& reference,
                                       const std::vector<std::vector<Vector3>>& frames,
                                       size_t count) {
  std::vector<Float> change(frames.size());
  for (size_t i = 0; i < frames.size(); ++i) change[i] = SkinningChange(reference, frames[i]);
  std::vector<size_t> order(frames.size());
  std::iota(order.begin(), order.end(), size_t{0});
  std::stable_sort(order.begin(), order.end(),
                   [&](size_t a, size_t b) { return change[a] > change[b]; });
  order.resize(std::min(count, order.size()));
  std::sort(order.begin(), order.end());
  return order;
}

TuneResult TuneMesh(std::string name, const Mesh& rest, const std::vector<Float32>& region,
                    const std::vector<std::vector<Vector3>>& frames,
                    const std::vector<std::string>& names, Float threshold, size_t sampleCount) {
  if (frames.empty()) throw std::invalid_argument(name + ": no frame to tune on");
  if (names.size() != frames.size())
    throw std::invalid_argument(name + ": " + std::to_string(names.size()) + " names for " +
                                std::to_string(frames.size()) + " frames");
  for (size_t i = 0; i < frames.size(); ++i)
    if (frames[i].size() != rest.points.size())
      throw std::invalid_argument(names[i] + ": " + std::to_string(frames[i].size()) +
                                  " points, but the rest mesh " + name + " has " +
                                  std::to_string(rest.points.size()));
  TuneResult result;
  result.name = std::move(name);
  result.threshold = threshold;
  const PairReference reference = PreparePairReference(rest, region);
  result.restDetail = reference.restDetail;
  result.sample = MostDeformedFrames(reference, frames, std::max<size_t>(1, sampleCount));
  std::vector<std::vector<Vector3>> sampled;
  size_t worst = 0;
  Float worstChange = -1.0;
  for (size_t i : result.sample) {
    result.frameNames.push_back(names[i]);
    const Float change = SkinningChange(reference, frames[i]);
    if (change > worstChange) {
      worstChange = change;
      worst = sampled.size();
    }
    sampled.push_back(frames[i]);
  }
  result.worstInput = sampled[worst];
  const std::vector<SweepSetting> settings = SweepSettings(HasOpenBorders(rest));
  result.worstResults.resize(settings.size());
  result.scores = ScoreSettings(rest, reference, sampled, settings,
                                [&](size_t s, size_t f, const std::vector<Vector3>& points) {
                                  if (f == worst) result.worstResults[s] = points;
                                });
  result.recommended = Recommend(result.scores, threshold);
  return result;
}

void PrintTuneTable(const TuneResult& result, std::ostream& out) {
  char line[200];
  out << result.name << ": " << result.sample.size() << " frame"
      << (result.sample.size() == 1 ? "" : "s") << " evaluated (the most deformed):";
  for (const std::string& f : result.frameNames) out << " " << f;
  out << "\n  setting                        pose kept (edges)  detail kept  estimate (units)"
         "  estimate (of detail)  ms per evaluation\n";
  for (size_t i = 0; i < result.scores.size(); ++i) {
    const SweepScore& s = result.scores[i];
    std::snprintf(line, sizeof line, "%s %-30s %17.3f %11.1f%% %17.4g %20.1f%% %18.1f\n",
                  i == result.recommended ? ">" : " ", SettingText(s.setting).c_str(), s.poseEdges,
                  100.0 * s.detailKept, s.estimate,
                  result.restDetail > 0.0 ? 100.0 * s.estimate / result.restDetail : 0.0,
                  1000.0 * s.seconds);
    out << line;
  }
  const SweepScore& chosen = result.scores[result.recommended];
  out << "recommended for " << result.name << ": " << SettingText(chosen.setting)
      << " (the least estimated error whose pose stays within " << result.threshold
      << " mean edge lengths)\n";
}

void WriteTunePlot(const TuneResult& result, const std::string& path) {
  const Int32 top =
      std::accumulate(result.scores.begin(), result.scores.end(), 0,
                      [](Int32 m, const SweepScore& s) { return std::max(m, s.setting.rounds); });
  std::vector<Float> x;
  for (Int32 r = 0; r <= top; r = r == 0 ? 1 : 2 * r) x.push_back(RoundsStep(r));
  const Rgb colours[4] = {{200, 60, 60}, {40, 110, 200}, {230, 140, 30}, {60, 160, 90}};
  PlotPanel pose{"pose kept (mean edge lengths)", {}};
  PlotPanel detail{"detail kept (%)", {}};
  PlotPanel estimate{"estimated error (% of the detail)", {}};
  const std::vector<Line> lines = LinesOf(result.scores);
  for (size_t l = 0; l < lines.size(); ++l) {
    const std::string name =
        "weighting " + std::to_string(lines[l].weighting) + (lines[l].pin ? ", pinned" : "");
    PlotSeries p{name, {}, colours[l % 4]}, d{name, {}, colours[l % 4]},
        e{name, {}, colours[l % 4]};
    for (Int32 r = 0; r <= top; r = r == 0 ? 1 : 2 * r) {
      const size_t i = FindSetting(result.scores, r, lines[l].weighting, lines[l].pin);
      const bool has = i < result.scores.size();
      const SweepScore* s = has ? &result.scores[i] : nullptr;
      p.values.push_back(has ? s->poseEdges : NAN);
      d.values.push_back(has ? 100.0 * s->detailKept : NAN);
      e.values.push_back(has && result.restDetail > 0.0 ? 100.0 * s->estimate / result.restDetail
                                                        : NAN);
    }
    pose.series.push_back(std::move(p));
    detail.series.push_back(std::move(d));
    estimate.series.push_back(std::move(e));
  }
  pose.series.push_back(
      {"threshold", std::vector<Float>(x.size(), result.threshold), Rgb{120, 120, 120}});
  PlotOptions options;
  options.xLabel = "rounds: 0, 1, 2, 4 ... (step n = 2^(n-1))";
  WritePng(path, PlotPanels(x, {pose, detail, estimate}, options));
}

void WriteTunePage(const TuneResult& result, const Mesh& rest, const std::string& path,
                   std::string_view pageTemplate) {
  ViewPage page("tessamire tune: " + result.name);
  page.SetRest(rest, result.name);
  const Int64 count = static_cast<Int64>(rest.points.size());
  const Int32 skinned =
      page.AddInput("skinned (" + result.frameNames.front() + ")", count, rest.polygons);
  page.AddFrame(skinned, 0.0, result.worstInput);
  const SweepSetting chosen = result.scores[result.recommended].setting;
  std::vector<size_t> shown = {result.recommended, FindSetting(result.scores, 2, 1, 0),
                               FindSetting(result.scores, std::max(1, chosen.rounds / 4),
                                           chosen.weighting, chosen.pinBorder),
                               FindSetting(result.scores, std::max(4, chosen.rounds * 4),
                                           chosen.weighting, chosen.pinBorder)};
  std::vector<size_t> done;
  for (size_t i : shown) {
    if (i >= result.scores.size() || std::find(done.begin(), done.end(), i) != done.end()) continue;
    done.push_back(i);
    const Int32 input = page.AddInput(
        (i == result.recommended ? "recommended: " : "") + SettingText(result.scores[i].setting),
        count, rest.polygons);
    page.AddFrame(input, 0.0, result.worstResults[i]);
  }
  page.Write(path, pageTemplate);
}

}  // namespace headless
