// Files riggers exchange, through the built program: numbered OBJ sequences and point caches in
// and out of `apply` and `eval`, a scene that plays a point cache, and rigged characters from
// Assimp's test models imported, corrected and evaluated with the README's commands.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <string>

#include "cli/sequence.h"
#include "headless/characters/character.h"
#include "headless/files/shortest_number.h"
#include "headless/io/obj_read.h"
#include "headless/io/obj_write.h"
#include "headless/io/point_cache.h"
#include "headless/io/results.h"
#include "tests/support/cli_runner.h"
#include "tests/support/deform_scene.h"

namespace {

namespace fs = std::filesystem;

std::string Quoted(const fs::path& path) {
  return "'" + path.string() + "'";
}

// The options that choose a sequence's frames; the naming itself is tested with the batch layer.
TEST(Sequences, FrameRangesAreWholeAscendingAndCapped) {
  Int32 first = 0, last = 0;
  EXPECT_TRUE(cli::ParseFrameRange("-2:5", first, last));
  EXPECT_EQ(first, -2);
  EXPECT_FALSE(cli::ParseFrameRange("5:2", first, last));
  EXPECT_NO_THROW(cli::ParseSequenceRange("1:100000", first, last));
  EXPECT_THROW(cli::ParseSequenceRange("1:100001", first, last), std::invalid_argument);
  EXPECT_THROW(cli::ParseSequenceRange("0:2147483647", first, last), std::invalid_argument);
}

class FormatsCliTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    dir = fs::path(::testing::TempDir()) /
          ("formats_cli_" + std::string(info->name()) + "_" + std::to_string(getpid()));
    fs::remove_all(dir);
    fs::create_directories(dir);
  }
  void TearDown() override { fs::remove_all(dir); }

  // The rest sheet as an exporter writes it, and frames 1..3 of a twist as walk.000N.obj.
  void WriteSequence() {
    mesh = deform_scene::Sheet(6, 5);
    restText = "# exported\nmtllib walk.mtl\no sheet\n";
    for (const Vector3& p : mesh.points)
      restText += "v " + headless::ShortestNumber(p.x) + " " + headless::ShortestNumber(p.y) + " " +
                  headless::ShortestNumber(p.z) + "\n";
    restText += "vt 0 0\nvn 0 0 1\ng sheet\nusemtl skin\ns 1\n";
    for (const CPolygon& f : mesh.polygons)
      restText += "f " + std::to_string(f.a + 1) + "/1/1 " + std::to_string(f.b + 1) + "/1/1 " +
                  std::to_string(f.c + 1) + "/1/1 " + std::to_string(f.d + 1) + "/1/1\n";
    std::ofstream(dir / "rest.obj", std::ios::binary) << restText;
    for (int f = 1; f <= 3; ++f) {
      frames.push_back(deform_scene::Twist(mesh.points, 0.15 * f, true));
      headless::ObjFile file = headless::ParseObj(restText, "rest");
      std::ofstream(dir / ("walk." + headless::PaddedFrame(f) + ".obj"), std::ios::binary)
          << headless::ObjText(file, frames.back());
    }
  }

  fs::path dir;
  deform_scene::Mesh mesh;
  std::string restText;
  std::vector<std::vector<Vector3>> frames;
};

