#include "headless/files/output_file.h"

#include <atomic>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <random>
#include <stdexcept>

#include "headless/platform/files.h"
#include "headless/platform/interrupts.h"
#include "headless/platform/paths.h"
#include "headless/platform/streams.h"

namespace headless {

namespace fs = std::filesystem;

namespace {

// A large file goes to disk while the rest of it is still being made, so that finishing it waits
// only for its last part.
constexpr std::uint64_t kPutOnDiskEvery = std::uint64_t{8} << 20;

[[noreturn]] void Fail(const std::string& path, const std::string& reason) {
  throw std::runtime_error(path + ": cannot write: " + reason);
}

// A name no other writer picks: the target's, hidden, with a random part and a counter.
std::string TemporaryName(const fs::path& target, unsigned attempt) {
  static std::atomic<unsigned> counter{0};
  static const unsigned session = std::random_device{}();
  const fs::path folder = target.parent_path();
  const std::string name = "." + platform::Utf8FromPath(target.filename()) + "." +
                           std::to_string(session) + "-" + std::to_string(counter++) + "-" +
                           std::to_string(attempt) + ".tmp";
  return platform::Utf8FromPath(folder / platform::PathFromUtf8(name));
}

}  // namespace

OutputFile::OutputFile(std::string path) : path_(std::move(path)) {
  if (path_.empty()) Fail("\"\"", "no file name");
  if (ToStandardOutput()) {
    temporary_ = path_;
    file_ = stdout;
    platform::SetBinaryMode(stdout);
    return;
  }
  const fs::path target = platform::PathFromUtf8(path_);
  if (target.filename().empty() || target.filename() == "." || target.filename() == "..")
    Fail(path_, "not a file name");
  std::error_code ec;
  const fs::path folder = target.parent_path().empty() ? fs::path(".") : target.parent_path();
  if (!fs::is_directory(folder, ec))
    Fail(path_, "the folder " + platform::Utf8FromPath(folder) + " does not exist");
  // Renaming over a device, a fifo or a socket would replace it by a regular file.
  const fs::file_status status = fs::status(target, ec);
  if (fs::is_directory(status)) Fail(path_, "is a folder");
  if (fs::exists(status) && !fs::is_regular_file(status))
    Fail(path_, "is not a regular file (a device, a fifo or a socket)");
  std::string error;
  // A name taken meanwhile by someone else is simply passed over.
  for (unsigned attempt = 0; attempt < 16 && file_ == nullptr; ++attempt) {
    temporary_ = TemporaryName(target, attempt);
    file_ = platform::CreateNewFile(temporary_, error);
    if (file_ == nullptr && !fs::exists(platform::PathFromUtf8(temporary_), ec)) break;
  }
  if (file_ == nullptr) Fail(path_, error);
  // Even a program ended at once (a second Ctrl-C) leaves no half-written file.
  platform::HoldForRemoval(temporary_);
}

OutputFile::~OutputFile() {
  if (!committed_) Discard();
}

void OutputFile::Write(std::string_view bytes) {
  if (file_ == nullptr) Fail(path_, "the file is closed");
  errno = 0;
  if (!bytes.empty() && std::fwrite(bytes.data(), 1, bytes.size(), file_) != bytes.size())
    Fail(path_, errno != 0 ? std::strerror(errno) : "writing failed");
  unhinted_ += bytes.size();
  if (unhinted_ >= kPutOnDiskEvery && !ToStandardOutput()) {
    platform::StartPuttingOnDisk(file_);
    unhinted_ = 0;
  }
}

void OutputFile::Write(std::span<const std::uint8_t> bytes) {
  Write(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
}

void OutputFile::ReleaseStream() {
  if (file_ == nullptr || ToStandardOutput()) return;
  const bool closed = std::fclose(file_) == 0;
  file_ = nullptr;
  if (!closed)
    Fail(path_, std::string("closing the temporary file failed: ") + std::strerror(errno));
}

void OutputFile::Finish() {
  if (file_ == nullptr || ToStandardOutput()) return;
  // A buffered write that failed earlier left its reason in the stream's error state only;
  // flushing again brings the system's reason back.
  std::string error;
  const bool failed = std::ferror(file_) != 0;
  errno = 0;
  const bool flushed = std::fflush(file_) == 0;
  const int flushError = errno;
  const bool synced = !failed && flushed && platform::FlushToDisk(file_, error);
  errno = 0;
  const bool closed = std::fclose(file_) == 0;
  const int closeError = errno;
  file_ = nullptr;
  if (failed || !flushed)
    error = flushError != 0 ? std::strerror(flushError) : "writing failed";
  else if (!closed && error.empty())
    error = std::string("closing the file failed: ") + std::strerror(closeError);
  if (failed || !synced || !closed) {
    Discard();
    Fail(path_, error);
  }
}

void OutputFile::Commit() {
  if (committed_) return;
  if (ToStandardOutput()) {
    errno = 0;
    if (std::fflush(stdout) != 0 || std::ferror(stdout))
      Fail(path_, errno != 0 ? std::strerror(errno) : "writing failed");
    committed_ = true;
    return;
  }
  Finish();
  std::error_code ec;
  fs::rename(platform::PathFromUtf8(temporary_), platform::PathFromUtf8(path_), ec);
  if (ec) {
    Discard();
    Fail(path_, ec.message());
  }
  platform::Release(temporary_);
  committed_ = true;
}

void OutputFile::Discard() {
  if (ToStandardOutput()) return;
  if (file_ != nullptr) std::fclose(file_);
  file_ = nullptr;
  std::error_code ec;
  if (!temporary_.empty()) fs::remove(platform::PathFromUtf8(temporary_), ec);
  platform::Release(temporary_);
}

void WriteFileAtomically(const std::string& path, std::string_view bytes) {
  OutputFile file(path);
  file.Write(bytes);
  file.Commit();
}

void WriteFileAtomically(const std::string& path, std::span<const std::uint8_t> bytes) {
  OutputFile file(path);
  file.Write(bytes);
  file.Commit();
}

}  // namespace headless
