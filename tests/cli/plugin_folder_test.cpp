// The plug-in folder wherever the user puts it: copied into a folder whose name is not ASCII, the
// library finds its resources beside itself, and the headless host finds and loads it, in
// process and through the program.
#include <gtest/gtest.h>

#include <filesystem>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "headless/entries/plugin_host.h"
#include "headless/platform/paths.h"
#include "headless/scene/registry.h"
#include "tests/support/build_paths.h"
#include "tests/support/cli_runner.h"
#include "tests/support/loaded_plugin.h"

namespace {

namespace fs = std::filesystem;
using headless::platform::PathFromUtf8;
using headless::platform::Utf8FromPath;

class NonAsciiPluginFolder : public ::testing::Test {
 protected:
  void SetUp() override {
    headless::ResetHostState();
    root = fs::temp_directory_path() /
           ("tessamire_folder_" + std::to_string(std::random_device{}())) / fs::path(u8"plüg-ins");
    folder = root / fs::path(u8"テッサ");
    fs::create_directories(folder);
    fs::copy_file(PathFromUtf8(TESSAMIRE_DEFAULT_PLUGIN_DIR) / "tessamire.xdl64",
                  folder / "tessamire.xdl64");
    fs::copy(fs::path(TESSAMIRE_SOURCE_DIR) / "res", folder / "res", fs::copy_options::recursive);
  }
  void TearDown() override {
    headless::ResetHostState();
    fs::remove_all(root.parent_path());
  }

  fs::path root;    // .../plüg-ins, which holds the plug-in folder
  fs::path folder;  // .../plüg-ins/テッサ
};

TEST_F(NonAsciiPluginFolder, LoadsWithItsResourcesInProcess) {
  std::vector<std::string> found;
  ASSERT_NO_THROW(found = headless::FindPluginLibraries(Utf8FromPath(root)));
  ASSERT_EQ(found.size(), 1u);
  EXPECT_TRUE(fs::equivalent(PathFromUtf8(found[0]), folder / "tessamire.xdl64")) << found[0];

  headless::PluginHost plugin;
  ASSERT_NO_THROW(plugin.Open(found[0]));
  const auto report = plugin.StartUp();
  EXPECT_EQ(report.resources, 1) << "res beside the library is found";
  EXPECT_EQ(report.start, 1);
  const auto registrations = headless::Registrations();
  ASSERT_EQ(registrations.size(), 3u);
  for (const auto& r : registrations) {
    EXPECT_NE(r.name, "") << r.id;
    EXPECT_GT(r.iconWidth, 0) << r.id << ": the icon in res/icons beside the library";
  }
  plugin.Close();
}

TEST_F(NonAsciiPluginFolder, LoadsThroughTheProgram) {
  const CliRun run = RunCli("info --plugins " + Quoted(root));
  EXPECT_EQ(run.status, 0) << run.output;
  EXPECT_EQ(run.err, "") << "resources and icons are found";
  std::istringstream lines(run.out);
  int registrations = 0;
  for (std::string line; std::getline(lines, line);) {
    if (line.find(" icon=") == std::string::npos) continue;
    ++registrations;
    EXPECT_EQ(line.find(" icon=0x0"), std::string::npos) << line;
  }
  EXPECT_EQ(registrations, 3) << run.out;
}

}  // namespace
