#include "cli/main_job.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <iterator>
#include <stdexcept>

#include "cli/tag_settings.h"
#include "headless/deformers/skin.h"
#include "headless/deformers/skinning.h"
#include "headless/host/tessamire_ids.h"
#include "headless/io/png.h"
#include "headless/job/detail_height.h"
#include "headless/job/limb_scene.h"
#include "headless/picture/plot.h"
#include "headless/scene/deform.h"
#include "headless/scene/evaluate.h"
#include "headless/scene/parameters.h"
#include "headless/scene/registry.h"
#include "headless/scene/selection.h"

namespace cli {

using namespace tessamire_ids;

void RunSetupCommand(headless::Document& doc, const std::vector<headless::Node*>& objects) {
  headless::ClearSelection(doc);
  for (headless::Node* object : objects) headless::SetSelected(object, true);
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
  if (!ran) {
    std::string names;
    for (const headless::Node* object : objects)
      names += (names.empty() ? "" : ", ") + object->name;
    throw std::runtime_error("the setup command failed on " + names);
  }
}

void EquipWithCommand(headless::Document& doc, headless::Node* object, headless::Node* skin,
                      headless::Node*& tag, headless::Node*& deformer) {
  RunSetupCommand(doc, {object});
  tag = nullptr;
  for (headless::Node* t : headless::Document::Tags(object))
    if (t->type == kTagId) tag = t;
  deformer = skin->next;
  if (tag == nullptr)
    throw std::runtime_error("the setup command put no bind tag on " + object->name);
  if (deformer == nullptr || deformer->type != kDeformerId)
    throw std::runtime_error("the setup command did not place its deformer right after the skin");
}

namespace {

// Rounds of neighbour averaging behind the detail height measure: enough to flatten the limb's
// ridges and bumps, few enough to keep the tube's shape.
constexpr Int32 kHeightSmoothing = 8;
// Two rounds spread each point's reading of the detail kept over about one ridge.
constexpr Int32 kKeptSpread = 2;

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

headless::Value IntValue(Int32 i) {
  headless::Value value;
  value.type = headless::ValueType::kInt32;
  value.int32 = i;
  return value;
}

}  // namespace

void RequirePluginParts() {
  headless::Registration registration;
  for (Int32 id : {kCommandId, kDeformerId, kTagId})
    if (!headless::FindRegistration(id, registration))
      throw std::runtime_error("the plug-in did not register part " + std::to_string(id));
}

void ApplyRunSettings(headless::Node* tag, const RunOptions& o, std::optional<Int32> iterations) {
  if (iterations) headless::SetParameter(tag, kIterations, IntValue(*iterations));
  ApplyTagSettings(*o.options, tag);
}

FrameMeasurer::FrameMeasurer(std::vector<Vector3> rest, std::vector<CPolygon> polygons,
                             std::vector<Vector3> base, std::vector<const Float32*> weights,
                             std::vector<headless::Node*> joints)
    : rest_(std::move(rest)),
      base_(std::move(base)),
      polygons_(std::move(polygons)),
      weights_(std::move(weights)),
      joints_(std::move(joints)) {
  const Int64 count = static_cast<Int64>(rest_.size());
  region_ = headless::BlendRegion(weights_, count);
  reference_ =
      headless::PrepareDetailReference(rest_.data(), count, polygons_.data(),
                                       static_cast<Int64>(polygons_.size()), region_, base_.data());
  neighbours_ = headless::PointNeighbours(count, polygons_);
  restHeights_ = Heights(rest_);
  restBaseHeights_ = Heights(base_);
}

std::vector<Float> FrameMeasurer::Heights(const std::vector<Vector3>& points) const {
  return headless::DetailHeights(points, polygons_, neighbours_, kHeightSmoothing);
}

MeasuredFrame FrameMeasurer::Measure(headless::Document& doc, headless::Node* object,
                                     headless::Node* deformer, Int32 frame) const {
  MeasuredFrame m;
  m.row.frame = frame;
  deformer->deformMode = false;
  m.row.skinnedSeconds = TimedEvaluation(doc, frame);
  m.skinned = headless::DeformedPoints(object);
  deformer->deformMode = true;
  m.row.correctedSeconds = TimedEvaluation(doc, frame);
  m.corrected = headless::DeformedPoints(object);
  const Int64 count = static_cast<Int64>(rest_.size());
  std::vector<Vector3> baseSkinned(base_.size());
  headless::SkinPoints(base_.data(), count, headless::CurrentPoses(joints_), weights_,
                       baseSkinned.data());
  m.row.skinned = headless::MeasureDetail(reference_, m.skinned.data(), count, baseSkinned.data());
  m.row.corrected =
      headless::MeasureDetail(reference_, m.corrected.data(), count, baseSkinned.data());
  const std::vector<Float> base = Heights(baseSkinned);
  const std::vector<Float> skinned = Heights(m.skinned);
  const std::vector<Float> corrected = Heights(m.corrected);
  m.row.skinnedHeight =
      headless::DetailHeightError(skinned, restHeights_, base, restBaseHeights_, region_);
  m.row.correctedHeight =
      headless::DetailHeightError(corrected, restHeights_, base, restBaseHeights_, region_);
  m.skinnedKept = headless::LocalDetailKept(skinned, restHeights_, base, restBaseHeights_,
                                            neighbours_, kKeptSpread);
  m.correctedKept = headless::LocalDetailKept(corrected, restHeights_, base, restBaseHeights_,
                                              neighbours_, kKeptSpread);
  return m;
}

RunPage::RunPage(std::string title, const std::vector<Vector3>& rest,
                 const std::vector<CPolygon>& polygons, char up)
    : page_(std::move(title)) {
  const Int64 count = static_cast<Int64>(rest.size());
  page_.Builder().SetUp(up);
  page_.Builder().SetKeptTitle("detail kept");
  page_.AddFrame(page_.AddInput("rest", count, polygons), 0.0, rest,
                 std::vector<Float>(rest.size(), 1.0));
  skinned_ = page_.AddInput("skinned", count, polygons);
  corrected_ = page_.AddInput("corrected", count, polygons);
  page_.Builder().SetDistanceReference(skinned_);
}

void RunPage::Add(const MeasuredFrame& frame) {
  page_.AddFrame(skinned_, frame.row.frame, frame.skinned, frame.skinnedKept);
  page_.AddFrame(corrected_, frame.row.frame, frame.corrected, frame.correctedKept);
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
