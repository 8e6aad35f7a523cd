// The headless host's process-wide switches and records, in one object with one reset.
//
// The host application keeps some state for the whole process: what the user holds (keyboard
// qualifier, active document), what plug-ins told it (console lines, refresh requests, the
// names of the threads they ran) and its own diagnostics. The headless host adds switches for
// tests (a failing allocation, a withheld falloff library, refused registrations, a failing
// flush to disk). All of it lives here, so that TheHostState().Reset() puts the host back as it
// starts; every test fixture calls it before and after its test. The one exception is the
// failing flush: the platform layer below keeps it (FailNthFlush), and Reset disarms it there.
//
// The units that own each switch keep the functions that set and read it (FailNthAllocation,
// WithholdFalloffLibrary, RefuseRegistration, SetKeyboardQualifier, SetActiveDocument,
// ConsoleLines, ...); only they touch the members below.
#pragma once

#include <atomic>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "host/abi/types.h"

namespace headless {

class Document;

struct HostState {
  // headless/host/framework.h: the allocation attempt that fails (0: none); the switch
  // g_enableParallelFor; the workers loops use (0: one per hardware thread).
  std::atomic<Int64> failingAllocation{0};
  std::atomic<bool> enableParallelFor{true};
  std::atomic<Int32> workers{0};
  // falloff.h: while set, the falloff library supplies no evaluator.
  std::atomic<bool> falloffWithheld{false};
  // selection.h: the input state and the document commands run on.
  std::atomic<Int32> keyboardQualifier{0};
  std::atomic<bool> inputStateAvailable{true};
  std::atomic<Document*> activeDocument{nullptr};
  // registry.h: refresh requests made through the table.
  std::atomic<Int64> refreshRequests{0};

  // registry.h, guarded by `mutex`: registration ids the host refuses, console lines, host
  // diagnostics, and the names of host threads that ran, each in order.
  std::mutex mutex;
  std::set<Int32> refusedRegistrations;
  std::vector<std::string> console;
  std::vector<std::string> hostErrors;
  std::vector<std::string> threadNames;

  // Puts every member back to its start value (parallel loops on, one worker per hardware
  // thread), and besides removes every registration and registered description (registry.h).
  // Native deformer types (native_deformers.h) stay: they are the host's own. Not while a loop
  // runs or a plug-in is being started.
  void Reset();
};

// Never destroyed, so that an allocation or a diagnostic during the process's exit (a plug-in
// unloaded by a static destructor) still finds it.
inline HostState& TheHostState() {
  static HostState* const state = new HostState;
  return *state;
}

}  // namespace headless
