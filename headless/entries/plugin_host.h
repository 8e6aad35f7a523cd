// Loading plug-in libraries and driving their entry `c4d_main` the way the host does:
// system start (action 1, p1 = host table, p3 = framework table), message 1 (action 6, p1 = 1:
// load resources), start (action 2), and at exit end (action 3) once per accepted system start.
//
// Registrations made while a PluginHost drives its library belong to it: Close removes them,
// and first drops every plug-in instance its library made, so that no node outlives the code of
// its instance. Documents may therefore outlive the PluginHost, without their instances.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "host/abi/table.h"

namespace headless {

// The plug-in libraries (`*.xdl64`) in `directory` and in its immediate subfolders, sorted by
// path. Throws std::runtime_error naming the folder when it cannot be read or holds none.
std::vector<std::string> FindPluginLibraries(const std::string& directory);

class PluginHost {
 public:
  PluginHost() = default;
  ~PluginHost();
  PluginHost(const PluginHost&) = delete;
  PluginHost& operator=(const PluginHost&) = delete;

  // Opens a library and finds its entry. Throws std::runtime_error with the system's reason or
  // naming the missing entry; nothing is kept then.
  void Open(const std::string& libraryPath);
  bool IsOpen() const { return entry_ != nullptr; }
  const std::string& Path() const { return path_; }

  // The raw entry; registrations made meanwhile belong to this PluginHost.
  Int32 Call(Int32 action, void* p1 = nullptr, void* p2 = nullptr, void* p3 = nullptr);
  // Action 1 with the given tables (tests pass another version or a null framework); an answer
  // of 1 is counted so that Close ends the library as often as it was started.
  Int32 SystemStart(const HostTable* host, const FrameworkTable* framework);
  // Action 6 with p1 = id.
  Int32 SendMessage(Int32 id, void* data = nullptr);
  Int32 Start() { return Call(kActionStart); }
  // Action 3; counted down.
  Int32 End();
  Int32 StartCount() const { return starts_; }

  // What the host's start-up got back from the library.
  struct StartReport {
    Int32 systemStart = 0;  // action 1: kAnswerDone accepted, kAnswerCannotBind refused
    Int32 resources = 0;    // message 1: kAnswerDone loaded, kAnswerRefused not
    Int32 start = 0;        // action 2: kAnswerDone every part registered, kAnswerStartFailed not
  };
  // Start-up as the host does it, with this process's host and framework tables. Message 1 and
  // action 2 are sent only when action 1 was accepted.
  StartReport StartUp();

  // Drops instances and registrations of this library, ends it once per accepted start, and
  // unloads it. Safe to call twice.
  void Close();

 private:
  void* library_ = nullptr;
  PluginEntry entry_ = nullptr;
  std::string path_;
  Int32 starts_ = 0;
};

// Every library of a plug-in folder, started up in path order.
class PluginFolder {
 public:
  struct Loaded {
    std::unique_ptr<PluginHost> host;
    PluginHost::StartReport report;
  };

  // Opens and starts every library. Throws std::runtime_error when the folder holds no library
  // or one cannot be opened or refuses the system start; libraries started before stay loaded.
  void Load(const std::string& directory);
  const std::vector<Loaded>& Libraries() const { return libraries_; }
  // Closes the libraries in reverse order.
  void Close();
  ~PluginFolder() { Close(); }

 private:
  std::vector<Loaded> libraries_;
};

// The folders searched for plug-ins, in order: `explicitFolder` alone when not empty, else
// $TESSAMIRE_PLUGINS alone when set, else each of `beside` taken from `selfFolder`, the folder of
// the program or module that loads them (its build tree's and its installed tree's places).
std::vector<std::string> PluginSearchFolders(const std::string& explicitFolder,
                                             const std::string& selfFolder,
                                             const std::vector<std::string>& beside);

// What starting a plug-in folder met.
struct FolderStart {
  std::string folder;                 // the folder loaded; empty when no candidate exists
  std::vector<std::string> errors;    // why the folder's libraries could not all be started
  std::vector<std::string> warnings;  // "warning: ..." of libraries started without their
                                      // resources or parts, "host: ..." the host's diagnostics
  bool Started(const PluginFolder& plugins) const {
    return !folder.empty() && (errors.empty() || !plugins.Libraries().empty());
  }
};

// Loads into `plugins` the first of `candidates` that is a folder, the way the host does at
// start-up, and clears the host's diagnostics it reports.
FolderStart StartFirstPluginFolder(const std::vector<std::string>& candidates,
                                   PluginFolder& plugins);

}  // namespace headless
