// The smoothing passes: each relaxes every point towards its edge neighbours, reading one
// position buffer and writing the other.
#pragma once

#include "source/tessamireThreads/neighbourhoods.h"

inline constexpr Int32 kWeightingUniform = 0;
inline constexpr Int32 kWeightingLength = 1;

// The smoothing settings of one run (from the bind tag).
struct SmoothOptions {
  Int32 iterations = 0;  // number of passes; <= 0 leaves the points as they are
  // kWeightingUniform or kWeightingLength. Any other value defines no step: every point keeps
  // its position in every pass.
  Int32 weighting = kWeightingUniform;
  Bool pinBorder = false;            // points with a border flag keep their position
  const Float32* weights = nullptr;  // vertex-map weight per point, or null for no map
  Float32 strength = 1.0f;           // step factor, widened to float64 at each use
};

// Step of point i: writes destination[i] only, reads source (pointCount entries), point i's
// neighbour list and border flag, and weights[i]. With P = source, n = the list's entry count:
//  - pinned border (pinBorder and flag 1): P[i];
//  - uniform: S = sum over the list in list order of (P[k] - P[i]), starting from zero;
//    D = S * (1 / m) with m = n, or 1 when n = 0;
//  - length-weighted: n = 0 gives P[i]; else for each entry in list order e = P[k] - P[i],
//    L = sqrt((e.x² + e.y²) + e.z²), S += e * L, W += L (both from zero); q = n * W, or 1 when
//    q is exactly 0; D = S * (1 / q);
//  then D *= weights[i] (when weights are given), then D *= strength, and P[i] + D.
void SmoothPoint(const Vector3* source, Vector3* destination, Int64 i, const NeighbourLists& lists,
                 const BorderFlags& border, const SmoothOptions& settings);

// One pass: SmoothPoint for every point of [0, pointCount) as one parallel loop. Every point sees
// only source positions, so the result does not depend on the order or the worker count.
void SmoothPass(const Vector3* source, Vector3* destination, Int32 pointCount,
                const NeighbourLists& lists, const BorderFlags& border,
                const SmoothOptions& settings);

// settings.iterations passes, exchanging the two buffers after each; answers the buffer that
// holds the newest positions (`source` when no pass runs). Both hold pointCount entries.
Vector3* Smooth(Vector3* source, Vector3* destination, Int32 pointCount,
                const NeighbourLists& lists, const BorderFlags& border,
                const SmoothOptions& settings);
