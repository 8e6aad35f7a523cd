// `tessamire render`, `tessamire measure` and apply's --report and --preview, run as a user
// does: pictures of any OBJ file (one from outside this project too), turntables, detail
// colours, movies through ffmpeg, and the main job's measures for any pair of meshes.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "headless/io/obj_write.h"
#include "headless/io/png.h"
#include "tests/support/cli_runner.h"
#include "tests/support/deform_scene.h"

namespace {

namespace fs = std::filesystem;

bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

// Width and height from a PNG's header.
std::pair<int, int> PngSize(const fs::path& path) {
  const std::string bytes = ReadWholeFile(path);
  if (bytes.size() < 24 || bytes.compare(1, 3, "PNG") != 0) return {0, 0};
  auto be32 = [&](size_t at) {
    return (static_cast<unsigned char>(bytes[at]) << 24) |
           (static_cast<unsigned char>(bytes[at + 1]) << 16) |
           (static_cast<unsigned char>(bytes[at + 2]) << 8) |
           static_cast<unsigned char>(bytes[at + 3]);
  };
  return {be32(16), be32(20)};
}

// The numbers of the line of `text` that starts with `label` (after the label; '|' ignored).
std::vector<double> Row(const std::string& text, const std::string& label) {
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) {
    if (line.rfind(label, 0) != 0) continue;
    for (char& c : line)
      if (c == '|') c = ' ';
    std::istringstream words(line.substr(label.size()));
    std::vector<double> numbers;
    for (double x; words >> x;) numbers.push_back(x);
    return numbers;
  }
  return {};
}

class RenderMeasureTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    dir = fs::path(::testing::TempDir()) /
          ("render_measure_" + std::string(info->name()) + "_" + std::to_string(getpid()));
    fs::remove_all(dir);
    fs::create_directories(dir);
    mesh = deform_scene::Ring(24, 12);
    headless::WriteObj((dir / "rest.obj").string(), mesh.points, mesh.polygons);
    headless::WriteObj((dir / "bent.obj").string(), deform_scene::Twist(mesh.points, 0.2, true),
                       mesh.polygons);
  }
  void TearDown() override { fs::remove_all(dir); }

  fs::path dir;
  deform_scene::Mesh mesh;
};

TEST_F(RenderMeasureTest, RenderDrawsMeshesSideBySideAtTheGivenSize) {
  CliRun run = RunInProcess("render " + Quoted(dir / "rest.obj") + " " + Quoted(dir / "bent.obj") +
                            " --size 200x150 --view front --out " + Quoted(dir / "pair.png"));
  ASSERT_EQ(run.status, 0) << run.output;
  EXPECT_EQ(PngSize(dir / "pair.png"), std::make_pair(400, 150));
  run = RunInProcess("render " + Quoted(dir / "rest.obj") + " --camera=30,20 --out " +
                     Quoted(dir / "one.png"));
  ASSERT_EQ(run.status, 0) << run.output;
  EXPECT_EQ(PngSize(dir / "one.png"), std::make_pair(480, 480));
  // Different views give different pictures.
  run = RunInProcess("render " + Quoted(dir / "rest.obj") + " --view top --out " +
                     Quoted(dir / "top.png"));
  ASSERT_EQ(run.status, 0) << run.output;
  EXPECT_NE(ReadWholeFile(dir / "one.png"), ReadWholeFile(dir / "top.png"));

  for (const char* bad : {"--size 10x10", "--size 300", "--camera 0,90", "--camera x,1",
                          "--view top --camera 0,0", "--turntable 1", "--frames 1:2"}) {
    run = RunInProcess("render " + Quoted(dir / "rest.obj") + " " + bad + " --out " +
                       Quoted(dir / "bad.png"));
    EXPECT_EQ(run.status, 2) << bad << run.output;
  }
  EXPECT_FALSE(fs::exists(dir / "bad.png"));
}

TEST_F(RenderMeasureTest, RenderReadsAnOutsideObjFile) {
  const fs::path outside = "/usr/share/assimp/models/OBJ/spider.obj";
  if (!fs::exists(outside)) GTEST_SKIP() << outside << " (Debian's assimp-testmodels) is missing";
  const CliRun run = RunInProcess("render " + Quoted(outside) + " --size 160x120 --out " +
                                  Quoted(dir / "spider.png"));
  ASSERT_EQ(run.status, 0) << run.output;
  EXPECT_EQ(PngSize(dir / "spider.png"), std::make_pair(160, 120));
}

