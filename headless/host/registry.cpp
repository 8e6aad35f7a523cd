#include "headless/host/registry.h"

#include <algorithm>
#include <atomic>
#include <map>
#include <mutex>
#include <set>

#include "host/plugin_base.h"

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

std::mutex g_mutex;
std::vector<Registration> g_registrations;
std::set<Int32> g_refused;
std::map<Int32, DescriptionData> g_descriptions;
std::vector<std::string> g_console;
std::vector<std::string> g_errors;
std::vector<std::string> g_threadNames;
std::atomic<Int64> g_refreshes{0};
thread_local const void* t_currentModule = nullptr;

void DeleteCommand(CommandData* command) {
  delete command;  // virtual: the plug-in's destructor returns the memory to its allocator
}

}  // namespace

bool AddRegistration(Registration registration) {
  bool accepted = true;
  {
    std::lock_guard<std::mutex> lock(g_mutex);
    const bool duplicate =
        std::any_of(g_registrations.begin(), g_registrations.end(),
                    [&](const Registration& r) { return r.id == registration.id; });
    const bool incomplete = registration.kind == PluginKind::kCommand
                                ? registration.command == nullptr
                                : registration.allocate == nullptr;
    accepted = !duplicate && !incomplete && g_refused.count(registration.id) == 0;
    if (accepted) g_registrations.push_back(registration);
  }
  if (!accepted && registration.command != nullptr) DeleteCommand(registration.command);
  return accepted;
}

bool FindRegistration(Int32 id, Registration& out) {
  std::lock_guard<std::mutex> lock(g_mutex);
  for (const Registration& r : g_registrations) {
    if (r.id == id) {
      out = r;
      return true;
    }
  }
  return false;
}

std::vector<Registration> Registrations() {
  std::lock_guard<std::mutex> lock(g_mutex);
  return g_registrations;
}

namespace {
template <typename Predicate>
void RemoveWhere(Predicate remove) {
  std::vector<Registration> removed;
  {
    std::lock_guard<std::mutex> lock(g_mutex);
    for (auto it = g_registrations.begin(); it != g_registrations.end();) {
      if (remove(*it)) {
        removed.push_back(*it);
        it = g_registrations.erase(it);
      } else {
        ++it;
      }
    }
    for (const Registration& r : removed) g_descriptions.erase(r.id);
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
  std::lock_guard<std::mutex> lock(g_mutex);
  g_descriptions.clear();
}

void RefuseRegistration(Int32 id) {
  std::lock_guard<std::mutex> lock(g_mutex);
  g_refused.insert(id);
}

void ClearRefusals() {
  std::lock_guard<std::mutex> lock(g_mutex);
  g_refused.clear();
}

void SetCurrentModule(const void* owner) {
  t_currentModule = owner;
}
const void* CurrentModule() {
  return t_currentModule;
}

bool RegisterDescription(Int32 id, DescriptionData description) {
  std::lock_guard<std::mutex> lock(g_mutex);
  if (g_refused.count(id) != 0) return false;
  g_descriptions[id] = std::move(description);
  return true;
}

bool FindDescription(Int32 id, DescriptionData& out) {
  std::lock_guard<std::mutex> lock(g_mutex);
  const auto it = g_descriptions.find(id);
  if (it == g_descriptions.end()) return false;
  out = it->second;
  return true;
}

void ConsolePrintLine(const std::string& line) {
  std::lock_guard<std::mutex> lock(g_mutex);
  g_console.push_back(line);
}

std::vector<std::string> ConsoleLines() {
  std::lock_guard<std::mutex> lock(g_mutex);
  return g_console;
}

void ClearConsole() {
  std::lock_guard<std::mutex> lock(g_mutex);
  g_console.clear();
}

void CountRefreshRequest() {
  g_refreshes.fetch_add(1);
}
Int64 RefreshRequests() {
  return g_refreshes.load();
}

void ReportHostError(const std::string& message) {
  std::lock_guard<std::mutex> lock(g_mutex);
  g_errors.push_back(message);
}

std::vector<std::string> HostErrors() {
  std::lock_guard<std::mutex> lock(g_mutex);
  return g_errors;
}

void ClearHostErrors() {
  std::lock_guard<std::mutex> lock(g_mutex);
  g_errors.clear();
}

void RecordThreadName(const std::string& name) {
  std::lock_guard<std::mutex> lock(g_mutex);
  g_threadNames.push_back(name);
}

std::vector<std::string> ThreadNames() {
  std::lock_guard<std::mutex> lock(g_mutex);
  return g_threadNames;
}

void ClearThreadNames() {
  std::lock_guard<std::mutex> lock(g_mutex);
  g_threadNames.clear();
}

}  // namespace headless
