// The headless host's few platform calls: loading a library, finding a symbol in it,
// the process's page-fault count, and whether stderr is a terminal.
// Everything else in headless/ uses only the standard library.
#pragma once

#include <string>

namespace headless::platform {

// Opens a shared library; null with `error` set when it cannot be loaded.
void* OpenLibrary(const std::string& path, std::string& error);
// The address of an exported symbol, or null.
void* FindSymbol(void* library, const char* name);
// Closes a library from OpenLibrary; null is ignored.
void CloseLibrary(void* library);

// Whether the standard error stream is a terminal (progress output draws a bar there).
bool StderrIsTerminal();

// Page faults the process has taken so far (minor and major).
long long ProcessPageFaults();

}  // namespace headless::platform
