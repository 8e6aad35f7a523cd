// The apply step: rebuilds every point of a deformed object from its frame on the smoothed mesh
// and the tag's difference, blended by restriction and falloff weights, in place. It runs as the
// sink of the core's frame blocks, so each block of points is rebuilt as soon as its frames exist.
#pragma once

#include <atomic>
#include <span>

#include "host/binding/services.h"
#include "source/tessamireThreads/frame.h"
#include "source/tessamireThreads/frames.h"

// Everything one point's step reads; never written while the loop runs but for the count.
struct ApplyContext {
  Bool showSmoothed = false;             // output the smoothed positions (the frames' origins)
  Bool falloffActive = false;            // the falloff evaluator answers samples
  std::span<Vector3> points;             // the object's points, read and written
  std::span<const Float32> hostWeights;  // restriction weights, one per point, or empty for none
  std::span<const Vector3> differences;  // the tag's differences, one per point
  const Falloff* falloff = nullptr;
  // How many points kept their input position because their result was not finite; summed over
  // the blocks (an integer sum, the same whatever the order).
  std::atomic<Int64>* keptPoints = nullptr;
};

// Point i with its frame f. When not showing the smoothed mesh and f is singular (determinant
// exactly 0), the point keeps its input position: a singular frame cannot place a difference.
// Otherwise T = origin (show smoothed) or the decoded difference; then with restriction weight r:
// P' = (r*T + (1-r)*P)*w + (1-w)*P, without: P' = w*T + (1-w)*P, per component in float64, w the
// falloff weight sampled at the current point (1 when inactive). A P' with a component that is
// not finite is not written: the point keeps P, and the answer is true.
Bool ApplyPoint(const ApplyContext& context, Int64 i, const Frame& f);

// The sample-input record of the falloff evaluator for `points` under `objectMatrix`.
FalloffInput MakeFalloffInput(std::span<const Vector3> points, const Matrix& objectMatrix);

// Pre-samples the falloff (when there is one) on context.points and sets falloffActive.
void PrepareApply(BaseDocument* doc, BaseList2D* deformer, const Matrix& objectMatrix,
                  Falloff* falloff, ApplyContext& context);

// The frame sink that runs ApplyPoint over each block (context: the ApplyContext).
FrameSink ApplySink(const ApplyContext& context);
