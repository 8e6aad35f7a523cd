// `tessamire run` and `tessamire eval` through the built program: the files they write, the
// main job's verdict, and the refusals of eval.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

#include "headless/io/obj_read.h"
#include "tests/support/cli_runner.h"

namespace {

namespace fs = std::filesystem;

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// One short main job shared by the tests: 2,000 points over 4 frames.
class MainJobTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    // ctest runs each test in its own process, several at once: one folder per process.
    dir_ = fs::path(::testing::TempDir()) /
           ("tessamire_main_job_" + std::to_string(std::random_device{}()));
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    run_ = RunInProcess("run --points 2000 --frames 4 --out " + Quoted(dir_ / "out"));
  }
  static void TearDownTestSuite() { fs::remove_all(dir_); }

  static fs::path dir_;
  static CliRun run_;
};

fs::path MainJobTest::dir_;
CliRun MainJobTest::run_;

TEST_F(MainJobTest, RunWritesEveryFileAndCorrectionWinsWhenBent) {
  ASSERT_EQ(run_.status, 0) << run_.output;
  for (const char* name :
       {"skinned.obj", "corrected.obj", "limb.tsm", "limb.png", "measures.png", "view.html"})
    EXPECT_TRUE(fs::is_regular_file(dir_ / "out" / name)) << name;
  EXPECT_EQ(ReadFile(dir_ / "out" / "limb.png").substr(1, 3), "PNG");
  const headless::Mesh skinned = headless::ReadObj((dir_ / "out" / "skinned.obj").string());
  const headless::Mesh corrected = headless::ReadObj((dir_ / "out" / "corrected.obj").string());
  EXPECT_EQ(skinned.points.size(), corrected.points.size());
  EXPECT_GT(skinned.points.size(), 1500u);

  // Progress lines go to stderr when it is no terminal, one per frame.
  EXPECT_NE(run_.output.find("tessamire run: frame 4/4"), std::string::npos) << run_.output;
  // The table's last row: frame 3 at 120 degrees; each measure's corrected value below the
  // skinned one.
  std::istringstream lines(run_.output);
  std::string line, last;
  while (std::getline(lines, line))
    if (line.rfind("    3  120.0 |", 0) == 0) last = line;
  ASSERT_FALSE(last.empty()) << run_.output;
  Int32 frame = 0;
  double angle = 0, h0 = 0, h1 = 0, e0 = 0, e1 = 0, a0 = 0, a1 = 0;
  ASSERT_EQ(std::sscanf(last.c_str(), "%d %lf | %lf %lf | %lf %lf | %lf %lf", &frame, &angle, &h0,
                        &h1, &e0, &e1, &a0, &a1),
            8)
      << last;
  EXPECT_LT(h1, h0) << last;
  EXPECT_LT(e1, e0) << last;
  EXPECT_LT(a1, a0) << last;
  EXPECT_GT(h0, 5.0) << "the skinned limb lost detail at the bend: " << last;
}

TEST_F(MainJobTest, EvalWritesEachObjectPerFrameMatchingTheRun) {
  ASSERT_EQ(run_.status, 0) << run_.output;
  const fs::path out = dir_ / "eval";
  const CliRun eval = RunInProcess("eval " + Quoted(dir_ / "out" / "limb.tsm") +
                                   " --frames 1:3 --quiet --out " + Quoted(out));
  ASSERT_EQ(eval.status, 0) << eval.output;
  EXPECT_TRUE(eval.output.empty()) << eval.output;
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(out))
    names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"limb.0001.obj", "limb.0002.obj", "limb.0003.obj"}));
  // The saved scene at the last frame gives the run's corrected mesh, to the bit.
  EXPECT_EQ(ReadFile(out / "limb.0003.obj"), ReadFile(dir_ / "out" / "corrected.obj"));
  EXPECT_NE(ReadFile(out / "limb.0001.obj"), ReadFile(out / "limb.0003.obj"));

  // Without --frames: the keyed range 0..3, with a progress line per frame.
  const CliRun all = RunInProcess("eval " + Quoted(dir_ / "out" / "limb.tsm") + " --out " +
                                  Quoted(dir_ / "eval_all"));
  ASSERT_EQ(all.status, 0) << all.output;
  EXPECT_TRUE(fs::is_regular_file(dir_ / "eval_all" / "limb.0000.obj"));
  EXPECT_NE(all.output.find("tessamire eval: frame 4/4: at frame 3"), std::string::npos)
      << all.output;
}

TEST_F(MainJobTest, EvalRefusesBadRangesAndFiles) {
  ASSERT_EQ(run_.status, 0) << run_.output;
  const std::string scene = Quoted(dir_ / "out" / "limb.tsm");
  const fs::path out = dir_ / "refused";
  struct Case {
    std::string arguments;
    int status;
    std::string message;
  };
  const std::string notScene = Quoted(dir_ / "out" / "skinned.obj");
  fs::create_directories(dir_ / "file_parent");
  std::ofstream(dir_ / "file_parent" / "plain") << "x";
  const Case cases[] = {
      {"eval " + scene + " --frames 3:1 --out " + Quoted(out), 2, "A <= B"},
      {"eval " + scene + " --frames a:2 --out " + Quoted(out), 2, "\"a:2\""},
      {"eval " + scene + " --frames 1: --out " + Quoted(out), 2, "\"1:\""},
      {"eval " + scene, 2, "--out DIR is required"},
      {"eval --out " + Quoted(out), 2, "missing SCENE"},
      {"eval " + Quoted(dir_ / "missing.tsm") + " --out " + Quoted(out), 1, "missing.tsm"},
      {"eval " + notScene + " --out " + Quoted(out), 1, "skinned.obj"},
      {"eval " + scene + " --out " + Quoted(dir_ / "file_parent" / "plain"), 1, "is not a folder"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.arguments);
    const CliRun run = RunInProcess(c.arguments);
    EXPECT_EQ(run.status, c.status) << run.output;
    EXPECT_NE(run.output.find(c.message), std::string::npos) << run.output;
  }
  EXPECT_FALSE(fs::exists(out)) << "nothing written for a refused evaluation";
}

TEST(RunCliTest, RefusesBadOptions) {
  for (const char* arguments : {"run --frames 1", "run --points x", "run --angle 400",
                                "run --weighting 2", "run --iterations -1", "run extra"}) {
    SCOPED_TRACE(arguments);
    const CliRun run = RunInProcess(arguments);
    EXPECT_EQ(run.status, 2) << run.output;
    EXPECT_NE(run.output.find("tessamire run: "), std::string::npos) << run.output;
  }
}

}  // namespace
