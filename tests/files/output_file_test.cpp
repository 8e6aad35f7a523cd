// Files written through one temporary file: whole or not at all, the old file kept on failure,
// no temporary left behind; and whole input files, the standard input among them.
#include <gtest/gtest.h>

#include <unistd.h>
#include <atomic>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>
#ifndef _WIN32
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#endif

#include "headless/files/input_file.h"
#include "headless/files/output_file.h"
#include "headless/platform/files.h"

namespace {

namespace fs = std::filesystem;

class OutputFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    dir = fs::path(::testing::TempDir()) /
          ("output_file_" + std::string(info->name()) + "_" + std::to_string(getpid()));
    fs::remove_all(dir);
    fs::create_directories(dir);
  }
  void TearDown() override { fs::remove_all(dir); }

  std::vector<std::string> Names() const {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir))
      names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }

  fs::path dir;
};

TEST_F(OutputFileTest, CommitReplacesTheTargetAndLeavesNoTemporary) {
  const std::string target = (dir / "out.txt").string();
  std::ofstream(target) << "old";
  {
    headless::OutputFile file(target);
    EXPECT_EQ(fs::path(file.TemporaryPath()).parent_path(), dir) << "beside the target";
    EXPECT_EQ(fs::path(file.TemporaryPath()).filename().string()[0], '.') << "hidden";
    file.Write(std::string_view("new "));
    std::fputs("text", file.Stream());
    EXPECT_EQ(headless::ReadInputFile(target), "old") << "nothing shows before the commit";
    file.Commit();
  }
  EXPECT_EQ(headless::ReadInputFile(target), "new text");
  EXPECT_EQ(Names(), std::vector<std::string>{"out.txt"});
}

TEST_F(OutputFileTest, AFailureBeforeTheCommitKeepsTheOldFile) {
  const std::string target = (dir / "out.txt").string();
  std::ofstream(target) << "old";
  try {
    headless::OutputFile file(target);
    file.Write(std::string_view("half"));
    throw std::runtime_error("stopped");  // an error, or Ctrl-C, while writing
  } catch (const std::runtime_error&) {
  }
  EXPECT_EQ(headless::ReadInputFile(target), "old");
  EXPECT_EQ(Names(), std::vector<std::string>{"out.txt"});

  // A new file that is never committed never appears.
  {
    headless::OutputFile file((dir / "new.txt").string());
    file.Write(std::string_view("x"));
  }
  EXPECT_EQ(Names(), std::vector<std::string>{"out.txt"});
}

TEST_F(OutputFileTest, AFailingSyncToDiskFailsTheWriteAndKeepsTheOldFile) {
  const std::string target = (dir / "out.txt").string();
  std::ofstream(target) << "old";
  headless::platform::FailNthFlush(1);
  std::string message;
  try {
    headless::WriteFileAtomically(target, std::string_view("new"));
  } catch (const std::runtime_error& e) {
    message = e.what();
  }
  headless::platform::FailNthFlush(0);
  EXPECT_EQ(message, target + ": cannot write: " + std::strerror(EIO));
  EXPECT_EQ(headless::ReadInputFile(target), "old");
  EXPECT_EQ(Names(), std::vector<std::string>{"out.txt"});

  // The switch fails the n-th flush, and that one only.
  headless::platform::FailNthFlush(2);
  headless::WriteFileAtomically(target, std::string_view("new"));
  EXPECT_THROW(headless::WriteFileAtomically(target, std::string_view("newer")),
               std::runtime_error);
  headless::WriteFileAtomically(target, std::string_view("newest"));
  EXPECT_EQ(headless::ReadInputFile(target), "newest");
}

