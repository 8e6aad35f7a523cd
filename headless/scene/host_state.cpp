#include "headless/scene/host_state.h"

#include "headless/platform/platform.h"
#include "headless/scene/registry.h"

namespace headless {

void HostState::Reset() {
  failingAllocation = 0;
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
  enableParallelFor = true;
  workers = 0;
  ClearRegistrations();
  platform::FailNthFlush(0);
}

}  // namespace headless
