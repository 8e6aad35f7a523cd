// What the table's entries and the framework keep for the whole process, in one object, and the
// one reset of the headless host's process-wide state.
//
// The host application's allocator keeps its books for the process, and its loops one worker
// count and switch; the headless host adds switches for tests (a failing allocation, a withheld
// falloff library) and counts of what a plug-in holds, so that a test sees what it left alive.
// The units that own each part keep the functions that set and read it (FailNthAllocation,
// GetAllocationStats and the parallel-loop switch in framework.h, the falloff library in
// falloff_entries.h, ...); only they touch the members below. Everything here may be touched
// from any thread, including during an evaluation: atomics, or containers behind their mutex.
//
// The layers below keep their own parts behind their own accessors: the scene's (registry,
// records, native deformer types, live nodes, input state) in headless/scene/scene_state.h, the
// failing flush to disk in headless/platform. ResetHostState puts back every part.
//
// Threads' own context (whether a thread is inside a parallel loop, the workers its loops use) is
// thread-local in framework.cpp.
#pragma once

#include <atomic>
#include <map>
#include <mutex>

#include "host/abi/types.h"

namespace headless {

struct EntriesState {
  // --- switches (put back by ResetHostState) ---
  // framework.h: the allocation attempt that fails (0: none); whether loops run in parallel;
  // the workers loops use (0: one per hardware thread).
  std::atomic<Int64> failingAllocation{0};
  std::atomic<bool> parallelForEnabled{true};
  std::atomic<Int32> workers{0};
  // falloff_entries.h: while set, the falloff library supplies no evaluator.
  std::atomic<bool> falloffWithheld{false};

  // --- framework.h: the framework allocator's books ---
  // The reset zeroes the counts of events (attempts, allocations) and brings the peak down to the
  // bytes in use; the blocks in use and the cache of freed blocks stay, as the memory does.
  struct Allocator {
    std::atomic<Int64> attempts{0};
    std::atomic<Int64> allocations{0};
    std::atomic<Int64> bytesInUse{0};
    std::atomic<Int64> peakBytes{0};
    std::atomic<Int64> blocksInUse{0};
    std::mutex cacheMutex;              // guards the two below
    std::multimap<Int64, char*> cache;  // freed blocks kept for reuse: capacity -> raw block
    Int64 cachedBytes = 0;
  } allocator;

  // --- records a plug-in holds (kept by the reset: they count what is still alive) ---
  // Resource sets (registration_entries.h), falloff evaluators (falloff_entries.h) and thread
  // records (thread_entries.h) not yet freed.
  std::atomic<Int64> liveResources{0};
  std::atomic<Int64> liveFalloffs{0};
  std::atomic<Int64> liveThreads{0};
};

// Never destroyed, so that an allocation during the process's exit (a plug-in unloaded by a
// static destructor) still finds it.
inline EntriesState& TheEntriesState() {
  static EntriesState* const state = new EntriesState;
  return *state;
}

// Puts the host back as a fresh one starts, but for what still exists: every switch to its start
// value (no failing allocation, parallel loops on, one worker per hardware thread, the falloff
// library there; the scene's input state and the platform's failing flush too), the allocator's
// event counts zeroed and its peak down to the bytes in use, and the scene's part reset
// (SceneState::Reset: records emptied, registrations removed, native deformer types back to the
// host's own). Kept: the live counts, the blocks in use and cached, and what the scene keeps (the
// live nodes, the serial counter). Every test fixture calls it before and after its test.
// Not while a loop runs or a plug-in is being started.
void ResetHostState();

}  // namespace headless