TEST_F(FormatsCliTest, ApplyCorrectsASequenceIntoFilesWrittenLikeTheirInputsAndIntoCaches) {
  WriteSequence();
  const std::string rest = "--rest " + Quoted(dir / "rest.obj");
  CliRun run = RunInProcess("apply " + rest + " --frames 1:3 --quiet --out " + Quoted(dir / "out") +
                            " " + Quoted(dir / "walk.####.obj"));
  ASSERT_EQ(run.status, 0) << run.output;
  std::vector<std::vector<Vector3>> corrected;
  for (int f = 1; f <= 3; ++f) {
    const fs::path out = dir / "out" / ("walk." + headless::PaddedFrame(f) + ".obj");
    const headless::ObjFile result = headless::ReadObjFile(out.string());
    corrected.push_back(result.mesh.points);
    // Every line but the positions and the normal is the input's, and the material library is
    // still reached from the output's folder.
    std::istringstream a(ReadWholeFile(dir / ("walk." + headless::PaddedFrame(f) + ".obj")));
    std::istringstream b(ReadWholeFile(out));
    std::string la, lb;
    while (std::getline(a, la) && std::getline(b, lb))
      if (la.rfind("mtllib ", 0) == 0) {
        ASSERT_EQ(lb, "mtllib ../walk.mtl");
      } else if (la.rfind("v ", 0) != 0 && la.rfind("vn ", 0) != 0) {
        ASSERT_EQ(la, lb);
      }
    EXPECT_FALSE(std::getline(b, lb));
    EXPECT_GT(deform_scene::MaxDistance(result.mesh.points, frames[f - 1]), 1e-6);
  }

  // The same frames into one cache of each kind, from the sequence and from a cache.
  run = RunInProcess("apply " + rest + " --frames 1:3 --out " + Quoted(dir / "c.pc2") + " " +
                     Quoted(dir / "walk.%04d.obj"));
  ASSERT_EQ(run.status, 0) << run.output;
  const headless::PointCache pc2 = headless::ReadPointCache((dir / "c.pc2").string());
  ASSERT_EQ(pc2.SampleCount(), 3);
  EXPECT_EQ(pc2.startFrame, 1.0f);
  for (int s = 0; s < 3; ++s)
    EXPECT_LT(deform_scene::MaxDistance(pc2.Sample(s), corrected[s]), 1e-6);

  headless::WritePointCache(
      (dir / "skinned.mdd").string(),
      headless::MakePointCache(headless::PointCacheFormat::kMdd, frames, 1.0, 24.0));
  run = RunInProcess("apply " + rest + " --fps 24 --out " + Quoted(dir / "c.mdd") + " " +
                     Quoted(dir / "skinned.mdd"));
  ASSERT_EQ(run.status, 0) << run.output;
  const headless::PointCache mdd = headless::ReadPointCache((dir / "c.mdd").string());
  ASSERT_EQ(mdd.SampleCount(), 3);
  EXPECT_EQ(mdd.times, headless::ReadPointCache((dir / "skinned.mdd").string()).times);
  for (int s = 0; s < 3; ++s)
    EXPECT_LT(deform_scene::MaxDistance(mdd.Sample(s), corrected[s]), 1e-5);
  // The report keeps each sample beside its result until both are measured; the cache written is
  // the same to the byte as where the correction takes the samples' arrays.
  run = RunInProcess("apply " + rest + " --fps 24 --report --out " + Quoted(dir / "r.mdd") + " " +
                     Quoted(dir / "skinned.mdd"));
  ASSERT_EQ(run.status, 0) << run.output;
  EXPECT_EQ(ReadWholeFile(dir / "r.mdd"), ReadWholeFile(dir / "c.mdd"));
  for (int s = 0; s < 3; ++s)
    EXPECT_NE(run.output.find("skinned.mdd sample " + std::to_string(s)), std::string::npos)
        << run.output;

  // A cache's samples into OBJ files numbered by their frames, written like the rest.
  run = RunInProcess("apply " + rest + " --fps 24 --quiet --out " + Quoted(dir / "objs") + " " +
                     Quoted(dir / "skinned.mdd"));
  ASSERT_EQ(run.status, 0) << run.output;
  const headless::ObjFile third =
      headless::ReadObjFile((dir / "objs" / "skinned.0003.obj").string());
  EXPECT_LT(deform_scene::MaxDistance(third.mesh.points, corrected[2]), 1e-5);
  EXPECT_NE(ReadWholeFile(dir / "objs" / "skinned.0003.obj").find("usemtl skin\n"),
            std::string::npos);
}

