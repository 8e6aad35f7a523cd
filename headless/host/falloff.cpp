#include "headless/host/falloff.h"

#include <atomic>
#include <cmath>
#include <mutex>
#include <optional>

#include "headless/geometry/vector.h"
#include "headless/host/draw.h"
#include "headless/host/framework.h"
#include "headless/host/host_state.h"
#include "headless/host/resources.h"

namespace headless {

namespace {

std::atomic<Int64> g_liveFalloffs{0};

struct Evaluator {
  Int32 type = 0;  // the allocation argument
  Int32 mode = kFalloffShapeInfinite;
  FalloffParameters parameters;  // from the last initialisation
  Vector3 centre;
  Matrix transform;  // the object's global matrix, from the last pre-sampling
  bool sampling = false;

  // The dirty query runs on the host's thread while nothing samples; the lock only keeps two
  // queries from racing.
  mutable std::mutex dirtyMutex;
  mutable std::optional<FalloffParameters> lastSeen;
  mutable Int32 dirtyCount = 0;
};

Evaluator* AsEvaluator(Falloff* fo) {
  return reinterpret_cast<Evaluator*>(fo);
}
const Evaluator* AsEvaluator(const Falloff* fo) {
  return reinterpret_cast<const Evaluator*>(fo);
}

bool IsKnownShape(Int32 shape) {
  return shape == kFalloffShapeInfinite || shape == kFalloffShapeSphere;
}

// Sums from the offset on, ((off + v1 p.x) + v2 p.y) + v3 p.z, which rounds differently from
// TransformPoint's off + ((v1 p.x + v2 p.y) + v3 p.z); the weights depend on the order.
Vector3 Apply(const Matrix& m, const Vector3& p) {
  return {m.off.x + m.v1.x * p.x + m.v2.x * p.y + m.v3.x * p.z,
          m.off.y + m.v1.y * p.x + m.v2.y * p.y + m.v3.y * p.z,
          m.off.z + m.v1.z * p.x + m.v2.z * p.y + m.v3.z * p.z};
}

Falloff* FalloffAlloc(Int32 type) {
  if (TheHostState().falloffWithheld.load()) return nullptr;
  Evaluator* evaluator = NewHostRecord<Evaluator>();
  if (evaluator == nullptr) return nullptr;
  evaluator->type = type;
  g_liveFalloffs.fetch_add(1);
  return reinterpret_cast<Falloff*>(evaluator);
}

void FalloffFree(Falloff* fo) {
  Evaluator* evaluator = AsEvaluator(fo);
  if (evaluator == nullptr) return;
  DeleteHostRecord(evaluator);
  g_liveFalloffs.fetch_sub(1);
}

Bool FalloffInit(Falloff* fo, const BaseContainer* bc, BaseDocument*, BaseList2D*) {
  Evaluator* evaluator = AsEvaluator(fo);
  if (evaluator == nullptr || bc == nullptr) return false;
  const FalloffParameters parameters = ReadFalloffParameters(*FromHandle(bc));
  if (!IsKnownShape(parameters.shape)) return false;
  evaluator->parameters = parameters;
  evaluator->centre = Vector3{};  // the deformer's position: no transforms are modelled
  std::lock_guard<std::mutex> lock(evaluator->dirtyMutex);
  if (!evaluator->lastSeen) evaluator->lastSeen = parameters;
  return true;
}

Bool FalloffSetMode(Falloff* fo, Int32 mode, BaseContainer*) {
  Evaluator* evaluator = AsEvaluator(fo);
  if (evaluator == nullptr || !IsKnownShape(mode)) return false;
  evaluator->mode = mode;
  return true;
}

void AddOnce(DescriptionData& description, ParameterDescription parameter) {
  if (description.Find(parameter.id) == nullptr)
    description.parameters.push_back(std::move(parameter));
}

Bool FalloffAddDescription(Falloff* fo, Description* desc, BaseContainer*, Int32, Bool, Bool, Bool,
                           Bool) {
  if (fo == nullptr || desc == nullptr) return false;
  auto& description = *reinterpret_cast<DescriptionData*>(desc);

  ParameterDescription shape;
  shape.id = kFalloffShape;
  shape.type = ParameterType::kInt32;
  shape.ident = "FALLOFF_SHAPE";
  shape.label = "Falloff shape";
  shape.defaultValue = std::to_string(kFalloffShapeInfinite);
  shape.cycle = {{kFalloffShapeInfinite, "Infinite"}, {kFalloffShapeSphere, "Sphere"}};
  AddOnce(description, std::move(shape));

  ParameterDescription radius;
  radius.id = kFalloffRadius;
  radius.type = ParameterType::kFloat;
  radius.ident = "FALLOFF_RADIUS";
  radius.label = "Radius";
  radius.min = 0.0;
  radius.defaultValue = "100";
  AddOnce(description, std::move(radius));

  ParameterDescription inner;
  inner.id = kFalloffInnerRadius;
  inner.type = ParameterType::kFloat;
  inner.ident = "FALLOFF_INNERRADIUS";
  inner.label = "Inner radius";
  inner.min = 0.0;
  inner.defaultValue = "0";
  AddOnce(description, std::move(inner));
  return true;
}

void FalloffDraw(Falloff* fo, BaseDraw* bd, BaseDrawHelp*, Int32 drawPass,
                 const BaseContainer* bc) {
  DrawView* view = DrawViewFromHandle(bd);
  if (fo == nullptr || view == nullptr || bc == nullptr) return;
  const FalloffParameters parameters = ReadFalloffParameters(*FromHandle(bc));
  DrawRecord record;
  record.kind = DrawRecord::Kind::kFalloff;
  record.drawPass = drawPass;
  record.shape = parameters.shape;
  record.radius = parameters.radius;
  record.innerRadius = parameters.innerRadius;
  view->records.push_back(record);
}

Bool FalloffCopyTo(const Falloff* fo, Falloff* dest) {
  const Evaluator* from = AsEvaluator(fo);
  Evaluator* to = AsEvaluator(dest);
  if (from == nullptr || to == nullptr) return false;
  if (from == to) return true;
  to->mode = from->mode;
  to->parameters = from->parameters;
  to->centre = from->centre;
  to->transform = from->transform;
  to->sampling = from->sampling;
  std::scoped_lock lock(from->dirtyMutex, to->dirtyMutex);
  to->lastSeen = from->lastSeen;
  to->dirtyCount = from->dirtyCount;
  return true;
}

Int32 FalloffDirty(const Falloff* fo, BaseDocument*, const BaseContainer* bc) {
  const Evaluator* evaluator = AsEvaluator(fo);
  if (evaluator == nullptr) return 0;
  std::lock_guard<std::mutex> lock(evaluator->dirtyMutex);
  if (bc != nullptr) {
    const FalloffParameters now = ReadFalloffParameters(*FromHandle(bc));
    if (!evaluator->lastSeen || !(*evaluator->lastSeen == now)) {
      evaluator->lastSeen = now;
      ++evaluator->dirtyCount;
    }
  }
  return evaluator->dirtyCount;
}

Int32 FalloffHandleCount(const Falloff* fo, const BaseContainer* bc) {
  if (fo == nullptr || bc == nullptr) return 0;
  return ReadFalloffParameters(*FromHandle(bc)).shape == kFalloffShapeSphere ? 1 : 0;
}

void FalloffGetHandle(const Falloff* fo, Int32 index, const BaseContainer* bc, HandleInfo* info) {
  const Evaluator* evaluator = AsEvaluator(fo);
  if (evaluator == nullptr || bc == nullptr || info == nullptr ||
      index >= FalloffHandleCount(fo, bc) || index < 0)
    return;
  const FalloffParameters parameters = ReadFalloffParameters(*FromHandle(bc));
  info->position = {evaluator->centre.x + parameters.radius, evaluator->centre.y,
                    evaluator->centre.z};
  info->direction = {1.0, 0.0, 0.0};
  info->type = 0;
}

void FalloffSetHandle(Falloff* fo, Int32 index, Vector3 position, const BaseContainer* bc,
                      const HandleInfo*) {
  const Evaluator* evaluator = AsEvaluator(fo);
  if (evaluator == nullptr || bc == nullptr || index < 0 || index >= FalloffHandleCount(fo, bc))
    return;
  // The container is the deformer's own, which the host may write; the table passes it const
  // only because the plug-in does not.
  FromHandle(bc)->SetFloat(kFalloffRadius, Length(Sub(position, evaluator->centre)));
}

Bool FalloffPreSample(Falloff* fo, BaseDocument*, BaseList2D*, const FalloffInput* input, Int32) {
  Evaluator* evaluator = AsEvaluator(fo);
  if (evaluator == nullptr || input == nullptr) return false;
  const Float* t = input->transform;
  evaluator->transform.off = {t[0], t[1], t[2]};
  evaluator->transform.v1 = {t[3], t[4], t[5]};
  evaluator->transform.v2 = {t[6], t[7], t[8]};
  evaluator->transform.v3 = {t[9], t[10], t[11]};
  evaluator->sampling = evaluator->parameters.shape == kFalloffShapeSphere;
  return evaluator->sampling;
}

Float FalloffSample(const Falloff* fo, const Vector3* position, Float* weightOut, Bool, Float,
                    void*, Int32) {
  const Evaluator* evaluator = AsEvaluator(fo);
  Float weight = 1.0;
  if (evaluator != nullptr && evaluator->sampling && position != nullptr) {
    const Vector3 world = Apply(evaluator->transform, *position);
    weight = SphereWeight(evaluator->parameters, Length(Sub(world, evaluator->centre)));
  }
  if (weightOut != nullptr) *weightOut = weight;
  return weight;
}

}  // namespace

FalloffParameters ReadFalloffParameters(const Container& container) {
  FalloffParameters parameters;
  parameters.shape = container.GetInt32(kFalloffShape).value_or(kFalloffShapeInfinite);
  parameters.radius = container.GetFloat(kFalloffRadius).value_or(kFalloffDefaultRadius);
  parameters.innerRadius =
      container.GetFloat(kFalloffInnerRadius).value_or(kFalloffDefaultInnerRadius);
  return parameters;
}

Float SphereWeight(const FalloffParameters& parameters, Float distance) {
  if (distance <= parameters.innerRadius) return 1.0;
  if (distance >= parameters.radius) return 0.0;
  return (parameters.radius - distance) / (parameters.radius - parameters.innerRadius);
}

Int64 LiveFalloffs() {
  return g_liveFalloffs.load();
}

void WithholdFalloffLibrary(bool withheld) {
  TheHostState().falloffWithheld.store(withheld);
}

void InstallFalloffEntries(HostTable& t) {
  t.falloffAlloc = FalloffAlloc;
  t.falloffFree = FalloffFree;
  t.falloffInit = FalloffInit;
  t.falloffSetMode = FalloffSetMode;
  t.falloffAddDescription = FalloffAddDescription;
  t.falloffDraw = FalloffDraw;
  t.falloffCopyTo = FalloffCopyTo;
  t.falloffDirty = FalloffDirty;
  t.falloffHandleCount = FalloffHandleCount;
  t.falloffGetHandle = FalloffGetHandle;
  t.falloffSetHandle = FalloffSetHandle;
  t.falloffPreSample = FalloffPreSample;
  t.falloffSample = FalloffSample;
}

}  // namespace headless
