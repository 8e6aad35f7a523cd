#include "headless/batch/frame_source.h"

#include <stdexcept>
#include <system_error>

#include "headless/platform/paths.h"

namespace headless {

namespace {

// When the file at `path` was last written (the least time when that cannot be known).
std::filesystem::file_time_type LastWritten(const std::string& path) {
  std::error_code ec;
  return std::filesystem::last_write_time(platform::PathFromUtf8(path), ec);
}

}  // namespace

void ObjFrame::SetTextAside() {
  if (file.name == "-") return;
  modified = LastWritten(file.name);
  Release(file.text);
}

void ObjFrame::CheckUnchanged() const {
  if (file.name != "-" && LastWritten(file.name) != modified)
    throw std::runtime_error(file.name +
                             ": changed while it was being corrected; nothing of it written");
}

}  // namespace headless
