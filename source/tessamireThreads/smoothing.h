// The smoothing passes: each relaxes every point towards its edge neighbours, reading one
// position buffer and writing the other.
#pragma once

#include <span>

#include "source/tessamireThreads/neighbourhoods.h"

inline constexpr Int32 kWeightingUniform = 0;
inline constexpr Int32 kWeightingLength = 1;

// The smoothing settings of a bind tag: one value from the tag's parameters to the controller
// and its passes. Default-constructed it holds a new tag's settings, which the tag writes into
// its parameters when it is created.
struct SmoothingSettings {
  Int32 iterations = 2;  // number of passes; <= 0 leaves the points as they are
  // kWeightingUniform or kWeightingLength. Any other value defines no step: every point keeps
  // its position in every pass.
  Int32 weighting = kWeightingLength;
  Bool pinBorder = false;   // points with a border flag keep their position
  Float32 strength = 1.0f;  // step factor (the tag's float64 narrowed), widened at each use
  // Scale every step by the point's weight in `vertexMap`; no effect without a linked map.
  Bool useVertexMap = true;
  BaseTag* vertexMap = nullptr;  // the vertex-map tag the bind tag links, or null
};

// Positions travel as spans of one entry per point: `source` and `destination` of a pass hold the
// same count, the lists and border flags were built for it, and `weights` is either empty (no
// map) or holds the vertex map's weight of every point (the passes never look at
// settings.vertexMap).

// Step of point i: writes destination[i] only, reads source, point i's neighbour list and border
// flag, and weights[i] when there are weights. With P = source, n = the list's entry count:
//  - pinned border (pinBorder and flag 1): P[i];
//  - uniform: S = sum over the list in list order of (P[k] - P[i]), starting from zero;
//    D = S * (1 / m) with m = n, or 1 when n = 0;
//  - length-weighted: n = 0 gives P[i]; else for each entry in list order e = P[k] - P[i],
//    L = sqrt((e.x² + e.y²) + e.z²), S += e * L, W += L (both from zero); q = n * W, or 1 when
//    q is exactly 0; D = S * (1 / q);
//  then D *= weights[i] (when weights are given), then D *= strength, and P[i] + D.
void SmoothPoint(std::span<const Vector3> source, std::span<Vector3> destination, Int64 i,
                 const NeighbourLists& lists, const BorderFlags& border,
                 const SmoothingSettings& settings, std::span<const Float32> weights);

// One pass: SmoothPoint for every point of the source as one parallel loop. Every point sees only
// source positions, so the result does not depend on the order or the worker count.
void SmoothPass(std::span<const Vector3> source, std::span<Vector3> destination,
                const NeighbourLists& lists, const BorderFlags& border,
                const SmoothingSettings& settings, std::span<const Float32> weights);

// settings.iterations passes, exchanging the two buffers after each; answers the buffer that
// holds the newest positions (`source` when no pass runs).
std::span<Vector3> Smooth(std::span<Vector3> source, std::span<Vector3> destination,
                          const NeighbourLists& lists, const BorderFlags& border,
                          const SmoothingSettings& settings, std::span<const Float32> weights);

// settings.iterations passes starting from `points`, which are only read: the first pass reads
// `points` and writes `first`, the later ones alternate between `first` and `second` (which may
// be empty when at most one pass runs). Answers the buffer that holds the newest positions:
// `points` itself when no pass runs. Bit for bit Smooth on a copy of `points`.
std::span<const Vector3> SmoothFrom(std::span<const Vector3> points, std::span<Vector3> first,
                                    std::span<Vector3> second, const NeighbourLists& lists,
                                    const BorderFlags& border, const SmoothingSettings& settings,
                                    std::span<const Float32> weights);
