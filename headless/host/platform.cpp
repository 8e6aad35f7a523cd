#include "headless/host/platform.h"

#include <stdio.h>

#ifdef _WIN32
#include <windows.h>
// psapi.h and shellapi.h build on the declarations of windows.h.
#include <io.h>
#include <psapi.h>
#include <shellapi.h>
#else
#include <dlfcn.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

extern char** environ;
#endif

namespace headless::platform {

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
               const std::string& outPath, const std::string& errPath) {
  SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  const auto open = [&](const std::string& name, DWORD access, DWORD disposition) {
    return CreateFileW(WideFromUtf8(name).c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE,
                       &inheritable, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
  };
  const HANDLE handles[] = {open("NUL", GENERIC_READ, OPEN_EXISTING),
                            open(outPath, GENERIC_WRITE, CREATE_ALWAYS),
                            open(errPath, GENERIC_WRITE, CREATE_ALWAYS)};
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
    if (CreateProcessW(application.c_str(), commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr,
                       nullptr, &startup, &process)) {
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
               const std::string& outPath, const std::string& errPath) {
  posix_spawn_file_actions_t actions;
  if (posix_spawn_file_actions_init(&actions) != 0) return -1;
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0644);
  posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0644);
  std::vector<char*> argv = {const_cast<char*>(program.c_str())};
  for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);
  pid_t child = 0;
  const int started = posix_spawn(&child, program.c_str(), &actions, nullptr, argv.data(), environ);
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

long long ProcessPageFaults() {
  rusage usage{};
  if (getrusage(RUSAGE_SELF, &usage) != 0) return 0;
  return static_cast<long long>(usage.ru_minflt) + static_cast<long long>(usage.ru_majflt);
}

#endif

}  // namespace headless::platform
