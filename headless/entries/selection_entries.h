// The selection and input entries of the host table: atomArrayAlloc (through the framework
// allocator, so it can be made to fail), atomArrayFree, atomArrayCount, atomArrayIndex (null out
// of range), documentGetActiveObjects (replaces the array's contents with ActiveObjects of
// headless/scene/selection.h) and getInputState (device BFM_INPUT_KEYBOARD, channel
// BFM_INPUT_CHANNEL: sets BFM_INPUT_QUALIFIER in the container; false for any other device or
// channel, and while the input state is unavailable).
#pragma once

#include "host/abi/table.h"

namespace headless {

void InstallSelectionEntries(HostTable& table);

}  // namespace headless
