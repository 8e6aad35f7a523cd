// The module's plug-ins: one plug-in folder for the whole process, loaded when first needed (or by
// load_plugins) and shared by every correction and scene, and the lock that keeps loading and
// closing it apart from the evaluations running in it.
#pragma once

#include <pybind11/pybind11.h>

#include <optional>
#include <shared_mutex>
#include <string>

namespace tessamire_python {

namespace py = pybind11;

// Loads the plug-ins from the first folder of the search (`folder`, else $TESSAMIRE_PLUGINS, else
// beside the module: its build tree's and its installed tree's places), closing those loaded
// before. Answers the folder. Raises RuntimeError naming the places looked in when none exists
// or no library in it starts; the libraries' warnings become RuntimeWarnings. With the GIL.
std::string LoadPlugins(const std::string& folder);
// Loads the plug-ins the search finds unless some are loaded. With the GIL.
void EnsurePlugins();
// Closes the plug-ins, once every evaluation running in them has ended: nodes made by them stay,
// without their plug-in's part. With the GIL.
void ClosePlugins();
// The folder loaded, if any.
std::optional<std::string> LoadedPluginFolder();

// Held while the plug-ins' code runs (binding, evaluating, loading a scene): any number of
// threads at once, but not while plug-ins are loaded or closed. Take it without the GIL.
std::shared_lock<std::shared_mutex> PluginsInUse();

}  // namespace tessamire_python