TEST_F(OutputFileTest, ALargeFileGoesToDiskAsItIsWrittenAndStillFailsWhole) {
  // Pieces of 1 MiB, some straight into the stream, past the size after which the system is
  // told to start putting the file on disk: the file reads back whole, in order.
  const std::string target = (dir / "large.bin").string();
  std::string expected;
  const auto write = [&](headless::OutputFile& file) {
    expected.clear();
    for (int k = 0; k < 20; ++k) {
      const std::string piece(std::size_t{1} << 20, static_cast<char>('a' + k));
      if (k % 3 == 2)
        std::fwrite(piece.data(), 1, piece.size(), file.Stream());
      else
        file.Write(std::string_view(piece));
      expected += piece;
    }
  };
  {
    headless::OutputFile file(target);
    write(file);
    file.Commit();
  }
  EXPECT_TRUE(headless::ReadInputFile(target) == expected);

  // What went to disk early is no promise: a failing sync at the end still fails the file, and
  // the old one stays.
  headless::platform::FailNthFlush(1);
  EXPECT_THROW(
      {
        headless::OutputFile file(target);
        write(file);
        file.Commit();
      },
      std::runtime_error);
  headless::platform::FailNthFlush(0);
  EXPECT_TRUE(headless::ReadInputFile(target) == expected);
  EXPECT_EQ(Names(), std::vector<std::string>{"large.bin"});
}

TEST_F(OutputFileTest, WritersOfTheSameTargetDoNotMeet) {
  const std::string target = (dir / "out.txt").string();
  headless::OutputFile first(target);
  headless::OutputFile second(target);
  EXPECT_NE(first.TemporaryPath(), second.TemporaryPath());
  first.Write(std::string_view("first"));
  second.Write(std::string_view("second"));
  first.Commit();
  second.Commit();
  EXPECT_EQ(headless::ReadInputFile(target), "second");
  EXPECT_EQ(Names(), std::vector<std::string>{"out.txt"});
}

TEST_F(OutputFileTest, BadTargetsAreNamed) {
  const std::string missing = (dir / "missing" / "out.txt").string();
  try {
    headless::OutputFile file(missing);
    FAIL() << "a file in a missing folder was opened";
  } catch (const std::runtime_error& e) {
    EXPECT_NE(std::string(e.what()).find((dir / "missing").string() + " does not exist"),
              std::string::npos)
        << e.what();
  }
  fs::create_directories(dir / "folder");
  EXPECT_THROW(headless::OutputFile((dir / "folder").string()), std::runtime_error);
  EXPECT_THROW(headless::OutputFile(""), std::runtime_error);
  EXPECT_FALSE(fs::exists(dir / "missing"));
  EXPECT_EQ(Names(), std::vector<std::string>{"folder"});
}

TEST_F(OutputFileTest, ARenamedOverFolderFailsAndCleansUp) {
  // Another program making a folder of the target's name meanwhile: the rename fails, the
  // temporary goes, and the folder stays.
  const std::string target = (dir / "out.txt").string();
  headless::OutputFile file(target);
  file.Write(std::string_view("text"));
  fs::create_directories(dir / "out.txt" / "inside");
  EXPECT_THROW(file.Commit(), std::runtime_error);
  EXPECT_EQ(Names(), std::vector<std::string>{"out.txt"});
  EXPECT_TRUE(fs::is_directory(dir / "out.txt" / "inside"));
}

TEST_F(OutputFileTest, InputFilesAreReadWholeOrNamed) {
  std::string bytes("a\0b\r\nc", 6);
  std::ofstream(dir / "in.bin", std::ios::binary) << bytes;
  EXPECT_EQ(headless::ReadInputFile((dir / "in.bin").string()), bytes);
  for (const fs::path& bad : {dir / "missing.obj", dir}) {
    try {
      headless::ReadInputFile(bad.string());
      FAIL() << bad;
    } catch (const std::runtime_error& e) {
      EXPECT_EQ(std::string(e.what()).rfind(bad.string() + ": cannot read", 0), 0u) << e.what();
    }
  }
}

