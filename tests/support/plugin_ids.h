// The plug-in's ids (host/abi/ids.h) for the tests that drive it, and the plain mesh record the
// scene fixtures build.
#pragma once

#include "headless/geometry/mesh.h"
#include "host/abi/ids.h"

namespace plugin_ids {

using headless::Mesh;

}  // namespace plugin_ids
