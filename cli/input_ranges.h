// Numbers the program refuses before they reach the plug-in: coordinates whose squares leave
// the float64 range, where lengths, areas and frames would come out infinite, zero or NaN.
#pragma once

#include <span>
#include <string>

#include "host/abi/types.h"

namespace cli {

// A coordinate is 0 or its size lies in [kSmallestCoordinate, kLargestCoordinate]: squared and
// summed, it stays a normal float64.
inline constexpr Float kLargestCoordinate = 1e150;
inline constexpr Float kSmallestCoordinate = 1e-150;

// Throws std::runtime_error "source: point N has the coordinate X, outside ..." naming the range.
void CheckCoordinateRange(std::span<const Vector3> points, const std::string& source);

}  // namespace cli
