// The `tessamire` module: the plug-in's correction and the headless host's files over numpy.
#include "python/module.h"

#include "headless/deformers/installation.h"
#include "headless/entries/framework.h"
#include "python/calls.h"
#include "python/plugins.h"

#ifndef TESSAMIRE_VERSION
#error "the build gives the version"
#endif

PYBIND11_MODULE(_tessamire, m) {
  namespace py = pybind11;
  using namespace tessamire_python;
  m.doc() = R"(Detail-restoring correction of deformed meshes by the Tessamire plug-in, on numpy
arrays. The plug-in is found beside the module (its build tree or installed tree), in
$TESSAMIRE_PLUGINS, or where load_plugins() says.)";
  m.attr("__version__") = TESSAMIRE_VERSION;
  // The host's own deformers (the skin of an imported character) run with no plug-in loaded.
  headless::InstallNativeDeformers();
  m.def(
      "load_plugins",
      [](py::object folder) {
        return LoadPlugins(folder.is_none() ? std::string() : PathArgument(folder, "folder"));
      },
      py::arg("folder") = py::none(),
      R"(Load the plug-ins of `folder` (None or empty: $TESSAMIRE_PLUGINS, else beside the
module), closing those loaded before; returns the folder. Raises RuntimeError when none is
found or none starts, keeping those loaded before.)");
  m.def("close_plugins", &ClosePlugins,
        "Close the plug-ins once running evaluations end; corrections made before then raise "
        "RuntimeError.");
  m.def("plugin_folder", &LoadedPluginFolder, "The plug-in folder loaded, or None.");
  BindCorrection(m);
  BindFiles(m);
  BindCorrect(m);
  BindApply(m);
  BindScene(m);
  BindBake(m);
  py::module_ testing = m.def_submodule("_testing", "Switches for the module's own tests.");
  testing.def("meet_at_loops", &headless::MeetAtLoops, py::arg("callers"), py::arg("timeout"),
              "Hold the first parallel loop of each of the next `callers` threads until all have "
              "started one, or `timeout` seconds pass; 0 callers disarms it.");
  testing.def("native_seconds", &PyCorrection::NativeSeconds, py::arg("correction"),
              py::arg("points"), py::arg("repeats"),
              "The best time of `repeats` corrections of one (N, 3) frame done in C++ alone.");
  testing.def("loops_met", &headless::LoopsMet,
              "Whether the last meeting was met by every caller.");
  // Before the interpreter goes: the calls of other threads end (at their next frame), then the
  // plug-ins close while their code can still run.
  py::module_::import("atexit").attr("register")(py::cpp_function([] {
    EndCallsAtExit();
    ClosePlugins();
  }));
}
