// A character's whole scene through the program: meshes without a skin imported and moving with
// their nodes, several clips end to end (--clip repeated or with commas, --all-clips), and OBJ
// files and caches in the world (--space world), where the meshes line up as the file places them.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "headless/characters/character.h"
#include "headless/characters/rig_pose.h"
#include "headless/deformers/skinning.h"
#include "headless/io/point_cache.h"
#include "headless/io/scene_file.h"
#include "tests/support/cli_runner.h"

namespace {

namespace fs = std::filesystem;

const fs::path kModels = "/usr/share/assimp/models";

bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

// The positions of an OBJ file's `v` lines, whatever its faces.
std::vector<Vector3> Positions(const fs::path& obj) {
  std::ifstream in(obj);
  std::vector<Vector3> points;
  for (std::string line; std::getline(in, line);) {
    if (!line.starts_with("v ")) continue;
    std::istringstream words(line.substr(2));
    Vector3 p;
    words >> p.x >> p.y >> p.z;
    points.push_back(p);
  }
  return points;
}

class RigCli : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!headless::CharacterImportAvailable()) GTEST_SKIP() << "built without Assimp";
    // A folder per test: CTest runs the tests of this suite side by side.
    dir =
        fs::path(::testing::TempDir()) /
        (std::string("rig_cli_") + ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir);
    fs::create_directories(dir);
  }
  void TearDown() override { fs::remove_all(dir); }

  fs::path Model(const std::string& relative) {
    const fs::path path = kModels / relative;
    if (!fs::exists(path)) ADD_FAILURE() << path << " is missing (package assimp-testmodels)";
    return path;
  }
  CliRun Run(const std::string& arguments) {
    const CliRun run = RunInProcess(arguments);
    EXPECT_EQ(run.status, 0) << arguments << "\n" << run.output;
    return run;
  }

  fs::path dir;
};

// Per file, the written meshes in the world are the meshes in their own space placed by their
// nodes (the scene's rig), the caches agree with the OBJ files, and at least one mesh moved: a
// writer that ignored the placement fails here.
TEST_F(RigCli, WorldSpacePlacesEveryMeshByItsNode) {
  struct Case {
    const char* file;
    size_t objects;
  };
  for (const Case& c : {Case{"FBX/spider.fbx", 19}, Case{"X/BCN_Epileptic.X", 3}}) {
    SCOPED_TRACE(c.file);
    const fs::path scene = dir / "scene.tsm";
    Run("scene import " + Quoted(Model(c.file)) + " --out " + Quoted(scene));
    const std::unique_ptr<headless::Document> doc = headless::LoadScene(scene.string());
    ASSERT_NE(doc->rig, nullptr);
    std::vector<headless::Node*> objects;
    for (headless::Node* node : doc->Objects())
      if (node->IsPolygonObject()) objects.push_back(node);
    ASSERT_EQ(objects.size(), c.objects);
    const std::vector<Matrix> placements = headless::WorldPlacements(*doc, objects);
    const std::string eval = "eval " + Quoted(scene) + " --quiet --frames 0 --out ";
    fs::remove_all(dir / "mesh");
    fs::remove_all(dir / "world");
    Run(eval + Quoted(dir / "mesh") + " --format obj");
    Run(eval + Quoted(dir / "world") + " --format obj --space world");
    Run(eval + Quoted(dir / "world") + " --format pc2 --space world");
    Float moved = 0.0;
    for (size_t i = 0; i < objects.size(); ++i) {
      const std::string stem = objects[i]->name;
      const std::vector<Vector3> own = Positions(dir / "mesh" / (stem + ".0000.obj"));
      const std::vector<Vector3> world = Positions(dir / "world" / (stem + ".0000.obj"));
      const headless::PointCache cache =
          headless::ReadPointCache((dir / "world" / (stem + ".pc2")).string());
      ASSERT_EQ(own.size(), world.size()) << stem;
      const std::vector<Vector3> sample = cache.Sample(0);
      ASSERT_EQ(sample.size(), world.size()) << stem;
      for (size_t p = 0; p < own.size(); ++p) {
        const Vector3 placed = headless::TransformPoint(placements[i], own[p]);
        const Float size =
            1e-6 * (1.0 + std::abs(placed.x) + std::abs(placed.y) + std::abs(placed.z));
        ASSERT_NEAR(world[p].x, placed.x, size) << stem << " " << p;
        ASSERT_NEAR(world[p].y, placed.y, size) << stem << " " << p;
        ASSERT_NEAR(world[p].z, placed.z, size) << stem << " " << p;
        // The cache holds float32 coordinates.
        ASSERT_NEAR(sample[p].x, world[p].x, 1e-5 * (1.0 + std::abs(world[p].x))) << stem;
        moved = std::max(moved, std::abs(world[p].x - own[p].x) + std::abs(world[p].y - own[p].y) +
                                    std::abs(world[p].z - own[p].z));
      }
    }
    EXPECT_GT(moved, 1e-3) << "no mesh of the file lies off its node";
  }
  const CliRun glb =
      RunInProcess("eval " + Quoted(dir / "scene.tsm") +
                   " --frames 0 --format glb --space world --out " + Quoted(dir / "g"));
  EXPECT_EQ(glb.status, 2);
  EXPECT_TRUE(Contains(glb.err, "--space world applies to obj, pc2 and mdd")) << glb.err;
}

