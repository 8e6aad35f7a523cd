// `tessamire view` run as a user does: one page of sequences, caches, meshes and scenes; what
// it refuses. The page itself is tested in a browser (tests/web/).
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "headless/io/obj_write.h"
#include "headless/io/point_cache.h"
#include "tests/support/cli_runner.h"
#include "tests/support/deform_scene.h"

namespace {

namespace fs = std::filesystem;

bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

class ViewTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    dir = fs::path(::testing::TempDir()) /
          ("view_" + std::string(info->name()) + "_" + std::to_string(getpid()));
    fs::remove_all(dir);
    fs::create_directories(dir);
    mesh = deform_scene::Ring(24, 12);
    headless::WriteObj((dir / "rest.obj").string(), mesh.points, mesh.polygons);
    std::vector<std::vector<Vector3>> samples;
    for (int f = 1; f <= 3; ++f) {
      samples.push_back(deform_scene::Twist(mesh.points, 0.1 * f, true));
      headless::WriteObj((dir / ("walk." + std::to_string(f) + ".obj")).string(), samples.back(),
                         mesh.polygons);
    }
    headless::WritePointCache(
        (dir / "walk.pc2").string(),
        headless::MakePointCache(headless::PointCacheFormat::kPc2, samples, 10.0, 30.0));
  }
  void TearDown() override { fs::remove_all(dir); }

  CliRun View(const std::string& arguments) {
    return RunInProcess("view --quiet " + arguments + " --out " + Quoted(dir / "page.html"));
  }

  fs::path dir;
  deform_scene::Mesh mesh;
};

TEST_F(ViewTest, OnePageOfSequencesCachesAndMeshesWithTheViewerInside) {
  const CliRun run = View("--frames 1:3 --rest " + Quoted(dir / "rest.obj") + " --up z " +
                          Quoted(dir / "walk.%d.obj") + " " + Quoted(dir / "walk.pc2") + " " +
                          Quoted(dir / "rest.obj"));
  ASSERT_EQ(run.status, 0) << run.output;
  const std::string page = ReadWholeFile(dir / "page.html");
  // Each input labelled by its name (a sequence by its pattern), with its own frames.
  for (const char* part : {"\"name\":\"walk.%d.obj\",\"topology\":0,\"frames\":[1,2,3]",
                           "\"name\":\"walk.pc2\",\"topology\":0,\"frames\":[10,11,12]",
                           "\"name\":\"rest.obj\",\"topology\":0,\"frames\":[0]", "\"up\":\"z\"",
                           "\"kept\":", "detail kept against rest.obj"})
    EXPECT_TRUE(Contains(page, part)) << part;
  // Self-contained: the viewer is inline, nothing is loaded from elsewhere.
  EXPECT_TRUE(Contains(page, "<script type=\"module\">"));
  EXPECT_FALSE(Contains(page, "/*tessamire:script*/"));
  EXPECT_FALSE(Contains(page, "/*tessamire:data*/"));
  EXPECT_FALSE(Contains(page, " src=")) << "a script or image fetched from elsewhere";
  EXPECT_FALSE(Contains(page, "<link"));
}

TEST_F(ViewTest, ASceneShowsEachPolygonObjectOverItsFrames) {
  CliRun run = RunInProcess("scene import " + Quoted(dir / "rest.obj") + " --out " +
                            Quoted(dir / "ring.tsm"));
  ASSERT_EQ(run.status, 0) << run.output;
  run = View(Quoted(dir / "ring.tsm") + " --frames 2:4");
  ASSERT_EQ(run.status, 0) << run.output;
  const std::string page = ReadWholeFile(dir / "page.html");
  EXPECT_TRUE(Contains(page, "\"name\":\"ring.tsm: rest\",\"topology\":0,\"frames\":[2,3,4]"))
      << page.substr(0, 600);
}

TEST_F(ViewTest, AGlbShowsEachMeshOverTheFramesItsAnimationTimes) {
  CliRun run = RunInProcess("apply --rest " + Quoted(dir / "rest.obj") + " --frames 1:3 " +
                            Quoted(dir / "walk.%d.obj") + " --out " + Quoted(dir / "walk.glb"));
  ASSERT_EQ(run.status, 0) << run.output;
  run = View(Quoted(dir / "walk.glb"));
#if TESSAMIRE_HAVE_ASSIMP
  ASSERT_EQ(run.status, 0) << run.output;
  const std::string page = ReadWholeFile(dir / "page.html");
  EXPECT_TRUE(Contains(page, "\"name\":\"walk.glb: rest\",\"topology\":0,\"frames\":[1,2,3]"))
      << page.substr(0, 600);
#else
  EXPECT_EQ(run.status, 1);
  EXPECT_TRUE(Contains(run.err, "no Assimp")) << run.err;
#endif
}

TEST_F(ViewTest, RefusesWhatItCannotShow) {
  const std::string rest = Quoted(dir / "rest.obj");
  struct Case {
    std::string arguments;
    int status;
    const char* message;
  };
  const Case cases[] = {
      {Quoted(dir / "walk.%d.obj"), 2, "give --frames A:B"},
      {Quoted(dir / "walk.pc2"), 2, "give the mesh they move with --rest"},
      {"--frames 1:3 " + rest, 2, "--frames applies to a numbered sequence"},
      {"--distance-to 3 " + rest + " " + rest, 2, "the page has 2 inputs"},
      {"--up x " + rest, 2, "--up"},
      {"--weights " + Quoted(dir / "rest.obj") + " " + rest, 1, "rest.obj"},
      {Quoted(dir / "missing.obj"), 1, "missing.obj"},
  };
  for (const Case& c : cases) {
    const CliRun run = View(c.arguments);
    EXPECT_EQ(run.status, c.status) << c.arguments << "\n" << run.output;
    EXPECT_TRUE(Contains(run.err, c.message)) << c.arguments << "\n" << run.err;
    EXPECT_FALSE(fs::exists(dir / "page.html")) << c.arguments;
  }
  const CliRun run = RunInProcess("view " + rest + " --out " + Quoted(dir / "rest.obj"));
  EXPECT_EQ(run.status, 1);
  EXPECT_TRUE(Contains(run.err, "would overwrite the input")) << run.err;
}

}  // namespace
