// Numbers refused before they reach the plug-in: coordinates whose squares leave
// the float64 range, where lengths, areas and frames would come out infinite, zero or NaN.
#pragma once

#include <cmath>
#include <span>
#include <string>

#include "host/abi/types.h"

namespace headless {

// A coordinate is 0 or its size lies in [kSmallestCoordinate, kLargestCoordinate]: squared and
// summed, it stays a normal float64.
inline constexpr Float kLargestCoordinate = 1e150;
inline constexpr Float kSmallestCoordinate = 1e-150;

inline bool CoordinateInRange(Float c) {
  const Float size = std::fabs(c);
  return c == 0.0 || (size >= kSmallestCoordinate && size <= kLargestCoordinate);
}

// Throws std::invalid_argument "source: point N has the coordinate X; coordinates must be ..."
// naming the range; points are numbered from `firstNumber` (1 as in files, 0 as in arrays).
void CheckCoordinateRange(std::span<const Vector3> points, const std::string& source,
                          Int64 firstNumber = 1);

}  // namespace headless
