// The whole evaluation written the straightforward way, single-threaded, as a baseline for the
// benchmarks: edges found through a std::map of point pairs, neighbour and polygon lists as
// vectors of vectors, then the same smoothing, frames and decode rules as the plug-in's, so that
// its result matches the plug-in's up to rounding.
#pragma once

#include <array>
#include <vector>

#include "host/abi/types.h"

namespace baseline {

using Vec = std::array<double, 3>;
using Quad = std::array<int, 4>;  // a, b, c, d; a triangle repeats c as d

struct Settings {
  int iterations = 2;
  bool lengthWeighted = true;
  bool pinBorder = false;
  float strength = 1.0f;
};

// One frame per point: origin, then the three axes.
struct Frame {
  Vec origin{}, axis1{}, axis2{}, axis3{};
};

// The frames of the smoothed mesh.
std::vector<Frame> Frames(const std::vector<Vec>& points, const std::vector<Quad>& faces,
                          const Settings& settings);

// The bind: each rest point in its frame's inverse (a singular frame: its offset from the origin).
std::vector<Vec> Encode(const std::vector<Vec>& rest, const std::vector<Quad>& faces,
                        const Settings& settings);

// One evaluation: frames of the posed mesh, each stored difference put back in its frame.
std::vector<Vec> Evaluate(const std::vector<Vec>& posed, const std::vector<Quad>& faces,
                          const std::vector<Vec>& differences, const Settings& settings);

std::vector<Vec> ToVecs(const std::vector<Vector3>& points);
std::vector<Quad> ToQuads(const std::vector<CPolygon>& polygons);

}  // namespace baseline
