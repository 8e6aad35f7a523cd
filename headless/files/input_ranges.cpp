#include "headless/files/input_ranges.h"

#include <stdexcept>

#include "headless/files/shortest_number.h"

namespace headless {

void CheckCoordinateRange(std::span<const Vector3> points, const std::string& source,
                          Int64 firstNumber) {
  for (size_t i = 0; i < points.size(); ++i) {
    for (const Float c : {points[i].x, points[i].y, points[i].z}) {
      if (CoordinateInRange(c)) continue;
      throw std::invalid_argument(source + ": point " +
                                  std::to_string(static_cast<Int64>(i) + firstNumber) +
                                  " has the coordinate " + ShortestNumber(c) +
                                  "; coordinates must be 0 or between 1e-150 and 1e150 in size");
    }
  }
}

}  // namespace headless
