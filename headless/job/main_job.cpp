#include "headless/job/main_job.h"

#include <chrono>
#include <stdexcept>
#include <string>

#include "headless/deformers/skinning.h"
#include "headless/io/png.h"
#include "headless/job/detail_height.h"
#include "headless/job/limb_scene.h"
#include "headless/picture/plot.h"
#include "headless/scene/deform.h"
#include "headless/scene/evaluate.h"
#include "headless/scene/parameters.h"
#include "headless/scene/registry.h"
#include "headless/scene/selection.h"
#include "host/abi/ids.h"

namespace headless {

namespace {

// Evaluates the document at `frame` and answers the seconds it took.
Float TimedEvaluation(Document& doc, Int32 frame) {
  const auto start = std::chrono::steady_clock::now();
  const DeformReport report = EvaluateDocumentAtFrame(doc, static_cast<Float>(frame));
  const auto stop = std::chrono::steady_clock::now();
  if (!report.Ok())
    throw std::runtime_error("frame " + std::to_string(frame) + ": " + report.errors.front());
  return std::chrono::duration<Float>(stop - start).count();
}

}  // namespace

void RequirePluginParts() {
  Registration registration;
  for (Int32 id : {ID_ADDTESSAMIRECMD, ID_OTESSAMIRE, ID_TTESSAMIRE})
    if (!FindRegistration(id, registration))
      throw std::runtime_error("the plug-in did not register part " + std::to_string(id));
}

void RunSetupCommand(Document& doc, const std::vector<Node*>& objects) {
  ClearSelection(doc);
  for (Node* object : objects) SetSelected(object, true);
  SetActiveDocument(&doc);
  SetKeyboardQualifier(QSHIFT);
  bool ran = false;
  try {
    ran = ExecuteCommand(ID_ADDTESSAMIRECMD);
  } catch (...) {
    SetKeyboardQualifier(0);
    SetActiveDocument(nullptr);
    throw;
  }
  SetKeyboardQualifier(0);
  SetActiveDocument(nullptr);
  if (!ran) {
    std::string names;
    for (const Node* object : objects) names += (names.empty() ? "" : ", ") + object->name;
    throw std::runtime_error("the setup command failed on " + names);
  }
}

Equipment EquipWithCommand(Document& doc, Node* object, Node* skin, std::optional<Int32> iterations,
                           const TagSettings& settings) {
  RunSetupCommand(doc, {object});
  Equipment equipment;
  for (Node* t : Document::Tags(object))
    if (t->type == ID_TTESSAMIRE) equipment.tag = t;
  equipment.deformer = skin->next;
  if (equipment.tag == nullptr)
    throw std::runtime_error("the setup command put no bind tag on " + object->name);
  if (equipment.deformer == nullptr || equipment.deformer->type != ID_OTESSAMIRE)
    throw std::runtime_error("the setup command did not place its deformer right after the skin");
  if (iterations) {
    Value value;
    value.type = ValueType::kInt32;
    value.int32 = *iterations;
    SetParameter(equipment.tag, TTESSAMIRE_ITERATIONS, value);
  }
  if (settings) settings(equipment.tag);
  return equipment;
}

FrameMeasurer::FrameMeasurer(std::vector<Vector3> rest, std::vector<CPolygon> polygons,
                             std::vector<Vector3> base, std::vector<const Float32*> weights,
                             std::vector<Node*> joints)
    : rest_(std::move(rest)),
      base_(std::move(base)),
      polygons_(std::move(polygons)),
      weights_(std::move(weights)),
      joints_(std::move(joints)) {
  const Int64 count = static_cast<Int64>(rest_.size());
  region_ = BlendRegion(weights_, count);
  reference_ = PrepareDetailReference(rest_.data(), count, polygons_.data(),
                                      static_cast<Int64>(polygons_.size()), region_, base_.data());
  neighbours_ = PointNeighbours(count, polygons_);
  restHeights_ = Heights(rest_);
  restBaseHeights_ = Heights(base_);
}

std::vector<Float> FrameMeasurer::Heights(const std::vector<Vector3>& points) const {
  return DetailHeights(points, polygons_, neighbours_, kDetailHeightRounds);
}

MeasuredFrame FrameMeasurer::Measure(Document& doc, Node* object, Node* deformer,
                                     Int32 frame) const {
  MeasuredFrame m;
  m.row.frame = frame;
  deformer->deformMode = false;
  m.row.skinnedSeconds = TimedEvaluation(doc, frame);
  m.skinned = DeformedPoints(object);
  deformer->deformMode = true;
  m.row.correctedSeconds = TimedEvaluation(doc, frame);
  m.corrected = DeformedPoints(object);
  const Int64 count = static_cast<Int64>(rest_.size());
  std::vector<Vector3> baseSkinned(base_.size());
  SkinPoints(base_.data(), count, CurrentPoses(joints_), weights_, baseSkinned.data());
  m.row.skinned = MeasureDetail(reference_, m.skinned.data(), count, baseSkinned.data());
  m.row.corrected = MeasureDetail(reference_, m.corrected.data(), count, baseSkinned.data());
  const std::vector<Float> base = Heights(baseSkinned);
  const std::vector<Float> skinned = Heights(m.skinned);
  const std::vector<Float> corrected = Heights(m.corrected);
  m.row.skinnedHeight = DetailHeightError(skinned, restHeights_, base, restBaseHeights_, region_);
  m.row.correctedHeight =
      DetailHeightError(corrected, restHeights_, base, restBaseHeights_, region_);
  m.skinnedKept = LocalDetailKept(skinned, restHeights_, base, restBaseHeights_, neighbours_,
                                  kKeptSpreadRounds);
  m.correctedKept = LocalDetailKept(corrected, restHeights_, base, restBaseHeights_, neighbours_,
                                    kKeptSpreadRounds);
  return m;
}

RunPage::RunPage(std::string title, const std::vector<Vector3>& rest,
                 const std::vector<CPolygon>& polygons, char up)
    : page_(std::move(title)) {
  const Int64 count = static_cast<Int64>(rest.size());
  page_.SetUp(up);
  page_.SetKeptTitle("detail kept");
  page_.AddFrame(page_.AddInput("rest", count, polygons), 0.0, rest,
                 std::vector<Float>(rest.size(), 1.0));
  skinned_ = page_.AddInput("skinned", count, polygons);
  corrected_ = page_.AddInput("corrected", count, polygons);
  page_.SetDistanceReference(skinned_);
}

void RunPage::Add(const MeasuredFrame& frame) {
  page_.AddFrame(skinned_, frame.row.frame, frame.skinned, frame.skinnedKept);
  page_.AddFrame(corrected_, frame.row.frame, frame.corrected, frame.correctedKept);
}

void WriteMeasuresPlot(const std::vector<FrameRow>& rows, const std::filesystem::path& path) {
  std::vector<Float> x;
  PlotSeries skinEdge{"skinned", {}, {200, 60, 60}};
  PlotSeries fixEdge{"corrected", {}, {40, 110, 200}};
  PlotSeries skinHinge = skinEdge, fixHinge = fixEdge;
  PlotSeries skinHeight = skinEdge, fixHeight = fixEdge;
  for (const FrameRow& r : rows) {
    x.push_back(r.frame);
    skinEdge.values.push_back(100.0 * r.skinned.edgeLengthChange);
    fixEdge.values.push_back(100.0 * r.corrected.edgeLengthChange);
    skinHinge.values.push_back(r.skinned.normalAngleDegrees);
    fixHinge.values.push_back(r.corrected.normalAngleDegrees);
    skinHeight.values.push_back(100.0 * r.skinnedHeight);
    fixHeight.values.push_back(100.0 * r.correctedHeight);
  }
  const Image plot = PlotPanels(x, {{"detail height error (%)", {skinHeight, fixHeight}},
                                    {"edge change of the detail (%)", {skinEdge, fixEdge}},
                                    {"hinge change of the detail (deg)", {skinHinge, fixHinge}}});
  WritePng(path.string(), plot);
}

}  // namespace headless