// A text file of known size is read into one block of its size: megabytes of text held twice, or
// in a block twice the size, would count against every frame a batch holds. Lines end at LF or
// CR wherever they fall in the blocks the reader scans.
TEST_F(OutputFileTest, TextOfKnownSizeIsReadIntoOneBlockOfItsSize) {
  std::string text;
  for (int i = 0; text.size() < (3u << 20); ++i)
    text += "v " + std::to_string(i) + (i % 3 == 0 ? " 1 2\r\n" : i % 3 == 1 ? " 3\n" : "\r");
  std::ofstream(dir / "in.obj", std::ios::binary) << text;
  const std::string read = headless::ReadTextInput((dir / "in.obj").string(), 4096);
  EXPECT_EQ(read, text);
  EXPECT_LE(read.capacity(), text.size() + 64);
  const std::string bytes = headless::ReadInputFile((dir / "in.obj").string());
  EXPECT_EQ(bytes, text);
  EXPECT_LE(bytes.capacity(), text.size() + 64);
  // A line over the limit stops the reading soon after it.
  std::ofstream(dir / "long.obj", std::ios::binary) << "v 1\n" + std::string(3u << 20, 'x');
  EXPECT_LT(headless::ReadTextInput((dir / "long.obj").string(), 4096).size(), 2u << 20);
  for (const char* cut : {"ab\ncd", "abcdefgh\rijklmnop", "abcdefghijklmnopq"}) {
    const std::string_view line(cut);
    EXPECT_EQ(headless::FindLineEnd(line.data(), line.data() + line.size()) - line.data(),
              static_cast<std::ptrdiff_t>(std::min(line.find_first_of("\r\n"), line.size())))
        << cut;
  }
}

TEST_F(OutputFileTest, RunsWritingTheSameTargetAtOnceLeaveOneWholeResult) {
  const std::string target = (dir / "out.txt").string();
  // Large enough that the writes interleave; each writer's bytes are its own letter.
  const size_t size = 1 << 20;
  for (int trial = 0; trial < 10; ++trial) {
    // A writer may fail cleanly (Windows refuses to rename over a file another rename is
    // replacing at that moment); at least one completes, and what is left is one whole result.
    std::atomic<int> committed{0};
    std::vector<std::thread> writers;
    for (char letter : {'a', 'b', 'c'})
      writers.emplace_back([&, letter] {
        try {
          headless::OutputFile file(target);
          const std::string chunk(size / 16, letter);
          for (int k = 0; k < 16; ++k) file.Write(chunk);
          file.Commit();
          ++committed;
        } catch (const std::runtime_error& e) {
          EXPECT_NE(std::string(e.what()).find(target + ": cannot write: "), std::string::npos)
              << e.what();
        }
      });
    for (std::thread& t : writers) t.join();
    EXPECT_GE(committed.load(), 1) << "trial " << trial;
    const std::string result = headless::ReadInputFile(target);
    ASSERT_EQ(result.size(), size);
    EXPECT_EQ(result, std::string(size, result[0])) << "trial " << trial;
    EXPECT_EQ(Names(), std::vector<std::string>{"out.txt"});
  }
}

#ifndef _WIN32
TEST_F(OutputFileTest, TargetsThatAreNoRegularFileAreRefusedUntouched) {
  const std::string fifo = (dir / "pipe").string();
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  for (const std::string& target : {fifo, std::string("/dev/null")}) {
    try {
      headless::OutputFile file(target);
      FAIL() << target << " was opened";
    } catch (const std::runtime_error& e) {
      EXPECT_NE(std::string(e.what()).find(target + ": cannot write: is not a regular file"),
                std::string::npos)
          << e.what();
    }
  }
  EXPECT_TRUE(fs::is_fifo(fifo));
  EXPECT_TRUE(fs::is_character_file("/dev/null"));
  // A link to a regular file is written through as before.
  std::ofstream(dir / "real.txt") << "old";
  fs::create_symlink(dir / "real.txt", dir / "link.txt");
  headless::WriteFileAtomically((dir / "link.txt").string(), std::string_view("new"));
  EXPECT_EQ(headless::ReadInputFile((dir / "link.txt").string()), "new");
}

TEST_F(OutputFileTest, WriteFailuresCarryTheSystemsReason) {
  // A file size limit makes the system refuse the bytes beyond it.
  struct rlimit old {};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
  void (*oldHandler)(int) = signal(SIGXFSZ, SIG_IGN);
  struct rlimit limited = old;
  limited.rlim_cur = 4096;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limited), 0);
  std::string message;
  try {
    headless::WriteFileAtomically((dir / "big.txt").string(), std::string(1 << 20, 'x'));
  } catch (const std::runtime_error& e) {
    message = e.what();
  }
  setrlimit(RLIMIT_FSIZE, &old);
  signal(SIGXFSZ, oldHandler);
  EXPECT_NE(message.find("big.txt: cannot write: File too large"), std::string::npos) << message;
  EXPECT_TRUE(Names().empty());
}
#endif

}  // namespace
