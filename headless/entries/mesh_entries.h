// The mesh entries of the host table: point and polygon data of polygon objects, and vertex
// maps. (Restriction weights come with the deform pass, deform.h; the adjacency from
// adjacency.h.)
//
// Contracts beyond host/abi/table.h:
// - While an object's deform cache is in use (Node::useDeformCache), its point entries read and
//   write the cache instead of the stored points.
// - An empty array answers null; a node of another kind answers count 0 and null.
#pragma once

#include "host/abi/table.h"

namespace headless {

void InstallMeshEntries(HostTable& table);

}  // namespace headless
