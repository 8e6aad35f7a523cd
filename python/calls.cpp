#include "python/calls.h"

#include <cerrno>
#include <condition_variable>
#include <filesystem>
#include <mutex>

#include "headless/platform/paths.h"

namespace tessamire_python {

namespace {

struct Calls {
  std::mutex mutex;
  std::condition_variable ended;
  Int64 running = 0;
  bool exiting = false;
};

// Never destroyed: calls may still be counted down while the interpreter exits.
Calls& TheCalls() {
  static Calls* const calls = new Calls;
  return *calls;
}

}  // namespace

void EnterCall() {
  Calls& calls = TheCalls();
  const std::lock_guard<std::mutex> lock(calls.mutex);
  if (calls.exiting) throw std::runtime_error("the interpreter is exiting: tessamire runs no more");
  ++calls.running;
}

void LeaveCall() {
  Calls& calls = TheCalls();
  const std::lock_guard<std::mutex> lock(calls.mutex);
  if (--calls.running == 0) calls.ended.notify_all();
}

void EndCallsAtExit() {
  Calls& calls = TheCalls();
  // Without the GIL, so that the running calls can take it back and return.
  const py::gil_scoped_release release;
  std::unique_lock<std::mutex> lock(calls.mutex);
  calls.exiting = true;
  calls.ended.wait(lock, [&] { return calls.running == 0; });
}

std::string PathArgument(py::handle value, const char* what) {
  const py::module_ os = py::module_::import("os");
  py::object path;
  try {
    path = os.attr("fspath")(value);
  } catch (const py::error_already_set& e) {
    if (!e.matches(PyExc_TypeError)) throw;
    throw py::type_error(std::string(what) + ": a path (str, bytes or os.PathLike), not " +
                         TypeName(value));
  }
  // Bytes are the file system's own: decoded as Python decodes file names.
  if (py::isinstance<py::bytes>(path)) path = os.attr("fsdecode")(path);
  // Surrogates stand for bytes that are not UTF-8; they go back to those bytes.
  const std::string text =
      path.attr("encode")("utf-8", "surrogateescape").cast<py::bytes>().cast<std::string>();
  if (text.find('\0') != std::string::npos)
    throw py::value_error(std::string(what) + ": a path holds no NUL byte, not " +
                          py::repr(path).cast<std::string>());
  return text;
}

std::string TypeName(py::handle value) {
  return py::str(py::type::handle_of(value).attr("__name__")).cast<std::string>();
}

double Number(py::handle value, const std::string& what) {
  const bool number = PyFloat_Check(value.ptr()) || PyLong_Check(value.ptr()) ||
                      PyObject_HasAttrString(value.ptr(), "__float__");
  if (!number || PyUnicode_Check(value.ptr()) || PyBytes_Check(value.ptr()))
    throw py::type_error(what + ": a number, not " + TypeName(value));
  const double x = PyFloat_AsDouble(value.ptr());
  if (x == -1.0 && PyErr_Occurred()) throw py::error_already_set();
  return x;
}

void CheckProgress(const py::object& progress) {
  if (!progress.is_none() && !PyCallable_Check(progress.ptr()))
    throw py::type_error(
        "progress: a callable (frames done, frames in all) or None, not " +
        py::str(py::type::handle_of(progress).attr("__name__")).cast<std::string>());
}

void FrameLoop(Int64 count, const py::object& progress, const std::function<void(Int64)>& frame) {
  CheckProgress(progress);
  for (Int64 f = 0; f < count; ++f) {
    // Each frame a call of its own: once the interpreter is exiting, the next one is refused.
    WithoutGil([&] { frame(f); });
    // Between frames, on the calling thread: Ctrl-C's KeyboardInterrupt, then the caller's own.
    if (PyErr_CheckSignals() != 0) throw py::error_already_set();
    if (!progress.is_none()) progress(f + 1, count);
  }
}

void Log(const char* level, const std::string& message) {
  py::module_::import("logging").attr("getLogger")("tessamire").attr(level)("%s", message);
}

void CheckReadable(const std::string& path) {
  std::error_code ec;
  if (std::filesystem::exists(headless::platform::PathFromUtf8(path), ec) || ec) return;
  errno = ENOENT;
  PyErr_SetFromErrnoWithFilename(PyExc_OSError, path.c_str());
  throw py::error_already_set();
}

void RaiseOsError(const std::string& message) {
  PyErr_SetString(PyExc_OSError, message.c_str());
  throw py::error_already_set();
}

}  // namespace tessamire_python
