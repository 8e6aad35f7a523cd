// How the module's calls meet Python: work without the GIL, and the errors of files as OSError.
// Elsewhere the headless host's exceptions reach Python as pybind11 turns them:
// std::invalid_argument (bad input) as ValueError, std::runtime_error (a failed operation) as
// RuntimeError, std::bad_alloc as MemoryError.
#pragma once

#include <pybind11/pybind11.h>

#include <stdexcept>
#include <string>

namespace tessamire_python {

namespace py = pybind11;

// Runs `work` without the GIL; exceptions come out with the GIL held again.
template <typename Work>
auto WithoutGil(Work&& work) {
  py::gil_scoped_release release;
  return work();
}

// Raises FileNotFoundError for a path that names nothing.
void CheckReadable(const std::string& path);
[[noreturn]] void RaiseOsError(const std::string& message);
// Runs `work`, turning its std::runtime_error (a file that cannot be read or written, or does not
// hold what its name says) into OSError.
template <typename Work>
auto FileWork(Work&& work) {
  try {
    return work();
  } catch (const py::builtin_exception&) {
    throw;
  } catch (const std::runtime_error& e) {
    RaiseOsError(e.what());
  }
}

}  // namespace tessamire_python
