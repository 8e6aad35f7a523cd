// How the module's calls meet Python: work without the GIL (and never while the interpreter is
// going away), paths as Python gives them, frames that report progress and stop on Ctrl-C, and
// the errors of files as OSError. Elsewhere the headless host's exceptions reach Python as
// pybind11 turns them: std::invalid_argument (bad input) as ValueError, std::runtime_error (a
// failed operation) as RuntimeError, std::bad_alloc as MemoryError.
#pragma once

#include <pybind11/pybind11.h>

#include <functional>
#include <stdexcept>
#include <string>

#include "host/abi/types.h"

namespace tessamire_python {

namespace py = pybind11;

// Calls running without the GIL, counted so that leaving the interpreter can wait for them: a
// thread that took the GIL back after finalisation began would be ended inside C++ (an abort).
// With the GIL: Enter raises RuntimeError once the interpreter is exiting; Leave counts down.
void EnterCall();
void LeaveCall();
// At exit, with the GIL: refuses new calls (so a loop of frames stops at its next frame) and
// waits for the running ones to take the GIL back and return.
void EndCallsAtExit();

// Runs `work` without the GIL, as a counted call; exceptions come out with the GIL held again.
template <typename Work>
auto WithoutGil(Work&& work) {
  EnterCall();
  struct Leave {
    ~Leave() { LeaveCall(); }
  } leave;
  py::gil_scoped_release release;
  return work();
}

// A path argument: str, bytes or os.PathLike, as UTF-8. Raises TypeError naming `what` for
// another value and ValueError for a NUL byte (a C path would end there).
std::string PathArgument(py::handle value, const char* what);

// A real number argument (int, float or anything with __float__ but text); TypeError naming
// `what` for anything else.
double Number(py::handle value, const std::string& what);
// The name of a value's type, for messages.
std::string TypeName(py::handle value);

// Runs `frame(f)` for f in [0, count) without the GIL. Between frames, with the GIL, calls
// `progress(done, count)` when it is not None and checks for signals: an exception either raises
// (KeyboardInterrupt for Ctrl-C) stops the loop and propagates. Leaving the interpreter stops it
// too, with RuntimeError: each frame is a call of its own.
void FrameLoop(Int64 count, const py::object& progress, const std::function<void(Int64)>& frame);
// Raises TypeError unless `progress` is None or callable.
void CheckProgress(const py::object& progress);

// Logs `message` on the logger `tessamire` at `level` ("info", "warning"). With the GIL.
void Log(const char* level, const std::string& message);

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
  } catch (const py::error_already_set&) {
    throw;
  } catch (const std::runtime_error& e) {
    RaiseOsError(e.what());
  }
}

}  // namespace tessamire_python
