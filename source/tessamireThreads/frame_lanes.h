// The vertex-frame axes of two points at once, one per lane of a pair of float64. Every lane goes
// through exactly the operations of the one-point rule (ComputeVertexFrame) in the same order;
// square roots and divisions of a pair are single IEEE operations per lane, so each lane's bits
// equal the one-point result. Only the latency of those long operations is shared.
#pragma once

#include "host/abi/types.h"

// Everything one point's axes need, gathered by the caller: the sum of its polygons' normals in
// list order, the factor 1/n (1 when n = 0), its smoothed position, the positions of its first
// polygon's corner pair, and whether that pair exists.
struct FrameInput {
  Vector3 normalSum;
  Float inverseCount = 1.0;
  Vector3 here, first, second;
  Bool hasPair = false;
};

struct FrameAxes {
  Vector3 axis1, axis2, axis3;
};

// The axes of one point: axis3 = normalise(normalSum * inverseCount); with a pair,
// t = normalise((here - second) + (first - here)), axis1 = normalise(axis3 x t),
// axis2 = axis3 x axis1, else both zero; then axis1, axis2, axis3 normalised again in that order.
FrameAxes FrameAxesOf(const FrameInput& in);

// The same for two points, lane by lane; bit for bit the results of FrameAxesOf on each. Uses
// paired float64 operations where the processor has them, else FrameAxesOf twice.
void FrameAxesOfPair(const FrameInput& a, const FrameInput& b, FrameAxes& outA, FrameAxes& outB);

// The same for four points, as two pairs whose operations are interleaved; bit for bit the results
// of FrameAxesOf on each.
void FrameAxesOfFour(const FrameInput in[4], FrameAxes out[4]);