// Clips by several --clip, by commas and all of them: the summary names each with its frames on
// the timeline, the scene's keys span them all, and wrong combinations are usage errors.
TEST_F(RigCli, SeveralClipsSitEndToEndOnTheTimeline) {
  const fs::path wuson = Model("X/Testwuson.X");
  struct Case {
    const char* clips;
    const char* says;
    Int64 frames;
  };
  for (const Case& c :
       {Case{"--clip Wuson_Walk --clip 0",
             "animations 'Wuson_Walk' (0 to 108), 'Wuson_Run' (109 to 138)", 139},
        Case{"--clip 2,1", "animations 'Wuson_Bind' (0 to 0), 'Wuson_Walk' (1 to 109)", 110},
        Case{"--all-clips",
             "animations 'Wuson_Run' (0 to 29), 'Wuson_Walk' (30 to 138), "
             "'Wuson_Bind' (139 to 139)",
             140},
        Case{"--clip Wuson_Walk", "from animation 'Wuson_Walk'", 109}}) {
    SCOPED_TRACE(c.clips);
    const fs::path scene = dir / "clips.tsm";
    const CliRun made =
        Run("scene import " + Quoted(wuson) + " " + c.clips + " --out " + Quoted(scene));
    EXPECT_TRUE(Contains(made.out, c.says)) << made.out;
    // The scene file keeps the clips with their frames.
    const CliRun info = Run("scene info " + Quoted(scene));
    EXPECT_TRUE(Contains(info.out, "clip \"Wuson_Walk\" frames ")) << info.out;
    fs::remove_all(dir / "out");
    Run("eval " + Quoted(scene) + " --quiet --format pc2 --out " + Quoted(dir / "out"));
    EXPECT_EQ(headless::ReadPointCache((dir / "out" / "Wuson.pc2").string()).SampleCount(),
              c.frames);
  }
  for (const char* wrong : {"--clip 0 --all-clips", "--clip ''", "--list --all-clips"}) {
    SCOPED_TRACE(wrong);
    EXPECT_EQ(RunInProcess("scene import " + Quoted(wuson) + " " + wrong + " --out " +
                           Quoted(dir / "x.tsm"))
                  .status,
              2);
  }
  const CliRun corrected =
      Run("correct " + Quoted(wuson) +
          " --clip 2 --clip 1 --frames 0:1 --quiet --format obj --out " + Quoted(dir / "c"));
  EXPECT_TRUE(fs::exists(dir / "c" / "Wuson.0001.obj"));
  EXPECT_EQ(RunInProcess("correct " + Quoted(dir / "clips.tsm") +
                         " --all-clips --format obj --out " + Quoted(dir / "c"))
                .status,
            2);
}

}  // namespace
