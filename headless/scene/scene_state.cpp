#include "headless/scene/scene_state.h"

#include "headless/scene/registry.h"

namespace headless {

void SceneState::Reset() {
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
}

}  // namespace headless
