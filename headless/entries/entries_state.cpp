#include "headless/entries/entries_state.h"

#include "headless/platform/files.h"
#include "headless/scene/scene_state.h"

namespace headless {

void ResetHostState() {
  EntriesState& state = TheEntriesState();
  state.failingAllocation = 0;
  state.parallelForEnabled = true;
  state.workers = 0;
  state.falloffWithheld = false;
  // Before the allocator's counts: deleting the registered command instances may free blocks.
  TheSceneState().Reset();
  state.allocator.attempts = 0;
  state.allocator.allocations = 0;
  state.allocator.peakBytes = state.allocator.bytesInUse.load();
  platform::FailNthFlush(0);
}

}  // namespace headless
