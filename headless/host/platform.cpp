#include "headless/host/platform.h"

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <psapi.h>
#include <stdio.h>
#include <sys/stat.h>
#include <windows.h>
#else
#include <dlfcn.h>
#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace headless::platform {

namespace {

std::atomic<bool> g_interrupted{false};
static_assert(std::atomic<bool>::is_always_lock_free, "the interrupt flag is set from a handler");

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

}  // namespace

bool InterruptRequested() {
  return g_interrupted.load();
}

void SetInterruptRequested(bool requested) {
  g_interrupted.store(requested);
}

#ifdef _WIN32

long long ProcessPageFaults() {
  PROCESS_MEMORY_COUNTERS counters{};
  if (!K32GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters)) return 0;
  return static_cast<long long>(counters.PageFaultCount);
}

void* OpenLibrary(const std::string& path, std::string& error) {
  HMODULE module = LoadLibraryA(path.c_str());
  if (module == nullptr)
    error = path + ": LoadLibrary failed with error " +
            std::to_string(static_cast<unsigned long>(GetLastError()));
  return reinterpret_cast<void*>(module);
}

void* FindSymbol(void* library, const char* name) {
  return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(library), name));
}

void CloseLibrary(void* library) {
  if (library != nullptr) FreeLibrary(static_cast<HMODULE>(library));
}

bool StderrIsTerminal() {
  return _isatty(_fileno(stderr)) != 0;
}

namespace {

std::wstring Widen(const std::string& text) {
  if (text.empty()) return {};
  const int size =
      MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring wide(static_cast<size_t>(size), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(), size);
  return wide;
}

std::string Narrow(const std::wstring& wide) {
  if (wide.empty()) return {};
  const int size = WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()),
                                       nullptr, 0, nullptr, nullptr);
  std::string text(static_cast<size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), text.data(), size,
                      nullptr, nullptr);
  return text;
}

BOOL WINAPI OnConsoleControl(DWORD event) {
  if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) return FALSE;
  // The second press goes to the default handler, which ends the program.
  if (g_interrupted.exchange(true)) return FALSE;
  return TRUE;
}

// One argument as the C runtime's command-line parser reads it back.
std::wstring QuoteArgument(const std::wstring& argument) {
  std::wstring quoted = L"\"";
  size_t backslashes = 0;
  for (wchar_t c : argument) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    quoted.append(c == L'"' ? 2 * backslashes + 1 : backslashes, L'\\');
    backslashes = 0;
    quoted.push_back(c);
  }
  quoted.append(2 * backslashes, L'\\');
  quoted.push_back(L'"');
  return quoted;
}

}  // namespace

std::string ExecutablePath() {
  std::wstring buffer(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length =
        GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (length == 0) return {};
    if (length < buffer.size()) {
      buffer.resize(length);
      return Narrow(buffer);
    }
    buffer.resize(buffer.size() * 2);
  }
}

void InstallInterruptHandler() {
  SetConsoleCtrlHandler(OnConsoleControl, TRUE);
}

std::FILE* CreateNewFile(const std::string& path, std::string& error) {
  const int fd =
      _wopen(Widen(path).c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY, _S_IREAD | _S_IWRITE);
  if (fd < 0) {
    error = std::strerror(errno);
    return nullptr;
  }
  std::FILE* file = _fdopen(fd, "wb");
  if (file == nullptr) {
    error = std::strerror(errno);
    _close(fd);
  }
  return file;
}

bool FlushToDisk(std::FILE* file, std::string& error) {
  if (std::fflush(file) != 0 || _commit(_fileno(file)) != 0) {
    error = std::strerror(errno);
    return false;
  }
  return true;
}

void SetBinaryMode(std::FILE* stream) {
  _setmode(_fileno(stream), _O_BINARY);
}

std::string FindProgram(const std::string& program) {
  std::filesystem::path name(Widen(program));
  if (!name.has_extension()) name += L".exe";
  std::error_code ec;
  if (name.has_parent_path()) return std::filesystem::is_regular_file(name, ec) ? program : "";
  for (const std::string& folder : SearchFolders(';')) {
    const std::filesystem::path candidate = std::filesystem::path(Widen(folder)) / name;
    if (std::filesystem::is_regular_file(candidate, ec)) return Narrow(candidate.wstring());
  }
  return {};
}

