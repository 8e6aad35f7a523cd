// The plug-in's ids as the tests name them, and the plain mesh record the scene fixtures build.
#pragma once

#include "headless/geometry/mesh.h"
#include "headless/host/tessamire_ids.h"

namespace plugin_ids {

using namespace tessamire_ids;

using headless::Mesh;

}  // namespace plugin_ids
