// The parameter entries of the host table: typed parameters of a node by id, links and
// include/exclude lists, and containers.
//
// Contracts beyond host/abi/table.h:
// - A read of an absent id, or of an id holding another type, answers false and leaves the
//   output alone.
// - linkResolve answers null for an empty link, a deleted target, a target of another type than a
//   non-zero filter, or a target outside the given document.
// - inExcludeIndex answers -1 for a node outside the given document (any document when null).
// - containerAlloc takes its record from the framework allocator (failure injection reaches it).
#pragma once

#include "host/abi/table.h"

namespace headless {

void InstallParameterEntries(HostTable& table);

}  // namespace headless
