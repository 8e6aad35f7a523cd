// Where a run's outputs go: a folder is created only when its parent exists, so that a mistyped
// path is reported instead of growing folders from the root; and no output may be one of the run's
// inputs.
#pragma once

#include <string>
#include <unordered_map>
#include <vector>

#include "headless/platform/files.h"

namespace headless {

// Makes `folder` exist: nothing when it is a folder already; created when its parent folder
// exists. Throws std::runtime_error naming the missing parent, or `folder` when it exists and is
// not a folder.
void PrepareFolder(const std::string& folder);
// Whether two names reach the same file (through links, or "a/../b" and "b"); never for "-".
bool SameFile(const std::string& a, const std::string& b);

// The files a run reads, looked up once each, so that no run destroys what it reads: an input
// that exists is known by its identity (device and file number, whatever name or link reaches
// it), one that does not by its absolute name. Checking an output then costs one lookup however
// many inputs there are.
class InputFiles {
 public:
  // Empty names and "-" (the standard input) are skipped.
  explicit InputFiles(const std::vector<std::string>& inputs);
  // The first input, in the order given, that does not exist; empty when all do.
  const std::string& FirstMissing() const { return firstMissing_; }
  // Throws std::runtime_error "output: the result would overwrite the input IN" when `output`
  // is one of the inputs.
  void RefuseOverwriting(const std::string& output) const;

 private:
  struct IdentityHash {
    size_t operator()(const platform::FileIdentity& id) const {
      return std::hash<std::uint64_t>()(id.file * 0x9E3779B97F4A7C15ull ^ id.device);
    }
  };
  std::unordered_map<platform::FileIdentity, std::string, IdentityHash> existing_;
  std::unordered_map<std::string, std::string> missing_;  // absolute name -> as given
  std::string firstMissing_;
};
// CheckOutputs (planned_outputs.h) of a command's one output.
void RefuseOverwritingInputs(const std::string& output, const std::vector<std::string>& inputs);
// PrepareFolder of the folder that will hold `file`; nothing for "-" (the standard output) or a
// name without a folder.
void PrepareOutputFolder(const std::string& file);

}  // namespace headless
