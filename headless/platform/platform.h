// The headless host's few platform calls: loading a library, finding a symbol in it, the
// program's own location and arguments, the process's page-fault count, whether stderr is a
// terminal, the interrupt (Ctrl-C) handler, files created exclusively and synced to disk, the
// standard streams in binary mode, and a program started with a pipe to its standard input.
// Everything else in headless/ uses only the standard library.
//
// File names and texts travel through the headless host as UTF-8 in std::string on every
// platform; PathFromUtf8 and Utf8FromPath convert at the file system's door.
#pragma once

#include <cstdio>
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

// Runs `program` with `arguments`, its standard input read from `inPath` (empty when none is
// named), its standard output and error written to the files `outPath` and `errPath`, and this
// process's environment with the "NAME=value" entries of `environment` over it; waits for it.
// Answers its exit code; -1 when it could not be started or was ended by a signal.
int RunProgram(const std::string& program, const std::vector<std::string>& arguments,
               const std::string& outPath, const std::string& errPath,
               const std::string& inPath = "", const std::vector<std::string>& environment = {});

// Whether the standard error stream is a terminal (progress output draws a bar there).
bool StderrIsTerminal();

// Page faults the process has taken so far (minor and major).
long long ProcessPageFaults();

// The running program's own file, absolute (Linux: /proc/self/exe; Windows: the module's file
// name, as UTF-8). Empty when it cannot be found.
std::string ExecutablePath();

// Ctrl-C (SIGINT; on Windows the console's Ctrl-C and Ctrl-Break) from now on only sets the flag
// InterruptRequested answers, which long loops check so that the program can stop cleanly. A
// second Ctrl-C ends the program at once, the usual way. Safe to call more than once.
void InstallInterruptHandler();
bool InterruptRequested();
// Sets or clears the flag as the handler would (tests, and a program that handled it).
void SetInterruptRequested(bool requested);

// Opens `path` (UTF-8) for reading in binary. Null with `error` set to the system's reason.
std::FILE* OpenForReading(const std::string& path, std::string& error);
// Creates `path` for writing in binary, failing when anything already has that name (O_EXCL).
// Null with `error` set to the system's reason otherwise.
std::FILE* CreateNewFile(const std::string& path, std::string& error);
// Flushes the stream's buffer and asks the system to put the file's data on disk. False with
// `error` set when either fails.
bool FlushToDisk(std::FILE* file, std::string& error);
// Test switch: makes the n-th FlushToDisk from now on (1 = the next) fail after the buffer's
// flush, as a failing disk would, with EIO as the system's reason; only that one. 0 disarms, as
// does resetting the host state (headless/scene/host_state.h).
void FailNthFlush(long long n);
// Puts a standard stream (stdin or stdout) in binary mode (no line-end translation on Windows).
void SetBinaryMode(std::FILE* stream);

// The full path of `program` as found along PATH (on Windows with ".exe" added when missing),
// or empty.
std::string FindProgram(const std::string& program);
// Starts `program` (a path) with `arguments` and answers a stream writing to its standard
// input, in binary; its output goes where this program's does. Null with `error` set when it
// could not be started. While a pipe is open, writing to a program that has ended fails instead of
// ending this program.
std::FILE* OpenPipeTo(const std::string& program, const std::vector<std::string>& arguments,
                      std::string& error);
// Closes the pipe, waits for the program and answers its exit code (-1 when it did not end
// normally).
int ClosePipe(std::FILE* pipe);

}  // namespace headless::platform
