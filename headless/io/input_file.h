// Reading a whole input file, where the name "-" stands for the standard input (read in
// binary), so every reader of the headless host takes either.
#pragma once

#include <string>

namespace headless {

// The bytes of `path` (or of the standard input for "-"). Throws std::runtime_error
// "path: cannot read: reason" when it cannot be opened or read.
std::string ReadInputFile(const std::string& path);

}  // namespace headless
