#include "headless/files/output_folder.h"

#include <filesystem>
#include <stdexcept>

#include "headless/files/planned_outputs.h"
#include "headless/platform/files.h"
#include "headless/platform/paths.h"

namespace headless {

namespace fs = std::filesystem;

void PrepareFolder(const std::string& folder) {
  std::error_code ec;
  const fs::path path = platform::PathFromUtf8(folder);
  if (fs::is_directory(path, ec)) return;
  if (fs::exists(path, ec)) throw std::runtime_error(folder + ": exists and is not a folder");
  const fs::path parent = path.parent_path().empty() ? fs::path(".") : path.parent_path();
  if (!fs::is_directory(parent, ec))
    throw std::runtime_error("cannot create the folder " + folder + ": its parent " +
                             platform::Utf8FromPath(parent) + " does not exist");
  if (!fs::create_directory(path, ec) && !fs::is_directory(path))
    throw std::runtime_error("cannot create the folder " + folder + ": " + ec.message());
}

bool SameFile(const std::string& a, const std::string& b) {
  if (a == "-" || b == "-") return false;
  const fs::path first = platform::PathFromUtf8(a);
  const fs::path second = platform::PathFromUtf8(b);
  std::error_code ec;
  if (fs::exists(first, ec) && fs::exists(second, ec)) return fs::equivalent(first, second, ec);
  return fs::weakly_canonical(first, ec) == fs::weakly_canonical(second, ec);
}

namespace {

// The name a file that does not exist would have, links of its existing folders followed.
std::string AbsoluteName(const std::string& name) {
  std::error_code ec;
  return platform::Utf8FromPath(fs::weakly_canonical(platform::PathFromUtf8(name), ec));
}

}  // namespace

InputFiles::InputFiles(const std::vector<std::string>& inputs) {
  for (const std::string& input : inputs) {
    if (input.empty() || input == "-") continue;
    platform::FileIdentity identity;
    if (platform::IdentifyFile(input, identity)) {
      existing_.emplace(identity, input);
      continue;
    }
    missing_.emplace(AbsoluteName(input), input);
    if (firstMissing_.empty()) firstMissing_ = input;
  }
}

void InputFiles::RefuseOverwriting(const std::string& output) const {
  if (output.empty() || output == "-") return;
  platform::FileIdentity identity;
  const std::string* input = nullptr;
  if (platform::IdentifyFile(output, identity)) {
    const auto found = existing_.find(identity);
    if (found != existing_.end()) input = &found->second;
  } else if (!missing_.empty()) {
    const auto found = missing_.find(AbsoluteName(output));
    if (found != missing_.end()) input = &found->second;
  }
  if (input != nullptr)
    throw std::runtime_error(output + ": the result would overwrite the input " + *input);
}

void RefuseOverwritingInputs(const std::string& output, const std::vector<std::string>& inputs) {
  CheckOutputs({{output, "the result"}}, inputs);
}

void PrepareOutputFolder(const std::string& file) {
  if (file == "-") return;
  const fs::path parent = platform::PathFromUtf8(file).parent_path();
  if (!parent.empty()) PrepareFolder(platform::Utf8FromPath(parent));
}

}  // namespace headless
