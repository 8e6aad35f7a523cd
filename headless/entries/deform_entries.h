// The deformer entries of the host table: priorityListAdd (appends to the ExecutionList of
// headless/scene/deform.h), restrictionWeights (a framework-allocated copy of the restriction
// map's weights, or null when the deformer is not restricted, the map is gone or sits on another
// object, or its weight count differs from the object's point count) and objectDefaultDraw.
#pragma once

#include "host/abi/table.h"

namespace headless {

void InstallDeformEntries(HostTable& table);

}  // namespace headless