TEST_F(RenderMeasureTest, TurntableWritesEveryTurnAndAContactSheet) {
  const CliRun run = RunInProcess("render " + Quoted(dir / "rest.obj") +
                                  " --turntable 5 --size 64x48 --out " + Quoted(dir / "turn.png"));
  ASSERT_EQ(run.status, 0) << run.output;
  for (int k = 1; k <= 5; ++k)
    EXPECT_EQ(PngSize(dir / ("turn.000" + std::to_string(k) + ".png")), std::make_pair(64, 48));
  // Five turns at half size in rows of three.
  EXPECT_EQ(PngSize(dir / "turn.png"), std::make_pair(3 * 32, 2 * 24));
  EXPECT_NE(ReadWholeFile(dir / "turn.0001.png"), ReadWholeFile(dir / "turn.0002.png"));
}

TEST_F(RenderMeasureTest, DetailColoursAgainstTheRestWithALegend) {
  CliRun run =
      RunInProcess("render " + Quoted(dir / "bent.obj") + " --detail " + Quoted(dir / "rest.obj") +
                   " --size 100x100 --out " + Quoted(dir / "detail.png"));
  ASSERT_EQ(run.status, 0) << run.output;
  EXPECT_EQ(PngSize(dir / "detail.png"), std::make_pair(100, 100 + 56));
  headless::WriteObj((dir / "other.obj").string(),
                     std::vector<Vector3>{{0, 0, 0}, {1, 0, 0}, {0, 1, 0}},
                     std::vector<CPolygon>{{0, 1, 2, 2}});
  run = RunInProcess("render " + Quoted(dir / "other.obj") + " --detail " +
                     Quoted(dir / "rest.obj") + " --out " + Quoted(dir / "bad.png"));
  EXPECT_EQ(run.status, 1);
  EXPECT_TRUE(Contains(run.err, "3 points, but the rest mesh")) << run.err;
  EXPECT_FALSE(fs::exists(dir / "bad.png"));
}

TEST_F(RenderMeasureTest, MovieGoesThroughFfmpeg) {
  for (int f = 1; f <= 3; ++f) {
    headless::WriteObj((dir / ("a." + std::to_string(f) + ".obj")).string(),
                       deform_scene::Twist(mesh.points, 0.1 * f, true), mesh.polygons);
    std::ostringstream name;
    name << "seq." << std::string(3, '0') << f << ".obj";
    headless::WriteObj((dir / name.str()).string(),
                       deform_scene::Twist(mesh.points, 0.1 * f, false), mesh.polygons);
  }
  // ffmpeg missing: the message names the package.
  CliSetting noPath;
  noPath.environment = {"PATH=" + dir.string()};
  CliRun run =
      RunCli("render --movie " + Quoted(dir / "m.mp4") + " " + Quoted(dir / "a.1.obj"), noPath);
  EXPECT_EQ(run.status, 1);
  EXPECT_TRUE(Contains(run.err, "ffmpeg not found")) << run.err;
  EXPECT_TRUE(Contains(run.err, "Debian's ffmpeg package")) << run.err;

  if (system("ffmpeg -version >/dev/null 2>&1") != 0)
    GTEST_SKIP() << "ffmpeg is not installed (scripts/install-deps.sh installs it)";
  // A list of files is one sequence.
  run = RunInProcess("render --size 64x48 --fps 10 --movie " + Quoted(dir / "list.mp4") + " " +
                     Quoted(dir / "a.1.obj") + " " + Quoted(dir / "a.2.obj") + " " +
                     Quoted(dir / "a.3.obj"));
  ASSERT_EQ(run.status, 0) << run.output;
  std::string movie = ReadWholeFile(dir / "list.mp4");
  ASSERT_GT(movie.size(), 100u);
  EXPECT_EQ(movie.substr(4, 4), "ftyp") << "an MP4 file starts with its ftyp box";
  // Sequences side by side, with detail colours.
  run = RunInProcess("render --size 64x48 --frames 1:3 --detail " + Quoted(dir / "rest.obj") +
                     " --movie " + Quoted(dir / "pair.mp4") + " " + Quoted(dir / "seq.####.obj") +
                     " " + Quoted(dir / "rest.obj"));
  ASSERT_EQ(run.status, 0) << run.output;
  movie = ReadWholeFile(dir / "pair.mp4");
  EXPECT_EQ(movie.substr(4, 4), "ftyp");
  for (const auto& entry : fs::directory_iterator(dir))
    EXPECT_NE(entry.path().extension(), ".tmp") << "a temporary file was left: " << entry.path();
  // A missing frame fails before ffmpeg writes anything.
  run = RunInProcess("render --frames 1:4 --movie " + Quoted(dir / "gap.mp4") + " " +
                     Quoted(dir / "seq.####.obj"));
  EXPECT_EQ(run.status, 1);
  EXPECT_TRUE(Contains(run.err, "seq.0004.obj")) << run.err;
  EXPECT_FALSE(fs::exists(dir / "gap.mp4"));
  // Each sequence is labelled by its pattern, not by the frame's file: the same meshes under
  // other frame numbers make the same movie.
  for (int f = 4; f <= 6; ++f)
    fs::copy_file(dir / ("seq.000" + std::to_string(f - 3) + ".obj"),
                  dir / ("seq.000" + std::to_string(f) + ".obj"));
  for (const char* frames : {"1:3", "4:6"}) {
    run = RunInProcess("render --size 64x48 --frames " + std::string(frames) + " --movie " +
                       Quoted(dir / (std::string(frames).substr(0, 1) + ".mp4")) + " " +
                       Quoted(dir / "seq.####.obj"));
    ASSERT_EQ(run.status, 0) << run.output;
  }
  EXPECT_EQ(ReadWholeFile(dir / "1.mp4"), ReadWholeFile(dir / "4.mp4"));
}