std::FILE* OpenPipeTo(const std::string& program, const std::vector<std::string>& arguments,
                      std::string& error) {
  // _wpopen hands the line to cmd.exe, which takes the outer quotes off a line starting with one.
  std::wstring command = L"\"" + QuoteArgument(Widen(program));
  for (const std::string& argument : arguments) command += L" " + QuoteArgument(Widen(argument));
  command += L"\"";
  std::FILE* pipe = _wpopen(command.c_str(), L"wb");
  if (pipe == nullptr) error = program + ": " + std::strerror(errno);
  return pipe;
}

int ClosePipe(std::FILE* pipe) {
  return _pclose(pipe);
}

#else

void* OpenLibrary(const std::string& path, std::string& error) {
  // RTLD_LOCAL keeps the plug-in's symbols out of the global scope; RTLD_NOW reports missing
  // symbols at load rather than at the first call.
  void* library = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (library == nullptr) {
    const char* message = dlerror();
    error = message != nullptr ? message : path + ": cannot be loaded";
  }
  return library;
}

void* FindSymbol(void* library, const char* name) {
  return dlsym(library, name);
}

void CloseLibrary(void* library) {
  if (library != nullptr) dlclose(library);
}

bool StderrIsTerminal() {
  return isatty(fileno(stderr)) != 0;
}

namespace {

void OnInterrupt(int) {
  g_interrupted.store(true);
}

// Pipes open; SIGPIPE is ignored while there is one, so that writing to a program that ended
// fails with EPIPE instead of ending this program.
int g_openPipes = 0;
struct sigaction g_oldPipeAction;

std::string ShellQuote(const std::string& argument) {
  std::string quoted = "'";
  for (char c : argument) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

}  // namespace

std::string ExecutablePath() {
  std::error_code ec;
  const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", ec);
  return ec ? std::string() : self.string();
}

void InstallInterruptHandler() {
  struct sigaction action {};
  action.sa_handler = OnInterrupt;
  sigemptyset(&action.sa_mask);
  // The handler is reset to the default at the first signal: a second Ctrl-C ends the program.
  action.sa_flags = SA_RESETHAND;
  sigaction(SIGINT, &action, nullptr);
}

std::FILE* CreateNewFile(const std::string& path, std::string& error) {
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (fd < 0) {
    error = std::strerror(errno);
    return nullptr;
  }
  std::FILE* file = fdopen(fd, "wb");
  if (file == nullptr) {
    error = std::strerror(errno);
    close(fd);
  }
  return file;
}

bool FlushToDisk(std::FILE* file, std::string& error) {
  if (std::fflush(file) != 0 || fsync(fileno(file)) != 0) {
    error = std::strerror(errno);
    return false;
  }
  return true;
}

void SetBinaryMode(std::FILE*) {}

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

std::FILE* OpenPipeTo(const std::string& program, const std::vector<std::string>& arguments,
                      std::string& error) {
  std::string command = "exec " + ShellQuote(program);
  for (const std::string& argument : arguments) command += " " + ShellQuote(argument);
  if (g_openPipes == 0) {
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    sigaction(SIGPIPE, &ignore, &g_oldPipeAction);
  }
  ++g_openPipes;
  std::FILE* pipe = popen(command.c_str(), "w");
  if (pipe == nullptr) {
    error = program + ": " + std::strerror(errno);
    if (--g_openPipes == 0) sigaction(SIGPIPE, &g_oldPipeAction, nullptr);
  }
  return pipe;
}

int ClosePipe(std::FILE* pipe) {
  const int status = pclose(pipe);
  if (--g_openPipes == 0) sigaction(SIGPIPE, &g_oldPipeAction, nullptr);
  return status != -1 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

long long ProcessPageFaults() {
  rusage usage{};
  if (getrusage(RUSAGE_SELF, &usage) != 0) return 0;
  return static_cast<long long>(usage.ru_minflt) + static_cast<long long>(usage.ru_majflt);
}

#endif

}  // namespace headless::platform
