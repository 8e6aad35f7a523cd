#include "headless/platform/platform.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdint>
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
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <stdio.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#ifdef __GLIBC__
#include <malloc.h>
#endif

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

// The files held for removal, in fixed slots that a signal handler may read: a slot is free (0),
// being filled or emptied (1) or holds a name (2).
struct HeldFile {
  std::atomic<int> state{0};
  char path[4096];
};
HeldFile g_held[32];
static_assert(std::atomic<int>::is_always_lock_free, "the slots are read from a handler");

// Removes every held file; safe in a signal handler (POSIX: unlink only).
void RemoveHeldFiles();

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

void ReturnLargeBlocksAtOnce() {
#ifdef __GLIBC__
  mallopt(M_MMAP_THRESHOLD, 1 << 20);
#endif
}

bool InterruptRequested() {
  return g_interrupted.load();
}

void HoldForRemoval(const std::string& path) {
  if (path.size() >= sizeof HeldFile::path) return;
  for (HeldFile& slot : g_held) {
    int free = 0;
    if (!slot.state.compare_exchange_strong(free, 1)) continue;
    std::memcpy(slot.path, path.c_str(), path.size() + 1);
    slot.state.store(2);
    return;
  }
}

void Release(const std::string& path) {
  for (HeldFile& slot : g_held) {
    int held = 2;
    if (!slot.state.compare_exchange_strong(held, 1)) continue;
    const bool same = path == slot.path;
    slot.state.store(same ? 0 : 2);
    if (same) return;
  }
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
  if (!g_interrupted.exchange(true)) return TRUE;
  // The second press: the held files go, then the default handler ends the program.
  RemoveHeldFiles();
  return FALSE;
}