TEST_F(RenderMeasureTest, MeasurePrintsTheThreeMeasuresForAnyPair) {
  CliRun run = RunInProcess("measure --rest " + Quoted(dir / "rest.obj") + " --skinned " +
                            Quoted(dir / "bent.obj") + " --corrected " + Quoted(dir / "rest.obj"));
  ASSERT_EQ(run.status, 0) << run.output;
  EXPECT_TRUE(Contains(run.out, "points measured: 288 of 288")) << run.out;
  EXPECT_TRUE(Contains(run.out, "height error (%)  edge change (%)  hinge change (deg)"));
  // The rest against itself loses nothing; the twisted copy does.
  // The first three columns stay where scripts read them; with both meshes, pose kept (edges,
  // units) and detail kept follow, reading the corrected mesh against the skinned one: the rest
  // has lost the twist, which pose kept sees, and is named below the table.
  const std::vector<double> corrected = Row(run.out, "corrected");
  ASSERT_EQ(corrected.size(), 6u) << run.out;
  EXPECT_EQ(std::vector<double>(corrected.begin(), corrected.begin() + 3),
            (std::vector<double>{0.0, 0.0, 0.0}))
      << run.out;
  EXPECT_GT(corrected[3], 0.0) << run.out;
  EXPECT_TRUE(Contains(run.out, "pose moved most around point")) << run.out;
  const std::vector<double> skinned = Row(run.out, "skinned");
  ASSERT_EQ(skinned.size(), 6u) << run.out;
  for (size_t i = 0; i < 3; ++i) EXPECT_GT(skinned[i], 0.0) << run.out;
  EXPECT_EQ(skinned[3], 0.0) << run.out;  // the skinned mesh against itself keeps its pose

  // Over the points of a weight file.
  std::ofstream weights(dir / "w.txt");
  for (size_t i = 0; i < mesh.points.size(); ++i) weights << (i < 50 ? "1\n" : "0\n");
  weights.close();
  run = RunInProcess("measure --rest " + Quoted(dir / "rest.obj") + " --skinned " +
                     Quoted(dir / "bent.obj") + " --region " + Quoted(dir / "w.txt"));
  ASSERT_EQ(run.status, 0) << run.output;
  EXPECT_TRUE(Contains(run.out, "points measured: 50 of 288")) << run.out;

  run = RunInProcess("measure --rest " + Quoted(dir / "rest.obj"));
  EXPECT_EQ(run.status, 2);
  headless::WriteObj((dir / "few.obj").string(), std::vector<Vector3>{{0, 0, 0}}, {});
  run = RunInProcess("measure --rest " + Quoted(dir / "rest.obj") + " --skinned " +
                     Quoted(dir / "few.obj"));
  EXPECT_EQ(run.status, 1);
  EXPECT_TRUE(Contains(run.err, "1 points, but the rest mesh")) << run.err;
}

