// Long texts written from a thread of their own, past the system's cache where it allows: every
// byte in order, whatever the pieces they come in and wherever the file stood, and a failure named
// with the system's reason.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <future>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>
#ifndef _WIN32
#include <signal.h>
#include <sys/resource.h>
#endif

#include "headless/files/disk_writer.h"
#include "headless/files/input_file.h"
#include "headless/files/output_file.h"
#include "tests/support/temp_folder.h"

namespace {

namespace fs = std::filesystem;

class DiskWriterTest : public ::testing::Test {
 protected:
  TempFolder folder;
  const fs::path& dir = folder.path;
};

// Bytes that differ from place to place, so that a piece out of order or twice shows.
std::string Text(size_t size) {
  std::string text(size, ' ');
  for (size_t i = 0; i < size; ++i) text[i] = static_cast<char>('a' + (i * 7 + i / 4093) % 26);
  return text;
}

TEST_F(DiskWriterTest, WritesEveryByteInOrder) {
  const std::string target = (dir / "out.obj").string();
  const size_t kMiB = size_t{1} << 20;
  // In pieces of every kind of size: within a MiB, across one, and whole ones.
  for (const size_t size : {size_t{0}, size_t{1000}, kMiB, 3 * kMiB + 4095 + 7}) {
    // Before: nothing, or bytes that leave the file where the disk takes no blocks.
    for (const std::string before : {"", "# 3"}) {
      const std::string text = Text(size);
      headless::OutputFile file(target);
      file.Write(std::string_view(before));
      headless::DiskWriter disk(file);
      size_t at = 0;
      for (size_t k = 0; at < text.size(); ++k) {
        const size_t piece =
            std::min(text.size() - at, std::vector<size_t>{1, 4096, 65537, kMiB + 3}[k % 4]);
        disk.Write(std::string_view(text).substr(at, piece));
        at += piece;
      }
      disk.Finish();
      file.Write(std::string_view("\n"));
      file.Commit();
      EXPECT_TRUE(headless::ReadInputFile(target) == before + text + "\n")
          << size << " bytes after \"" << before << "\"";
    }
  }
}

#ifndef _WIN32
// Runs `work` on a thread of its own for at most `seconds`: a writer whose thread fails without
// telling fails the test at once, rather than as a hang at the suite's time limit.
template <typename F>
void WithinSeconds(int seconds, F work) {
  auto done = std::make_shared<std::promise<void>>();
  std::future<void> finished = done->get_future();
  std::thread([done, work]() mutable {
    work();
    done->set_value();
  }).detach();
  if (finished.wait_for(std::chrono::seconds(seconds)) == std::future_status::timeout) {
    std::fprintf(stderr, "the disk writer hung for %d s after its thread failed\n", seconds);
    std::_Exit(1);  // the hung thread holds the test's state: nothing else can run
  }
}

// Wherever the thread's write fails (in the first piece, in a later one, in the last piece that
// Finish hands over), the caller gets the failure with the system's reason, and no file is left.
TEST_F(DiskWriterTest, AFailureCarriesTheSystemsReasonAndLeavesNoFile) {
  const std::size_t kMiB = std::size_t{1} << 20;
  const struct {
    const char* name;
    rlim_t limit;       // the file size the system allows
    std::size_t bytes;  // written before Finish
  } cases[] = {
      {"first piece", kMiB / 2, 4 * kMiB},
      {"a later piece", 3 * kMiB / 2, 4 * kMiB},
      {"the last piece, at Finish", kMiB / 8, kMiB / 2},
  };
  struct rlimit old {};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
  void (*oldHandler)(int) = signal(SIGXFSZ, SIG_IGN);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    struct rlimit limited = old;
    limited.rlim_cur = c.limit;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limited), 0);
    std::string message;
    WithinSeconds(20, [&] {
      try {
        headless::OutputFile file((dir / "big.obj").string());
        headless::DiskWriter disk(file);
        for (std::size_t at = 0; at < c.bytes; at += kMiB)
          disk.Write(Text(std::min(kMiB, c.bytes - at)));
        disk.Finish();
        file.Commit();
      } catch (const std::runtime_error& e) {
        message = e.what();
      }
    });
    setrlimit(RLIMIT_FSIZE, &old);
    EXPECT_NE(message.find("big.obj: cannot write: File too large"), std::string::npos) << message;
    EXPECT_TRUE(fs::is_empty(dir));
  }
  signal(SIGXFSZ, oldHandler);
}
#endif

}  // namespace