void RemoveHeldFiles() {
  for (HeldFile& slot : g_held)
    if (slot.state.load() == 2) DeleteFileW(WideFromUtf8(slot.path).c_str());
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

std::uint64_t PhysicalMemoryBytes() {
  MEMORYSTATUSEX status{};
  status.dwLength = sizeof status;
  return GlobalMemoryStatusEx(&status) ? static_cast<std::uint64_t>(status.ullTotalPhys) : 0;
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

bool IdentifyFile(const std::string& path, FileIdentity& identity) {
  // Backup semantics open folders too; no access right is needed to read the identity.
  const HANDLE handle = CreateFileW(WideFromUtf8(path).c_str(), 0,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return false;
  BY_HANDLE_FILE_INFORMATION info{};
  const bool known = GetFileInformationByHandle(handle, &info) != 0;
  CloseHandle(handle);
  if (!known) return false;
  identity.device = info.dwVolumeSerialNumber;
  identity.file = (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
  return true;
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

void StartPuttingOnDisk(std::FILE*) {}

bool WriteAroundCache(std::FILE* file, bool around) {
  std::fflush(file);
  return !around;  // the system's cache only
}

bool SeekTo(std::FILE* file, std::uint64_t offset) {
  return _fseeki64(file, static_cast<__int64>(offset), SEEK_SET) == 0;
}

int WriteToDescriptor(std::FILE* file, const char* bytes, std::size_t count, std::size_t& written) {
  const int fd = _fileno(file);
  while (written < count) {
    const unsigned piece = static_cast<unsigned>(std::min<std::size_t>(count - written, 1u << 30));
    const int wrote = _write(fd, bytes + written, piece);
    if (wrote < 0) return errno;
    written += static_cast<std::size_t>(wrote);
  }
  return 0;
}

bool FillInPages(void*, std::size_t) {
  return false;
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

void RemoveHeldFiles() {
  for (HeldFile& slot : g_held)
    if (slot.state.load() == 2) unlink(slot.path);
}

// The program a pipe feeds, ended with this one by a second signal.
std::atomic<pid_t> g_pipeChild{0};
static_assert(std::atomic<pid_t>::is_always_lock_free, "the child is read from a handler");

// The first signal asks the program to stop; a second ends it at once, leaving nothing behind.
void OnInterrupt(int) {
  if (!g_interrupted.exchange(true)) return;
  RemoveHeldFiles();
  const pid_t child = g_pipeChild.load();
  if (child > 0) kill(child, SIGKILL);
  _exit(130);
}

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

// Pipes may be open on several threads; the handler ends the child of the first only.
void ForgetPipeChild(pid_t child) {
  g_pipeChild.compare_exchange_strong(child, 0);
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
  // No SA_RESTART: a wait for a child or a pipe returns, so the program notices at once.
  action.sa_flags = 0;
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
}

bool IdentifyFile(const std::string& path, FileIdentity& identity) {
  struct stat info {};
  if (stat(path.c_str(), &info) != 0) return false;
  identity.device = static_cast<std::uint64_t>(info.st_dev);
  identity.file = static_cast<std::uint64_t>(info.st_ino);
  return true;
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

void StartPuttingOnDisk(std::FILE* file) {
  if (std::fflush(file) == 0) sync_file_range(fileno(file), 0, 0, SYNC_FILE_RANGE_WRITE);
}

bool SeekTo(std::FILE* file, std::uint64_t offset) {
  return fseeko(file, static_cast<off_t>(offset), SEEK_SET) == 0;
}

bool WriteAroundCache(std::FILE* file, bool around) {
  if (std::fflush(file) != 0) return false;
  const int fd = fileno(file);
  const int flags = fcntl(fd, F_GETFL);
  if (flags < 0) return false;
  return fcntl(fd, F_SETFL, around ? flags | O_DIRECT : flags & ~O_DIRECT) == 0;
}

int WriteToDescriptor(std::FILE* file, const char* bytes, std::size_t count, std::size_t& written) {
  const int fd = fileno(file);
  while (written < count) {
    const ssize_t wrote = write(fd, bytes + written, count - written);
    if (wrote < 0 && errno == EINTR) continue;
    if (wrote < 0) return errno;
    if (wrote == 0) return EIO;
    written += static_cast<std::size_t>(wrote);
  }
  return 0;
}

bool FillInPages(void* begin, std::size_t bytes) {
  // Linux 5.14 on; an older system refuses the advice and nothing happens.
  constexpr int kPopulateWrite = 23;  // MADV_POPULATE_WRITE, which older headers lack
  const std::uintptr_t page = static_cast<std::uintptr_t>(sysconf(_SC_PAGESIZE));
  const std::uintptr_t start = reinterpret_cast<std::uintptr_t>(begin);
  const std::uintptr_t first = (start + page - 1) / page * page;
  const std::uintptr_t end = (start + bytes) / page * page;
  return first >= end || madvise(reinterpret_cast<void*>(first), end - first, kPopulateWrite) == 0;
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
  pid_t none = 0;
  g_pipeChild.compare_exchange_strong(none, child);
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
  ForgetPipeChild(pipe->child);
  PipeClosed();
  delete pipe;
  return status;
}

void AbandonPipe(ProgramPipe* pipe) {
  close(pipe->fd);
  kill(pipe->child, SIGKILL);
  WaitFor(pipe->child);
  ForgetPipeChild(pipe->child);
  PipeClosed();
  delete pipe;
}

std::uint64_t PhysicalMemoryBytes() {
  const long pages = sysconf(_SC_PHYS_PAGES);
  const long pageSize = sysconf(_SC_PAGESIZE);
  if (pages <= 0 || pageSize <= 0) return 0;
  return static_cast<std::uint64_t>(pages) * static_cast<std::uint64_t>(pageSize);
}

long long ProcessPageFaults() {
  rusage usage{};
  if (getrusage(RUSAGE_SELF, &usage) != 0) return 0;
  return static_cast<long long>(usage.ru_minflt) + static_cast<long long>(usage.ru_majflt);
}

#endif

}  // namespace headless::platform
