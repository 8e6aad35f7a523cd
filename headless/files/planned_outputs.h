// Every file a command will write, checked against the others and against what it reads before
// anything is written: no output may be an input, no two outputs one file (whatever names or
// links reach it), and no file output may be one a folder output writes into. Each command lists
// its outputs here (results, previews and the pages beside them, saved scenes, pictures, rest
// meshes, reports), so that one more output is one more entry.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace headless {

struct PlannedOutput {
  std::string path;  // a file ("-": the standard output), or a folder when `writes` is set
  std::string what;  // how messages name it: "the result", "the preview's page", ...
  // For a folder the command writes files into: whether it writes the file called `name` there.
  std::function<bool(const std::string& name)> writes{};
};

// Throws std::runtime_error, naming both files, when an output is one of `inputs` ("OUT: the
// result would overwrite the input IN"), two outputs are one file ("OUT: the preview would
// overwrite the result"), or a folder output writes a file that is an input or another output.
// Empty names are skipped; "-" is the standard output (two outputs there are refused too) or
// the standard input.
void CheckOutputs(const std::vector<PlannedOutput>& outputs,
                  const std::vector<std::string>& inputs);

}  // namespace headless
