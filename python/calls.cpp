#include "python/calls.h"

#include <cerrno>
#include <filesystem>

#include "headless/platform/paths.h"

namespace tessamire_python {

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
