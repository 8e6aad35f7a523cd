#include "headless/files/disk_writer.h"

#include <cerrno>
#include <cstring>
#include <new>
#include <stdexcept>
#include <string>
#include <utility>

#include "headless/platform/files.h"

namespace headless {
namespace {

// Large enough that the disk keeps up taking pieces one at a time: pieces of 256 KiB made a
// sequence's writing wait for the disk.
constexpr std::size_t kPiece = std::size_t{1} << 20;
static_assert(kPiece % platform::kDiskBlockBytes == 0);

constexpr std::align_val_t kAlignment{platform::kDiskBlockBytes};

}  // namespace

void DiskWriter::AlignedDelete::operator()(char* bytes) const {
  ::operator delete[](bytes, kAlignment);
}

DiskWriter::DiskWriter(OutputFile& out) : out_(out) {}

void DiskWriter::Write(std::string_view bytes) {
  while (!bytes.empty()) {
    if (!filling_) filling_ = Piece(static_cast<char*>(::operator new[](kPiece, kAlignment)));
    const std::size_t take = std::min(bytes.size(), kPiece - filled_);
    std::memcpy(filling_.get() + filled_, bytes.data(), take);
    filled_ += take;
    bytes.remove_prefix(take);
    if (filled_ == kPiece) HandOver();
  }
}

void DiskWriter::Finish() {
  if (thread_.joinable()) {
    std::unique_lock lock(mutex_);
    WaitForThread(lock);
  }
  // The last whole blocks go as the pieces went; the rest, and what follows, through the cache.
  const std::size_t whole =
      direct_ ? filled_ / platform::kDiskBlockBytes * platform::kDiskBlockBytes : 0;
  Put(filling_.get(), whole);
  if (direct_) {
    platform::WriteAroundCache(out_.Stream(), false);
    direct_ = false;
  }
  out_.Write(std::string_view(filling_.get() + whole, filled_ - whole));
  filled_ = 0;
  thread_ = std::jthread();
}

void DiskWriter::HandOver() {
  std::unique_lock lock(mutex_);
  if (!thread_.joinable()) {
    // Not for the standard output: a pipe would take the flag for another meaning.
    direct_ = !out_.ToStandardOutput() && platform::WriteAroundCache(out_.Stream(), true);
    thread_ = std::jthread([this](std::stop_token stop) { Run(stop); });
  }
  WaitForThread(lock);
  // The thread takes the piece; the next is made in the room of the one it wrote.
  std::swap(filling_, writing_);
  filled_ = 0;
  busy_ = true;
  lock.unlock();
  changed_.notify_all();
}

void DiskWriter::WaitForThread(std::unique_lock<std::mutex>& lock) {
  changed_.wait(lock, [this] { return !busy_ || failure_; });
  if (failure_) std::rethrow_exception(failure_);
}

void DiskWriter::Run(std::stop_token stop) {
  for (;;) {
    std::unique_lock lock(mutex_);
    if (!changed_.wait(lock, stop, [this] { return busy_; })) return;
    lock.unlock();
    std::exception_ptr failure;
    try {
      Put(writing_.get(), kPiece);
    } catch (...) {
      failure = std::current_exception();
    }
    lock.lock();
    busy_ = false;
    failure_ = failure;
    lock.unlock();
    changed_.notify_all();
    if (failure) return;
  }
}

void DiskWriter::Put(const char* bytes, std::size_t count) {
  std::size_t written = 0;
  if (direct_ && count > 0) {
    const int error = platform::WriteToDescriptor(out_.Stream(), bytes, count, written);
    if (error == 0) return;
    // A file system that takes such writes only for some files or offsets refuses the rest with
    // EINVAL, having written none of it: they go through the cache.
    if (error != EINVAL || !platform::WriteAroundCache(out_.Stream(), false))
      throw std::runtime_error(out_.Path() + ": cannot write: " + std::strerror(error));
    direct_ = false;
  }
  out_.Write(std::string_view(bytes + written, count - written));
}

}  // namespace headless
