// A long text written to an OutputFile a MiB at a time from a thread of its own and, where the
// system allows it, straight to the disk rather than through the system's cache. Whoever makes the
// text goes on making it while the disk takes the last piece; the system neither copies the text
// into its cache nor finds memory there for it (a sixth of the processor time of writing a frame of
// 45 MB); and a batch of results does not push out of the cache what was in it.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <exception>
#include <memory>
#include <mutex>
#include <string_view>
#include <thread>

#include "headless/files/output_file.h"

namespace headless {

class DiskWriter {
 public:
  // Writes to `out`, which it must outlive, after whatever `out` holds already.
  explicit DiskWriter(OutputFile& out);
  // Stops the thread: what was not written is dropped, and the caller discards the file.
  ~DiskWriter() = default;
  DiskWriter(const DiskWriter&) = delete;
  DiskWriter& operator=(const DiskWriter&) = delete;

  // Appends `bytes`. Throws std::runtime_error "path: cannot write: reason" for a piece that could
  // not be written before; nothing more is written after a failure.
  void Write(std::string_view bytes);
  // Writes what is left and waits for every piece; throws as Write. `out` is then written to as
  // before, through the system's cache.
  void Finish();

 private:
  struct AlignedDelete {
    void operator()(char* bytes) const;
  };
  using Piece = std::unique_ptr<char[], AlignedDelete>;

  void HandOver();
  void Put(const char* bytes, std::size_t count);
  void Run(std::stop_token stop);
  // Waits until the thread has written what it was given; throws its failure.
  void WaitForThread(std::unique_lock<std::mutex>& lock);

  OutputFile& out_;
  Piece filling_;  // the caller's
  std::size_t filled_ = 0;
  bool direct_ = false;  // past the system's cache; the thread's while it writes
  std::mutex mutex_;
  std::condition_variable_any changed_;
  Piece writing_;  // the thread's while `busy_`
  bool busy_ = false;
  std::exception_ptr failure_;
  std::jthread thread_;  // last: stopped and joined before the members it uses go
};

}  // namespace headless
