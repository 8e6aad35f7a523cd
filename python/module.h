// The module's classes and the functions that add each part of it to the module.
#pragma once

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <memory>
#include <mutex>
#include <optional>

#include "headless/batch/correction.h"

namespace tessamire_python {

namespace py = pybind11;

class PyCorrection {
 public:
  PyCorrection(py::handle restPoints, py::handle faces, py::object iterations, py::object weighting,
               py::object pinBorder, std::optional<double> strength, py::object vertexMap,
               py::object restriction, std::optional<Int32> threads);
  ~PyCorrection();

  py::array_t<double> Apply(py::handle points) { return Run(points, false); }
  py::array_t<double> Smoothed(py::handle points) { return Run(points, true); }
  size_t PointCount() const;
  // The best of `repeats` timings of the work apply() hands to the host for one frame (the
  // object's points set, the document evaluated), timed in C++: what apply() is measured against.
  double NativeSeconds(py::handle points, Int32 repeats);
  py::tuple Faces() const;

  Int64 pointsKept_ = 0;

 private:
  py::array_t<double> Run(py::handle points, bool smoothed);

  std::mutex mutex_;  // one evaluation of the document at a time
  Int32 threads_ = 0;
  std::unique_ptr<headless::Correction> correction_;
};

void BindCorrection(py::module_& m);
void BindFiles(py::module_& m);
void BindScene(py::module_& m);

}  // namespace tessamire_python
