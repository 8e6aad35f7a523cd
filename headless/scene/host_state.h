// The headless host's process-wide state, in one object with one reset.
//
// The host application keeps some state for the whole process: what the user holds (keyboard
// qualifier, active document), what plug-ins told it (registrations, descriptions, console lines,
// refresh requests, the names of the threads they ran), its own diagnostics, the books of its
// allocator and the nodes alive. The headless host adds switches for tests (a failing
// allocation, a withheld falloff library, refused registrations). All of it lives here; what
// belongs to one node (its restriction, its messages) lives on the node and goes with it. The
// one switch kept below, in the platform layer, is the failing flush to disk (FailNthFlush);
// Reset disarms it there.
//
// The units that own each part keep the functions that set and read it (FailNthAllocation and
// GetAllocationStats in headless/entries/framework.h, the registry in registry.h, the live nodes in
// scene.h, ...); only they touch the members below. Everything here may be touched from any
// thread, including during an evaluation: atomics, or containers behind their mutex.
//
// Threads' own context (the module whose entry runs, whether a thread is inside a parallel loop)
// is thread-local in the units that set it; the operating system's (the Ctrl-C flag, open pipes)
// stays in headless/platform/, below this layer.
#pragma once

#include <atomic>
#include <map>
#include <mutex>
#include <set>
#include <shared_mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "headless/scene/native_deformers.h"
#include "headless/scene/registry.h"
#include "host/abi/types.h"

namespace headless {

struct HostState {
  // --- switches (put back by Reset) ---
  // headless/entries/framework.h: the allocation attempt that fails (0: none); the switch
  // g_enableParallelFor; the workers loops use (0: one per hardware thread).
  std::atomic<Int64> failingAllocation{0};
  std::atomic<bool> enableParallelFor{true};
  std::atomic<Int32> workers{0};
  // headless/entries/falloff_entries.h: while set, the falloff library supplies no evaluator.
  std::atomic<bool> falloffWithheld{false};
  // selection.h: the input state and the document commands run on (cleared as well when that
  // document is destroyed).
  std::atomic<Int32> keyboardQualifier{0};
  std::atomic<bool> inputStateAvailable{true};
  std::atomic<Document*> activeDocument{nullptr};

  // --- records for observers (emptied by Reset) ---
  // registry.h: refresh requests made through the table; guarded by `mutex`: registration ids
  // the host refuses, console lines, host diagnostics, and the names of host threads that ran,
  // each in order.
  std::atomic<Int64> refreshRequests{0};
  std::mutex mutex;
  std::set<Int32> refusedRegistrations;
  std::vector<std::string> console;
  std::vector<std::string> hostErrors;
  std::vector<std::string> threadNames;

  // --- registry.h: what plug-ins registered (removed by Reset) ---
  // Guarded by `registryMutex`, which is taken before `mutex` when both are.
  std::mutex registryMutex;
  std::vector<Registration> registrations;
  std::map<Int32, DescriptionData> descriptions;

  // --- native_deformers.h: deformer types the host runs natively, under `nativeMutex` ---
  // The host's own (InstallNativeDeformers) stay for the process; those registered since (by a
  // test) are dropped by Reset.
  struct NativeTypes {
    NativeDeformers routines;
    std::vector<FrameAnimation> animations;
  };
  std::mutex nativeMutex;
  NativeTypes hostNatives;
  NativeTypes addedNatives;

  // --- deform.h: how the deform pass copies points into a deform cache (kept by Reset) ---
  // Null: one plain copy. The host layer installs its own, as it does its native deformers.
  std::atomic<void (*)(const Vector3* from, Vector3* to, Int64 count)> deformCacheCopy{nullptr};

  // --- headless/entries/framework.h: the framework allocator's books ---
  // Reset zeroes the counts of events (attempts, allocations) and brings the peak down to the
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

  // --- records a plug-in holds (kept by Reset: they count what is still alive) ---
  // headless/entries/: resource sets, falloff evaluators and thread records not yet freed.
  std::atomic<Int64> liveResources{0};
  std::atomic<Int64> liveFalloffs{0};
  std::atomic<Int64> liveThreads{0};

  // --- scene.h: every node alive by serial, and the next serial (kept by Reset) ---
  // Nodes still held by documents (or by a plug-in or a test) stay findable across a reset, and
  // serials are never reused. A node leaves the map when it is destroyed.
  std::shared_mutex liveMutex;
  std::unordered_map<UInt64, Node*> liveNodes;
  std::atomic<UInt64> nextSerial{1};

  // Puts the host back as a fresh one starts, but for what still exists: every switch to its
  // start value (no failing allocation, parallel loops on, one worker per hardware thread, the
  // falloff library there, no qualifier, the input state available, no active document), every
  // record emptied, every registration and registered description removed (command instances
  // deleted), native deformer types back to the host's own, the allocator's event counts zeroed.
  // Kept: the live nodes and the serial counter, the live counts, the blocks in use and cached,
  // the deform cache's copy.
  // Not while a loop runs or a plug-in is being started.
  void Reset();
};

// Never destroyed, so that an allocation or a diagnostic during the process's exit (a plug-in
// unloaded by a static destructor) still finds it.
inline HostState& TheHostState() {
  static HostState* const state = new HostState;
  return *state;
}

}  // namespace headless
