// The apply step: rebuilds every point of a deformed object from its frame on the smoothed mesh
// and the tag's difference, blended by restriction and falloff weights, in place, in parallel.
#pragma once

#include "host/services.h"
#include "source/tessamireThreads/frame.h"

// Everything one point's step reads; never written while the loop runs.
struct ApplyContext {
  Bool showSmoothed = false;      // output the smoothed positions (the frames' origins)
  Bool falloffActive = false;     // the falloff evaluator answers samples
  Vector3* points = nullptr;      // the object's points, point count entries, read and written
  const Frame* frames = nullptr;  // one per point, from the core run
  const Float32* hostWeights = nullptr;  // restriction weights, one per point, or null
  const Vector3* differences = nullptr;  // the tag's differences, one per point
  const Falloff* falloff = nullptr;
};

// Point i: T = origin (show smoothed) or the decoded difference; then
// with restriction weight r: P' = (r*T + (1-r)*P)*w + (1-w)*P, without: P' = w*T + (1-w)*P,
// per component in float64, w the falloff weight sampled at the current point (1 when inactive).
void ApplyPoint(const ApplyContext& context, Int64 i);

// The sample-input record of the falloff evaluator for `pointCount` points under `objectMatrix`.
FalloffInput MakeFalloffInput(const Vector3* points, Int32 pointCount, const Matrix& objectMatrix);

// Pre-samples the falloff (when there is one) and runs ApplyPoint over every point.
void Apply(BaseDocument* doc, BaseList2D* deformer, const Matrix& objectMatrix, Int32 pointCount,
           ApplyContext context, Falloff* falloff);
