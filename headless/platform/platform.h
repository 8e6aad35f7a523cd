// The headless host's few platform calls: loading a library, finding a symbol in it, the
// program's own location and arguments, the process's page-fault count, whether stderr is a
// terminal, the interrupt (Ctrl-C) handler, files created exclusively and synced to disk, the
// standard streams in binary mode, and a program started with a pipe to its standard input.
// Everything else in headless/ uses only the standard library.
//
// File names and texts travel through the headless host as UTF-8 in std::string on every
// platform; PathFromUtf8 and Utf8FromPath convert at the file system's door.
#pragma once

#include <cstdint>
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

// The machine's physical memory in bytes; 0 when the system does not say.
std::uint64_t PhysicalMemoryBytes();

// The running program's own file, absolute (Linux: /proc/self/exe; Windows: the module's file
// name, as UTF-8). Empty when it cannot be found.
std::string ExecutablePath();

// Ctrl-C and SIGTERM (on Windows the console's Ctrl-C and Ctrl-Break) from now on only set the
// flag InterruptRequested answers, which long loops check so that the program can stop cleanly.
// A second one ends the program at once with exit code 130, after removing the files held for
// removal (HoldForRemoval) and ending the program a pipe feeds (OpenPipeTo). Safe to call more
// than once.
void InstallInterruptHandler();
// Blocks of a MiB and more come from the system and go straight back to it when freed, rather
// than staying in the allocator's pools (glibc raises its threshold for that after the first such
// block is freed): a program whose threads take turns with frame-sized arrays otherwise keeps
// every pool's share of them. Nothing elsewhere.
void ReturnLargeBlocksAtOnce();
bool InterruptRequested();
// Sets or clears the flag as the handler would (tests, and a program that handled it).
void SetInterruptRequested(bool requested);

// A file (a temporary output) that a program ended at once by a second Ctrl-C removes on its way
// out, until Release: so that not even then is anything half-written left. At most a few dozen
// are held at a time (beyond, a name is not held), each name at most 4095 bytes.
void HoldForRemoval(const std::string& path);
void Release(const std::string& path);

// What tells one file from every other: the device (volume) and the file's number on it, the
// same under every name and link that reaches it.
struct FileIdentity {
  std::uint64_t device = 0;
  std::uint64_t file = 0;
  bool operator==(const FileIdentity&) const = default;
};
// The identity of the file `path` (UTF-8) reaches, links followed; false when there is none.
bool IdentifyFile(const std::string& path, FileIdentity& identity);

// Opens `path` (UTF-8) for reading in binary. Null with `error` set to the system's reason.
std::FILE* OpenForReading(const std::string& path, std::string& error);
// Moves a stream opened by OpenForReading to `offset` bytes from its start; false where it
// cannot (a pipe, a device).
bool SeekTo(std::FILE* file, std::uint64_t offset);
// Creates `path` for writing in binary, failing when anything already has that name (O_EXCL).
// Null with `error` set to the system's reason otherwise.
std::FILE* CreateNewFile(const std::string& path, std::string& error);
// Flushes the stream's buffer and asks the system to put the file's data on disk. False with
// `error` set when either fails.
bool FlushToDisk(std::FILE* file, std::string& error);
// Flushes the stream's buffer and has the system start putting what the file holds on disk
// without waiting, so that a later FlushToDisk waits for little. A hint: where the system has no
// such call nothing happens, and its faults show in FlushToDisk.
void StartPuttingOnDisk(std::FILE* file);
// Has writes to the file go straight to the disk (`around` true), not through the system's cache,
// or through it again; flushes the stream first. Such writes take whole blocks from memory aligned
// to kDiskBlockBytes, at offsets that are multiples of it. False, with nothing changed, where the
// system or the file's file system cannot.
bool WriteAroundCache(std::FILE* file, bool around);
inline constexpr std::size_t kDiskBlockBytes = 4096;
// Writes [bytes + written, bytes + count) to the file's descriptor, past the stream (which holds
// nothing unwritten), moving `written` on as bytes go. 0 when all went, else the system's error
// number.
int WriteToDescriptor(std::FILE* file, const char* bytes, std::size_t count, std::size_t& written);
// Has the system give the whole pages within [begin, begin + bytes) their memory now, as a first
// write to each would, without writing anything: for a thread to do ahead of the one that will
// write there. A hint: false where the system has no such call, and nothing happens.
bool FillInPages(void* begin, std::size_t bytes);
// Test switch: makes the n-th FlushToDisk from now on (1 = the next) fail after the buffer's
// flush, as a failing disk would, with EIO as the system's reason; only that one. 0 disarms.
void FailNthFlush(long long n);
// Puts a standard stream (stdin or stdout) in binary mode (no line-end translation on Windows).
void SetBinaryMode(std::FILE* stream);

// The full path of `program` as found along PATH (on Windows with ".exe" added when missing),
// or empty.
std::string FindProgram(const std::string& program);
// A program started with a pipe to its standard input.
struct ProgramPipe;
// Starts `program` (a path) with `arguments`, its standard input the pipe, its output where this
// program's goes. Null with `error` set when it could not be started. While a pipe is open,
// writing to a program that has ended fails instead of ending this program.
ProgramPipe* OpenPipeTo(const std::string& program, const std::vector<std::string>& arguments,
                        std::string& error);
enum class PipeWrite { kWritten, kInterrupted, kFailed };
// Writes `size` bytes to the program. While the pipe is full it waits, but never past a Ctrl-C:
// kInterrupted then (some bytes may be written). kFailed with `error` set when the program no
// longer reads (it ended, or closed its input). On Windows the write simply waits.
PipeWrite WriteToPipe(ProgramPipe* pipe, const void* data, size_t size, std::string& error);
// Closes the pipe, waits for the program and answers its exit code (-1 when it did not end
// normally). A Ctrl-C while it waits ends the program (POSIX).
int ClosePipe(ProgramPipe* pipe);
// Closes the pipe and ends the program without waiting for it to finish its work (it may have
// stopped reading and never end by itself); for a run that gives up its output.
void AbandonPipe(ProgramPipe* pipe);

}  // namespace headless::platform
