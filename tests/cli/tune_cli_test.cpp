// `tessamire tune` run as a user does, on a ground-truth limb bent over three frames: it evaluates
// the most deformed frame, recommends a setting that keeps the pose, writes its plot and page, and
// refuses frames of another mesh; `apply --settings auto` takes its recommendation.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <sstream>
#include <string>

#include "headless/characters/character.h"
#include "headless/io/obj_read.h"
#include "headless/io/point_cache.h"
#include "headless/job/ground_truth.h"
#include "tests/support/cli_runner.h"
#include "tests/support/temp_folder.h"

namespace {

std::string ObjOf(const std::vector<Vector3>& points, const std::vector<CPolygon>& polygons) {
  std::ostringstream text;
  text.precision(17);
  for (const Vector3& p : points) text << "v " << p.x << ' ' << p.y << ' ' << p.z << '\n';
  for (const CPolygon& f : polygons) {
    text << "f " << f.a + 1 << ' ' << f.b + 1 << ' ' << f.c + 1;
    if (f.d != f.c) text << ' ' << f.d + 1;
    text << '\n';
  }
  return text.str();
}

// The pose kept column of the row marked as recommended.
double RecommendedPose(const std::string& out) {
  std::istringstream lines(out);
  std::string line;
  while (std::getline(lines, line))
    if (!line.empty() && line[0] == '>') {
      // "> R rounds, weighting W, pin P   pose ..."
      std::istringstream row(line.substr(line.find("pin") + 5));
      double pose = -1.0;
      row >> pose;
      return pose;
    }
  return -1.0;
}

TEST(TuneCli, RecommendsOnTheMostDeformedFrameAndWritesPlotAndPage) {
  TempFolder folder;
  const Float bends[3] = {20.0, 90.0, 45.0};
  headless::TruthCase truth;
  for (int i = 0; i < 3; ++i) {
    truth = headless::MakeTruthCase({headless::TruthShape::kLimb, 2000, bends[i], 4});
    folder.Write("f" + std::to_string(i + 1) + ".obj", ObjOf(truth.skinned, truth.rest.polygons));
  }
  folder.Write("rest.obj", ObjOf(truth.rest.points, truth.rest.polygons));
  const std::string dir = (folder.path / "out").string();
  const std::string p = folder.path.string() + "/";
  const CliRun run = RunInProcess("tune --rest " + p + "rest.obj " + p + "f1.obj " + p + "f2.obj " +
                                  p + "f3.obj --samples 1 --quiet --out " + dir);
  ASSERT_EQ(run.status, 0) << run.output;
  EXPECT_NE(run.out.find("evaluated (the most deformed): " + p + "f2.obj"), std::string::npos)
      << run.out;
  EXPECT_NE(run.out.find("recommended for " + p + "rest.obj: "), std::string::npos);
  const double pose = RecommendedPose(run.out);
  EXPECT_GE(pose, 0.0) << run.out;
  EXPECT_LE(pose, 0.5);
  EXPECT_GT(std::filesystem::file_size(dir + "/tune.png"), 1000u);
  EXPECT_GT(std::filesystem::file_size(dir + "/tune.html"), 1000u);

  folder.Write("small.obj", "v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\n");
  const CliRun wrong =
      RunInProcess("tune --rest " + p + "rest.obj " + p + "small.obj --quiet --out " + dir);
  EXPECT_NE(wrong.status, 0);
  EXPECT_NE(wrong.err.find("small.obj: 3 points, but the rest mesh"), std::string::npos)
      << wrong.err;
  const CliRun off = RunInProcess("tune --rest " + p + "rest.obj " + p +
                                  "f1.obj --pose-check off --quiet --out " + dir);
  EXPECT_EQ(off.status, 2) << off.output;
}

// The setting a line "... PREFIX<setting> (..." or "... PREFIX<setting>" ends with; empty
// without PREFIX.
std::string SettingAfter(const std::string& text, const std::string& prefix) {
  const size_t at = text.find(prefix);
  if (at == std::string::npos) return "";
  const size_t from = at + prefix.size();
  return text.substr(from, text.find_first_of(" (\n", text.find("pin", from) + 4) - from);
}

// `apply --settings auto` on the limb bent over three frames, given as OBJ files and as one
// cache: what is not given is tune's recommendation for the same frames, what is given stays,
// and a cache sampled for tune is still corrected from its first sample on.
TEST(ApplyAutoSettingsCli, TakesTunesRecommendationForWhatIsNotGiven) {
  TempFolder folder;
  const Float bends[3] = {30.0, 90.0, 60.0};
  headless::TruthCase truth;
  std::vector<std::vector<Vector3>> skinned;
  for (int i = 0; i < 3; ++i) {
    truth = headless::MakeTruthCase({headless::TruthShape::kLimb, 600, bends[i], 2});
    folder.Write("f" + std::to_string(i + 1) + ".obj", ObjOf(truth.skinned, truth.rest.polygons));
    skinned.push_back(truth.skinned);
  }
  folder.Write("rest.obj", ObjOf(truth.rest.points, truth.rest.polygons));
  const std::string p = folder.path.string() + "/";
  const std::string rest = p + "rest.obj", frames = p + "f1.obj " + p + "f2.obj " + p + "f3.obj";
  headless::WritePointCache(
      p + "skinned.pc2",
      headless::MakePointCache(headless::PointCacheFormat::kPc2, skinned, 1, 30));

  const CliRun tune = RunInProcess("tune --rest " + rest + " " + frames + " --quiet --out " + p);
  ASSERT_EQ(tune.status, 0) << tune.output;
  const std::string recommended = SettingAfter(tune.out, "recommended for " + rest + ": ");
  ASSERT_NE(recommended, "") << tune.out;
  const std::string said = "settings auto: " + rest + ": ";

  const CliRun objs = RunInProcess("apply --rest " + rest + " " + frames +
                                   " --settings auto --quiet --out " + p + "objs");
  ASSERT_EQ(objs.status, 0) << objs.output;
  EXPECT_EQ(SettingAfter(objs.err, said), recommended) << objs.err;
  const CliRun cache = RunInProcess("apply --rest " + rest + " " + p +
                                    "skinned.pc2 --settings auto --quiet --out " + p + "out.pc2");
  ASSERT_EQ(cache.status, 0) << cache.output;
  EXPECT_EQ(SettingAfter(cache.err, said), recommended) << cache.err;
  const headless::PointCache corrected = headless::ReadPointCache(p + "out.pc2");
  ASSERT_EQ(corrected.SampleCount(), 3);
  for (int i = 0; i < 3; ++i) {
    const std::vector<Vector3> fromObj =
        headless::ReadObj(p + "objs/f" + std::to_string(i + 1) + ".obj").points;
    const std::vector<Vector3> fromCache = corrected.Sample(i);
    Float largest = 0.0;
    for (size_t k = 0; k < fromObj.size(); ++k)
      largest = std::max({largest, std::fabs(fromObj[k].x - fromCache[k].x),
                          std::fabs(fromObj[k].y - fromCache[k].y),
                          std::fabs(fromObj[k].z - fromCache[k].z)});
    EXPECT_LT(largest, 1e-4) << "frame " << i + 1;  // float32 input, not another frame
  }

  const CliRun given = RunInProcess("apply --rest " + rest + " " + frames +
                                    " --iterations 3 --settings auto --quiet --out " + p + "given");
  ASSERT_EQ(given.status, 0) << given.output;
  EXPECT_EQ(SettingAfter(given.err, said).substr(0, 9), "3 rounds,") << given.err;
  EXPECT_NE(
      RunInProcess("apply --rest " + rest + " " + frames + " --settings best --out " + p + "bad")
          .status,
      0);
}

}  // namespace