TEST_F(FormatsCliTest, ApplyRefusesCachesAndFramesThatDoNotFitTheRest) {
  WriteSequence();
  const std::string rest = "--rest " + Quoted(dir / "rest.obj");
  std::vector<std::vector<Vector3>> fewer = frames;
  for (auto& sample : fewer) sample.pop_back();
  headless::WritePointCache(
      (dir / "fewer.pc2").string(),
      headless::MakePointCache(headless::PointCacheFormat::kPc2, fewer, 0, 1));
  CliRun run = RunInProcess("apply " + rest + " --out " + Quoted(dir / "o.pc2") + " " +
                            Quoted(dir / "fewer.pc2"));
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.output.find("fewer.pc2: 41 points per sample, but the rest mesh"),
            std::string::npos)
      << run.output;

  std::ofstream(dir / "cut.pc2", std::ios::binary)
      << ReadWholeFile(dir / "fewer.pc2").substr(0, 100);
  run = RunInProcess("apply " + rest + " --out " + Quoted(dir / "o.pc2") + " " +
                     Quoted(dir / "cut.pc2"));
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.output.find("truncated"), std::string::npos) << run.output;
  // The cache is checked beside the rest's reading, but a rest or weights at fault are still
  // named first, as when the cache came after them.
  run = RunInProcess("apply --rest " + Quoted(dir / "absent.obj") + " --out " +
                     Quoted(dir / "o.pc2") + " " + Quoted(dir / "cut.pc2"));
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.output.find("absent.obj"), std::string::npos) << run.output;
  EXPECT_EQ(run.output.find("truncated"), std::string::npos) << run.output;
  run = RunInProcess("apply " + rest + " --vertex-map " + Quoted(dir / "absent.txt") + " --out " +
                     Quoted(dir / "o.pc2") + " " + Quoted(dir / "cut.pc2"));
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.output.find("absent.txt"), std::string::npos) << run.output;
  EXPECT_EQ(run.output.find("truncated"), std::string::npos) << run.output;

  // A frame whose second face turns the other way.
  std::string turned = ReadWholeFile(dir / "walk.0002.obj");
  const size_t second = turned.find("\nf ", turned.find("\nf ") + 1);
  const size_t end = turned.find('\n', second + 1);
  std::istringstream corners(turned.substr(second + 3, end - second - 3));
  std::string a, b, c, d;
  corners >> a >> b >> c >> d;
  turned.replace(second + 1, end - second - 1, "f " + d + " " + c + " " + b + " " + a);
  std::ofstream(dir / "walk.0002.obj", std::ios::binary) << turned;
  run = RunInProcess("apply " + rest + " --frames 1:3 --out " + Quoted(dir / "out") + " " +
                     Quoted(dir / "walk.####.obj"));
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.output.find("walk.0002.obj: face 2 is"), std::string::npos) << run.output;
  EXPECT_FALSE(fs::exists(dir / "out" / "walk.0001.obj")) << "nothing written";

  run = RunInProcess("apply " + rest + " --out " + Quoted(dir / "out") + " " +
                     Quoted(dir / "walk.####.obj"));
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.output.find("--frames A:B"), std::string::npos) << run.output;
}

TEST_F(FormatsCliTest, AnImportedCachePlaysInTheSceneAndEvalWritesItBack) {
  WriteSequence();
  headless::WritePointCache(
      (dir / "anim.pc2").string(),
      headless::MakePointCache(headless::PointCacheFormat::kPc2, frames, 1.0, 30.0));
  CliRun run = RunInProcess("scene import " + Quoted(dir / "rest.obj") + " --cache " +
                            Quoted(dir / "anim.pc2") + " --out " + Quoted(dir / "s.tsm"));
  ASSERT_EQ(run.status, 0) << run.output;
  // Frames 1..3 (the cache's span): the cache comes back to the byte.
  run = RunInProcess("eval " + Quoted(dir / "s.tsm") + " --quiet --format pc2 --out " +
                     Quoted(dir / "e"));
  ASSERT_EQ(run.status, 0) << run.output;
  EXPECT_EQ(ReadWholeFile(dir / "e" / "rest.pc2"), ReadWholeFile(dir / "anim.pc2"));
  // Between samples the points are interpolated; beyond them the last sample holds.
  run = RunInProcess("eval " + Quoted(dir / "s.tsm") + " --quiet --frames 2:4 --out " +
                     Quoted(dir / "o"));
  ASSERT_EQ(run.status, 0) << run.output;
  EXPECT_LT(deform_scene::MaxDistance(
                headless::ReadObj((dir / "o" / "rest.0004.obj").string()).points, frames[2]),
            1e-6);
  run = RunInProcess("eval " + Quoted(dir / "s.tsm") + " --quiet --format mdd --fps 10 --out " +
                     Quoted(dir / "m"));
  ASSERT_EQ(run.status, 0) << run.output;
  const headless::PointCache mdd = headless::ReadPointCache((dir / "m" / "rest.mdd").string());
  EXPECT_EQ(mdd.times, (std::vector<Float32>{0.1f, 0.2f, 0.3f}));

  // A cache of another point count is refused with both counts; nothing is written.
  std::vector<std::vector<Vector3>> more = frames;
  for (auto& sample : more) sample.push_back({0, 0, 0});
  headless::WritePointCache((dir / "more.pc2").string(),
                            headless::MakePointCache(headless::PointCacheFormat::kPc2, more, 0, 1));
  run = RunInProcess("scene import " + Quoted(dir / "rest.obj") + " --cache " +
                     Quoted(dir / "more.pc2") + " --out " + Quoted(dir / "bad.tsm"));
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.output.find("43 points per sample, but the mesh has 42"), std::string::npos)
      << run.output;
  EXPECT_FALSE(fs::exists(dir / "bad.tsm"));
}

