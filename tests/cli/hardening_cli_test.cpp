// What the program refuses before it does harm, through the built program: runs that would
// overwrite what they read or a file that is not a regular file, numbers outside the range the
// work needs, evaluations without end or beyond the disk, and file-borne text that would drive
// the terminal.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>

#include "headless/deformers/skin.h"
#include "headless/files/printable.h"
#include "headless/io/obj_read.h"
#include "headless/io/scene_file.h"
#include "headless/scene/scene.h"
#include "tests/support/cli_runner.h"

namespace {

namespace fs = std::filesystem;

class HardeningCli : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    dir = fs::path(::testing::TempDir()) / ("tessamire_hardening_" + std::string(info->name()) +
                                            "_" + std::to_string(std::random_device{}()));
    fs::remove_all(dir);
    fs::create_directories(dir);
  }
  void TearDown() override { fs::remove_all(dir); }

  // A 2 x 2 quad sheet of 9 points with its first point at `corner`.
  fs::path Sheet(const std::string& name, const std::string& corner = "0 0 0") const {
    std::ofstream out(dir / name);
    out << "v " << corner << "\n";
    for (int i = 1; i < 9; ++i) out << "v " << i % 3 << " " << i / 3 << " 0\n";
    out << "f 1 2 5 4\nf 2 3 6 5\nf 4 5 8 7\nf 5 6 9 8\n";
    return dir / name;
  }
  fs::path Lines(const std::string& name, const std::vector<std::string>& lines) const {
    std::ofstream out(dir / name);
    for (const std::string& line : lines) out << line << "\n";
    return dir / name;
  }

  fs::path dir;
};

// Runs `arguments`, expecting exit 1 and `message` on the standard error.
void ExpectRefused(const std::string& arguments, const std::string& message) {
  const CliRun run = RunCli(arguments);
  EXPECT_EQ(run.status, 1) << arguments << "\n" << run.err;
  EXPECT_NE(run.err.find(message), std::string::npos) << arguments << "\n" << run.err;
}

TEST_F(HardeningCli, NoRunOverwritesAFileItReads) {
  const fs::path mesh = Sheet("m.obj");
  const std::string before = ReadWholeFile(mesh);
  ExpectRefused("scene import " + Quoted(mesh) + " --out " + Quoted(mesh),
                "the result would overwrite the input");
#ifndef _WIN32  // links want privileges there
  fs::create_symlink(mesh, dir / "link.obj");
  ExpectRefused("scene import " + Quoted(mesh) + " --out " + Quoted(dir / "link.obj"),
                "would overwrite the input " + mesh.string());
#endif
  EXPECT_EQ(ReadWholeFile(mesh), before);

  // Weight files are inputs too, whatever they are called.
  const fs::path frame = Sheet("frame.obj", "0 0 0.5");
  const fs::path weights = Lines("w.obj", std::vector<std::string>(9, "1"));
  const std::string weightsBefore = ReadWholeFile(weights);
  for (const char* option : {"--vertex-map", "--restriction"})
    ExpectRefused("apply --rest " + Quoted(mesh) + " " + option + " " + Quoted(weights) +
                      " --out " + Quoted(weights) + " " + Quoted(frame),
                  "would overwrite the input " + weights.string());
  ExpectRefused("apply --rest " + Quoted(mesh) + " --preview " + Quoted(frame) + " --out " +
                    Quoted(dir / "out.obj") + " " + Quoted(frame),
                "would overwrite the input " + frame.string());
  EXPECT_EQ(ReadWholeFile(weights), weightsBefore);

  // The scene a command or an evaluation reads.
  const fs::path scene = dir / "m.0000.obj";
  ASSERT_EQ(RunCli("scene import " + Quoted(mesh) + " --out " + Quoted(scene)).status, 0);
  const std::string saved = ReadWholeFile(scene);
  ExpectRefused("command 1035622 " + Quoted(scene) + " --out " + Quoted(scene),
                "would overwrite the input");
  ExpectRefused("eval " + Quoted(scene) + " --frames 0 --out " + Quoted(dir),
                "m.0000.obj: the result would overwrite the input");
  EXPECT_EQ(ReadWholeFile(scene), saved);
}

