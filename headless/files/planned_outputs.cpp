#include "headless/files/planned_outputs.h"

#include <filesystem>
#include <stdexcept>
#include <unordered_map>

#include "headless/files/output_folder.h"
#include "headless/platform/files.h"
#include "headless/platform/paths.h"

namespace headless {

namespace fs = std::filesystem;

namespace {

// What tells a file from the others: its identity when it exists, else its absolute name with the
// links of its existing folders followed (the same file once it is written).
std::string KeyOf(const std::string& path) {
  if (path == "-") return "-";
  platform::FileIdentity identity;
  if (platform::IdentifyFile(path, identity))
    return "#" + std::to_string(identity.device) + ":" + std::to_string(identity.file);
  std::error_code ec;
  return "/" + platform::Utf8FromPath(fs::weakly_canonical(platform::PathFromUtf8(path), ec));
}

// The file `path` when it lies directly in `folder` (whatever names reach the folder): its name
// there; empty otherwise.
std::string NameIn(const std::string& folder, const std::string& path) {
  if (path == "-" || path.empty()) return {};
  const fs::path file = platform::PathFromUtf8(path);
  const fs::path parent = file.parent_path().empty() ? fs::path(".") : file.parent_path();
  if (!file.has_filename() || !SameFile(platform::Utf8FromPath(parent), folder)) return {};
  return platform::Utf8FromPath(file.filename());
}

std::string InFolder(const std::string& folder, const std::string& name) {
  return platform::Utf8FromPath(platform::PathFromUtf8(folder) / platform::PathFromUtf8(name));
}

}  // namespace

void CheckOutputs(const std::vector<PlannedOutput>& outputs,
                  const std::vector<std::string>& inputs) {
  const InputFiles read(inputs);
  std::unordered_map<std::string, const PlannedOutput*> files;  // KeyOf -> the output
  std::vector<const PlannedOutput*> folders;
  for (const PlannedOutput& output : outputs) {
    if (output.path.empty()) continue;
    if (output.writes) {
      folders.push_back(&output);
      continue;
    }
    read.RefuseOverwriting(output.path);
    const auto [other, added] = files.emplace(KeyOf(output.path), &output);
    if (!added)
      throw std::runtime_error(
          (output.path == "-" ? std::string("the standard output") : output.path) + ": " +
          output.what + " would overwrite " + other->second->what +
          (other->second->path == output.path ? "" : " (" + other->second->path + ")") +
          "; nothing is written");
  }
  for (const PlannedOutput* folder : folders) {
    for (const std::string& input : inputs) {
      const std::string name = NameIn(folder->path, input);
      if (!name.empty() && folder->writes(name))
        throw std::runtime_error(InFolder(folder->path, name) + ": " + folder->what +
                                 " would overwrite the input " + input);
    }
    for (const PlannedOutput& output : outputs) {
      if (output.writes || output.path.empty()) continue;
      const std::string name = NameIn(folder->path, output.path);
      if (!name.empty() && folder->writes(name))
        throw std::runtime_error(output.path + ": " + folder->what + " would overwrite " +
                                 output.what + "; nothing is written");
    }
  }
}

}  // namespace headless
