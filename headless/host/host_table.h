// The host table the headless host hands to plug-ins (p1 of the first system start): every
// operation of host/table.h over the scene of scene.h. Each area fills its own entries, and states
// its contracts beyond host/table.h, in its unit:
//   node_entries.h          nodes, the tree, messages, dirty marks, deform state
//   selection.h, undo.h     selection and input state; undo groups
//   parameter_entries.h     parameters, links, include/exclude lists, containers
//   registration_entries.h  resources, strings, console, refresh, bitmaps, registrations
//   stream.h                the scene-file stream
//   mesh_entries.h          points, polygons, vertex maps
//   deform.h                execution list, restriction weights, default drawing
//   adjacency.h             the Neighbor adjacency
//   falloff.h               the falloff evaluator
//   thread_entries.h        host threads
#pragma once

#include "host/abi/table.h"

namespace headless {

const HostTable& HostTableInstance();

}  // namespace headless
