#include "headless/platform/platform.h"

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>

#ifdef _WIN32
#include <windows.h>
// The headers below build on the declarations of windows.h.
#include <fcntl.h>
#include <io.h>
#include <psapi.h>
#include <shellapi.h>
#include <stdio.h>
#include <sys/stat.h>
#else
#include <dlfcn.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <stdio.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;
#endif

namespace headless::platform {

namespace {

std::atomic<bool> g_interrupted{false};
static_assert(std::atomic<bool>::is_always_lock_free, "the interrupt flag is set from a handler");

// FailNthFlush: flushes attempted so far, and the attempt that fails (0: none).
std::atomic<long long> g_flushes{0};
std::atomic<long long> g_failingFlush{0};

// Whether this flush is the one FailNthFlush armed; sets errno as the failing call would.
bool FlushFailureInjected() {
  const long long attempt = g_flushes.fetch_add(1) + 1;
  long long target = g_failingFlush.load();
  if (target == 0 || attempt != target || !g_failingFlush.compare_exchange_strong(target, 0))
    return false;
  errno = EIO;
  return true;
}

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

void FailNthFlush(long long n) {
  g_failingFlush.store(n <= 0 ? 0 : g_flushes.load() + n);
}

bool InterruptRequested() {
  return g_interrupted.load();
}

void SetInterruptRequested(bool requested) {
  g_interrupted.store(requested);
}

std::filesystem::path PathFromUtf8(const std::string& name) {
  return std::filesystem::path(std::u8string(name.begin(), name.end()));
}

std::string Utf8FromPath(const std::filesystem::path& path) {
  const std::u8string name = path.u8string();
  return std::string(name.begin(), name.end());
}

#ifdef _WIN32

// Windows takes and gives names and texts in UTF-16 through its wide-character calls; the
// narrow ones would go through the ANSI code page and lose what it cannot hold.
namespace {

std::wstring WideFromUtf8(const std::string& text) {
  if (text.empty()) return {};
  const int size = static_cast<int>(text.size());
  const int length = MultiByteToWideChar(CP_UTF8, 0, text.data(), size, nullptr, 0);
  std::wstring wide(static_cast<size_t>(length), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), size, wide.data(), length);
  return wide;
}

std::string Utf8FromWide(const std::wstring& wide) {
  if (wide.empty()) return {};
  const int size = static_cast<int>(wide.size());
  const int length =
      WideCharToMultiByte(CP_UTF8, 0, wide.data(), size, nullptr, 0, nullptr, nullptr);
  std::string text(static_cast<size_t>(length), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide.data(), size, text.data(), length, nullptr, nullptr);
  return text;
}

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

BOOL WINAPI OnConsoleControl(DWORD event) {
  if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) return FALSE;
  // The second press goes to the default handler, which ends the program.
  if (g_interrupted.exchange(true)) return FALSE;
  return TRUE;
}

}  // namespace

void* OpenLibrary(const std::string& path, std::string& error) {
  HMODULE module = LoadLibraryW(WideFromUtf8(path).c_str());
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

// argv holds the arguments in the ANSI code page; the wide command line holds them whole.
std::vector<std::string> ProgramArguments(int, char**) {
  int count = 0;
  LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count);
  std::vector<std::string> arguments;
  if (wide == nullptr) return arguments;
  for (int i = 1; i < count; ++i) arguments.push_back(Utf8FromWide(wide[i]));
  LocalFree(wide);
  return arguments;
}

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

bool StderrIsTerminal() {
  return _isatty(_fileno(stderr)) != 0;
}

long long ProcessPageFaults() {
  PROCESS_MEMORY_COUNTERS counters{};
  if (!K32GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters)) return 0;
  return static_cast<long long>(counters.PageFaultCount);
}

std::string ExecutablePath() {
  std::wstring buffer(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length =
        GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (length == 0) return {};
    if (length < buffer.size()) {
      buffer.resize(length);
      return Utf8FromWide(buffer);
    }
    buffer.resize(buffer.size() * 2);
  }
}

void InstallInterruptHandler() {
  SetConsoleCtrlHandler(OnConsoleControl, TRUE);
}

std::FILE* OpenForReading(const std::string& path, std::string& error) {
  std::FILE* file = _wfopen(WideFromUtf8(path).c_str(), L"rb");
  if (file == nullptr) error = std::strerror(errno);
  return file;
}

std::FILE* CreateNewFile(const std::string& path, std::string& error) {
  const int fd = _wopen(WideFromUtf8(path).c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY,
                        _S_IREAD | _S_IWRITE);
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
  if (std::fflush(file) != 0 || FlushFailureInjected() || _commit(_fileno(file)) != 0) {
    error = std::strerror(errno);
    return false;
  }
  return true;
}

void SetBinaryMode(std::FILE* stream) {
  _setmode(_fileno(stream), _O_BINARY);
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

std::FILE* OpenPipeTo(const std::string& program, const std::vector<std::string>& arguments,
                      std::string& error) {
  // _wpopen hands the line to cmd.exe, which takes the outer quotes off a line starting with one.
  std::wstring command = L"\"" + QuotedArgument(WideFromUtf8(program));
  for (const std::string& argument : arguments)
    command += L" " + QuotedArgument(WideFromUtf8(argument));
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

std::vector<std::string> ProgramArguments(int argc, char** argv) {
  return argc > 1 ? std::vector<std::string>(argv + 1, argv + argc) : std::vector<std::string>();
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

bool StderrIsTerminal() {
  return isatty(fileno(stderr)) != 0;
}

namespace {

void OnInterrupt(int) {
  g_interrupted.store(true);
}

// Pipes open; SIGPIPE is ignored while there is one, so that writing to a program that ended
// fails with EPIPE instead of ending this program. Pipes may be opened and closed on any thread.
std::mutex g_pipeMutex;
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

std::FILE* OpenForReading(const std::string& path, std::string& error) {
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) error = std::strerror(errno);
  return file;
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
  if (std::fflush(file) != 0 || FlushFailureInjected() || fsync(fileno(file)) != 0) {
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
  std::lock_guard<std::mutex> lock(g_pipeMutex);
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
  std::lock_guard<std::mutex> lock(g_pipeMutex);
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
