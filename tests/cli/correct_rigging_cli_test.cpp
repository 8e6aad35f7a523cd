// `tessamire correct` as a rigger works with it, on a small two-joint glTF written here: maps
// from files and from a joint's own weights, binding on a frame's pose, the rest meshes beside
// the results, plain skinning beside the correction, a bind tag without its deformer, and the
// folders and log lines of a run.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "headless/characters/character.h"
#include "headless/io/obj_read.h"
#include "tests/support/cli_runner.h"
#include "tests/support/timed_gltf.h"

namespace {

namespace fs = std::filesystem;

// The tube's rings sit at y = 0, 0.5, ..., 2 with 8 points each; the tip joint weighs the first
// two rings 0.
constexpr size_t kOutsideTip = 16, kPoints = 40;

bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

std::vector<Vector3> Points(const fs::path& obj) {
  return headless::ReadObj(obj.string()).points;
}

Float MaxDistance(const std::vector<Vector3>& a, const std::vector<Vector3>& b, size_t from = 0,
                  size_t to = kPoints) {
  EXPECT_EQ(a.size(), b.size());
  Float worst = 0.0;
  for (size_t i = from; i < std::min({to, a.size(), b.size()}); ++i)
    worst = std::max({worst, std::fabs(a[i].x - b[i].x), std::fabs(a[i].y - b[i].y),
                      std::fabs(a[i].z - b[i].z)});
  return worst;
}

class CorrectRiggingCli : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!headless::CharacterImportAvailable()) GTEST_SKIP() << "built without Assimp";
    dir = fs::path(::testing::TempDir()) /
          ("correct_rigging_cli_" + std::to_string(std::random_device{}()));
    fs::create_directories(dir);
    file = dir / "bend.gltf";
    std::ofstream(file) << timed_gltf::TimedGltf(timed_gltf::EvenTimes(25, 1.0 / 24));
  }
  void TearDown() override { fs::remove_all(dir); }

  CliRun Run(const std::string& arguments) {
    const CliRun run = RunInProcess(arguments);
    EXPECT_EQ(run.status, 0) << arguments << "\n" << run.output;
    return run;
  }
  fs::path Weights(const std::string& name, const std::vector<float>& weights) {
    const fs::path path = dir / name;
    std::ofstream text(path);
    for (float w : weights) text << w << "\n";
    return path;
  }

  fs::path dir, file;
};

TEST_F(CorrectRiggingCli, ARestrictionByAJointsWeightsLeavesPointsOutsideItsReachSkinned) {
  Run("correct " + Quoted(file) + " --quiet --welded --frames 20 --with-skinned " +
      "--restriction-joint tip --format obj --out " + Quoted(dir / "tip"));
  const std::vector<Vector3> corrected = Points(dir / "tip" / "body.0020.obj");
  const std::vector<Vector3> skinned = Points(dir / "tip" / "skinned" / "body.0020.obj");
  EXPECT_EQ(MaxDistance(corrected, skinned, 0, kOutsideTip), 0.0) << "outside the tip's reach";
  EXPECT_GT(MaxDistance(corrected, skinned, kOutsideTip), 1e-4) << "the correction acts within";

  // The same weights from a file give the same result to the bit; a restriction of zeros gives
  // plain skinning everywhere.
  std::vector<float> tip(kPoints, 0.0f);
  for (size_t i = kOutsideTip; i < kPoints; ++i) tip[i] = i < 24 ? 0.5f : 1.0f;
  Run("correct " + Quoted(file) + " --quiet --welded --frames 20 --restriction body=" +
      Quoted(Weights("tip.txt", tip)) + " --format obj --out " + Quoted(dir / "file"));
  EXPECT_EQ(MaxDistance(Points(dir / "file" / "body.0020.obj"), corrected), 0.0);
  Run("correct " + Quoted(file) + " --quiet --welded --frames 20 --restriction " +
      Quoted(Weights("zero.txt", std::vector<float>(kPoints, 0.0f))) + " --format obj --out " +
      Quoted(dir / "zero"));
  EXPECT_EQ(MaxDistance(Points(dir / "zero" / "body.0020.obj"), skinned), 0.0);
}

TEST_F(CorrectRiggingCli, MapsAtFaultAreRefusedNamingThemAndNothingIsWritten) {
  const fs::path shortMap = Weights("short.txt", std::vector<float>(5, 1.0f));
  const fs::path above = Weights("above.txt", std::vector<float>(kPoints, 2.0f));
  const fs::path ones = Weights("ones.txt", std::vector<float>(kPoints, 1.0f));
  const struct {
    std::string options, message;
  } cases[] = {
      {"--restriction " + Quoted(shortMap), "ends after 5 weights, but mesh body has 40 points"},
      {"--restriction arm=" + Quoted(shortMap),
       "no deformed mesh is called 'arm'; they are 'body'"},
      {"--restriction-joint elbow", "--restriction elbow: no skin of the deformed meshes"},
      {"--vertex-map-joint knee", "--vertex-map knee: no skin"},
      {"--vertex-map " + Quoted(above), "above.txt"},
      {"--restriction " + Quoted(ones) + " --restriction-joint tip", "'body' is given two maps"},
      {"--restriction " + Quoted(dir / "none.txt"), "none.txt"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.options);
    const CliRun run = RunInProcess("correct " + Quoted(file) + " " + c.options +
                                    " --format obj --out " + Quoted(dir / "out"));
    EXPECT_NE(run.status, 0);
    EXPECT_TRUE(Contains(run.err, c.message)) << run.err;
    EXPECT_FALSE(fs::exists(dir / "out"));
  }
}

