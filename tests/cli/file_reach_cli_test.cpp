// What a command reads and writes stays where it belongs, through the program's dispatcher: the
// files a glTF names are read from its asset root's tree only (its own folder unless
// --asset-root widens it), and only regular files; and no command's outputs replace each other.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>

#ifndef _WIN32
#include <sys/stat.h>
#endif

#include "headless/characters/character.h"
#include "tests/support/cli_runner.h"
#include "tests/support/timed_gltf.h"

namespace {

namespace fs = std::filesystem;

class FileReachCli : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    dir = fs::path(::testing::TempDir()) / ("tessamire_reach_" + std::string(info->name()) + "_" +
                                            std::to_string(std::random_device{}()));
    fs::remove_all(dir);
    fs::create_directories(dir / "chars");
  }
  void TearDown() override { fs::remove_all(dir); }

  // chars/NAME.gltf: one triangle whose 36 bytes of positions are in the file `uri` names.
  fs::path Gltf(const std::string& name, const std::string& uri) const {
    const fs::path path = dir / "chars" / (name + ".gltf");
    std::ofstream(path) << R"({"asset":{"version":"2.0"},"buffers":[{"byteLength":36,"uri":")"
                        << uri << R"("}],"bufferViews":[{"buffer":0,"byteLength":36}],)"
                        << R"("accessors":[{"bufferView":0,"componentType":5126,"count":3,)"
                        << R"("type":"VEC3","min":[0,0,0],"max":[1,1,0]}],"meshes":[{"name":")"
                        << name << R"(","primitives":[{"attributes":{"POSITION":0}}]}],)"
                        << R"("nodes":[{"mesh":0}],"scenes":[{"nodes":[0]}],"scene":0})";
    return path;
  }
  // The triangle's positions, as float32 bytes.
  void Positions(const fs::path& path) const {
    const float xyz[9] = {0, 0, 0, 1, 0, 0, 0, 1, 0};
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(xyz), sizeof xyz);
  }

  fs::path dir;
};

TEST_F(FileReachCli, AGltfReadsOnlyRegularFilesInItsAssetRoot) {
  if (!headless::CharacterImportAvailable()) GTEST_SKIP() << "built without Assimp";
  Positions(dir / "chars" / "tri.bin");
  Positions(dir / "outside.bin");
  fs::create_directories(dir / "chars" / "buffers");
  Positions(dir / "chars" / "buffers" / "deep.bin");
  struct Case {
    std::string name, uri, options, refusal;  // refusal empty: imported
  };
  std::vector<Case> cases = {
      {"beside", "tri.bin", "", ""},
      {"below", "buffers/deep.bin", "", ""},
      {"above", "../outside.bin", "", "../outside.bin, lies outside the asset root"},
      {"above_rooted", "../outside.bin", "--asset-root " + Quoted(dir), ""},
      {"system", "../../../../../../../../etc/passwd", "--asset-root " + Quoted(dir),
       "../../../../../../../../etc/passwd, lies outside the asset root"},
      {"folder", "buffers", "", "buffers, is not a regular file"},
      {"missing", "none.bin", "", "none.bin, does not exist"},
  };
#ifndef _WIN32
  // A fifo would block the reader for good; a link out of the tree leads outside it.
  ASSERT_EQ(mkfifo((dir / "chars" / "pipe.bin").c_str(), 0600), 0);
  fs::create_symlink(dir / "outside.bin", dir / "chars" / "link.bin");
  cases.push_back({"fifo", "pipe.bin", "", "pipe.bin, is not a regular file"});
  cases.push_back({"link", "link.bin", "", "link.bin, lies outside the asset root"});
#endif
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const fs::path gltf = Gltf(c.name, c.uri);
    const fs::path scene = dir / (c.name + ".tsm");
    const CliRun run = RunInProcess("scene import " + Quoted(gltf) + " --out " + Quoted(scene) +
                                    (c.options.empty() ? "" : " " + c.options));
    if (c.refusal.empty()) {
      EXPECT_EQ(run.status, 0) << run.err;
      EXPECT_TRUE(fs::exists(scene));
      continue;
    }
    EXPECT_EQ(run.status, 1) << run.err;
    EXPECT_NE(run.err.find(gltf.string() + ": the file it names, " + c.refusal), std::string::npos)
        << run.err;
    EXPECT_FALSE(fs::exists(scene));
    // Listing reads the file the same way.
    const CliRun list = RunInProcess("scene import " + Quoted(gltf) + " --list" +
                                     (c.options.empty() ? "" : " " + c.options));
    EXPECT_NE(list.err.find(c.refusal), std::string::npos) << list.err;
  }
  const CliRun badRoot =
      RunInProcess("scene import " + Quoted(Gltf("root", "tri.bin")) + " --out " +
                   Quoted(dir / "r.tsm") + " --asset-root " + Quoted(dir / "none"));
  EXPECT_EQ(badRoot.status, 1);
  EXPECT_NE(badRoot.err.find("none: not a folder"), std::string::npos) << badRoot.err;
}

