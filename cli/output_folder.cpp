#include "cli/output_folder.h"

#include <filesystem>
#include <stdexcept>

#include "headless/platform/platform.h"

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

bool SameFile(const std::string& a, const std::string& b) {
  if (a == "-" || b == "-") return false;
  const fs::path first = headless::platform::PathFromUtf8(a);
  const fs::path second = headless::platform::PathFromUtf8(b);
  std::error_code ec;
  if (fs::exists(first, ec) && fs::exists(second, ec)) return fs::equivalent(first, second, ec);
  return fs::weakly_canonical(first, ec) == fs::weakly_canonical(second, ec);
}

void RefuseOverwritingInputs(const std::string& output, const std::vector<std::string>& inputs) {
  for (const std::string& input : inputs)
    if (!input.empty() && SameFile(output, input))
      throw std::runtime_error(output + ": the result would overwrite the input " + input);
}

void PrepareOutputFolder(const std::string& file) {
  if (file == "-") return;
  const fs::path parent = headless::platform::PathFromUtf8(file).parent_path();
  if (!parent.empty()) PrepareFolder(headless::platform::Utf8FromPath(parent));
}

}  // namespace cli
