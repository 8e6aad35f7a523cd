// The registration entries of the host table: what a plug-in hands the host and asks of it at
// start-up and for its user interface. Resources and resource strings, host text of numbers, the
// console, refresh requests, bitmaps, registrations of commands, objects and tags, and their
// descriptions.
//
// Contracts beyond host/abi/table.h:
// - resourceLoad answers null, with the reason in HostErrors(), when the strings of the `res`
//   folder are missing or malformed (resources.h).
// - registerCommand: the host owns the command instance from the call on, accepted or not.
// - registerDescription: with no resources loaded (res null) an empty description is
//   registered, so that names and descriptions come up empty; with resources loaded, a missing
//   or malformed description file fails the call (the fault is in HostErrors()).
// - bitmapLoad answers 0 when the image was loaded, non-zero otherwise (bitmap.h).
// - Registrations belong to the module whose entry is running (registry.h CurrentModule).
// - eventAdd counts a refresh request (RefreshRequests()).
#pragma once

#include "host/abi/table.h"

namespace headless {

void InstallRegistrationEntries(HostTable& table);

// Resource sets loaded through the table and not yet freed.
Int64 LiveResourceSets();

}  // namespace headless