// A binary glTF's buffers in other files are found from its own folder, not the current one, and
// only in its tree.
TEST_F(FileReachCli, ViewReadsABinaryGltfsFilesFromItsOwnFolder) {
  if (!headless::CharacterImportAvailable()) GTEST_SKIP() << "built without Assimp";
  Positions(dir / "chars" / "tri.bin");
  Positions(dir / "outside.bin");
  const auto glb = [&](const std::string& name, const std::string& uri) {
    // Buffer 0 is the file's own binary chunk; the triangle's is another file.
    std::string json = R"({"asset":{"version":"2.0"},"buffers":[{"byteLength":4},)"
                       R"({"byteLength":36,"uri":")" +
                       uri +
                       R"("}],"bufferViews":[{"buffer":1,"byteLength":36}],"accessors":[{)"
                       R"("bufferView":0,"componentType":5126,"count":3,"type":"VEC3","min":)"
                       R"([0,0,0],"max":[1,1,0]}],"meshes":[{"name":"tri","primitives":[{)"
                       R"("attributes":{"POSITION":0}}]}],"nodes":[{"mesh":0}],"scenes":[{)"
                       R"("nodes":[0]}],"scene":0})";
    while (json.size() % 4 != 0) json += ' ';
    const auto u32 = [](std::uint32_t v) {
      return std::string{static_cast<char>(v), static_cast<char>(v >> 8),
                         static_cast<char>(v >> 16), static_cast<char>(v >> 24)};
    };
    const fs::path path = dir / "chars" / (name + ".glb");
    std::ofstream(path, std::ios::binary)
        << "glTF" << u32(2) << u32(static_cast<std::uint32_t>(20 + json.size() + 12))
        << u32(static_cast<std::uint32_t>(json.size())) << "JSON" << json << u32(4)
        << std::string("BIN\0\0\0\0\0", 8);
    return path;
  };
  const CliRun beside = RunInProcess("view " + Quoted(glb("beside", "tri.bin")) +
                                     " --quiet --out " + Quoted(dir / "beside.html"));
  EXPECT_EQ(beside.status, 0) << beside.err;
  const CliRun above = RunInProcess("view " + Quoted(glb("above", "../outside.bin")) +
                                    " --quiet --out " + Quoted(dir / "above.html"));
  EXPECT_EQ(above.status, 1);
  EXPECT_NE(above.err.find("../outside.bin, lies outside the asset root"), std::string::npos)
      << above.err;
  const CliRun rooted =
      RunInProcess("view " + Quoted(glb("rooted", "../outside.bin")) + " --quiet --asset-root " +
                   Quoted(dir) + " --out " + Quoted(dir / "rooted.html"));
  EXPECT_EQ(rooted.status, 0) << rooted.err;
}

// Two outputs of one run are never one file, whatever their kinds; nothing is written when they
// would be.
TEST_F(FileReachCli, NoOutputReplacesAnother) {
  const fs::path rest = dir / "rest.obj";
  const fs::path frame = dir / "frame.obj";
  std::ofstream(rest) << "v 0 0 0\nv 1 0 0\nv 1 1 0\nv 0 1 0\nf 1 2 3 4\n";
  std::ofstream(frame) << "v 0 0 0\nv 1 0 0\nv 1 1 0.5\nv 0 1 0\nf 1 2 3 4\n";
  fs::create_directories(dir / "out");
  struct Case {
    std::string name, arguments, refusal;
    fs::path untouched;  // must not exist after the run
  };
  const std::vector<Case> cases = {
      {"preview on the result",
       "apply --rest " + Quoted(rest) + " --out " + Quoted(dir / "res.obj") + " --preview " +
           Quoted(dir / "res.obj") + " " + Quoted(frame),
       "the preview would overwrite the result of", dir / "res.obj"},
      {"preview's page on the preview",
       "apply --rest " + Quoted(rest) + " --out " + Quoted(dir / "res.obj") + " --preview " +
           Quoted(dir / "pic.html") + " " + Quoted(frame),
       "the preview's page would overwrite the preview", dir / "res.obj"},
      {"preview on the cache",
       "apply --rest " + Quoted(rest) + " --out " + Quoted(dir / "c.mdd") + " --preview " +
           Quoted(dir / "c.mdd") + " " + Quoted(frame),
       "the preview would overwrite the result", dir / "c.mdd"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const CliRun run = RunInProcess(c.arguments);
    EXPECT_EQ(run.status, 1) << run.err;
    EXPECT_NE(run.err.find(c.refusal), std::string::npos) << run.err;
    EXPECT_FALSE(fs::exists(c.untouched));
  }
}

// `correct`'s saved scene is checked with its results: one of a result's name in the results'
// folder is refused before either is written.
TEST_F(FileReachCli, CorrectsSavedSceneIsNotAResult) {
  if (!headless::CharacterImportAvailable()) GTEST_SKIP() << "built without Assimp";
  // A skinned tube called "body", keyed over 3 frames.
  const fs::path gltf = dir / "chars" / "body.gltf";
  std::ofstream(gltf) << timed_gltf::TimedGltf({0.0f, 1.0f / 24, 2.0f / 24});
  const fs::path out = dir / "out";
  const CliRun clash = RunInProcess("correct " + Quoted(gltf) + " --format mdd --quiet --out " +
                                    Quoted(out) + " --save-scene " + Quoted(out / "body.mdd"));
  EXPECT_EQ(clash.status, 1) << clash.err;
  EXPECT_NE(clash.err.find("the result would overwrite the saved scene"), std::string::npos)
      << clash.err;
  EXPECT_FALSE(fs::exists(out / "body.mdd"));
  const CliRun apart = RunInProcess("correct " + Quoted(gltf) + " --format mdd --quiet --out " +
                                    Quoted(out) + " --save-scene " + Quoted(out / "body.tsm"));
  EXPECT_EQ(apart.status, 0) << apart.err;
  EXPECT_TRUE(fs::exists(out / "body.tsm"));
  EXPECT_TRUE(fs::exists(out / "body.mdd"));
}

}  // namespace
