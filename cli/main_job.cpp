#include "cli/main_job.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <iterator>
#include <stdexcept>

#include "headless/host/registry.h"
#include "headless/host/selection.h"
#include "headless/host/skin.h"
#include "headless/host/tessamire_ids.h"
#include "headless/io/png.h"
#include "headless/picture/plot.h"

namespace cli {

using namespace tessamire_ids;

void EquipWithCommand(headless::Document& doc, headless::Node* object, headless::Node* skin,
                      headless::Node*& tag, headless::Node*& deformer) {
  headless::ClearSelection(doc);
  headless::SetSelected(object, true);
  headless::SetActiveDocument(&doc);
  headless::SetKeyboardQualifier(QSHIFT);
  bool ran = false;
  try {
    ran = headless::ExecuteCommand(kCommandId);
  } catch (...) {
    headless::SetKeyboardQualifier(0);
    headless::SetActiveDocument(nullptr);
    throw;
  }
  headless::SetKeyboardQualifier(0);
  headless::SetActiveDocument(nullptr);
  if (!ran) throw std::runtime_error("the setup command failed on " + object->name);
  tag = nullptr;
  for (headless::Node* t : headless::Document::Tags(object))
    if (t->type == kTagId) tag = t;
  deformer = skin->next;
  if (tag == nullptr)
    throw std::runtime_error("the setup command put no bind tag on " + object->name);
  if (deformer == nullptr || deformer->type != kDeformerId)
    throw std::runtime_error("the setup command did not place its deformer right after the skin");
}

// Evaluates the document at `frame` and answers the seconds it took.
Float TimedEvaluation(headless::Document& doc, Int32 frame) {
  const auto start = std::chrono::steady_clock::now();
  const headless::DeformReport report =
      headless::EvaluateDocumentAtFrame(doc, static_cast<Float>(frame));
  const auto stop = std::chrono::steady_clock::now();
  if (!report.Ok())
    throw std::runtime_error("frame " + std::to_string(frame) + ": " + report.errors.front());
  return std::chrono::duration<Float>(stop - start).count();
}

void PrintTable(const std::vector<FrameRow>& rows, Int64 points, const char* label,
                std::ostream& out) {
  char head[16];
  std::snprintf(head, sizeof head, "%6s", label);
  out << "frame " << head
      << " | height error (%)   | edge change (%)    | hinge change (deg) | "
         "corrected eval\n"
         "             | skinned  corrected | skinned  corrected | skinned  corrected |    ms  "
         " Mpts/s\n";
  char line[160];
  for (const FrameRow& r : rows) {
    const Float rate =
        r.correctedSeconds > 0.0 ? static_cast<Float>(points) / r.correctedSeconds / 1.0e6 : 0.0;
    std::snprintf(line, sizeof line,
                  "%5d %6.1f | %7.2f %10.2f | %7.3f %10.3f | %7.3f %10.3f | %6.1f %8.2f\n",
                  static_cast<int>(r.frame), r.label, 100.0 * r.skinnedHeight,
                  100.0 * r.correctedHeight, 100.0 * r.skinned.edgeLengthChange,
                  100.0 * r.corrected.edgeLengthChange, r.skinned.normalAngleDegrees,
                  r.corrected.normalAngleDegrees, 1000.0 * r.correctedSeconds, rate);
    out << line;
  }
}

// Detail kept -> colour: red where flattened (0), pale yellow at half, blue as at rest (1),
// purple where exaggerated (1.5 and above).
headless::Rgb KeptColor(Float kept) {
  struct Stop {
    Float at;
    Float r, g, b;
  };
  static const Stop kStops[] = {
      {0.0, 214, 48, 39}, {0.5, 254, 224, 144}, {1.0, 69, 117, 180}, {1.5, 150, 60, 170}};
  const Float k = std::isfinite(kept) ? std::clamp(kept, 0.0, 1.5) : 1.5;
  size_t i = 0;
  while (i + 2 < std::size(kStops) && k > kStops[i + 1].at) ++i;
  const Stop& a = kStops[i];
  const Stop& b = kStops[i + 1];
  const Float t = (k - a.at) / (b.at - a.at);
  auto mix = [t](Float u, Float v) {
    return static_cast<std::uint8_t>(std::lround(u + t * (v - u)));
  };
  return {mix(a.r, b.r), mix(a.g, b.g), mix(a.b, b.b)};
}

void WriteMeasuresPlot(const std::vector<FrameRow>& rows, const std::filesystem::path& path) {
  std::vector<Float> x;
  headless::PlotSeries skinEdge{"skinned", {}, {200, 60, 60}};
  headless::PlotSeries fixEdge{"corrected", {}, {40, 110, 200}};
  headless::PlotSeries skinHinge = skinEdge, fixHinge = fixEdge;
  headless::PlotSeries skinHeight = skinEdge, fixHeight = fixEdge;
  for (const FrameRow& r : rows) {
    x.push_back(r.frame);
    skinEdge.values.push_back(100.0 * r.skinned.edgeLengthChange);
    fixEdge.values.push_back(100.0 * r.corrected.edgeLengthChange);
    skinHinge.values.push_back(r.skinned.normalAngleDegrees);
    fixHinge.values.push_back(r.corrected.normalAngleDegrees);
    skinHeight.values.push_back(100.0 * r.skinnedHeight);
    fixHeight.values.push_back(100.0 * r.correctedHeight);
  }
  const headless::Image plot =
      headless::PlotPanels(x, {{"detail height error (%)", {skinHeight, fixHeight}},
                               {"edge change of the detail (%)", {skinEdge, fixEdge}},
                               {"hinge change of the detail (deg)", {skinHinge, fixHinge}}});
  headless::WritePng(path.string(), plot);
}

}  // namespace cli
