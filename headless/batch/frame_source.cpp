#include "headless/batch/frame_source.h"

#include <stdexcept>
#include <system_error>

#include "headless/platform/files.h"

namespace headless {

platform::FileVersion FrameFileVersion(const std::string& path) {
  platform::FileVersion version;
  if (path == "-" || !platform::VersionOfFile(path, version)) version = {};
  return version;
}

void ObjFrame::SetTextAside() {
  if (file.name == "-") return;
  Release(file.text);
}

void ObjFrame::CheckUnchanged() const {
  if (file.name != "-" && FrameFileVersion(file.name) != version)
    throw std::runtime_error(file.name +
                             ": changed while it was being corrected; nothing of it written");
}

}  // namespace headless
