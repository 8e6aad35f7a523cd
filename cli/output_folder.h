// Where the program's outputs go: a folder is created only when its parent exists, so that a
// mistyped path is reported instead of growing folders from the root.
#pragma once

#include <string>
#include <vector>

namespace cli {

// Makes `folder` exist: nothing when it is a folder already; created when its parent folder
// exists. Throws std::runtime_error naming the missing parent, or `folder` when it exists and is
// not a folder.
void PrepareFolder(const std::string& folder);
// Whether two names reach the same file (through links, or "a/../b" and "b"); never for "-".
bool SameFile(const std::string& a, const std::string& b);
// Throws std::runtime_error "output: the result would overwrite the input IN" when `output` is
// the same file as one of `inputs` (empty names are skipped), so that no run destroys what it
// reads.
void RefuseOverwritingInputs(const std::string& output, const std::vector<std::string>& inputs);
// PrepareFolder of the folder that will hold `file`; nothing for "-" (the standard output) or a
// name without a folder.
void PrepareOutputFolder(const std::string& file);

}  // namespace cli
