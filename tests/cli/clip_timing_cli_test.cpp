// A glTF clip keyed every 1/24 s through the program: `scene import --list` counts the frames a
// run writes at the rate its keys give, `correct` writes that many at the file's own times (MDD
// and glTF), and refuses frames past the clip's last, writing nothing.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "headless/characters/character.h"
#include "headless/characters/gltf_reader.h"
#include "headless/io/point_cache.h"
#include "tests/support/cli_runner.h"
#include "tests/support/timed_gltf.h"

namespace {

namespace fs = std::filesystem;

class ClipTimingCli : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!headless::CharacterImportAvailable()) GTEST_SKIP() << "built without Assimp";
    dir = fs::path(::testing::TempDir()) /
          ("clip_timing_cli_" + std::to_string(std::random_device{}()));
    fs::create_directories(dir);
    // The last key is the file's own time, 5e-7 s past 47/24, so that frame times computed from
    // the rate would differ from it in float32.
    times = timed_gltf::EvenTimes(48, 1.0 / 24);
    times.back() += 5e-7f;
    clip = dir / "clip.gltf";
    std::ofstream(clip) << timed_gltf::TimedGltf(times);
  }
  void TearDown() override { fs::remove_all(dir); }

  fs::path dir, clip;
  std::vector<float> times;
};

TEST_F(ClipTimingCli, TheListCountsTheFramesARunWritesAtTheKeysRate) {
  const CliRun run = RunInProcess("scene import " + Quoted(clip) + " --list");
  ASSERT_EQ(run.status, 0) << run.output;
  EXPECT_NE(run.out.find("frames   rate (frames: the count a run writes"), std::string::npos)
      << run.out;
  EXPECT_NE(run.out.find("Bend           48     24 per second (the file gives none; its keys' "
                         "spacing)"),
            std::string::npos)
      << run.out;
}

TEST_F(ClipTimingCli, CachesAndGltfOfTheClipCarryItsOwnTimes) {
  for (const char* format : {"mdd", "glb"}) {
    SCOPED_TRACE(format);
    const fs::path out = dir / format;
    // The glTF's frames read back as whole morph targets; the skinned form's are played below.
    const std::string form = std::string(format) == "glb" ? " --glb-form frames" : "";
    const CliRun run = RunInProcess("correct " + Quoted(clip) + " --quiet --format " + format +
                                    form + " --out " + Quoted(out));
    ASSERT_EQ(run.status, 0) << run.output;
    std::vector<float> written;
    if (std::string(format) == "mdd") {
      for (float t : headless::ReadPointCache((out / "body.mdd").string()).times)
        written.push_back(t);
    } else {
      const std::vector<headless::MorphedMesh> meshes =
          headless::ReadGlb((out / "clip.glb").string());
      ASSERT_EQ(meshes.size(), 1u);
      for (Float t : meshes[0].seconds) written.push_back(static_cast<float>(t));
    }
    ASSERT_EQ(written.size(), 48u);  // not 49: 1.9583339 s x 24 is frame 47
    EXPECT_EQ(written.back(), times.back());
    EXPECT_NE(written.back(), static_cast<float>(47.0 / 24));
    EXPECT_EQ(written[24], times[24]);
  }
  // A skinned glTF is played at its own keys: one frame per written frame, at the clip's times.
  const CliRun skinned = RunInProcess("correct " + Quoted(clip) + " --quiet --format glb --out " +
                                      Quoted(dir / "skinned"));
  ASSERT_EQ(skinned.status, 0) << skinned.output;
  const std::vector<headless::MorphedMesh> meshes =
      headless::ReadGlb((dir / "skinned" / "clip.glb").string());
  ASSERT_EQ(meshes.size(), 1u);
  ASSERT_EQ(meshes[0].seconds.size(), times.size());
  ASSERT_EQ(meshes[0].frames.size(), times.size());
  for (size_t f = 0; f < times.size(); ++f)
    EXPECT_EQ(static_cast<float>(meshes[0].seconds[f]), times[f]) << "frame " << f;
}

TEST_F(ClipTimingCli, FramesPastTheClipAreRefusedNamingItsLastFrameAndNothingIsWritten) {
  const struct {
    const char* frames;
    bool taken;
  } cases[] = {{"0:47", true}, {"40:48", false}, {"47:100", false}, {"60", false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.frames);
    const fs::path out = dir / (std::string("out_") + c.frames[0] + c.frames[1]);
    const CliRun run = RunInProcess("correct " + Quoted(clip) + " --quiet --frames " + c.frames +
                                    " --format mdd --out " + Quoted(out));
    if (c.taken) {
      EXPECT_EQ(run.status, 0) << run.output;
      continue;
    }
    EXPECT_NE(run.status, 0);
    EXPECT_NE(run.err.find("goes past the clip 'Bend', whose last frame is 47"), std::string::npos)
        << run.err;
    EXPECT_FALSE(fs::exists(out));
  }
}

}  // namespace
