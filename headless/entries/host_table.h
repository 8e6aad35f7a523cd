// The host table the headless host hands to plug-ins (p1 of the first system start): every
// operation of host/abi/table.h over the scene of headless/scene/. Each area fills its own entries,
// each through the one guard of entry_guard.h, and states its contracts beyond host/abi/table.h,
// in its unit:
//   node_entries.h          nodes, the tree, messages, dirty marks, deform state
//   selection_entries.h     selection and input state
//   undo_entries.h          undo groups
//   parameter_entries.h     parameters, links, include/exclude lists, containers
//   registration_entries.h  resources, strings, console, refresh, bitmaps, registrations
//   stream.h                the scene-file stream
//   mesh_entries.h          points, polygons, vertex maps
//   deform_entries.h        execution list, restriction weights, default drawing
//   adjacency.h             the Neighbor adjacency
//   falloff_entries.h       the falloff evaluator
//   thread_entries.h        host threads
#pragma once

#include "host/abi/table.h"

namespace headless {

const HostTable& HostTableInstance();

}  // namespace headless
