// Where the program's outputs go: the commands name the folder and file checks of
// headless/files/output_folder.h in the program's namespace.
#pragma once

#include "headless/files/output_folder.h"

namespace cli {

using headless::InputFiles;
using headless::PrepareFolder;
using headless::PrepareOutputFolder;
using headless::RefuseOverwritingInputs;
using headless::SameFile;

}  // namespace cli
