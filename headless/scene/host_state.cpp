#include "headless/scene/host_state.h"

#include "headless/platform/platform.h"
#include "headless/scene/registry.h"

namespace headless {

void HostState::Reset() {
  failingAllocation = 0;
  enableParallelFor = true;
  workers = 0;
  falloffWithheld = false;
  keyboardQualifier = 0;
  inputStateAvailable = true;
  activeDocument = nullptr;
  refreshRequests = 0;
  {
    std::lock_guard<std::mutex> lock(mutex);
    refusedRegistrations.clear();
    console.clear();
    hostErrors.clear();
    threadNames.clear();
  }
  ClearRegistrations();
  {
    std::lock_guard<std::mutex> lock(nativeMutex);
    addedNatives = {};
  }
  allocator.attempts = 0;
  allocator.allocations = 0;
  allocator.peakBytes = allocator.bytesInUse.load();
  platform::FailNthFlush(0);
}

}  // namespace headless
