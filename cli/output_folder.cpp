#include "cli/output_folder.h"

#include <filesystem>
#include <stdexcept>

#include "headless/host/platform.h"

namespace cli {

namespace fs = std::filesystem;

void PrepareFolder(const std::string& folder) {
  std::error_code ec;
  const fs::path path = headless::platform::PathFromUtf8(folder);
  if (fs::is_directory(path, ec)) return;
  if (fs::exists(path, ec)) throw std::runtime_error(folder + ": exists and is not a folder");
  const fs::path parent = path.parent_path().empty() ? fs::path(".") : path.parent_path();
  if (!fs::is_directory(parent, ec))
    throw std::runtime_error("cannot create the folder " + folder + ": its parent " +
                             headless::platform::Utf8FromPath(parent) + " does not exist");
  if (!fs::create_directory(path, ec) && !fs::is_directory(path))
    throw std::runtime_error("cannot create the folder " + folder + ": " + ec.message());
}

void PrepareOutputFolder(const std::string& file) {
  if (file == "-") return;
  const fs::path parent = headless::platform::PathFromUtf8(file).parent_path();
  if (!parent.empty()) PrepareFolder(headless::platform::Utf8FromPath(parent));
}

}  // namespace cli
