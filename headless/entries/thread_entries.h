// The thread entries of the host table: host threads that run a plug-in's main callback once.
//
// Contracts beyond host/abi/table.h:
// - threadAlloc takes its record from the framework allocator (failure injection reaches it) and
//   answers null without a main callback.
// - threadStart records the thread's name (ThreadNames()) before it runs; a record runs once, a
//   second start answers false. A mode other than THREADMODE_ASYNC runs the callback on the
//   calling thread.
// - threadFree waits for the thread first.
#pragma once

#include "host/abi/table.h"

namespace headless {

void InstallThreadEntries(HostTable& table);

// Thread records allocated through the table and not yet freed.
Int64 LiveThreadRecords();

}  // namespace headless
