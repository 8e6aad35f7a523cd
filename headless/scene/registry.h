// What the headless host keeps of its plug-ins and of what they told it: registrations,
// registered descriptions, the console, refresh requests, the names of host threads that ran,
// and host diagnostics. Process-wide, like the host application's own lists; every function is
// safe to call from any thread. All of it is emptied by TheSceneState().Reset() (scene_state.h).
#pragma once

#include <string>
#include <vector>

#include "headless/scene/description.h"
#include "host/abi/table.h"

namespace headless {

enum class PluginKind { kCommand, kObject, kTag };
const char* PluginKindName(PluginKind kind);

struct Registration {
  PluginKind kind = PluginKind::kCommand;
  Int32 id = 0;
  std::string name;
  Int32 flags = 0;
  std::string description;  // description resource name; empty for commands
  std::string help;         // commands only
  Int32 iconWidth = 0;      // 0 x 0 when the icon could not be loaded
  Int32 iconHeight = 0;
  DataAllocator allocate = nullptr;  // objects and tags
  CommandData* command = nullptr;    // commands: the instance, owned by the host
  Int32 diskLevel = 0;
  const void* owner = nullptr;  // module whose entry registered it (null: in-process code)
};

// Adds a registration. Refused (false) when the id is refused by a test, already registered,
// or the record is incomplete (no allocation function, no command instance). A command
// instance is owned by the host from this call on, whether accepted or not.
bool AddRegistration(Registration registration);
// A copy of the registration of `id`, or false.
bool FindRegistration(Int32 id, Registration& out);
std::vector<Registration> Registrations();
// Removes the registrations that `owner` made (deleting their command instances).
void RemoveRegistrations(const void* owner);
// Removes every registration (deleting command instances) and every registered description.
void ClearRegistrations();

// Test injection: the host refuses registrations (and descriptions) of `id` until the host
// state is reset.
void RefuseRegistration(Int32 id);

// The module whose entry is running on this thread; registrations made meanwhile belong to it.
void SetCurrentModule(const void* owner);
const void* CurrentModule();

// Registered descriptions by plug-in type id.
bool RegisterDescription(Int32 id, DescriptionData description);
bool FindDescription(Int32 id, DescriptionData& out);

// Console: every line printed by plug-ins, in order.
void ConsolePrintLine(const std::string& line);
std::vector<std::string> ConsoleLines();

// Refresh requests made through the host table.
Int64 RefreshRequests();

// Host diagnostics (why a resource or description failed to load, ...), in order.
void ReportHostError(const std::string& message);
std::vector<std::string> HostErrors();
void ClearHostErrors();

// The names of host threads that have run, in the order they started.
void RecordThreadName(const std::string& name);
std::vector<std::string> ThreadNames();

// Internal: counts a refresh request.
void CountRefreshRequest();

}  // namespace headless
