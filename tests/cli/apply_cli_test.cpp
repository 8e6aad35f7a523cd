// `tessamire apply` as a user runs it: the program corrects OBJ frames through the real plug-in,
// its results agree with the independent reference on every kind of mesh and with every option,
// and bad input fails with the file and line named and nothing written.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>

#include "headless/io/obj_read.h"
#include "headless/io/obj_write.h"
#include "headless/platform/files.h"
#include "tests/support/cli_runner.h"
#include "tests/support/deform_scene.h"

namespace {

namespace fs = std::filesystem;
using deform_scene::Faces;
using deform_scene::MaxDistance;
using deform_scene::ToRef;

// The program prints %.17g, so the only differences from the reference are its own roundings.
constexpr Float kTolerance = 1e-9;

CliRun RunApply(const std::string& arguments) {
  return RunInProcess("apply " + arguments);
}

void WriteLines(const fs::path& path, const std::vector<std::string>& lines) {
  std::ofstream out(path);
  for (const std::string& line : lines) out << line << "\n";
}

void WriteWeights(const fs::path& path, const std::vector<float>& weights) {
  std::ofstream out(path);
  char text[64];
  for (float w : weights) {
    std::snprintf(text, sizeof text, "%.9g", static_cast<double>(w));
    out << text << "\n";
  }
}

std::vector<Vector3> ReadPoints(const fs::path& path) {
  return headless::ReadObj(path.string()).points;
}

class ApplyCliTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    dir = fs::path(::testing::TempDir()) /
          ("apply_cli_" + std::string(info->name()) + "_" + std::to_string(std::random_device{}()));
    fs::remove_all(dir);
    fs::create_directories(dir);
  }
  void TearDown() override { fs::remove_all(dir); }

  // Writes the rest mesh and frames; answers the frames' paths.
  std::vector<fs::path> WriteScene(const deform_scene::Mesh& mesh,
                                   const std::vector<std::vector<Vector3>>& frames) {
    headless::WriteObj((dir / "rest.obj").string(), mesh.points, mesh.polygons);
    std::vector<fs::path> paths;
    for (size_t i = 0; i < frames.size(); ++i) {
      paths.push_back(dir / ("frame" + std::to_string(i) + ".obj"));
      headless::WriteObj(paths.back().string(), frames[i], mesh.polygons);
    }
    return paths;
  }

  std::vector<fs::path> Files(const fs::path& folder) const {
    std::vector<fs::path> out;
    for (const auto& entry : fs::directory_iterator(folder)) out.push_back(entry.path().filename());
    std::sort(out.begin(), out.end());
    return out;
  }

  fs::path dir;
};

// ---------------------------------------------------------------------------------------------
// Agreement with the reference

struct OptionSet {
  const char* name;
  reference::Settings settings;
  std::string arguments;  // besides the weight files
  bool vertexMap = false;
  bool restriction = false;
};

std::vector<OptionSet> OptionSets() {
  std::vector<OptionSet> sets;
  sets.push_back({"defaults", {}, "", false, false});
  reference::Settings uniform;
  uniform.iterations = 4;
  uniform.weighting = 0;
  sets.push_back({"uniform, 4 passes", uniform, "--iterations 4 --weighting 0"});
  reference::Settings pinned;
  pinned.pinBorder = true;
  pinned.strength = 0.35f;
  sets.push_back({"pinned border, strength", pinned, "--pin-border 1 --strength 0.35"});
  sets.push_back({"vertex map", {}, "", true, false});
  sets.push_back({"restriction", {}, "", false, true});
  reference::Settings smoothed;
  smoothed.showSmoothed = true;
  sets.push_back({"show smoothed", smoothed, "--show-smoothed", false, true});
  reference::Settings all;
  all.iterations = 3;
  all.weighting = 0;
  all.pinBorder = true;
  all.strength = 0.8f;
  sets.push_back({"everything", all, "--iterations 3 --weighting 0 --pin-border 1 --strength 0.8",
                  true, true});
  return sets;
}

