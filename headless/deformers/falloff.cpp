#include "headless/deformers/falloff.h"

#include <cmath>
#include <string>

#include "headless/geometry/vector.h"

namespace headless {

namespace {

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

void AddOnce(DescriptionData& description, ParameterDescription parameter) {
  if (description.Find(parameter.id) == nullptr)
    description.parameters.push_back(std::move(parameter));
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

bool InitFalloff(FalloffEvaluator& evaluator, const Container& container) {
  const FalloffParameters parameters = ReadFalloffParameters(container);
  if (!IsKnownShape(parameters.shape)) return false;
  evaluator.parameters = parameters;
  evaluator.centre = Vector3{};  // the deformer's position: no transforms are modelled
  std::lock_guard<std::mutex> lock(evaluator.dirtyMutex);
  if (!evaluator.lastSeen) evaluator.lastSeen = parameters;
  return true;
}

bool SetFalloffMode(FalloffEvaluator& evaluator, Int32 mode) {
  if (!IsKnownShape(mode)) return false;
  evaluator.mode = mode;
  return true;
}

void AddFalloffDescription(DescriptionData& description) {
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
}

DrawRecord FalloffDrawRecord(const Container& container, Int32 drawPass) {
  const FalloffParameters parameters = ReadFalloffParameters(container);
  DrawRecord record;
  record.kind = DrawRecord::Kind::kFalloff;
  record.drawPass = drawPass;
  record.shape = parameters.shape;
  record.radius = parameters.radius;
  record.innerRadius = parameters.innerRadius;
  return record;
}

void CopyFalloff(const FalloffEvaluator& from, FalloffEvaluator& to) {
  if (&from == &to) return;
  to.mode = from.mode;
  to.parameters = from.parameters;
  to.centre = from.centre;
  to.transform = from.transform;
  to.sampling = from.sampling;
  std::scoped_lock lock(from.dirtyMutex, to.dirtyMutex);
  to.lastSeen = from.lastSeen;
  to.dirtyCount = from.dirtyCount;
}

Int32 FalloffDirtyCount(const FalloffEvaluator& evaluator, const Container* container) {
  std::lock_guard<std::mutex> lock(evaluator.dirtyMutex);
  if (container != nullptr) {
    const FalloffParameters now = ReadFalloffParameters(*container);
    if (!evaluator.lastSeen || !(*evaluator.lastSeen == now)) {
      evaluator.lastSeen = now;
      ++evaluator.dirtyCount;
    }
  }
  return evaluator.dirtyCount;
}

Int32 FalloffHandleCount(const Container& container) {
  return ReadFalloffParameters(container).shape == kFalloffShapeSphere ? 1 : 0;
}

HandleInfo FalloffHandle(const FalloffEvaluator& evaluator, const Container& container) {
  const FalloffParameters parameters = ReadFalloffParameters(container);
  HandleInfo info;
  info.position = {evaluator.centre.x + parameters.radius, evaluator.centre.y, evaluator.centre.z};
  info.direction = {1.0, 0.0, 0.0};
  info.type = 0;
  return info;
}

void MoveFalloffHandle(const FalloffEvaluator& evaluator, Container& container,
                       const Vector3& position) {
  container.SetFloat(kFalloffRadius, Length(Sub(position, evaluator.centre)));
}

bool PreSampleFalloff(FalloffEvaluator& evaluator, const FalloffInput& input) {
  const Float* t = input.transform;
  evaluator.transform.off = {t[0], t[1], t[2]};
  evaluator.transform.v1 = {t[3], t[4], t[5]};
  evaluator.transform.v2 = {t[6], t[7], t[8]};
  evaluator.transform.v3 = {t[9], t[10], t[11]};
  evaluator.sampling = evaluator.parameters.shape == kFalloffShapeSphere;
  return evaluator.sampling;
}

Float SampleFalloff(const FalloffEvaluator& evaluator, const Vector3& position) {
  if (!evaluator.sampling) return 1.0;
  const Vector3 world = Apply(evaluator.transform, position);
  return SphereWeight(evaluator.parameters, Length(Sub(world, evaluator.centre)));
}

}  // namespace headless
