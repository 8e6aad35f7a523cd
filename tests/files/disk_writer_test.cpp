// Long texts written from a thread of their own, past the system's cache where it allows: every
// byte in order, whatever the pieces they come in and wherever the file stood, and a failure named
// with the system's reason.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <stdexcept>
#include <string>
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
TEST_F(DiskWriterTest, AFailureCarriesTheSystemsReasonAndLeavesNoFile) {
  // A file size limit makes the system refuse the bytes beyond it, past the first piece.
  struct rlimit old {};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
  void (*oldHandler)(int) = signal(SIGXFSZ, SIG_IGN);
  struct rlimit limited = old;
  limited.rlim_cur = 3 << 19;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limited), 0);
  std::string message;
  try {
    headless::OutputFile file((dir / "big.obj").string());
    headless::DiskWriter disk(file);
    for (int k = 0; k < 4; ++k) disk.Write(Text(size_t{1} << 20));
    disk.Finish();
    file.Commit();
  } catch (const std::runtime_error& e) {
    message = e.what();
  }
  setrlimit(RLIMIT_FSIZE, &old);
  signal(SIGXFSZ, oldHandler);
  EXPECT_NE(message.find("big.obj: cannot write: File too large"), std::string::npos) << message;
  EXPECT_TRUE(fs::is_empty(dir));
}
#endif

}  // namespace