// A cache keeps each sample's time as its format can hold it, or the run is refused before
// anything is written, naming the first sample it could not keep: a PC2 holds even steps only
// (an MDD's uneven times are not moved), float32 must hold every start and time exactly and in
// order, and a coordinate beyond float32 names the file and the point.
TEST_F(FormatsCliTest, CachesKeepEverySamplesTimeOrAreRefused) {
  WriteSequence();
  const std::string rest = "--rest " + Quoted(dir / "rest.obj");
  headless::PointCache uneven =
      headless::MakePointCache(headless::PointCacheFormat::kMdd, frames, 0.0, 30.0);
  uneven.times = {0.0f, 1.0f / 30.0f, 10.0f / 30.0f};
  headless::WritePointCache((dir / "uneven.mdd").string(), uneven);
  CliRun run = RunInProcess("apply " + rest + " --out " + Quoted(dir / "o.pc2") + " " +
                            Quoted(dir / "uneven.mdd"));
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("o.pc2: sample 1 at frame 1: a PC2 holds samples at even steps only"),
            std::string::npos)
      << run.err;
  EXPECT_FALSE(fs::exists(dir / "o.pc2"));
  // Times beyond any frame a PC2 can start at.
  uneven.times = {0.0f, 1e38f, 2e38f};
  headless::WritePointCache((dir / "huge.mdd").string(), uneven);
  run = RunInProcess("apply " + rest + " --out " + Quoted(dir / "o.pc2") + " " +
                     Quoted(dir / "huge.mdd"));
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("beyond the float32 numbers it holds"), std::string::npos) << run.err;
  EXPECT_FALSE(fs::exists(dir / "o.pc2"));
  // Even times convert; an MDD keeps its own.
  run = RunInProcess("apply " + rest + " --out " + Quoted(dir / "o.mdd") + " " +
                     Quoted(dir / "uneven.mdd"));
  EXPECT_EQ(run.status, 0) << run.output;

  run = RunInProcess("scene import " + Quoted(dir / "rest.obj") + " --tag --out " +
                     Quoted(dir / "s.tsm"));
  ASSERT_EQ(run.status, 0) << run.output;
  run = RunInProcess("eval " + Quoted(dir / "s.tsm") + " --quiet --format mdd --frames " +
                     "20000000:20000003 --out " + Quoted(dir / "e"));
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("rest.mdd: sample 1 at frame 20000001: its time in float32"),
            std::string::npos)
      << run.err;
  run = RunInProcess("eval " + Quoted(dir / "s.tsm") + " --quiet --format pc2 --frames " +
                     "16777217:16777218 --out " + Quoted(dir / "e"));
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("would put it at frame 16777216"), std::string::npos) << run.err;
  EXPECT_FALSE(fs::exists(dir / "e" / "rest.pc2"));
  run = RunInProcess("eval " + Quoted(dir / "s.tsm") + " --quiet --format pc2 --frames " +
                     "20000000:20000003 --out " + Quoted(dir / "e"));
  ASSERT_EQ(run.status, 0) << run.output;
  EXPECT_EQ(headless::ReadPointCache((dir / "e" / "rest.pc2").string()).startFrame, 2e7f);

  // A corrected point beyond float32 (coordinates up to 1e150 are taken).
  std::string far = restText;
  far.replace(far.find("\nv ") + 3, far.find('\n', far.find("\nv ") + 1) - far.find("\nv ") - 3,
              "1e39 0 0");
  std::ofstream(dir / "far.obj", std::ios::binary) << far;
  run = RunInProcess("apply --rest " + Quoted(dir / "far.obj") + " --out " +
                     Quoted(dir / "far.pc2") + " " + Quoted(dir / "far.obj"));
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("far.pc2: sample 0, point "), std::string::npos) << run.err;
  EXPECT_NE(run.err.find("does not fit in the float32 numbers a point cache holds"),
            std::string::npos)
      << run.err;
}

// Samples closer than whole frames play only where a whole frame falls: the import and eval say
// so instead of quietly showing fewer frames than the cache holds.
TEST_F(FormatsCliTest, CacheSamplesBetweenWholeFramesAreNoted) {
  WriteSequence();
  headless::PointCache dense =
      headless::MakePointCache(headless::PointCacheFormat::kPc2, frames, 0.0, 30.0);
  dense.sampleRate = 0.25f;
  headless::WritePointCache((dir / "dense.pc2").string(), dense);
  CliRun run = RunInProcess("scene import " + Quoted(dir / "rest.obj") + " --cache " +
                            Quoted(dir / "dense.pc2") + " --out " + Quoted(dir / "s.tsm"));
  ASSERT_EQ(run.status, 0) << run.output;
  const std::string note = "3 samples from frame 0 to 0.5 hold 1 whole frames";
  EXPECT_NE(run.err.find("note: " + (dir / "dense.pc2").string() + ": " + note), std::string::npos)
      << run.err;
  run = RunInProcess("eval " + Quoted(dir / "s.tsm") + " --quiet --out " + Quoted(dir / "e"));
  ASSERT_EQ(run.status, 0) << run.output;
  EXPECT_NE(run.err.find("point cache 'dense.pc2': " + note), std::string::npos) << run.err;
}