// Every file a run writes is checked: a turntable's numbered pictures as well as its sheet.
TEST_F(HardeningCli, TurntablePicturesNeverOverwriteAnInput) {
  const fs::path mesh = Sheet("turn.0002.png");
  const std::string before = ReadWholeFile(mesh);
  ExpectRefused("render --turntable 3 " + Quoted(mesh) + " --out " + Quoted(dir / "turn.png"),
                "turn.0002.png: the result would overwrite the input " + mesh.string());
  EXPECT_EQ(ReadWholeFile(mesh), before);
  EXPECT_FALSE(fs::exists(dir / "turn.0001.png"));
}

// A long sequence is planned in time proportional to its length: each input is looked up once
// (by its identity, so a result that is an input under another name is still refused) and a
// missing frame is named before any result is planned.
TEST_F(HardeningCli, LongSequencesAreCheckedOnceForInputsAndResults) {
  const fs::path rest = Sheet("rest.obj");
  fs::create_directories(dir / "in");
  fs::create_directories(dir / "out");
  for (int f = 1; f <= 10000; ++f)
    fs::copy_file(rest, dir / "in" / ("walk." + std::to_string(100000 + f).substr(1) + ".obj"));
  const std::string apply = "apply --rest " + Quoted(rest) + " --quiet --frames 1:10000 --out " +
                            Quoted(dir / "out") + " " + Quoted(dir / "in" / "walk.#####.obj");
#ifndef _WIN32  // links want privileges there
  fs::create_hard_link(dir / "in" / "walk.07777.obj", dir / "out" / "walk.07777.obj");
  ExpectRefused(apply, "walk.07777.obj: the result would overwrite the input " +
                           (dir / "in" / "walk.07777.obj").string());
  fs::remove(dir / "out" / "walk.07777.obj");
#endif
  fs::remove(dir / "in" / "walk.09999.obj");
  ExpectRefused(apply, (dir / "in" / "walk.09999.obj").string() + ":0: cannot read");
  EXPECT_TRUE(fs::is_empty(dir / "out"));
}

#ifndef _WIN32
TEST_F(HardeningCli, OutputsThatAreNoRegularFileAreRefused) {
  const fs::path mesh = Sheet("m.obj");
  const CliRun device = RunCli("scene import " + Quoted(mesh) + " --out /dev/null");
  EXPECT_EQ(device.status, 1);
  EXPECT_NE(device.err.find("/dev/null: cannot write: is not a regular file"), std::string::npos)
      << device.err;
  EXPECT_EQ(device.out, "") << "no summary of a scene that was not written";
  EXPECT_TRUE(fs::is_character_file("/dev/null"));
  fs::create_directories(dir / "folder.tsm");
  ExpectRefused("scene import " + Quoted(mesh) + " --out " + Quoted(dir / "folder.tsm"),
                "is a folder");
}
#endif

TEST_F(HardeningCli, CoordinatesWhoseSquaresLeaveTheFloat64RangeAreRefused) {
  const fs::path rest = Sheet("rest.obj");
  const fs::path frame = Sheet("frame.obj", "0 0 1");
  const std::string range = "coordinates must be 0 or between 1e-150 and 1e150 in size";
  for (const char* corner : {"1e155 0 0", "0 -2e-160 0"}) {
    const fs::path bad = Sheet("bad.obj", corner);
    ExpectRefused(
        "apply --rest " + Quoted(bad) + " --out " + Quoted(dir / "o.obj") + " " + Quoted(frame),
        bad.string() + ": point 1 has the coordinate");
    ExpectRefused(
        "apply --rest " + Quoted(rest) + " --out " + Quoted(dir / "o.obj") + " " + Quoted(bad),
        range);
    ExpectRefused("scene import " + Quoted(bad) + " --out " + Quoted(dir / "s.tsm"), range);
    ExpectRefused("measure --rest " + Quoted(rest) + " --skinned " + Quoted(bad), range);
  }
  EXPECT_FALSE(fs::exists(dir / "o.obj"));
  EXPECT_FALSE(fs::exists(dir / "s.tsm"));
  // The edges of the range pass.
  const fs::path edge = Sheet("edge.obj", "1e150 -1e-150 0");
  EXPECT_EQ(RunCli("scene import " + Quoted(edge) + " --out " + Quoted(dir / "s.tsm")).status, 0);
}