TEST_F(ApplyCliTest, AgreesWithTheReferenceOnEveryMeshKindAndOption) {
  struct Case {
    const char* name;
    deform_scene::Mesh mesh;
    bool alongX;  // the twist's axis
  };
  const std::vector<Case> cases = {
      {"open quads", deform_scene::Sheet(7, 5, Faces::kQuads), true},
      {"open triangles", deform_scene::Sheet(6, 5, Faces::kTriangles), true},
      {"open mixed", deform_scene::Sheet(6, 6, Faces::kMixed), true},
      {"closed quads", deform_scene::Ring(14, 8, Faces::kQuads), false},
      {"closed triangles", deform_scene::Ring(12, 7, Faces::kTriangles), false},
      {"closed mixed", deform_scene::Ring(12, 8, Faces::kMixed), false},
  };
  for (const Case& c : cases) {
    const size_t count = c.mesh.points.size();
    const std::vector<std::vector<Vector3>> frames = {
        deform_scene::Twist(c.mesh.points, 0.12, c.alongX),
        deform_scene::Twist(c.mesh.points, -0.3, c.alongX, {1.0, 2.0, -0.5})};
    const std::vector<fs::path> framePaths = WriteScene(c.mesh, frames);
    std::vector<float> vertexMap, restriction;
    for (size_t i = 0; i < count; ++i) {
      vertexMap.push_back(0.25f + 0.75f * static_cast<float>((i * 7) % 11) / 10.0f);
      // Outside [0, 1] too: restriction weights extrapolate.
      restriction.push_back(-0.25f + 1.75f * static_cast<float>((i * 5) % 9) / 8.0f);
    }
    WriteWeights(dir / "w.txt", vertexMap);
    WriteWeights(dir / "r.txt", restriction);

    for (const OptionSet& set : OptionSets()) {
      SCOPED_TRACE(std::string(c.name) + ", " + set.name);
      reference::Settings settings = set.settings;
      std::string arguments = "--rest " + Quoted(dir / "rest.obj") + " " + set.arguments;
      if (set.vertexMap) {
        settings.vertexMap = vertexMap;
        arguments += " --vertex-map " + Quoted(dir / "w.txt");
      }
      if (set.restriction) {
        settings.restriction = restriction;
        arguments += " --restriction " + Quoted(dir / "r.txt");
      }
      const fs::path out = dir / "out";
      fs::remove_all(out);
      arguments += " --quiet --out " + Quoted(out);
      for (const fs::path& frame : framePaths) arguments += " " + Quoted(frame);
      const CliRun run = RunApply(arguments);
      ASSERT_EQ(run.status, 0) << run.output;

      const auto faces = ToRef(c.mesh.polygons);
      const auto differences = reference::Bind(ToRef(c.mesh.points), faces, settings);
      for (size_t f = 0; f < frames.size(); ++f) {
        const auto expected = reference::Correct(ToRef(frames[f]), faces, differences, settings);
        const std::vector<Vector3> got = ReadPoints(out / framePaths[f].filename());
        EXPECT_LT(MaxDistance(got, expected), kTolerance) << "frame " << f;
        // The correction really moved the frame.
        EXPECT_GT(MaxDistance(got, frames[f]), 1e-4) << "frame " << f;
      }
      // Results keep the rest polygons.
      const headless::Mesh result = headless::ReadObj((out / framePaths[0].filename()).string());
      ASSERT_EQ(result.polygons.size(), c.mesh.polygons.size());
      for (size_t i = 0; i < result.polygons.size(); ++i) {
        EXPECT_EQ(result.polygons[i].a, c.mesh.polygons[i].a);
        EXPECT_EQ(result.polygons[i].d, c.mesh.polygons[i].d);
      }
    }
  }
}

TEST_F(ApplyCliTest, RigidlyMovedFrameGivesTheMovedRestMesh) {
  const deform_scene::Mesh mesh = deform_scene::Ring(16, 9, Faces::kMixed);
  const auto moved = deform_scene::Rigid(mesh.points, 2.1, {-4.0, 1.5, 0.25});
  const auto frames = WriteScene(mesh, {moved});
  const CliRun run = RunApply("--rest " + Quoted(dir / "rest.obj") + " --out " +
                              Quoted(dir / "moved.obj") + " " + Quoted(frames[0]));
  ASSERT_EQ(run.status, 0) << run.output;
  EXPECT_LT(MaxDistance(ReadPoints(dir / "moved.obj"), moved), kTolerance);
}

