// The scene's process-wide state, in one object with one reset.
//
// The host application keeps some state for the whole process: what the user holds (keyboard
// qualifier, active document), what plug-ins told it (registrations, descriptions, console lines,
// refresh requests, the names of the threads they ran), its own diagnostics, the deformer types it
// runs natively and the nodes alive. The headless host adds a switch for tests (refused
// registrations). What of it the scene keeps lives here; what belongs to one node (its
// restriction, its messages) lives on the node and goes with it. The layers above keep their own
// part behind their own accessor, and their reset calls this one.
//
// The units that own each part keep the functions that set and read it (the registry in
// registry.h, the live nodes in scene.h, the input state in selection.h, ...); only they touch the
// members below. Everything here may be touched from any thread, including during an evaluation:
// atomics, or containers behind their mutex.
//
// Threads' own context (the module whose entry runs) is thread-local in the unit that sets it.
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

struct SceneState {
  // --- switches (put back by Reset) ---
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
  // Null: one plain copy. A layer above installs its own, as it registers native deformers.
  std::atomic<void (*)(const Vector3* from, Vector3* to, Int64 count)> deformCacheCopy{nullptr};

  // --- scene.h: every node alive by serial, and the next serial (kept by Reset) ---
  // Nodes still held by documents (or by a plug-in or a test) stay findable across a reset, and
  // serials are never reused. A node leaves the map when it is destroyed.
  std::shared_mutex liveMutex;
  std::unordered_map<UInt64, Node*> liveNodes;
  std::atomic<UInt64> nextSerial{1};

  // --- object_names.h: names compared in finding and naming objects, a count only ever added to
  // (kept by Reset, so a test's difference of two readings is the work between them) ---
  std::atomic<Int64> objectNamesCompared{0};

  // Puts the scene back as a fresh host starts, but for what still exists: every switch to its
  // start value (no qualifier, the input state available, no active document), every record
  // emptied, every registration and registered description removed (command instances deleted),
  // native deformer types back to the host's own. Kept: the live nodes and the serial counter, the
  // deform cache's copy, the count of names compared.
  // Not while an evaluation runs or a plug-in is being started.
  void Reset();
};

// Never destroyed, so that a diagnostic or a node's destruction during the process's exit (a
// plug-in unloaded by a static destructor) still finds it.
inline SceneState& TheSceneState() {
  static SceneState* const state = new SceneState;
  return *state;
}

}  // namespace headless
