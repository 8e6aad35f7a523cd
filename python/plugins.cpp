#include "python/plugins.h"

#include <filesystem>
#include <mutex>
#include <vector>

#include "headless/entries/plugin_host.h"
#include "headless/platform/paths.h"
#include "python/calls.h"

#ifndef TESSAMIRE_PYTHON_RELATIVE_PLUGIN_DIR
#error "the build gives the installed plug-in folder relative to the installed module's"
#endif

namespace tessamire_python {

namespace {

struct Plugins {
  std::shared_mutex lock;  // shared while plug-in code runs, exclusive to load or close
  headless::PluginFolder folder;
  std::string loaded;  // the folder loaded; empty when none is
};

// Never destroyed: the module closes the plug-ins when the interpreter exits (module.cpp), and
// nothing may run the plug-ins' code after the static destructors began.
Plugins& ThePlugins() {
  static Plugins* const plugins = new Plugins;
  return *plugins;
}

// The folder the compiled module was loaded from: the package's.
std::string ModuleFolder() {
  const py::object module = py::module_::import("tessamire._tessamire");
  if (!py::hasattr(module, "__file__")) return "";
  const std::string file = py::str(module.attr("__file__"));
  return headless::platform::Utf8FromPath(headless::platform::PathFromUtf8(file).parent_path());
}

void Warn(const std::string& message) {
  if (PyErr_WarnEx(PyExc_RuntimeWarning, message.c_str(), 1) != 0) throw py::error_already_set();
}

// The first of `candidates` that exists, and the libraries in it: checked before what is loaded
// is closed, so that a folder that cannot serve leaves it loaded. Empty when none exists.
std::string CheckedFolder(const std::vector<std::string>& candidates) {
  for (const std::string& candidate : candidates) {
    std::error_code ec;
    if (!std::filesystem::is_directory(headless::platform::PathFromUtf8(candidate), ec)) continue;
    headless::FindPluginLibraries(candidate);  // throws naming the folder when it holds none
    return candidate;
  }
  return "";
}

// Loads as LoadPlugins does; with `unlessLoaded`, keeps plug-ins already loaded instead.
std::string Load(const std::string& explicitFolder, bool unlessLoaded) {
  const std::vector<std::string> candidates = headless::PluginSearchFolders(
      explicitFolder, ModuleFolder(),
      {"plugins", "../../plugins", TESSAMIRE_PYTHON_RELATIVE_PLUGIN_DIR});
  Plugins& plugins = ThePlugins();
  headless::FolderStart start;
  std::string restored;  // the folder loaded again after a failed start, if any
  const bool started = WithoutGil([&] {
    std::unique_lock<std::shared_mutex> lock(plugins.lock);
    if (unlessLoaded && !plugins.loaded.empty()) {
      start.folder = plugins.loaded;
      return true;
    }
    if (CheckedFolder(candidates).empty()) return false;
    const std::string previous = plugins.loaded;
    plugins.folder.Close();
    plugins.loaded.clear();
    start = headless::StartFirstPluginFolder(candidates, plugins.folder);
    if (start.Started(plugins.folder)) {
      plugins.loaded = start.folder;
      return true;
    }
    plugins.folder.Close();
    // The folder before serves again, rather than none.
    if (!previous.empty()) {
      const headless::FolderStart again =
          headless::StartFirstPluginFolder({previous}, plugins.folder);
      if (again.Started(plugins.folder))
        plugins.loaded = restored = previous;
      else
        plugins.folder.Close();
    }
    return false;
  });
  if (start.folder.empty()) {
    std::string places;
    for (const std::string& candidate : candidates) places += " " + candidate;
    throw std::runtime_error("no plug-in folder found; looked in" + places +
                             " (give tessamire.load_plugins(folder) or set TESSAMIRE_PLUGINS)");
  }
  if (!started)
    throw std::runtime_error(start.errors.front() +
                             (restored.empty() ? "" : " (" + restored + " stays loaded)"));
  for (const std::string& error : start.errors) Warn("tessamire: " + error);
  for (const std::string& warning : start.warnings) Warn("tessamire: " + warning);
  return start.folder;
}

}  // namespace

std::string LoadPlugins(const std::string& folder) {
  return Load(folder, false);
}

void EnsurePlugins() {
  if (!LoadedPluginFolder()) Load("", true);
}

void ClosePlugins() {
  Plugins& plugins = ThePlugins();
  // Not a counted call: the module closes the plug-ins at exit, once no call runs.
  const py::gil_scoped_release release;
  std::unique_lock<std::shared_mutex> lock(plugins.lock);
  plugins.folder.Close();
  plugins.loaded.clear();
}

std::optional<std::string> LoadedPluginFolder() {
  Plugins& plugins = ThePlugins();
  std::shared_lock<std::shared_mutex> lock(plugins.lock);
  if (plugins.loaded.empty()) return std::nullopt;
  return plugins.loaded;
}

std::shared_lock<std::shared_mutex> PluginsInUse() {
  return std::shared_lock<std::shared_mutex>(ThePlugins().lock);
}

}  // namespace tessamire_python
