#include "headless/scene/registry.h"

#include <algorithm>
#include <map>
#include <mutex>

#include "headless/scene/scene_state.h"
#include "host/abi/plugin_base.h"

namespace headless {

const char* PluginKindName(PluginKind kind) {
  switch (kind) {
    case PluginKind::kCommand:
      return "command";
    case PluginKind::kObject:
      return "object";
    case PluginKind::kTag:
      return "tag";
  }
  return "unknown";
}

namespace {

// The module whose entry runs on this thread: context of the call, not state of the host.
thread_local const void* t_currentModule = nullptr;

void DeleteCommand(CommandData* command) {
  delete command;  // virtual: the plug-in's destructor returns the memory to its allocator
}

bool IsRefused(Int32 id) {
  SceneState& state = TheSceneState();
  std::lock_guard<std::mutex> lock(state.mutex);
  return state.refusedRegistrations.count(id) != 0;
}

// Appends to one of the scene state's records.
void Record(std::vector<std::string> SceneState::*record, const std::string& line) {
  SceneState& state = TheSceneState();
  std::lock_guard<std::mutex> lock(state.mutex);
  (state.*record).push_back(line);
}

std::vector<std::string> Copy(std::vector<std::string> SceneState::*record) {
  SceneState& state = TheSceneState();
  std::lock_guard<std::mutex> lock(state.mutex);
  return state.*record;
}

}  // namespace

bool AddRegistration(Registration registration) {
  SceneState& state = TheSceneState();
  bool accepted = true;
  {
    std::lock_guard<std::mutex> lock(state.registryMutex);
    const bool duplicate =
        std::any_of(state.registrations.begin(), state.registrations.end(),
                    [&](const Registration& r) { return r.id == registration.id; });
    const bool incomplete = registration.kind == PluginKind::kCommand
                                ? registration.command == nullptr
                                : registration.allocate == nullptr;
    accepted = !duplicate && !incomplete && !IsRefused(registration.id);
    if (accepted) state.registrations.push_back(registration);
  }
  if (!accepted && registration.command != nullptr) DeleteCommand(registration.command);
  return accepted;
}

bool FindRegistration(Int32 id, Registration& out) {
  SceneState& state = TheSceneState();
  std::lock_guard<std::mutex> lock(state.registryMutex);
  for (const Registration& r : state.registrations) {
    if (r.id == id) {
      out = r;
      return true;
    }
  }
  return false;
}

std::vector<Registration> Registrations() {
  SceneState& state = TheSceneState();
  std::lock_guard<std::mutex> lock(state.registryMutex);
  return state.registrations;
}

namespace {
template <typename Predicate>
void RemoveWhere(Predicate remove) {
  SceneState& state = TheSceneState();
  std::vector<Registration> removed;
  {
    std::lock_guard<std::mutex> lock(state.registryMutex);
    for (auto it = state.registrations.begin(); it != state.registrations.end();) {
      if (remove(*it)) {
        removed.push_back(*it);
        it = state.registrations.erase(it);
      } else {
        ++it;
      }
    }
    for (const Registration& r : removed) state.descriptions.erase(r.id);
  }
  // Outside the lock: a destructor may call back into the host.
  for (const Registration& r : removed)
    if (r.command != nullptr) DeleteCommand(r.command);
}
}  // namespace

void RemoveRegistrations(const void* owner) {
  RemoveWhere([owner](const Registration& r) { return r.owner == owner; });
}

void ClearRegistrations() {
  RemoveWhere([](const Registration&) { return true; });
  SceneState& state = TheSceneState();
  std::lock_guard<std::mutex> lock(state.registryMutex);
  state.descriptions.clear();
}

void RefuseRegistration(Int32 id) {
  SceneState& state = TheSceneState();
  std::lock_guard<std::mutex> lock(state.mutex);
  state.refusedRegistrations.insert(id);
}

void SetCurrentModule(const void* owner) {
  t_currentModule = owner;
}
const void* CurrentModule() {
  return t_currentModule;
}

bool RegisterDescription(Int32 id, DescriptionData description) {
  SceneState& state = TheSceneState();
  std::lock_guard<std::mutex> lock(state.registryMutex);
  if (IsRefused(id)) return false;
  state.descriptions[id] = std::move(description);
  return true;
}

bool FindDescription(Int32 id, DescriptionData& out) {
  SceneState& state = TheSceneState();
  std::lock_guard<std::mutex> lock(state.registryMutex);
  const auto it = state.descriptions.find(id);
  if (it == state.descriptions.end()) return false;
  out = it->second;
  return true;
}

void ConsolePrintLine(const std::string& line) {
  Record(&SceneState::console, line);
}

std::vector<std::string> ConsoleLines() {
  return Copy(&SceneState::console);
}

void CountRefreshRequest() {
  TheSceneState().refreshRequests.fetch_add(1);
}
Int64 RefreshRequests() {
  return TheSceneState().refreshRequests.load();
}

void ReportHostError(const std::string& message) {
  Record(&SceneState::hostErrors, message);
}

std::vector<std::string> HostErrors() {
  return Copy(&SceneState::hostErrors);
}

void ClearHostErrors() {
  SceneState& state = TheSceneState();
  std::lock_guard<std::mutex> lock(state.mutex);
  state.hostErrors.clear();
}

void RecordThreadName(const std::string& name) {
  Record(&SceneState::threadNames, name);
}

std::vector<std::string> ThreadNames() {
  return Copy(&SceneState::threadNames);
}

}  // namespace headless
