// The module's classes and the functions that add each part of it to the module.
#pragma once

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <memory>
#include <mutex>
#include <optional>

#include "headless/batch/correction.h"
#include "headless/characters/character.h"

namespace tessamire_python {

namespace py = pybind11;

class PyCorrection {
 public:
  // Every argument as Python gives it, checked here: a wrong one raises an error of one line
  // naming it.
  PyCorrection(py::handle restPoints, py::handle faces, py::object iterations, py::object weighting,
               py::object pinBorder, py::object strength, py::object vertexMap,
               py::object restriction, py::object threads, py::object settings, py::object frames);
  ~PyCorrection();
  // Pickling: the rest points, the faces, the settings, the threads and the bind record (the
  // document as a scene file image), so that a copy corrects to the same bits without binding.
  py::dict State() const;
  static std::unique_ptr<PyCorrection> FromState(const py::dict& state);
  py::array_t<double> RestPoints() const;
  Int32 Threads() const { return threads_; }

  py::array_t<double> Apply(py::handle points, const py::object& progress) {
    return Run(points, false, progress);
  }
  py::array_t<double> Smoothed(py::handle points, const py::object& progress) {
    return Run(points, true, progress);
  }
  size_t PointCount() const;
  // The best of `repeats` timings of the work apply() hands to the host for one frame (the
  // object's points set, the document evaluated), timed in C++: what apply() is measured against.
  double NativeSeconds(py::handle points, Int32 repeats);
  // Made on first use and kept: read-only, so every access hands out the same array.
  py::object Faces();

  Int64 pointsKept_ = 0;
  headless::CorrectionSettings settings_;  // those set on the tag: given, or auto's

 private:
  PyCorrection() = default;
  py::array_t<double> Run(py::handle points, bool smoothed, const py::object& progress);

  mutable std::mutex mutex_;  // one evaluation of the document at a time
  Int32 threads_ = 0;
  py::object faces_ = py::none();
  py::array_t<double> rest_;  // a copy of the rest points, for pickling
  std::unique_ptr<headless::Correction> correction_;
};

// The character reader the package carries beside the compiled module. With the GIL.
std::string ReaderProgram();
// A character's import options as Python gives them: `clip` a name or index, or a list of them;
// the reader the package carries. With the GIL.
headless::CharacterOptions CharacterOptionsArgument(const py::object& clip, const py::object& fps,
                                                    bool allClips, const py::object& assetRoot);
// The bind tag's settings as Python gives them, checked against the plug-in's description.
headless::CorrectionSettings SettingsArgument(const py::object& iterations,
                                              const py::object& weighting,
                                              const py::object& pinBorder,
                                              const py::object& strength);

// Workers of an evaluation's loops, 1 to 1024, as the command line's --threads (None: 0, one per
// hardware thread).
Int32 ThreadsArgument(const py::object& threads);

void BindCorrection(py::module_& m);
void BindCorrect(py::module_& m);
void BindApply(py::module_& m);
void BindFiles(py::module_& m);
void BindScene(py::module_& m);
void BindBake(py::module_& m);

}  // namespace tessamire_python
