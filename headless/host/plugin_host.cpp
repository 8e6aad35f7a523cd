#include "headless/host/plugin_host.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>

#include "headless/host/framework.h"
#include "headless/host/host_table.h"
#include "headless/platform/platform.h"
#include "headless/scene/registry.h"
#include "headless/scene/scene.h"

namespace headless {

namespace fs = std::filesystem;

bool FindPluginLibraries(const std::string& directory, std::vector<std::string>& out,
                         std::string& error) {
  std::error_code ec;
  const fs::path folder = platform::PathFromUtf8(directory);
  if (!fs::is_directory(folder, ec)) {
    error = directory + ": not a folder";
    return false;
  }
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
  if (!scan(folder)) {
    error = directory + ": cannot be read";
    return false;
  }
  for (const auto& entry : fs::directory_iterator(folder, ec)) {
    std::error_code typeError;
    if (entry.is_directory(typeError)) scan(entry.path());
  }
  if (found.empty()) {
    error = directory + ": holds no plug-in library (*.xdl64)";
    return false;
  }
  std::sort(found.begin(), found.end());
  out = std::move(found);
  return true;
}

PluginHost::~PluginHost() {
  Close();
}

bool PluginHost::Open(const std::string& libraryPath, std::string& error) {
  Close();
  std::error_code ec;
  const std::string path = platform::Utf8FromPath(
      fs::absolute(platform::PathFromUtf8(libraryPath), ec).lexically_normal());
  void* library = platform::OpenLibrary(path, error);
  if (library == nullptr) return false;
  auto entry = reinterpret_cast<PluginEntry>(platform::FindSymbol(library, "c4d_main"));
  if (entry == nullptr) {
    error = path + ": exports no c4d_main";
    platform::CloseLibrary(library);
    return false;
  }
  library_ = library;
  entry_ = entry;
  path_ = path;
  return true;
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

bool PluginFolder::Load(const std::string& directory, std::string& error) {
  std::vector<std::string> paths;
  if (!FindPluginLibraries(directory, paths, error)) return false;
  for (const std::string& path : paths) {
    Loaded loaded;
    loaded.host = std::make_unique<PluginHost>();
    if (!loaded.host->Open(path, error)) return false;
    loaded.report = loaded.host->StartUp();
    if (loaded.report.systemStart != kAnswerDone) {
      error = path + ": refused the system start (answered " +
              std::to_string(loaded.report.systemStart) + ")";
      return false;
    }
    libraries_.push_back(std::move(loaded));
  }
  return true;
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
  std::string error;
  if (!plugins.Load(start.folder, error)) start.errors.push_back(error);
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