// A frame failing midway (its result cannot be written: the disk fails at its flush), while later
// frames are already read and corrected, stops the run with the earlier results as a whole run
// writes them and nothing of any later frame, not even a temporary file.
TEST_F(ApplyCliTest, AFrameFailingMidwayLeavesOnlyTheEarlierResultsAndNoTemporaryFile) {
  const deform_scene::Mesh mesh = deform_scene::Sheet(6, 5);
  std::vector<std::vector<Vector3>> poses;
  for (int k = 1; k <= 6; ++k) poses.push_back(deform_scene::Twist(mesh.points, 0.05 * k, true));
  std::string operands;
  for (const fs::path& frame : WriteScene(mesh, poses)) operands += " " + Quoted(frame);
  const std::string rest = "--rest " + Quoted(dir / "rest.obj") + " --quiet --out ";
  CliRun run = RunApply(rest + Quoted(dir / "whole") + operands);
  ASSERT_EQ(run.status, 0) << run.output;

  const auto bytes = [](const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  };
  // The fifth flush is that of frame 4 or 5, which are written at once, the last as soon as it
  // is corrected: whichever fails, no later result stays.
  for (const int flush : {3, 5}) {
    const fs::path out = dir / ("failed" + std::to_string(flush));
    headless::platform::FailNthFlush(flush);
    run = RunApply(rest + Quoted(out) + operands);
    headless::platform::FailNthFlush(0);
    EXPECT_EQ(run.status, 1) << run.output;
    int failed = 0;
    while (failed < 6 &&
           run.output.find((out / ("frame" + std::to_string(failed) + ".obj")).string() +
                           ": cannot write") == std::string::npos)
      ++failed;
    EXPECT_TRUE(failed == flush - 1 || (flush == 5 && failed == 5)) << run.output;
    std::vector<fs::path> kept;
    for (int k = 0; k < failed; ++k) kept.push_back("frame" + std::to_string(k) + ".obj");
    EXPECT_EQ(Files(out), kept);
    for (const fs::path& name : kept) EXPECT_EQ(bytes(out / name), bytes(dir / "whole" / name));
  }

  // A later frame at fault as input, found once earlier results are already written under their
  // temporary names, leaves nothing written at all, as the check of every frame before writing
  // did.
  std::vector<Vector3> fewer = poses[4];
  fewer.pop_back();
  headless::WriteObj((dir / "frame4.obj").string(), fewer, {});
  fs::create_directories(dir / "bad");
  run = RunApply(rest + Quoted(dir / "bad") + operands);
  EXPECT_EQ(run.status, 1) << run.output;
  EXPECT_NE(run.output.find((dir / "frame4.obj").string() + ": "), std::string::npos) << run.output;
  EXPECT_TRUE(Files(dir / "bad").empty());

  // A cache is written as its frames are corrected: a later frame that does not fit its float32
  // numbers leaves neither the cache nor a temporary file of it.
  std::vector<Vector3> far = poses[4];
  far[0].x = 1e100;
  headless::WriteObj((dir / "frame4.obj").string(), far, mesh.polygons);
  fs::create_directories(dir / "cache");
  run = RunApply(rest + Quoted(dir / "cache" / "walk.pc2") + operands);
  EXPECT_EQ(run.status, 1) << run.output;
  EXPECT_NE(run.output.find("walk.pc2: sample 4, point 0: the coordinate "), std::string::npos)
      << run.output;
  EXPECT_NE(run.output.find("does not fit in the float32 numbers a point cache holds (the result "
                            "of " +
                            (dir / "frame4.obj").string() + ")"),
            std::string::npos)
      << run.output;
  EXPECT_TRUE(Files(dir / "cache").empty());
}

// ---------------------------------------------------------------------------------------------
// Where results go, progress

TEST_F(ApplyCliTest, OneFrameGoesToTheNamedFileOtherwiseToAFolder) {
  const deform_scene::Mesh mesh = deform_scene::Sheet(4, 3);
  const auto frames = WriteScene(mesh, {deform_scene::Twist(mesh.points, 0.1, true),
                                        deform_scene::Twist(mesh.points, 0.2, true)});
  const std::string rest = "--rest " + Quoted(dir / "rest.obj");

  CliRun run = RunApply(rest + " --out " + Quoted(dir / "single.obj") + " " + Quoted(frames[0]));
  ASSERT_EQ(run.status, 0) << run.output;
  EXPECT_TRUE(fs::is_regular_file(dir / "single.obj"));
  EXPECT_EQ(run.output, "");  // one frame: no progress

  run = RunApply(rest + " --out " + Quoted(dir / "one") + " " + Quoted(frames[0]));
  ASSERT_EQ(run.status, 0) << run.output;
  EXPECT_EQ(Files(dir / "one"), std::vector<fs::path>{"frame0.obj"});

  run = RunApply(rest + " --out " + Quoted(dir / "many") + " " + Quoted(frames[0]) + " " +
                 Quoted(frames[1]));
  ASSERT_EQ(run.status, 0) << run.output;
  EXPECT_EQ(Files(dir / "many"), (std::vector<fs::path>{"frame0.obj", "frame1.obj"}));
  // Off a terminal a quick run prints its last step alone.
  EXPECT_EQ(run.output.find("step 1/3"), std::string::npos) << run.output;
  EXPECT_NE(run.output.find("step 3/3"), std::string::npos) << run.output;

  run = RunApply(rest + " --quiet --out " + Quoted(dir / "quiet") + " " + Quoted(frames[0]) + " " +
                 Quoted(frames[1]));
  ASSERT_EQ(run.status, 0) << run.output;
  EXPECT_EQ(run.output, "");
}

// ---------------------------------------------------------------------------------------------
// Bad input: file and line named, status not 0, nothing written