// The README's commands on each rigged test model: import, add the correction after the skin,
// evaluate to an OBJ sequence, PC2 and MDD.
TEST_F(FormatsCliTest, RiggedCharactersGoInAndTheCorrectedAnimationComesOut) {
  if (!headless::CharacterImportAvailable()) GTEST_SKIP() << "built without Assimp";
  struct Model {
    const char* file;
    const char* object;
    size_t vertices;  // of the file's mesh, which the results are written on
  };
  for (const Model& model : {Model{"FBX/animation_with_skeleton.fbx", "Cube.001", 2464},
                             Model{"X/anim_test.x", "pCylinder1", 485},
                             Model{"glTF2/simple_skin/simple_skin.gltf", "meshes[0]", 10}}) {
    SCOPED_TRACE(model.file);
    const fs::path file = fs::path("/usr/share/assimp/models") / model.file;
    if (!fs::exists(file)) GTEST_SKIP() << file << " is missing (package assimp-testmodels)";
    const fs::path scene = dir / "character.tsm", corrected = dir / "corrected.tsm";
    CliRun run = RunInProcess("scene import " + Quoted(file) + " --out " + Quoted(scene));
    ASSERT_EQ(run.status, 0) << run.output;
    run = RunInProcess("command 1035622 --select '" + std::string(model.object) + "' --shift " +
                       Quoted(scene) + " --out " + Quoted(corrected));
    ASSERT_EQ(run.status, 0) << run.output;
    std::string stem = model.object;
    for (char& c : stem)
      if (!std::isalnum(static_cast<unsigned char>(c)) && c != '-' && c != '_') c = '_';
    for (const char* format : {"obj", "pc2", "mdd"}) {
      const fs::path out = dir / format;
      run = RunInProcess("eval " + Quoted(corrected) + " --frames 0:3 --quiet --format " + format +
                         " --out " + Quoted(out));
      ASSERT_EQ(run.status, 0) << run.output;
    }
    const headless::Mesh last = headless::ReadObj((dir / "obj" / (stem + ".0003.obj")).string());
    EXPECT_EQ(last.points.size(), model.vertices);
    const headless::PointCache pc2 =
        headless::ReadPointCache((dir / "pc2" / (stem + ".pc2")).string());
    const headless::PointCache mdd =
        headless::ReadPointCache((dir / "mdd" / (stem + ".mdd")).string());
    ASSERT_EQ(pc2.SampleCount(), 4);
    ASSERT_EQ(mdd.SampleCount(), 4);
    EXPECT_LT(deform_scene::MaxDistance(pc2.Sample(3), last.points), 1e-4);
    fs::remove_all(dir);
    fs::create_directories(dir);
  }
}

// The main job's second act on a rigged file: a row per frame of its animation and the pictures.
TEST_F(FormatsCliTest, RunOnACharacterMeasuresEveryFrameOfItsAnimation) {
  if (!headless::CharacterImportAvailable()) GTEST_SKIP() << "built without Assimp";
  const fs::path file = "/usr/share/assimp/models/X/anim_test.x";
  if (!fs::exists(file)) GTEST_SKIP() << file << " is missing (package assimp-testmodels)";
  const CliRun run =
      RunInProcess("run --quiet --character " + Quoted(file) + " --out " + Quoted(dir));
  ASSERT_EQ(run.status, 0) << run.output;
  EXPECT_NE(run.out.find("frame   time | height error"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("\n   24    1.0 |"), std::string::npos) << run.out;
  EXPECT_NE(run.err.find("bone 'joint3'"), std::string::npos) << run.err;
  for (const char* name : {"character.png", "character-detail.png", "measures.png", "character.tsm",
                           "skinned.obj", "corrected.obj", "view.html"})
    EXPECT_TRUE(fs::is_regular_file(dir / name)) << name;
  const CliRun limbOnly = RunInProcess("run --points 100 --character " + Quoted(file));
  EXPECT_EQ(limbOnly.status, 2);
  EXPECT_NE(limbOnly.output.find("--points applies to the limb"), std::string::npos);
}

}  // namespace
