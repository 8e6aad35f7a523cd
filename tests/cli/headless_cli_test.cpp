// The `tessamire` program: `info` output, usage errors and exit codes.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>

#include "headless/entries/resources.h"
#include "tests/support/build_paths.h"
#include "tests/support/cli_runner.h"

namespace {

namespace fs = std::filesystem;

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

TEST(CliInfo, PrintsTheBannerAndOneLinePerRegistration) {
  const CliRun o = RunInProcess("info");
  ASSERT_EQ(o.status, 0) << o.err;
  const auto lines = Lines(o.out);
  ASSERT_EQ(lines.size(), 6u) << o.out;
  EXPECT_EQ(lines[0], "---------------");
  EXPECT_EQ(lines[1], "Tessamire v1.10");
  EXPECT_EQ(lines[2], "---------------");
  EXPECT_EQ(lines[3].rfind("command 1035622 \"", 0), 0u) << lines[3];
  EXPECT_NE(lines[3].find(" flags=0 description=- icon="), std::string::npos) << lines[3];
  EXPECT_EQ(lines[4].rfind("object 1035447 \"", 0), 0u) << lines[4];
  EXPECT_NE(lines[4].find(" flags=32769 description=Otessamiredeformer icon="), std::string::npos);
  EXPECT_EQ(lines[5].rfind("tag 1035496 \"", 0), 0u) << lines[5];
  EXPECT_NE(lines[5].find(" flags=11 description=TTessamireres icon="), std::string::npos);
  EXPECT_EQ(o.err, "") << "a complete plug-in folder gives no warning";
}

TEST(CliInfo, PluginsOptionTakesAnotherFolder) {
  const fs::path folder = fs::temp_directory_path() /
                          ("tessamire_cli_plugins_" + std::to_string(std::random_device{}()));
  fs::create_directories(folder / "sub");
  fs::copy_file(std::string(TESSAMIRE_DEFAULT_PLUGIN_DIR) + "/tessamire.xdl64",
                folder / "sub" / "tessamire.xdl64");
  const CliRun o = RunInProcess("info --plugins '" + folder.string() + "'");
  fs::remove_all(folder);
  EXPECT_EQ(o.status, 0) << o.err;
  EXPECT_EQ(Lines(o.out).size(), 6u) << o.out;
  EXPECT_NE(o.err.find("resources could not be loaded"), std::string::npos)
      << "a folder without res is reported: " << o.err;
}

TEST(CliUsage, BadCommandsAndArgumentsExitWithTwoAndUsage) {
  for (const char* arguments : {"", "frobnicate", "info --bogus", "info extra", "info --plugins"}) {
    const CliRun o = RunInProcess(arguments);
    EXPECT_EQ(o.status, 2) << arguments;
    EXPECT_NE(o.err.find("usage: tessamire"), std::string::npos) << arguments << ": " << o.err;
    EXPECT_EQ(o.out, "") << arguments;
  }
  const CliRun missing = RunInProcess("info --plugins /nonexistent/folder");
  EXPECT_EQ(missing.status, 1);
  EXPECT_NE(missing.err.find("/nonexistent/folder"), std::string::npos) << missing.err;

  const CliRun help = RunInProcess("--help");
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.out.find("\n  info "), std::string::npos) << help.out;
}

}  // namespace
