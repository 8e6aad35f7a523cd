// The plug-in's ids as the tests name them, and the plain mesh record the scene fixtures build.
#pragma once

#include <vector>

#include "headless/host/tessamire_ids.h"

namespace plugin_ids {

using namespace tessamire_ids;

struct Mesh {
  std::vector<Vector3> points;
  std::vector<CPolygon> polygons;
};

}  // namespace plugin_ids