TEST_F(CorrectRiggingCli, BindingOnAFrameIsApplyWithThatFramesSkinningAsTheRest) {
  Run("correct " + Quoted(file) + " --quiet --welded --frames 10:20 --bind-frame 10 " +
      "--with-skinned --format obj --out " + Quoted(dir / "f"));
  const fs::path skinned = dir / "f" / "skinned";
  // At the frame it was bound on, the correction gives the pose back.
  EXPECT_LT(MaxDistance(Points(dir / "f" / "body.0010.obj"), Points(skinned / "body.0010.obj")),
            1e-9);
  // Any other frame as `apply` corrects it against that frame's skinning as its rest.
  Run("apply " + Quoted(skinned / "body.0020.obj") + " --quiet --rest " +
      Quoted(skinned / "body.0010.obj") + " --out " + Quoted(dir / "applied.obj"));
  const std::vector<Vector3> corrected = Points(dir / "f" / "body.0020.obj");
  EXPECT_LT(MaxDistance(corrected, Points(dir / "applied.obj")), 1e-12);
  EXPECT_GT(MaxDistance(corrected, Points(skinned / "body.0020.obj")), 1e-4);
  // Bound at the bind pose instead, frame 20 comes out otherwise.
  Run("correct " + Quoted(file) + " --quiet --welded --frames 20 --format obj --out " +
      Quoted(dir / "b"));
  EXPECT_GT(MaxDistance(corrected, Points(dir / "b" / "body.0020.obj")), 1e-6);
}

TEST_F(CorrectRiggingCli, TheRestMeshIsThePoseTheTagsWereBoundOn) {
  const struct {
    std::string options;
    fs::path pose;  // what the rest must equal; empty: the file's own points
  } cases[] = {
      {"--welded", {}},
      {"", {}},
      {"--welded --bind-frame 24 --with-skinned", dir / "r2" / "skinned" / "body.0024.obj"},
  };
  std::vector<Vector3> own;
  {
    auto doc = headless::NewDocument();
    headless::ImportCharacter(file.string(), *doc, {});
    own = doc->FindObject("body")->points;
  }
  int k = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.options);
    const fs::path out = dir / ("r" + std::to_string(k++));
    Run("correct " + Quoted(file) + " --quiet --frames 24 --format obj " + c.options + " --out " +
        Quoted(out));
    const std::vector<Vector3> rest = Points(out / "body.rest.obj");
    EXPECT_EQ(MaxDistance(rest, c.pose.empty() ? own : Points(c.pose)), 0.0);
    EXPECT_TRUE(fs::exists(out / "body.0024.obj"));
  }
}

TEST_F(CorrectRiggingCli, ABindTagWithoutItsDeformerIsEquippedAndCorrected) {
  const fs::path scene = dir / "s.tsm", tagged = dir / "tagged.tsm";
  Run("scene import " + Quoted(file) + " --out " + Quoted(scene));
  // Without Shift the setup command puts the tag alone.
  Run("command 'Add Tessamire' --select body " + Quoted(scene) + " --out " + Quoted(tagged));
  const CliRun run = Run("correct " + Quoted(tagged) +
                         " --frames 20 --with-skinned --format obj --out " + Quoted(dir / "t"));
  EXPECT_TRUE(Contains(run.out, "body: its bind tag had no deformer; one was put after the skin"))
      << run.out;
  Run("correct " + Quoted(file) + " --quiet --frames 20 --format obj --out " + Quoted(dir / "c"));
  const std::vector<Vector3> corrected = Points(dir / "t" / "body.0020.obj");
  EXPECT_EQ(MaxDistance(corrected, Points(dir / "c" / "body.0020.obj")), 0.0);
  EXPECT_GT(MaxDistance(corrected, Points(dir / "t" / "skinned" / "body.0020.obj")), 1e-4);
}

TEST_F(CorrectRiggingCli, OutCreatesItsFoldersAndALogGetsOneProgressLinePerRun) {
  const fs::path out = dir / "a" / "b" / "c";
  const CliRun run =
      Run("correct " + Quoted(file) + " --with-skinned --format obj --out " + Quoted(out));
  EXPECT_TRUE(fs::exists(out / "body.0024.obj"));
  EXPECT_TRUE(fs::exists(out / "skinned" / "body.0024.obj"));
  // The file's note, then the last line of the corrected run and of the skinned one.
  EXPECT_TRUE(Contains(run.err, "frame 25/25: at frame 24\ntessamire correct: frame 25/25"))
      << run.err;
  EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 3) << run.err;
  // The results may not overwrite a map given as input.
  const fs::path map = Weights("body.rest.obj", std::vector<float>(kPoints, 1.0f));
  const CliRun over = RunInProcess("correct " + Quoted(file) + " --restriction " + Quoted(map) +
                                   " --format obj --out " + Quoted(dir));
  EXPECT_EQ(over.status, 1);
  EXPECT_TRUE(Contains(over.err, "would overwrite the input")) << over.err;
}

}  // namespace
