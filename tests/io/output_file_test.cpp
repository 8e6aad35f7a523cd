// Files written through one temporary file: whole or not at all, the old file kept on failure,
// no temporary left behind; and whole input files, the standard input among them.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "headless/io/input_file.h"
#include "headless/io/output_file.h"

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

}  // namespace
