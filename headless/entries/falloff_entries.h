// The falloff entries of the host table (`falloff*`, host library 1019541) over the evaluator of
// headless/deformers/falloff.h. Evaluators come from the framework allocator, so that tests can
// make their allocation fail; a null handle or container answers false, 0 or nothing.
#pragma once

#include "host/abi/table.h"

namespace headless {

// Evaluators allocated through the table and not yet freed.
Int64 LiveFalloffs();

// While withheld, the library supplies no evaluator: allocation answers null (tests use it to
// reach the deformer's paths without one). ResetHostState (entries_state.h) ends it.
void WithholdFalloffLibrary(bool withheld);

void InstallFalloffEntries(HostTable& table);

}  // namespace headless
