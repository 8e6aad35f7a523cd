// The standard streams: binary mode, and whether stderr is a terminal.
#pragma once

#include <cstdio>

namespace headless::platform {

// Puts a standard stream (stdin or stdout) in binary mode (no line-end translation on Windows).
void SetBinaryMode(std::FILE* stream);

// Whether the standard error stream is a terminal (progress output draws a bar there).
bool StderrIsTerminal();

}  // namespace headless::platform
