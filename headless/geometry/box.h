// Axis-aligned boxes around points: what a camera frames when it is told to look at some points
// rather than at whole meshes (the focus of `tessamire render` and of the page `tessamire view`
// writes).
#pragma once

#include <optional>
#include <span>
#include <utility>

#include "host/abi/types.h"

namespace headless {

// A box by its low and high corner.
using Box = std::pair<Vector3, Vector3>;

// Grows `box` (made when there is none) to hold `more`.
void Enclose(std::optional<Box>& box, const Box& more);

// The box of the points whose weight is not 0 (`weights` one per point; points past the end of
// `weights` are left out), or none when every weight is 0.
std::optional<Box> WeightedBounds(std::span<const Vector3> points,
                                  std::span<const Float32> weights);

// The box of every point. `points` must not be empty.
Box Bounds(std::span<const Vector3> points);

}  // namespace headless
