#include "headless/platform/files.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>

#ifdef _WIN32
#include <windows.h>
// The headers below build on the declarations of windows.h.
#include <fcntl.h>
#include <io.h>
#include <stdio.h>
#include <sys/stat.h>

#include "headless/platform/paths.h"
#else
#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace headless::platform {

namespace {

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

}  // namespace

void FailNthFlush(long long n) {
  g_failingFlush.store(n <= 0 ? 0 : g_flushes.load() + n);
}

#ifdef _WIN32

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

bool VersionOfFile(const std::string& path, FileVersion& version) {
  const HANDLE handle = CreateFileW(WideFromUtf8(path).c_str(), 0,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return false;
  BY_HANDLE_FILE_INFORMATION info{};
  FILE_BASIC_INFO basic{};
  const bool known = GetFileInformationByHandle(handle, &info) != 0;
  // The change time is the entry's; a file system without it answers 0, and the rest still tells.
  if (known && GetFileInformationByHandleEx(handle, FileBasicInfo, &basic, sizeof basic) == 0)
    basic.ChangeTime.QuadPart = 0;
  CloseHandle(handle);
  if (!known) return false;
  const auto ticks = [](DWORD high, DWORD low) {
    return static_cast<std::int64_t>((static_cast<std::uint64_t>(high) << 32) | low);
  };
  version.identity.device = info.dwVolumeSerialNumber;
  version.identity.file =
      (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
  version.bytes = (static_cast<std::uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
  // Windows counts 100-nanosecond ticks.
  version.modified =
      ticks(info.ftLastWriteTime.dwHighDateTime, info.ftLastWriteTime.dwLowDateTime) * 100;
  version.changed = static_cast<std::int64_t>(basic.ChangeTime.QuadPart) * 100;
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

void FailWritesPastSizeLimit() {}

#else

bool IdentifyFile(const std::string& path, FileIdentity& identity) {
  struct stat info {};
  if (stat(path.c_str(), &info) != 0) return false;
  identity.device = static_cast<std::uint64_t>(info.st_dev);
  identity.file = static_cast<std::uint64_t>(info.st_ino);
  return true;
}

bool VersionOfFile(const std::string& path, FileVersion& version) {
  struct stat info {};
  if (stat(path.c_str(), &info) != 0) return false;
  const auto nanoseconds = [](const timespec& t) {
    return static_cast<std::int64_t>(t.tv_sec) * 1000000000 + static_cast<std::int64_t>(t.tv_nsec);
  };
  version.identity.device = static_cast<std::uint64_t>(info.st_dev);
  version.identity.file = static_cast<std::uint64_t>(info.st_ino);
  version.bytes = static_cast<std::uint64_t>(info.st_size);
#ifdef __APPLE__
  version.modified = nanoseconds(info.st_mtimespec);
  version.changed = nanoseconds(info.st_ctimespec);
#else
  version.modified = nanoseconds(info.st_mtim);
  version.changed = nanoseconds(info.st_ctim);
#endif
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

void FailWritesPastSizeLimit() {
  signal(SIGXFSZ, SIG_IGN);
}

#endif

}  // namespace headless::platform