TEST_F(RenderMeasureTest, ApplyReportsEachFrameAndPreviewsTheLast) {
  const CliRun run =
      RunInProcess("apply --iterations 4 --report --preview " + Quoted(dir / "preview.png") +
                   " --rest " + Quoted(dir / "rest.obj") + " --out " + Quoted(dir / "out") + " " +
                   Quoted(dir / "bent.obj") + " " + Quoted(dir / "rest.obj"));
  ASSERT_EQ(run.status, 0) << run.output;
  EXPECT_TRUE(Contains(run.out, "height error (%)")) << run.out;
  EXPECT_TRUE(Contains(run.out, "bent.obj")) << run.out;
  // The rest mesh as a frame is corrected into itself: every measure 0.
  const std::vector<double> still = Row(run.out, (dir / "rest.obj").string());
  ASSERT_EQ(still.size(), 7u) << run.out;
  for (size_t i = 0; i < 6; ++i) EXPECT_EQ(still[i], 0.0) << run.out;
  const std::vector<double> bent = Row(run.out, (dir / "bent.obj").string());
  ASSERT_EQ(bent.size(), 7u) << run.out;
  EXPECT_GT(bent[0], 0.0) << "the twisted input has lost detail height: " << run.out;
  EXPECT_EQ(PngSize(dir / "preview.png"), std::make_pair(3 * 420, 420));
  // Beside the picture, the page of every frame as given and corrected.
  const std::string page = ReadWholeFile(dir / "preview.html");
  for (const char* name : {"\"name\":\"rest\"", "\"name\":\"input\"", "\"name\":\"corrected\"",
                           "\"frames\":[0,1]", "\"kept\":"})
    EXPECT_TRUE(Contains(page, name)) << name;

  // Over the points of a weight file, the input measured as `measure` measures it.
  std::ofstream weights(dir / "w.txt");
  for (size_t i = 0; i < mesh.points.size(); ++i) weights << (i % 3 == 0 ? "0.5\n" : "0\n");
  weights.close();
  const std::string files = " --rest " + Quoted(dir / "rest.obj") + " --out " +
                            Quoted(dir / "region") + " " + Quoted(dir / "bent.obj");
  const CliRun region = RunInProcess("apply --report --region " + Quoted(dir / "w.txt") + files);
  ASSERT_EQ(region.status, 0) << region.output;
  EXPECT_TRUE(Contains(region.out, "measured over 96 of 288 points")) << region.out;
  const CliRun measured =
      RunInProcess("measure --rest " + Quoted(dir / "rest.obj") + " --skinned " +
                   Quoted(dir / "bent.obj") + " --region " + Quoted(dir / "w.txt"));
  const std::vector<double> inRegion = Row(region.out, (dir / "bent.obj").string());
  ASSERT_EQ(inRegion.size(), 7u) << region.out;
  ASSERT_EQ(Row(measured.out, "skinned").size(), 3u) << measured.out;
  EXPECT_EQ(inRegion[0], Row(measured.out, "skinned")[0]) << region.out << measured.out;
  EXPECT_NE(inRegion[0], bent[0]) << "the region changes what is measured";
  EXPECT_EQ(RunInProcess("apply --region " + Quoted(dir / "w.txt") + files).status, 2);
}

TEST_F(RenderMeasureTest, DistanceColoursFocusAndUpAxis) {
  auto render = [&](const std::string& options, const std::string& out) {
    return RunInProcess("render " + Quoted(dir / "rest.obj") + " " + Quoted(dir / "bent.obj") +
                        " --size 120x100 " + options + " --out " + Quoted(dir / out));
  };
  CliRun run = render("", "plain.png");
  ASSERT_EQ(run.status, 0) << run.output;
  run = render("--distance " + Quoted(dir / "rest.obj"), "distance.png");
  ASSERT_EQ(run.status, 0) << run.output;
  EXPECT_EQ(PngSize(dir / "distance.png"), std::make_pair(240, 100 + 56));
  // Framing the points of one end only.
  std::string weights;
  for (const Vector3& p : mesh.points) weights += p.x > 0.5 ? "1\n" : "0\n";
  std::ofstream(dir / "end.txt") << weights;
  run = render("--focus " + Quoted(dir / "end.txt"), "focus.png");
  ASSERT_EQ(run.status, 0) << run.output;
  run = render("--up z", "z.png");
  ASSERT_EQ(run.status, 0) << run.output;
  for (const char* other : {"focus.png", "z.png"})
    EXPECT_NE(ReadWholeFile(dir / "plain.png"), ReadWholeFile(dir / other)) << other;
  std::string zeros;
  for (size_t i = 0; i < mesh.points.size(); ++i) zeros += "0\n";
  std::ofstream(dir / "zero.txt") << zeros;
  run = render("--focus " + Quoted(dir / "zero.txt"), "none.png");
  EXPECT_EQ(run.status, 1);
  EXPECT_TRUE(Contains(run.err, "every weight is 0")) << run.err;
  run = render("--detail " + Quoted(dir / "rest.obj") + " --distance " + Quoted(dir / "rest.obj"),
               "both.png");
  EXPECT_EQ(run.status, 2);
  EXPECT_FALSE(fs::exists(dir / "none.png") || fs::exists(dir / "both.png"));
}

}  // namespace
