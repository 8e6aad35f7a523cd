#include "headless/job/tune_character.h"

#include <algorithm>
#include <stdexcept>

#include "headless/files/printable.h"
#include "headless/files/shortest_number.h"
#include "headless/io/results.h"
#include "headless/job/main_job.h"
#include "headless/scene/evaluate.h"
#include "headless/scene/parameters.h"
#include "host/abi/ids.h"

namespace headless {

std::vector<Float> ScanFrames(const FrameRange& range, size_t most) {
  const Int64 count = static_cast<Int64>(range.last) - range.first + 1;
  std::vector<Float> frames;
  if (count <= 0 || most == 0) return frames;
  if (static_cast<size_t>(count) <= most || most == 1) {
    for (Int64 i = 0; i < std::min<Int64>(count, static_cast<Int64>(most)); ++i)
      frames.push_back(static_cast<Float>(range.first + i));
    return frames;
  }
  // Rounded whole frames from first to last, strictly rising since count > most.
  for (size_t i = 0; i < most; ++i)
    frames.push_back(static_cast<Float>(
        range.first + (static_cast<Int64>(i) * (count - 1) + static_cast<Int64>(most - 1) / 2) /
                          static_cast<Int64>(most - 1)));
  return frames;
}

std::vector<MeshTune> TuneDeformed(Document& doc, const std::vector<Node*>& deformed,
                                   const std::map<const Node*, std::vector<Vector3>>& rest,
                                   const std::optional<FrameRange>& range,
                                   const std::string& source, Float threshold, size_t sampleCount) {
  const std::vector<Float> frames = ScanFrames(range ? *range : KeyedRange(doc));
  std::vector<std::vector<std::vector<Vector3>>> posed(deformed.size());
  std::vector<std::string> names;
  {
    const PluginDeformersOff off(doc);
    for (const Float frame : frames) {
      const DeformReport report = EvaluateDocumentAtFrame(doc, frame);
      if (!report.Ok())
        throw std::runtime_error(source + ": frame " + ShortestNumber(frame) + ": " +
                                 report.errors.front());
      for (size_t m = 0; m < deformed.size(); ++m) posed[m].push_back(DeformedPoints(deformed[m]));
      names.push_back("frame " + ShortestNumber(frame));
    }
  }
  const std::vector<std::string> stems = FileStems(deformed);
  std::vector<MeshTune> tunes;
  for (size_t m = 0; m < deformed.size(); ++m) {
    MeshTune tune;
    tune.object = deformed[m];
    tune.stem = stems[m];
    const auto bound = rest.find(deformed[m]);
    tune.rest.points = bound != rest.end() ? bound->second : deformed[m]->points;
    tune.rest.polygons = deformed[m]->polygons;
    tune.result =
        TuneMesh(deformed[m]->name, tune.rest, {}, posed[m], names, threshold, sampleCount);
    tunes.push_back(std::move(tune));
  }
  return tunes;
}

std::vector<MeshTune> TuneCharacter(const CorrectRequest& request, Float threshold,
                                    size_t sampleCount, const CorrectObserver& observer) {
  RequirePluginParts();
  EvalRequest eval = request.eval;
  const std::unique_ptr<Document> doc = LoadCorrectInput(request, eval, observer);
  const std::vector<Node*> deformed = DeformedMeshes(*doc, eval.source);
  std::vector<MeshTune> tunes =
      TuneDeformed(*doc, deformed, {}, eval.frames, eval.source, threshold, sampleCount);
  for (MeshTune& tune : tunes) tune.object = nullptr;  // the document goes here
  return tunes;
}

TuneResult TuneSource(std::string name, const Mesh& rest, FrameSource& source, Float threshold,
                      size_t sampleCount, size_t most) {
  if (source.Count() == 0) throw std::invalid_argument(name + ": no frame to tune on");
  const PairReference reference = PreparePairReference(rest, {});
  const size_t kept = std::max<size_t>(1, sampleCount);
  // The most deformed so far, in frame order; a tie keeps the earlier frame, as
  // MostDeformedFrames does.
  std::vector<std::vector<Vector3>> frames;
  std::vector<std::string> names;
  std::vector<Float> change;
  const Int32 last = static_cast<Int32>(source.Count() - 1);
  for (const Float scanned : ScanFrames({0, last}, most)) {
    const size_t i = static_cast<size_t>(scanned);
    std::vector<Vector3> points = source.PointsApart(i);
    const Float c = SkinningChange(reference, points);
    if (frames.size() == kept) {
      const auto least = std::min_element(change.rbegin(), change.rend());
      if (c <= *least) continue;
      const size_t out = static_cast<size_t>(change.rend() - least - 1);
      frames.erase(frames.begin() + static_cast<std::ptrdiff_t>(out));
      names.erase(names.begin() + static_cast<std::ptrdiff_t>(out));
      change.erase(change.begin() + static_cast<std::ptrdiff_t>(out));
    }
    frames.push_back(std::move(points));
    names.push_back(source.Name(i));
    change.push_back(c);
  }
  return TuneMesh(std::move(name), rest, {}, frames, names, threshold, kept);
}

CorrectionSettings AutoSettings(const TuneResult& result, const CorrectionSettings& given) {
  const SweepSetting& chosen = result.scores.at(result.recommended).setting;
  CorrectionSettings settings = given;
  if (!settings.iterations) settings.iterations = chosen.rounds;
  // Rounds 0 leave the weighting and pin unread: the sweep's own defaults stand for them.
  if (!settings.weighting) settings.weighting = chosen.weighting;
  if (!settings.pinBorder) settings.pinBorder = chosen.pinBorder;
  return settings;
}

std::string AutoSettingsLine(const std::string& name, const CorrectionSettings& settings) {
  return "settings auto: " + name + ": " +
         SettingText({settings.iterations.value_or(0), settings.weighting.value_or(0),
                      settings.pinBorder.value_or(0)});
}

void RebindWithAutoSettings(Document& doc, const EvalRequest& eval,
                            const std::function<void(const std::string&)>& message) {
  std::vector<Node*> tagged;
  for (Node* object : doc.Objects())
    if (object->IsPolygonObject() &&
        std::ranges::any_of(Document::Tags(object),
                            [](const Node* tag) { return tag->type == ID_TTESSAMIRE; }))
      tagged.push_back(object);
  if (tagged.empty())
    throw std::runtime_error(eval.source +
                             ": holds no mesh with a bind tag; --settings auto has nothing to set");
  for (const MeshTune& tune : TuneDeformed(doc, tagged, {}, eval.frames, eval.source,
                                           eval.poseCheck.value_or(kDefaultPoseThreshold))) {
    const CorrectionSettings settings = AutoSettings(tune.result, {});
    for (Node* tag : Document::Tags(tune.object)) {
      if (tag->type != ID_TTESSAMIRE) continue;
      PressButton(tag, TTESSAMIRE_UNBIND);  // a bound tag's settings are off
      SetTagSettings(tag, settings);
      if (!PressButton(tag, TTESSAMIRE_BIND))
        throw std::runtime_error(eval.source + ": the bind tag of " + tune.object->name +
                                 " refused to bind its mesh");
    }
    if (message)
      message(eval.command + ": " + AutoSettingsLine(Printable(tune.object->name), settings));
  }
}

void WriteTuneOutputs(const std::vector<MeshTune>& tunes, const std::string& dir, bool single,
                      std::string_view pageTemplate, std::ostream& out) {
  std::string written;
  for (const MeshTune& tune : tunes) {
    const std::string base = dir + "/" + (single ? std::string("tune") : tune.stem + ".tune");
    PrintTuneTable(tune.result, out);
    WriteTunePlot(tune.result, base + ".png");
    WriteTunePage(tune.result, tune.rest, base + ".html", pageTemplate);
    written += (written.empty() ? "" : ", ") + base + ".png and " + base + ".html";
  }
  out << "wrote " << written << "\n";
}

}  // namespace headless
