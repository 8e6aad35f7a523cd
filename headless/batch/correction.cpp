#include "headless/batch/correction.h"

#include <cmath>
#include <stdexcept>
#include <utility>

#include "headless/files/input_ranges.h"
#include "headless/files/shortest_number.h"
#include "headless/io/scene_file.h"
#include "headless/scene/evaluate.h"
#include "headless/scene/parameters.h"
#include "headless/scene/registry.h"
#include "host/abi/ids.h"

namespace headless {

namespace {

Value IntValue(Int32 v) {
  Value value;
  value.type = ValueType::kInt32;
  value.int32 = v;
  return value;
}

// Weights of a map: one per point, finite, and with `unitRange` from 0 to 1.
void CheckWeights(std::span<const Float32> weights, size_t pointCount, const std::string& map,
                  const std::string& restName, bool unitRange) {
  if (weights.size() != pointCount)
    throw std::invalid_argument(map + ": " + std::to_string(weights.size()) + " weights, but " +
                                (restName.empty() ? "the rest mesh" : "the rest mesh " + restName) +
                                " has " + std::to_string(pointCount) + " points");
  for (size_t i = 0; i < weights.size(); ++i) {
    const Float32 w = weights[i];
    if (!std::isfinite(w))
      throw std::invalid_argument(map + ": weight " + std::to_string(i) + " is not finite");
    if (unitRange && !(w >= 0.0f && w <= 1.0f))
      throw std::invalid_argument(map + ": weight " + std::to_string(i) + " (" + ShortestNumber(w) +
                                  ") is outside the weights' range 0 to 1");
  }
}

// The vertex map the deformer is restricted to, by the name that finds it again in a record: a
// scene file keeps the map but not the deformer's restriction to it.
constexpr const char* kRestrictionMap = "restriction";

}  // namespace

void SetTagSettings(Node* tag, const CorrectionSettings& settings) {
  const std::pair<Int32, const std::optional<Int32>*> whole[] = {
      {TTESSAMIRE_ITERATIONS, &settings.iterations},
      {TTESSAMIRE_WEIGHTING, &settings.weighting},
      {TTESSAMIRE_PINBORDER, &settings.pinBorder}};
  for (const auto& [id, value] : whole)
    if (*value) SetParameter(tag, id, IntValue(**value));
  if (settings.strength) {
    Value value;
    value.type = ValueType::kFloat;
    value.real = *settings.strength;
    SetParameter(tag, TTESSAMIRE_STRENGTH, value);
  }
}

void CheckPointCount(size_t count, size_t restCount, const std::string& restName,
                     const std::string& source) {
  if (count == restCount) return;
  throw std::invalid_argument(
      source + ": " + std::to_string(count) + " points, but the rest mesh " +
      (restName.empty() ? "" : restName + " ") + "has " + std::to_string(restCount));
}

Correction::Correction(std::string name, std::vector<Vector3> points,
                       std::vector<CPolygon> polygons, const CorrectionSettings& settings,
                       std::vector<Float32> vertexMap, std::vector<Float32> restriction,
                       Int64 firstPoint)
    : name_(std::move(name)), restPoints_(points.size()), firstPoint_(firstPoint) {
  const std::string rest = name_.empty() ? "rest" : name_;
  CheckCoordinateRange(points, rest, firstPoint_);
  CheckPolygonCorners(polygons, static_cast<Int64>(points.size()), rest + ": ");
  if (!vertexMap.empty()) CheckWeights(vertexMap, points.size(), "vertex map", name_, true);
  if (!restriction.empty()) CheckWeights(restriction, points.size(), "restriction", name_, false);
  Registration registration;
  if (!FindRegistration(ID_TTESSAMIRE, registration) ||
      !FindRegistration(ID_OTESSAMIRE, registration))
    throw std::runtime_error("the plug-in did not register its bind tag and deformer");

  doc_ = NewDocument();
  object_ = doc_->AddPolygonObject(rest, std::move(points), std::move(polygons));
  tag_ = object_ ? doc_->AddTag(object_, ID_TTESSAMIRE) : nullptr;
  if (tag_ == nullptr) throw std::runtime_error("the bind tag could not be created");
  SetTagSettings(tag_, settings);
  if (!vertexMap.empty()) {
    Node* map = doc_->AddVertexMap(object_, std::move(vertexMap), "vertex map");
    Value link;
    link.type = ValueType::kLink;
    link.link.target = map->serial;
    SetParameter(tag_, TTESSAMIRE_VERTEXMAP, link);
  }
  if (!PressButton(tag_, TTESSAMIRE_BIND))
    throw std::runtime_error(rest + ": the bind tag refused to bind the rest mesh");
  deformer_ = doc_->AddObject(ID_OTESSAMIRE, "deformer", object_);
  if (deformer_ == nullptr) throw std::runtime_error("the deformer could not be created");
  if (!restriction.empty())
    RestrictDeformer(deformer_,
                     doc_->AddVertexMap(object_, std::move(restriction), kRestrictionMap));
}

Correction::~Correction() = default;

const std::vector<CPolygon>& Correction::Polygons() const {
  return object_->polygons;
}

void Correction::CheckFrame(std::span<const Vector3> frame, const std::string& source,
                            bool smoothed) {
  CheckPointCount(frame.size(), restPoints_, name_, source);
  CheckCoordinateRange(frame, source, firstPoint_);
  // A closed plug-in leaves its nodes without their instances: the deformer would not run and the
  // frame would come back uncorrected.
  if (tag_->instance == nullptr || deformer_->instance == nullptr)
    throw std::runtime_error("the plug-in has been closed: the correction cannot run");
  if (smoothed != smoothed_) {
    SetParameter(tag_, TTESSAMIRE_SHOWSMOOTH, IntValue(smoothed ? 1 : 0));
    smoothed_ = smoothed;
  }
}

DeformReport Correction::Evaluate(const std::string& source) {
  DeformReport report = EvaluateDocument(*doc_);
  if (!report.Ok()) throw std::runtime_error(source + ": " + report.errors.front());
  return report;
}

DeformReport Correction::Correct(std::span<const Vector3> frame, const std::string& source,
                                 bool smoothed) {
  CheckFrame(frame, source, smoothed);
  object_->points.assign(frame.begin(), frame.end());
  return Evaluate(source);
}

DeformReport Correction::Correct(std::vector<Vector3>&& frame, const std::string& source,
                                 bool smoothed) {
  CheckFrame(frame, source, smoothed);
  object_->points.swap(frame);
  std::vector<Vector3>().swap(frame);
  return Evaluate(source);
}

std::vector<Vector3> Correction::TakeInput() {
  if (object_->deformCache.empty()) return {};  // the points are the result
  std::vector<Vector3> input = std::exchange(object_->points, {});
  input.clear();
  return input;
}

const std::vector<Vector3>& Correction::Result() const {
  return DeformedPoints(object_);
}

void Correction::GiveBackRoom(std::vector<Vector3>&& room) {
  if (object_->deformCache.empty() && room.size() == restPoints_)
    object_->deformCache = std::move(room);
  room = {};
}

std::vector<Vector3> Correction::TakeResult() {
  if (object_->deformCache.empty()) return DeformedPoints(object_);
  return std::exchange(object_->deformCache, {});
}

std::vector<std::uint8_t> Correction::Record() const {
  return SerializeDocument(*doc_);
}

std::unique_ptr<Correction> Correction::FromRecord(const std::vector<std::uint8_t>& record,
                                                   std::string name, Int64 firstPoint) {
  std::unique_ptr<Correction> c(new Correction());
  c->name_ = std::move(name);
  c->firstPoint_ = firstPoint;
  c->doc_ = DeserializeDocument(record, "the correction's record");
  for (Node* object : c->doc_->Objects()) {
    if (!object->IsPolygonObject()) continue;
    for (Node* tag : Document::Tags(object))
      if (tag->type == ID_TTESSAMIRE) c->tag_ = tag;
    for (Node* child = object->down; child != nullptr; child = child->next)
      if (child->type == ID_OTESSAMIRE) c->deformer_ = child;
    if (c->tag_ != nullptr && c->deformer_ != nullptr) {
      c->object_ = object;
      break;
    }
    c->tag_ = c->deformer_ = nullptr;
  }
  if (c->object_ == nullptr)
    throw std::runtime_error("the correction's record holds no mesh with a bind tag and deformer");
  if (c->tag_->instance == nullptr || c->deformer_->instance == nullptr)
    throw std::runtime_error("the correction's record needs the plug-in, which is not loaded");
  c->restPoints_ = c->object_->points.size();
  for (Node* tag : Document::Tags(c->object_))
    if (tag->type == Tvertexmap && tag->name == kRestrictionMap)
      RestrictDeformer(c->deformer_, tag);
  // The record may have been taken while the smoothed mesh was asked for.
  SetParameter(c->tag_, TTESSAMIRE_SHOWSMOOTH, IntValue(0));
  return c;
}

}  // namespace headless
