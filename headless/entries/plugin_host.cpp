#include "headless/entries/plugin_host.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>

#include "headless/entries/framework.h"
#include "headless/entries/host_table.h"
#include "headless/platform/libraries.h"
#include "headless/platform/paths.h"
#include "headless/scene/registry.h"
#include "headless/scene/scene.h"

namespace headless {

namespace fs = std::filesystem;

std::vector<std::string> FindPluginLibraries(const std::string& directory) {
  std::error_code ec;
  const fs::path folder = platform::PathFromUtf8(directory);
  if (!fs::is_directory(folder, ec)) throw std::runtime_error(directory + ": not a folder");
  std::vector<std::string> found;
  const auto scan = [&](const fs::path& where) {
    std::error_code scanError;
    for (const auto& entry : fs::directory_iterator(where, scanError)) {
      std::error_code typeError;
      if (entry.path().extension() == ".xdl64" && entry.is_regular_file(typeError))
        found.push_back(platform::Utf8FromPath(fs::absolute(entry.path()).lexically_normal()));
    }
    return !scanError;
  };
  if (!scan(folder)) throw std::runtime_error(directory + ": cannot be read");
  for (const auto& entry : fs::directory_iterator(folder, ec)) {
    std::error_code typeError;
    if (entry.is_directory(typeError)) scan(entry.path());
  }
  if (found.empty()) throw std::runtime_error(directory + ": holds no plug-in library (*.xdl64)");
  std::sort(found.begin(), found.end());
  return found;
}

PluginHost::~PluginHost() {
  Close();
}

void PluginHost::Open(const std::string& libraryPath) {
  Close();
  std::error_code ec;
  std::string path = platform::Utf8FromPath(
      fs::absolute(platform::PathFromUtf8(libraryPath), ec).lexically_normal());
  std::string error;
  void* library = platform::OpenLibrary(path, error);
  if (library == nullptr) throw std::runtime_error(error);
  auto entry = reinterpret_cast<PluginEntry>(platform::FindSymbol(library, "c4d_main"));
  if (entry == nullptr) {
    platform::CloseLibrary(library);
    throw std::runtime_error(path + ": exports no c4d_main");
  }
  library_ = library;
  entry_ = entry;
  path_ = std::move(path);
}

Int32 PluginHost::Call(Int32 action, void* p1, void* p2, void* p3) {
  if (entry_ == nullptr) return kAnswerRefused;
  const void* previous = CurrentModule();
  SetCurrentModule(this);
  const Int32 result = entry_(action, p1, p2, p3);
  SetCurrentModule(previous);
  return result;
}

Int32 PluginHost::SystemStart(const HostTable* host, const FrameworkTable* framework) {
  const Int32 result = Call(kActionSystemStart, const_cast<HostTable*>(host), nullptr,
                            const_cast<FrameworkTable*>(framework));
  if (result == kAnswerDone) ++starts_;
  return result;
}

Int32 PluginHost::SendMessage(Int32 id, void* data) {
  return Call(kActionMessage, reinterpret_cast<void*>(static_cast<std::intptr_t>(id)), data);
}

Int32 PluginHost::End() {
  const Int32 result = Call(kActionEnd);
  if (starts_ > 0) --starts_;
  return result;
}

PluginHost::StartReport PluginHost::StartUp() {
  StartReport report;
  report.systemStart = SystemStart(&HostTableInstance(), &FrameworkTableInstance());
  if (report.systemStart != kAnswerDone) return report;
  report.resources = SendMessage(kMessageLoadResources);
  report.start = Start();
  return report;
}

void PluginHost::Close() {
  if (library_ == nullptr) return;
  // While the library is still bound: its instances and command objects go back through its
  // own destructors and allocator.
  ReleaseInstancesOf(this);
  RemoveRegistrations(this);
  while (starts_ > 0) End();
  platform::CloseLibrary(library_);
  library_ = nullptr;
  entry_ = nullptr;
  path_.clear();
}

void PluginFolder::Load(const std::string& directory) {
  for (const std::string& path : FindPluginLibraries(directory)) {
    Loaded loaded;
    loaded.host = std::make_unique<PluginHost>();
    loaded.host->Open(path);
    loaded.report = loaded.host->StartUp();
    if (loaded.report.systemStart != kAnswerDone)
      throw std::runtime_error(path + ": refused the system start (answered " +
                               std::to_string(loaded.report.systemStart) + ")");
    libraries_.push_back(std::move(loaded));
  }
}

void PluginFolder::Close() {
  while (!libraries_.empty()) {
    libraries_.back().host->Close();
    libraries_.pop_back();
  }
}

std::vector<std::string> PluginSearchFolders(const std::string& explicitFolder,
                                             const std::string& selfFolder,
                                             const std::vector<std::string>& beside) {
  if (!explicitFolder.empty()) return {explicitFolder};
  const char* environment = std::getenv("TESSAMIRE_PLUGINS");
  if (environment != nullptr && *environment != '\0') return {environment};
  if (selfFolder.empty()) return {};
  std::vector<std::string> folders;
  const fs::path self = platform::PathFromUtf8(selfFolder);
  for (const std::string& relative : beside)
    folders.push_back(
        platform::Utf8FromPath((self / platform::PathFromUtf8(relative)).lexically_normal()));
  return folders;
}

FolderStart StartFirstPluginFolder(const std::vector<std::string>& candidates,
                                   PluginFolder& plugins) {
  FolderStart start;
  std::error_code ec;
  for (const std::string& candidate : candidates) {
    if (fs::is_directory(platform::PathFromUtf8(candidate), ec)) {
      start.folder = candidate;
      break;
    }
  }
  if (start.folder.empty()) return start;
  try {
    plugins.Load(start.folder);
  } catch (const std::exception& e) {
    start.errors.push_back(e.what());
  }
  for (const auto& library : plugins.Libraries()) {
    if (library.report.resources != kAnswerDone)
      start.warnings.push_back("warning: " + library.host->Path() +
                               ": resources could not be loaded (message 1 answered " +
                               std::to_string(library.report.resources) + ")");
    if (library.report.start != kAnswerDone)
      start.warnings.push_back("warning: " + library.host->Path() +
                               ": start did not register every part (action 2 answered " +
                               std::to_string(library.report.start) + ")");
  }
  for (const std::string& message : HostErrors()) start.warnings.push_back("host: " + message);
  ClearHostErrors();
  return start;
}

}  // namespace headless