namespace {

// The pose guard of `correct` (and so of `eval`, which runs the same evaluation) on a coarse
// character: 32 rounds straighten its bent limb, 4 do not.
TEST(PoseGuardCli, SpeaksWhenTheRoundsMoveAPoseAndOnlyThen) {
  const std::filesystem::path model = "/usr/share/assimp/models/FBX/huesitos.fbx";
  if (!headless::CharacterImportAvailable()) GTEST_SKIP() << "built without Assimp";
  if (!std::filesystem::exists(model)) {
    ADD_FAILURE() << model << " is missing (package assimp-testmodels)";
    return;
  }
  TempFolder folder;
  struct Case {
    const char* rounds;
    bool speaks;
  };
  for (const Case c : {Case{"32", true}, Case{"4", false}}) {
    SCOPED_TRACE(c.rounds);
    const CliRun run =
        RunInProcess("correct " + model.string() + " --iterations " + c.rounds +
                     " --format pc2 --quiet --out " + (folder.path / c.rounds).string());
    ASSERT_EQ(run.status, 0) << run.output;
    const bool spoke = run.err.find("moved the pose") != std::string::npos;
    EXPECT_EQ(spoke, c.speaks) << run.err;
    if (c.speaks) {
      EXPECT_NE(run.err.find("rounds keep that frame within it"), std::string::npos);
    }
  }
  const CliRun off = RunInProcess("correct " + model.string() +
                                  " --iterations 32 --pose-check off --format pc2 --quiet --out " +
                                  (folder.path / "off").string());
  EXPECT_EQ(off.err.find("moved the pose"), std::string::npos) << off.err;
}

}  // namespace
