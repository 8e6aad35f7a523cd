#include "headless/platform/processes.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <mutex>
#include <thread>

#include "headless/platform/interrupts.h"

#ifdef _WIN32
#include <windows.h>
// The headers below build on the declarations of windows.h.
#include <stdio.h>

#include <cwchar>

#include "headless/platform/paths.h"
#else
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <stdio.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

extern char** environ;
#endif

namespace headless::platform {

namespace {

// PATH split at its separator; empty entries mean the current folder.
std::vector<std::string> SearchFolders(char separator) {
  std::vector<std::string> folders;
  const char* path = std::getenv("PATH");
  if (path == nullptr) return folders;
  std::string entry;
  for (const char* c = path;; ++c) {
    if (*c == separator || *c == '\0') {
      folders.push_back(entry.empty() ? "." : entry);
      entry.clear();
      if (*c == '\0') break;
    } else {
      entry.push_back(*c);
    }
  }
  return folders;
}

// `base` ("NAME=value" entries) with `changes` put over it, entries of the same NAME replaced.
template <typename String>
std::vector<String> MergedEnvironment(const std::vector<String>& base,
                                      const std::vector<String>& changes) {
  std::map<String, String> byName;
  std::vector<String> order;
  for (const auto* list : {&base, &changes})
    for (const String& entry : *list) {
      // Windows keeps entries such as "=C:=C:\\" whose name starts with '='.
      const String name = entry.substr(0, entry.find('=', 1));
      if (byName.count(name) == 0) order.push_back(name);
      byName[name] = entry;
    }
  std::vector<String> merged;
  for (const String& name : order) merged.push_back(byName[name]);
  return merged;
}

}  // namespace

#ifdef _WIN32

namespace {

// One argument of a command line as the C runtime's parser splits it again: quoted when it is
// empty or holds blanks or quotes, with the backslashes before a quote (or before the closing
// quote) doubled.
std::wstring QuotedArgument(const std::wstring& argument) {
  if (!argument.empty() && argument.find_first_of(L" \t\n\v\"") == std::wstring::npos)
    return argument;
  std::wstring quoted = L"\"";
  size_t backslashes = 0;
  for (const wchar_t c : argument) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    quoted.append(c == L'"' ? 2 * backslashes + 1 : backslashes, L'\\');
    quoted.push_back(c);
    backslashes = 0;
  }
  quoted.append(2 * backslashes, L'\\');
  quoted.push_back(L'"');
  return quoted;
}

}  // namespace