TEST_F(HardeningCli, SmoothingWeightsOutsideZeroToOneAreRefusedByLine) {
  const fs::path rest = Sheet("rest.obj");
  const fs::path frame = Sheet("frame.obj", "0 0 1");
  for (const char* bad : {"-1", "3e38", "1.5"}) {
    std::vector<std::string> lines(9, "0.5");
    lines[3] = bad;
    const fs::path weights = Lines("w.txt", lines);
    ExpectRefused("apply --rest " + Quoted(rest) + " --vertex-map " + Quoted(weights) + " --out " +
                      Quoted(dir / "o.obj") + " " + Quoted(frame),
                  weights.string() + ":4: \"" + bad + "\" is outside the weights' range 0 to 1");
  }
  EXPECT_FALSE(fs::exists(dir / "o.obj"));
}

// A scene with a 3 x 3 sheet and a joint keyed from `first` to `last`.
void KeyedScene(const fs::path& path, Float first, Float last) {
  auto doc = headless::NewDocument();
  const headless::Mesh sheet = headless::ReadObj(path.parent_path().string() + "/rest.obj");
  doc->AddPolygonObject("sheet", sheet.points, sheet.polygons);
  headless::Node* joint = headless::AddJoint(*doc, "joint", Matrix{});
  headless::SetRotationKeys(joint, {}, {0, 0, 1}, {{first, 0.0}, {last, 90.0}});
  headless::SaveScene(*doc, path.string());
}

TEST_F(HardeningCli, EvalStopsBeforeEndlessRangesAndOutputsBeyondTheFreeSpace) {
  Sheet("rest.obj");
  const fs::path scene = dir / "keys.tsm";
  KeyedScene(scene, -2e9, 2e9);
  const fs::path out = dir / "out";
  ExpectRefused("eval " + Quoted(scene) + " --out " + Quoted(out),
                "the keys span 4000000001 frames (-2000000000 to 2000000000), more than 100000; "
                "give --frames");
  ExpectRefused("eval " + Quoted(scene) + " --frames -2000000000:2000000000 --out " + Quoted(out),
                "MiB are free; nothing was written");
  ExpectRefused("eval " + Quoted(scene) + " --format pc2 --frames -2000000000:2000000000 --out " +
                    Quoted(out),
                "MiB are free; nothing was written");
  EXPECT_TRUE(!fs::exists(out) || fs::is_empty(out));

  // A range that fits is evaluated, the keys' own as well as a named one.
  KeyedScene(scene, 0.0, 3.0);
  const CliRun keyed = RunCli("eval " + Quoted(scene) + " --quiet --out " + Quoted(out));
  EXPECT_EQ(keyed.status, 0) << keyed.err;
  EXPECT_TRUE(fs::is_regular_file(out / "sheet.0003.obj"));
}

TEST_F(HardeningCli, FileBorneTextReachesTheTerminalEscaped) {
  EXPECT_EQ(headless::Printable("plain ümlaut C:\\path"), "plain ümlaut C:\\path");
  EXPECT_EQ(headless::Printable("\x1b]0;title\x07"), "\\x1b]0;title\\x07");
  EXPECT_EQ(headless::Printable("a\nb\x7f"), "a\\x0ab\\x7f");
  EXPECT_EQ(headless::Printable("\xc2\x9b"
                                "31m"),
            "\\xc2\\x9b31m");  // U+009B, a C1 control
  EXPECT_EQ(headless::Printable("\x9b"), "\\x9b");

  // An object name in a scene, listed.
  auto doc = headless::NewDocument();
  doc->AddObject(headless::kNullObjectType, "evil\x1b[2J\x1b]0;pwned\x07");
  const fs::path scene = dir / "names.tsm";
  headless::SaveScene(*doc, scene.string());
  const CliRun info = RunCli("scene info " + Quoted(scene));
  ASSERT_EQ(info.status, 0) << info.err;
  EXPECT_EQ(info.out.find('\x1b'), std::string::npos);
  EXPECT_NE(info.out.find("\"evil\\x1b[2J\\x1b]0;pwned\\x07\""), std::string::npos) << info.out;

  // A word quoted from a damaged file in a message.
  const fs::path mesh = Lines("bad.obj", {"v 0 0 0", "v 1 0 0 \x1b[31mred", "v 0 1 0", "f 1 2 3"});
  const CliRun bad = RunCli("scene import " + Quoted(mesh) + " --out " + Quoted(dir / "s.tsm"));
  EXPECT_EQ(bad.status, 1);
  EXPECT_EQ(bad.err.find('\x1b'), std::string::npos) << bad.err;
  EXPECT_NE(bad.err.find("\\x1b[31m"), std::string::npos) << bad.err;
}

}  // namespace
