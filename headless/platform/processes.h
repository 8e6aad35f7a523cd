// Other programs: one run with its streams given and waited for, one found along PATH, and one
// started with a pipe to its standard input whose writes never block this program's stop.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace headless::platform {

// Runs `program` with `arguments`, its standard input read from `inPath` (empty when none is
// named), its standard output and error written to the files `outPath` and `errPath`, and this
// process's environment with the "NAME=value" entries of `environment` over it; waits for it.
// Answers its exit code; -1 when it could not be started or was ended by a signal.
int RunProgram(const std::string& program, const std::vector<std::string>& arguments,
               const std::string& outPath, const std::string& errPath,
               const std::string& inPath = "", const std::vector<std::string>& environment = {});

// How a program run with its output captured (RunCaptured) came to an end.
enum class RunEnd { kExited, kSignalled, kTimedOut, kInterrupted, kTooMuchOutput, kNotStarted };
struct CapturedRun {
  RunEnd end = RunEnd::kNotStarted;
  int code = -1;       // kExited: the exit code; kSignalled: the signal (on Windows the exception)
  std::string out;     // its standard output, whole
  std::string err;     // its standard error, its first kCapturedErrorBytes
  std::string reason;  // kNotStarted: the system's reason
};
inline constexpr std::size_t kCapturedErrorBytes = 64 * 1024;
// Runs `program` with `arguments`, its standard input empty, and collects its standard output and
// error while it runs. It is killed when it runs past `seconds`, when its output grows past
// `maxOutputBytes`, or at a Ctrl-C (InterruptRequested); a second Ctrl-C meanwhile kills it on the
// way out (POSIX). Nothing it does can reach this process but through what it writes.
CapturedRun RunCaptured(const std::string& program, const std::vector<std::string>& arguments,
                        double seconds, std::uint64_t maxOutputBytes);

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
PipeWrite WriteToPipe(ProgramPipe* pipe, const void* data, std::size_t size, std::string& error);
// Closes the pipe, waits for the program and answers its exit code (-1 when it did not end
// normally). A Ctrl-C while it waits ends the program (POSIX).
int ClosePipe(ProgramPipe* pipe);
// Closes the pipe and ends the program without waiting for it to finish its work (it may have
// stopped reading and never end by itself); for a run that gives up its output.
void AbandonPipe(ProgramPipe* pipe);

}  // namespace headless::platform