class ApplyCliErrorTest : public ApplyCliTest {
 protected:
  void SetUp() override {
    ApplyCliTest::SetUp();
    mesh = deform_scene::Sheet(3, 2);
    frames = WriteScene(mesh, {deform_scene::Twist(mesh.points, 0.1, true),
                               deform_scene::Twist(mesh.points, 0.2, true)});
  }

  // Runs with the given extra arguments and frames; expects failure naming `where`, and no
  // output folder content.
  void ExpectFailure(const std::string& arguments, const std::string& where, int status = 1) const {
    const fs::path out = dir / "out";
    const CliRun run =
        RunApply("--rest " + Quoted(dir / "rest.obj") + " --out " + Quoted(out) + " " + arguments);
    EXPECT_EQ(run.status, status) << run.output;
    EXPECT_NE(run.output.find(where), std::string::npos) << run.output;
    EXPECT_TRUE(!fs::exists(out) || fs::is_empty(out)) << "something was written";
  }

  std::string BothFrames() const { return Quoted(frames[0]) + " " + Quoted(frames[1]); }

  deform_scene::Mesh mesh;
  std::vector<fs::path> frames;
};

TEST_F(ApplyCliErrorTest, FrameWhoseFacesDifferFromTheRest) {
  headless::Mesh turned = headless::ReadObj(frames[1].string());
  std::swap(turned.polygons[1].a, turned.polygons[1].c);
  headless::WriteObj(frames[1].string(), turned.points, turned.polygons);
  ExpectFailure(BothFrames(), frames[1].string() + ": face 2 is");
}

TEST_F(ApplyCliErrorTest, IndexOutOfRange) {
  WriteLines(dir / "rest.obj", {"v 0 0 0", "v 1 0 0", "v 1 1 0", "f 1 2 4"});
  ExpectFailure(BothFrames(), (dir / "rest.obj").string() + ":4:");
}

TEST_F(ApplyCliErrorTest, FrameOfAnotherPointCount) {
  std::vector<Vector3> fewer = mesh.points;
  fewer.pop_back();
  headless::WriteObj(frames[1].string(), fewer, {});
  ExpectFailure(BothFrames(), frames[1].string() + ": " + std::to_string(fewer.size()) +
                                  " points, but the rest mesh");
}

TEST_F(ApplyCliErrorTest, UnreadableFrame) {
  ExpectFailure(Quoted(frames[0]) + " " + Quoted(dir / "missing.obj"),
                (dir / "missing.obj").string() + ":0:");
}

TEST_F(ApplyCliErrorTest, BadWeightsFiles) {
  WriteLines(dir / "w.txt", {"0.5", "1", "x1", "0"});
  ExpectFailure("--vertex-map " + Quoted(dir / "w.txt") + " " + BothFrames(),
                (dir / "w.txt").string() + ":3: \"x1\" is not a number");
  WriteLines(dir / "r.txt", {"0.5", "1"});
  ExpectFailure("--restriction " + Quoted(dir / "r.txt") + " " + BothFrames(),
                (dir / "r.txt").string() + ":2: the file ends after 2 weights");
  std::vector<std::string> tooMany(mesh.points.size() + 1, "1");
  WriteLines(dir / "r.txt", tooMany);
  ExpectFailure("--restriction " + Quoted(dir / "r.txt") + " " + BothFrames(),
                (dir / "r.txt").string() + ":" + std::to_string(mesh.points.size() + 1) +
                    ": more weights than");
  WriteLines(dir / "r.txt", {"1", "", "1"});
  ExpectFailure("--restriction " + Quoted(dir / "r.txt") + " " + BothFrames(),
                (dir / "r.txt").string() + ":2: blank line");
  WriteLines(dir / "r.txt", std::vector<std::string>(mesh.points.size(), "1e39"));
  ExpectFailure("--restriction " + Quoted(dir / "r.txt") + " " + BothFrames(),
                (dir / "r.txt").string() + ":1: \"1e39\" is out of the float32 range");
}

TEST_F(ApplyCliErrorTest, BadOptionsAreUsageErrors) {
  ExpectFailure("--weighting 2 " + BothFrames(), "--weighting wants 0 or 1", 2);
  ExpectFailure("--iterations -1 " + BothFrames(), "--iterations wants a whole number", 2);
  ExpectFailure("--strength nan " + BothFrames(), "--strength wants a finite number", 2);
  ExpectFailure("", "missing FRAME.obj...", 2);
}

TEST_F(ApplyCliErrorTest, ResultsNeverOverwriteInputs) {
  const CliRun run =
      RunApply("--rest " + Quoted(dir / "rest.obj") + " --out " + Quoted(dir) + " " + BothFrames());
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.output.find("would overwrite the input"), std::string::npos) << run.output;
  EXPECT_EQ(ReadPoints(frames[0]).size(), mesh.points.size());
}

}  // namespace
