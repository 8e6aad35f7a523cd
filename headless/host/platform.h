// The headless host's few platform calls: loading a library, finding a symbol in it, the
// program's arguments, running a program, the process's page-fault count, and whether stderr is
// a terminal. Everything else in headless/ uses only the standard library.
//
// File names and texts travel through the headless host as UTF-8 in std::string on every
// platform; PathFromUtf8 and Utf8FromPath convert at the file system's door.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace headless::platform {

// A file name in UTF-8 as a path; throws std::filesystem::filesystem_error on bytes that are
// not UTF-8 where the file system wants another encoding.
std::filesystem::path PathFromUtf8(const std::string& name);
// A path as UTF-8.
std::string Utf8FromPath(const std::filesystem::path& path);

// Opens a shared library; null with `error` set when it cannot be loaded.
void* OpenLibrary(const std::string& path, std::string& error);
// The address of an exported symbol, or null.
void* FindSymbol(void* library, const char* name);
// Closes a library from OpenLibrary; null is ignored.
void CloseLibrary(void* library);

// The program's arguments after its own name, in UTF-8 (`argc` and `argv` as main received
// them).
std::vector<std::string> ProgramArguments(int argc, char** argv);

// Runs `program` with `arguments`, its standard input empty and its standard output and error
// written to the files `outPath` and `errPath`, and waits for it. Answers its exit code; -1 when
// it could not be started or was ended by a signal.
int RunProgram(const std::string& program, const std::vector<std::string>& arguments,
               const std::string& outPath, const std::string& errPath);

// Whether the standard error stream is a terminal (progress output draws a bar there).
bool StderrIsTerminal();

// Page faults the process has taken so far (minor and major).
long long ProcessPageFaults();

}  // namespace headless::platform
