// Files: a file's identity, files opened for reading and created exclusively, and the safe
// writer's system calls (flushing to disk, writing around the system's cache, writing to the
// descriptor past the stream). Names are UTF-8 (paths.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

namespace headless::platform {

// What tells one file from every other: the device (volume) and the file's number on it, the
// same under every name and link that reaches it.
struct FileIdentity {
  std::uint64_t device = 0;
  std::uint64_t file = 0;
  bool operator==(const FileIdentity&) const = default;
};
// The identity of the file `path` (UTF-8) reaches, links followed; false when there is none.
bool IdentifyFile(const std::string& path, FileIdentity& identity);

// A file as it stands: its identity, its length, and when its content (modified) and its entry
// (changed: written, renamed onto, its attributes set) last changed, in nanoseconds of the
// system's clock. A file put in another's place by a copy that keeps the size and the modification
// time (`cp -p` then `mv`, `rsync -t`) is another file, or at least changed later.
struct FileVersion {
  FileIdentity identity;
  std::uint64_t bytes = 0;
  std::int64_t modified = 0;
  std::int64_t changed = 0;
  bool operator==(const FileVersion&) const = default;
};
// The version of the file `path` (UTF-8) reaches, links followed; false when there is none.
bool VersionOfFile(const std::string& path, FileVersion& version);

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
// Test switch: makes the n-th FlushToDisk from now on (1 = the next) fail after the buffer's
// flush, as a failing disk would, with EIO as the system's reason; only that one. 0 disarms.
void FailNthFlush(long long n);

// Writes past the file size limit (ulimit -f) fail with EFBIG, reported as any failed write,
// instead of ending the program by SIGXFSZ with its temporary files left. Nothing on Windows.
void FailWritesPastSizeLimit();

}  // namespace headless::platform