int RunProgram(const std::string& program, const std::vector<std::string>& arguments,
               const std::string& outPath, const std::string& errPath, const std::string& inPath,
               const std::vector<std::string>& environment) {
  SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  const auto open = [&](const std::string& name, DWORD access, DWORD disposition) {
    return CreateFileW(WideFromUtf8(name).c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE,
                       &inheritable, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
  };
  const HANDLE handles[] = {open(inPath.empty() ? "NUL" : inPath, GENERIC_READ, OPEN_EXISTING),
                            open(outPath, GENERIC_WRITE, CREATE_ALWAYS),
                            open(errPath, GENERIC_WRITE, CREATE_ALWAYS)};
  // The environment block: this process's entries with the changes over them, each ended by a
  // zero, the block by another.
  std::vector<std::wstring> base, changes;
  if (wchar_t* block = GetEnvironmentStringsW()) {
    for (const wchar_t* entry = block; *entry != L'\0'; entry += std::wcslen(entry) + 1)
      base.emplace_back(entry);
    FreeEnvironmentStringsW(block);
  }
  for (const std::string& entry : environment) changes.push_back(WideFromUtf8(entry));
  std::wstring block;
  for (const std::wstring& entry : MergedEnvironment(base, changes)) block += entry + L'\0';
  block += L'\0';
  int status = -1;
  bool opened = true;
  for (const HANDLE h : handles) opened = opened && h != INVALID_HANDLE_VALUE;
  if (opened) {
    const std::wstring application = WideFromUtf8(program);
    std::wstring commandLine = QuotedArgument(application);
    for (const std::string& argument : arguments)
      commandLine += L" " + QuotedArgument(WideFromUtf8(argument));
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = handles[0];
    startup.hStdOutput = handles[1];
    startup.hStdError = handles[2];
    PROCESS_INFORMATION process{};
    if (CreateProcessW(application.c_str(), commandLine.data(), nullptr, nullptr, TRUE,
                       CREATE_UNICODE_ENVIRONMENT, block.data(), nullptr, &startup, &process)) {
      WaitForSingleObject(process.hProcess, INFINITE);
      DWORD code = 0;
      // An exception that ended the process leaves its status (0xC0000000 and up) as the code.
      if (GetExitCodeProcess(process.hProcess, &code) && code < 0xC0000000u)
        status = static_cast<int>(code);
      CloseHandle(process.hThread);
      CloseHandle(process.hProcess);
    }
  }
  for (const HANDLE h : handles)
    if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
  return status;
}

namespace {

// Collects what `pipe` delivers into `into`, at most `limit` bytes, on a thread of its own;
// `over` is set when more came.
void Collect(HANDLE pipe, std::string& into, std::uint64_t limit, bool& over) {
  char buffer[65536];
  DWORD got = 0;
  while (ReadFile(pipe, buffer, sizeof buffer, &got, nullptr) && got > 0) {
    if (into.size() + got > limit) {
      over = true;
      into.append(buffer, static_cast<size_t>(limit - into.size()));
      break;
    }
    into.append(buffer, got);
  }
}

}  // namespace

CapturedRun RunCaptured(const std::string& program, const std::vector<std::string>& arguments,
                        double seconds, std::uint64_t maxOutputBytes) {
  CapturedRun run;
  SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  HANDLE outRead = nullptr, outWrite = nullptr, errRead = nullptr, errWrite = nullptr;
  if (!CreatePipe(&outRead, &outWrite, &inheritable, 0) ||
      !CreatePipe(&errRead, &errWrite, &inheritable, 0)) {
    run.reason = "cannot make a pipe (error " + std::to_string(GetLastError()) + ")";
    for (HANDLE h : {outRead, outWrite})
      if (h != nullptr) CloseHandle(h);
    return run;
  }
  SetHandleInformation(outRead, HANDLE_FLAG_INHERIT, 0);
  SetHandleInformation(errRead, HANDLE_FLAG_INHERIT, 0);
  const HANDLE input = CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                   &inheritable, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  const std::wstring application = WideFromUtf8(program);
  std::wstring commandLine = QuotedArgument(application);
  for (const std::string& argument : arguments)
    commandLine += L" " + QuotedArgument(WideFromUtf8(argument));
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = input;
  startup.hStdOutput = outWrite;
  startup.hStdError = errWrite;
  PROCESS_INFORMATION process{};
  const bool started = CreateProcessW(application.c_str(), commandLine.data(), nullptr, nullptr,
                                      TRUE, 0, nullptr, nullptr, &startup, &process);
  const DWORD startError = GetLastError();
  for (HANDLE h : {outWrite, errWrite, input})
    if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
  if (!started) {
    CloseHandle(outRead);
    CloseHandle(errRead);
    run.reason = program + ": cannot be started (error " + std::to_string(startError) + ")";
    return run;
  }
  bool outOver = false, errOver = false;
  std::thread outThread(Collect, outRead, std::ref(run.out), maxOutputBytes, std::ref(outOver));
  std::thread errThread(Collect, errRead, std::ref(run.err), std::uint64_t{kCapturedErrorBytes},
                        std::ref(errOver));
  const ULONGLONG deadline = GetTickCount64() + static_cast<ULONGLONG>(seconds * 1000.0);
  run.end = RunEnd::kExited;
  while (WaitForSingleObject(process.hProcess, 100) == WAIT_TIMEOUT) {
    if (InterruptRequested())
      run.end = RunEnd::kInterrupted;
    else if (GetTickCount64() >= deadline)
      run.end = RunEnd::kTimedOut;
    else if (outOver)
      run.end = RunEnd::kTooMuchOutput;
    if (run.end != RunEnd::kExited) {
      TerminateProcess(process.hProcess, 1);
      WaitForSingleObject(process.hProcess, INFINITE);
      break;
    }
  }
  outThread.join();
  errThread.join();
  DWORD code = 0;
  if (run.end == RunEnd::kExited && GetExitCodeProcess(process.hProcess, &code)) {
    // An exception that ended the process leaves its status (0xC0000000 and up) as the code.
    run.end = code >= 0xC0000000u ? RunEnd::kSignalled : RunEnd::kExited;
    run.code = static_cast<int>(code);
  }
  if (run.end == RunEnd::kExited && outOver) run.end = RunEnd::kTooMuchOutput;
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  CloseHandle(outRead);
  CloseHandle(errRead);
  return run;
}

std::string FindProgram(const std::string& program) {
  std::filesystem::path name(WideFromUtf8(program));
  if (!name.has_extension()) name += L".exe";
  std::error_code ec;
  if (name.has_parent_path()) return std::filesystem::is_regular_file(name, ec) ? program : "";
  for (const std::string& folder : SearchFolders(';')) {
    const std::filesystem::path candidate = std::filesystem::path(WideFromUtf8(folder)) / name;
    if (std::filesystem::is_regular_file(candidate, ec)) return Utf8FromWide(candidate.wstring());
  }
  return {};
}

struct ProgramPipe {
  std::FILE* file = nullptr;
};

ProgramPipe* OpenPipeTo(const std::string& program, const std::vector<std::string>& arguments,
                        std::string& error) {
  // _wpopen hands the line to cmd.exe, which takes the outer quotes off a line starting with one.
  std::wstring command = L"\"" + QuotedArgument(WideFromUtf8(program));
  for (const std::string& argument : arguments)
    command += L" " + QuotedArgument(WideFromUtf8(argument));
  command += L"\"";
  std::FILE* file = _wpopen(command.c_str(), L"wb");
  if (file == nullptr) {
    error = program + ": " + std::strerror(errno);
    return nullptr;
  }
  return new ProgramPipe{file};
}

PipeWrite WriteToPipe(ProgramPipe* pipe, const void* data, size_t size, std::string& error) {
  errno = 0;
  if (std::fwrite(data, 1, size, pipe->file) == size) return PipeWrite::kWritten;
  if (InterruptRequested()) return PipeWrite::kInterrupted;
  error = errno != 0 ? std::strerror(errno) : "the program stopped reading";
  return PipeWrite::kFailed;
}

int ClosePipe(ProgramPipe* pipe) {
  const int status = _pclose(pipe->file);
  delete pipe;
  return status;
}

void AbandonPipe(ProgramPipe* pipe) {
  ClosePipe(pipe);
}

#else

namespace {

// Pipes open; SIGPIPE is ignored while there is one, so that writing to a program that ended
// fails with EPIPE instead of ending this program. Pipes may be opened and closed on any thread.
std::mutex g_pipeMutex;
int g_openPipes = 0;
struct sigaction g_oldPipeAction;

void PipeOpened() {
  std::lock_guard<std::mutex> lock(g_pipeMutex);
  if (g_openPipes++ > 0) return;
  struct sigaction ignore {};
  ignore.sa_handler = SIG_IGN;
  sigemptyset(&ignore.sa_mask);
  sigaction(SIGPIPE, &ignore, &g_oldPipeAction);
}

void PipeClosed() {
  std::lock_guard<std::mutex> lock(g_pipeMutex);
  if (--g_openPipes == 0) sigaction(SIGPIPE, &g_oldPipeAction, nullptr);
}

// Waits for `child`; a Ctrl-C meanwhile ends it first. Its exit code, or -1.
int WaitFor(pid_t child) {
  int status = 0;
  while (waitpid(child, &status, 0) < 0) {
    if (errno != EINTR) return -1;
    if (InterruptRequested()) kill(child, SIGKILL);
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

double Seconds() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<double>(now.tv_sec) + 1e-9 * static_cast<double>(now.tv_nsec);
}

// Reads what `fd` holds now into `into`, keeping at most `limit` bytes; false once it has ended
// (or failed). `over` is set when more came than `limit`.
bool Drain(int fd, std::string& into, std::uint64_t limit, bool& over) {
  char buffer[65536];
  for (;;) {
    const ssize_t got = read(fd, buffer, sizeof buffer);
    if (got > 0) {
      const std::uint64_t room = limit - std::min<std::uint64_t>(limit, into.size());
      if (static_cast<std::uint64_t>(got) > room) over = true;
      into.append(buffer, static_cast<size_t>(std::min<std::uint64_t>(room, got)));
      continue;
    }
    if (got < 0 && errno == EINTR) continue;
    return got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK);
  }
}

}  // namespace

CapturedRun RunCaptured(const std::string& program, const std::vector<std::string>& arguments,
                        double seconds, std::uint64_t maxOutputBytes) {
  CapturedRun run;
  int out[2] = {-1, -1}, err[2] = {-1, -1};
  // Close-on-exec from the start, so that no program another thread starts meanwhile holds an
  // end open; the child's copies (dup2) are not.
  if (pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0) {
    run.reason = std::strerror(errno);
    for (int fd : {out[0], out[1]})
      if (fd >= 0) close(fd);
    return run;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  posix_spawn_file_actions_adddup2(&actions, err[1], 2);
  std::vector<char*> argv = {const_cast<char*>(program.c_str())};
  for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);
  pid_t child = 0;
  const int started = posix_spawn(&child, program.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(out[1]);
  close(err[1]);
  if (started != 0) {
    close(out[0]);
    close(err[0]);
    run.reason = program + ": " + std::strerror(started);
    return run;
  }
  KillOnSecondInterrupt(child);
  for (int fd : {out[0], err[0]}) fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
  const double deadline = Seconds() + seconds;
  bool outOpen = true, errOpen = true, outOver = false, errOver = false;
  run.end = RunEnd::kExited;
  int status = 0;
  for (;;) {
    pollfd ready[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
    // An ended stream is left out of the poll (a negative descriptor is ignored).
    if (!outOpen) ready[0].fd = -1;
    if (!errOpen) ready[1].fd = -1;
    poll(ready, 2, 50);
    if (outOpen) outOpen = Drain(out[0], run.out, maxOutputBytes, outOver);
    if (errOpen) errOpen = Drain(err[0], run.err, kCapturedErrorBytes, errOver);
    if (InterruptRequested())
      run.end = RunEnd::kInterrupted;
    else if (Seconds() >= deadline)
      run.end = RunEnd::kTimedOut;
    else if (outOver)
      run.end = RunEnd::kTooMuchOutput;
    if (run.end != RunEnd::kExited) {
      kill(child, SIGKILL);
      while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
      }
      break;
    }
    if (outOpen || errOpen) continue;
    const pid_t waited = waitpid(child, &status, WNOHANG);
    if (waited == child || (waited < 0 && errno != EINTR)) break;
  }
  SpareOnSecondInterrupt(child);
  close(out[0]);
  close(err[0]);
  if (run.end != RunEnd::kExited) return run;
  if (WIFSIGNALED(status)) {
    run.end = RunEnd::kSignalled;
    run.code = WTERMSIG(status);
  } else {
    run.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  return run;
}

int RunProgram(const std::string& program, const std::vector<std::string>& arguments,
               const std::string& outPath, const std::string& errPath, const std::string& inPath,
               const std::vector<std::string>& environment) {
  posix_spawn_file_actions_t actions;
  if (posix_spawn_file_actions_init(&actions) != 0) return -1;
  posix_spawn_file_actions_addopen(&actions, 0, inPath.empty() ? "/dev/null" : inPath.c_str(),
                                   O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0644);
  posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0644);
  std::vector<char*> argv = {const_cast<char*>(program.c_str())};
  for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);
  std::vector<std::string> base;
  for (char** entry = environ; *entry != nullptr; ++entry) base.emplace_back(*entry);
  const std::vector<std::string> merged = MergedEnvironment(base, environment);
  std::vector<char*> envp;
  for (const std::string& entry : merged) envp.push_back(const_cast<char*>(entry.c_str()));
  envp.push_back(nullptr);
  pid_t child = 0;
  const int started =
      posix_spawn(&child, program.c_str(), &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  if (started != 0) return -1;
  int status = 0;
  while (waitpid(child, &status, 0) < 0)
    if (errno != EINTR) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string FindProgram(const std::string& program) {
  if (program.find('/') != std::string::npos)
    return access(program.c_str(), X_OK) == 0 ? program : "";
  for (const std::string& folder : SearchFolders(':')) {
    const std::string candidate = folder + "/" + program;
    struct stat info {};
    if (stat(candidate.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
        access(candidate.c_str(), X_OK) == 0)
      return candidate;
  }
  return {};
}

struct ProgramPipe {
  int fd = -1;
  pid_t child = 0;
};

ProgramPipe* OpenPipeTo(const std::string& program, const std::vector<std::string>& arguments,
                        std::string& error) {
  int ends[2];
  if (pipe(ends) != 0) {
    error = program + ": " + std::strerror(errno);
    return nullptr;
  }
  // The write end stays with this program only, and never blocks it: WriteToPipe waits itself.
  fcntl(ends[1], F_SETFD, FD_CLOEXEC);
  fcntl(ends[1], F_SETFL, fcntl(ends[1], F_GETFL) | O_NONBLOCK);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, ends[0], 0);
  posix_spawn_file_actions_addclose(&actions, ends[0]);
  std::vector<char*> argv = {const_cast<char*>(program.c_str())};
  for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);
  pid_t child = 0;
  const int started = posix_spawn(&child, program.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(ends[0]);
  if (started != 0) {
    close(ends[1]);
    error = program + ": " + std::strerror(started);
    return nullptr;
  }
  PipeOpened();
  KillOnSecondInterrupt(child);
  return new ProgramPipe{ends[1], child};
}

PipeWrite WriteToPipe(ProgramPipe* pipe, const void* data, size_t size, std::string& error) {
  const char* bytes = static_cast<const char*>(data);
  while (size > 0) {
    if (InterruptRequested()) return PipeWrite::kInterrupted;
    const ssize_t written = write(pipe->fd, bytes, size);
    if (written > 0) {
      bytes += written;
      size -= static_cast<size_t>(written);
      continue;
    }
    if (written < 0 && errno == EINTR) continue;
    if (written < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      // Full: wait for room, looking at the flag a few times a second.
      pollfd room{pipe->fd, POLLOUT, 0};
      poll(&room, 1, 100);
      continue;
    }
    error = written < 0 ? std::strerror(errno) : "the program stopped reading";
    return PipeWrite::kFailed;
  }
  return PipeWrite::kWritten;
}

int ClosePipe(ProgramPipe* pipe) {
  close(pipe->fd);
  const int status = WaitFor(pipe->child);
  SpareOnSecondInterrupt(pipe->child);
  PipeClosed();
  delete pipe;
  return status;
}

void AbandonPipe(ProgramPipe* pipe) {
  close(pipe->fd);
  kill(pipe->child, SIGKILL);
  WaitFor(pipe->child);
  SpareOnSecondInterrupt(pipe->child);
  PipeClosed();
  delete pipe;
}

#endif

}  // namespace headless::platform
