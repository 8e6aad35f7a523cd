// Rigged characters all the way round through the program, on files nobody here made (Assimp's
// test models) and on a small two-clip glTF written here: clips listed and picked, the one-step
// `correct`, settings changed in a saved scene by `scene set`, commands by name, and caches and
// glTF files timed at the file's own frame rate.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <numbers>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "headless/characters/character.h"
#include "headless/io/obj_read.h"
#include "headless/io/page.h"
#include "headless/io/point_cache.h"
#include "tests/support/cli_runner.h"
#include "tests/support/deform_scene.h"
#include "tests/support/gltf_check.h"

namespace {

namespace fs = std::filesystem;
using deform_scene::MaxDistance;

const fs::path kModels = "/usr/share/assimp/models";

bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

// A glTF 2.0 file with its buffer inside: a tube of 8 x 7 points along y skinned to two joints
// (the upper one 1.5 up, the weights blending between y = 1 and 2), and two animations of the
// upper joint over one second: "Rest", which holds it still, then "Bend", which turns it 90
// degrees about z.
std::string TwoClipGltf() {
  std::vector<std::uint8_t> buffer;
  auto floats = [&](std::initializer_list<float> values) {
    for (float v : values) {
      std::uint8_t b[4];
      std::memcpy(b, &v, 4);
      buffer.insert(buffer.end(), b, b + 4);
    }
  };
  constexpr int kAround = 8, kRings = 7;
  for (int r = 0; r < kRings; ++r)
    for (int a = 0; a < kAround; ++a) {
      const double angle = 2.0 * std::numbers::pi * a / kAround;
      floats({static_cast<float>(0.3 * std::cos(angle)), 0.5f * r,
              static_cast<float>(0.3 * std::sin(angle))});
    }
  const size_t weightsAt = buffer.size();
  for (int r = 0; r < kRings; ++r)
    for (int a = 0; a < kAround; ++a) {
      const float tip = std::min(1.0f, std::max(0.0f, 0.5f * r - 1.0f));
      floats({1.0f - tip, tip, 0.0f, 0.0f});
    }
  const size_t matricesAt = buffer.size();
  floats({1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1});
  floats({1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, -1.5f, 0, 1});
  const size_t timesAt = buffer.size();
  floats({0.0f, 1.0f});
  const size_t restAt = buffer.size();
  floats({0, 0, 0, 1, 0, 0, 0, 1});
  const size_t bendAt = buffer.size();
  const float half = static_cast<float>(std::sqrt(0.5));
  floats({0, 0, 0, 1, 0, 0, half, half});
  const size_t jointsAt = buffer.size();
  for (int v = 0; v < kAround * kRings; ++v) buffer.insert(buffer.end(), {0, 1, 0, 0});
  const size_t indicesAt = buffer.size();
  auto index = [&](int r, int a) {
    const std::uint16_t i = static_cast<std::uint16_t>(r * kAround + a % kAround);
    buffer.push_back(static_cast<std::uint8_t>(i & 0xff));
    buffer.push_back(static_cast<std::uint8_t>(i >> 8));
  };
  for (int r = 0; r + 1 < kRings; ++r)
    for (int a = 0; a < kAround; ++a) {
      index(r, a), index(r + 1, a), index(r + 1, a + 1);
      index(r, a), index(r + 1, a + 1), index(r, a + 1);
    }
  const size_t end = buffer.size();

  std::ostringstream views, accessors;
  int count = 0;
  auto accessor = [&](size_t from, size_t to, int component, int elements, const char* type,
                      const std::string& bounds) {
    views << (count ? "," : "") << "{\"buffer\":0,\"byteOffset\":" << from
          << ",\"byteLength\":" << to - from << "}";
    accessors << (count ? "," : "") << "{\"bufferView\":" << count
              << ",\"componentType\":" << component << ",\"count\":" << elements << ",\"type\":\""
              << type << "\"" << bounds << "}";
    ++count;
  };
  const int points = kAround * kRings;
  accessor(0, weightsAt, 5126, points, "VEC3", ",\"min\":[-0.3,0,-0.3],\"max\":[0.3,3,0.3]");
  accessor(weightsAt, matricesAt, 5126, points, "VEC4", "");
  accessor(matricesAt, timesAt, 5126, 2, "MAT4", "");
  accessor(timesAt, restAt, 5126, 2, "SCALAR", ",\"min\":[0],\"max\":[1]");
  accessor(restAt, bendAt, 5126, 2, "VEC4", "");
  accessor(bendAt, jointsAt, 5126, 2, "VEC4", "");
  accessor(jointsAt, indicesAt, 5121, points, "VEC4", "");
  accessor(indicesAt, end, 5123, static_cast<int>((end - indicesAt) / 2), "SCALAR", "");
  auto clip = [](const char* name, int output) {
    return std::string("{\"name\":\"") + name +
           "\",\"channels\":[{\"sampler\":0,\"target\":{\"node\":2,\"path\":\"rotation\"}}],"
           "\"samplers\":[{\"input\":3,\"output\":" +
           std::to_string(output) + ",\"interpolation\":\"LINEAR\"}]}";
  };
  return "{\"asset\":{\"version\":\"2.0\"},\"scene\":0,\"scenes\":[{\"nodes\":[0,1]}],"
         "\"nodes\":[{\"name\":\"body\",\"mesh\":0,\"skin\":0},"
         "{\"name\":\"root\",\"children\":[2]},"
         "{\"name\":\"tip\",\"translation\":[0,1.5,0]}],"
         "\"meshes\":[{\"name\":\"body\",\"primitives\":[{\"attributes\":{\"POSITION\":0,"
         "\"JOINTS_0\":6,\"WEIGHTS_0\":1},\"indices\":7}]}],"
         "\"skins\":[{\"joints\":[1,2],\"inverseBindMatrices\":2}],"
         "\"animations\":[" +
         clip("Rest", 4) + "," + clip("Bend", 5) +
         "],"
         "\"buffers\":[{\"byteLength\":" +
         std::to_string(end) + ",\"uri\":\"data:application/octet-stream;base64," +
         headless::Base64(buffer) + "\"}],\"bufferViews\":[" + views.str() + "],\"accessors\":[" +
         accessors.str() + "]}";
}

class CharactersCli : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!headless::CharacterImportAvailable()) GTEST_SKIP() << "built without Assimp";
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    dir = fs::path(::testing::TempDir()) / ("characters_" + std::string(info->name()) + "_" +
                                            std::to_string(std::random_device{}()));
    fs::remove_all(dir);
    fs::create_directories(dir);
  }
  void TearDown() override { fs::remove_all(dir); }

  // A test model, or a skip when the package is missing.
  fs::path Model(const std::string& relative) {
    const fs::path path = kModels / relative;
    if (!fs::exists(path)) ADD_FAILURE() << path << " is missing (package assimp-testmodels)";
    return path;
  }

  fs::path WriteTwoClips() {
    const fs::path path = dir / "two_clips.gltf";
    std::ofstream(path) << TwoClipGltf();
    return path;
  }

  CliRun Run(const std::string& arguments) {
    const CliRun run = RunInProcess(arguments);
    EXPECT_EQ(run.status, 0) << arguments << "\n" << run.output;
    return run;
  }

  fs::path dir;
};

std::vector<Vector3> Points(const fs::path& obj) {
  return headless::ReadObj(obj.string()).points;
}

// ---------------------------------------------------------------------------------------------
// Clips

TEST_F(CharactersCli, AModelWithSeveralClipsIsListedAndCorrectedWithTheClipItNames) {
  const fs::path wuson = Model("X/Testwuson.X");
  const CliRun list = Run("scene import " + Quoted(wuson) + " --list");
  EXPECT_TRUE(Contains(list.out, "1 meshes, 37 joints, 3 animations")) << list.out;
  EXPECT_TRUE(Contains(list.out, "Wuson      3205      2117       37")) << list.out;
  EXPECT_TRUE(Contains(list.out,
                       "1      Wuson_Walk     109     30 per second (the file gives none; its "
                       "keys' spacing)"))
      << list.out;
  EXPECT_TRUE(Contains(list.out,
                       "Wuson_Bind       1     30 per second (the file gives none), "
                       "does not move"))
      << list.out;
  // --list writes nothing, so it takes no scene to write.
  EXPECT_EQ(RunInProcess("scene import " + Quoted(wuson) + " --list --out " + Quoted(dir / "s.tsm"))
                .status,
            2);
  EXPECT_FALSE(fs::exists(dir / "s.tsm"));

  // The walk, by name: all its 109 frames, moving, and corrected (not as skinning alone gives).
  Run("correct " + Quoted(wuson) + " --clip Wuson_Walk --quiet --format pc2 --out " +
      Quoted(dir / "walk"));
  const headless::PointCache walk = headless::ReadPointCache((dir / "walk" / "Wuson.pc2").string());
  ASSERT_EQ(walk.SampleCount(), 109);
  ASSERT_EQ(walk.pointCount, 3205);  // on the file's own vertices
  EXPECT_GT(MaxDistance(walk.Sample(0), walk.Sample(54)), 0.1) << "the walk moves";
  Run("scene import " + Quoted(wuson) + " --clip 1 --out " + Quoted(dir / "skinned.tsm"));
  Run("eval " + Quoted(dir / "skinned.tsm") + " --quiet --format pc2 --out " +
      Quoted(dir / "skinned"));
  const headless::PointCache skinned =
      headless::ReadPointCache((dir / "skinned" / "Wuson.pc2").string());
  ASSERT_EQ(skinned.SampleCount(), 109);
  EXPECT_GT(MaxDistance(walk.Sample(54), skinned.Sample(54)), 1e-4) << "the correction acts";

  // The run, by index, is another clip; a clip the file does not hold is refused naming them.
  Run("correct " + Quoted(wuson) + " --clip 0 --quiet --frames 10 --format obj --out " +
      Quoted(dir / "run"));
  EXPECT_GT(MaxDistance(Points(dir / "run" / "Wuson.0010.obj"), walk.Sample(10)), 0.1);
  const CliRun missing = RunInProcess("correct " + Quoted(wuson) +
                                      " --clip Wuson_Swim --format obj --out " + Quoted(dir / "x"));
  EXPECT_EQ(missing.status, 1);
  EXPECT_TRUE(Contains(missing.err,
                       "no animation called or numbered 'Wuson_Swim'; its animations "
                       "are 'Wuson_Run' (0), 'Wuson_Walk' (1), 'Wuson_Bind' (2)"))
      << missing.err;
  EXPECT_FALSE(fs::exists(dir / "x"));
  EXPECT_EQ(RunInProcess("scene import " + Quoted(wuson) + " --list --clip 1").status, 2);
}

TEST_F(CharactersCli, AFirstClipThatDoesNotMoveIsNamedAndTheOthersOffered) {
  const fs::path file = WriteTwoClips();
  const CliRun list = Run("scene import " + Quoted(file) + " --list");
  EXPECT_TRUE(Contains(list.out, "meshes:\n  name  vertices    points   joints")) << list.out;
  EXPECT_TRUE(Contains(list.out, "  body        56        56        2")) << list.out;
  EXPECT_TRUE(Contains(list.out, "  tip  (under root)")) << list.out;
  EXPECT_TRUE(Contains(list.out,
                       "0      Rest           31     30 per second (the file gives none), "
                       "does not move"))
      << list.out;
  EXPECT_TRUE(Contains(list.out, "1      Bend           31")) << list.out;

  // By default the first, still clip, with a note naming the one that moves.
  const CliRun still =
      Run("correct " + Quoted(file) + " --quiet --format obj --out " + Quoted(dir / "still"));
  EXPECT_TRUE(Contains(still.err,
                       "the first animation, 'Rest' (0), does not move; these do: "
                       "'Bend' (1) (pick one with --clip NAME|INDEX)"))
      << still.err;
  EXPECT_EQ(
      MaxDistance(Points(dir / "still" / "body.0030.obj"), Points(dir / "still" / "body.0000.obj")),
      0.0);

  // The bend, named in another case: the tip turns, the root stays.
  Run("correct " + Quoted(file) + " --clip bend --quiet --format obj --out " +
      Quoted(dir / "bend"));
  const std::vector<Vector3> first = Points(dir / "bend" / "body.0000.obj");
  const std::vector<Vector3> last = Points(dir / "bend" / "body.0030.obj");
  EXPECT_LT(MaxDistance(first, Points(dir / "still" / "body.0000.obj")), 1e-12);
  EXPECT_NEAR(last[0].y, first[0].y, 0.05) << "the root's ring stays";
  EXPECT_NEAR(last.back().x, -1.5, 0.2) << "the top ring, 1.5 above the tip, swings over to -x";
}

// ---------------------------------------------------------------------------------------------
// Settings on a saved scene

TEST_F(CharactersCli, SceneSetChangesIterationsOnAnImportedCharacterAndTheResultChanges) {
  const fs::path file = Model("X/anim_test.x");
  const fs::path scene = dir / "character.tsm", equipped = dir / "equipped.tsm";
  Run("scene import " + Quoted(file) + " --out " + Quoted(scene));
  Run("command 'Add Tessamire' --select pCylinder1 --shift " + Quoted(scene) + " --out " +
      Quoted(equipped));
  Run("eval " + Quoted(equipped) + " --quiet --frames 12 --out " + Quoted(dir / "two"));

  const CliRun set = Run("scene set " + Quoted(equipped) + " --out " + Quoted(dir / "16.tsm") +
                         " iterations=16 TTESSAMIRE_WEIGHTING=uniform --press bind");
  EXPECT_TRUE(Contains(set.out,
                       "\"pCylinder1/Tessamire Bind\": Iterations (TTESSAMIRE_ITERATIONS) "
                       "= 16, was 2"))
      << set.out;
  EXPECT_TRUE(Contains(set.out, "pressed Bind (TTESSAMIRE_BIND)")) << set.out;
  const CliRun info = Run("scene info " + Quoted(dir / "16.tsm"));
  EXPECT_TRUE(Contains(info.out, "1004 TTESSAMIRE_ITERATIONS \"Iterations\" = 16 (disabled)"))
      << info.out;
  EXPECT_TRUE(Contains(info.out, "1003 TTESSAMIRE_WEIGHTING \"Weighting\" = 0")) << info.out;
  EXPECT_TRUE(Contains(info.out, "bind: bound=yes differences=422")) << info.out;
  Run("eval " + Quoted(dir / "16.tsm") + " --quiet --frames 12 --out " + Quoted(dir / "16"));
  EXPECT_GT(MaxDistance(Points(dir / "16" / "pCylinder1.0012.obj"),
                        Points(dir / "two" / "pCylinder1.0012.obj")),
            1e-3);

  // A bound tag's settings are the plug-in's to disable; nothing is written.
  const CliRun disabled = RunInProcess("scene set " + Quoted(dir / "16.tsm") + " --out " +
                                       Quoted(dir / "no.tsm") + " 1004=8");
  EXPECT_EQ(disabled.status, 1);
  EXPECT_TRUE(Contains(disabled.err, "is disabled and cannot be changed")) << disabled.err;
  EXPECT_FALSE(fs::exists(dir / "no.tsm"));
  Run("scene set " + Quoted(dir / "16.tsm") + " --out " + Quoted(dir / "unbound.tsm") +
      " --press TTESSAMIRE_UNBIND");
  Run("scene set " + Quoted(dir / "unbound.tsm") + " --out " + Quoted(dir / "8.tsm") + " 1004=8");
}

TEST_F(CharactersCli, SceneSetNamesNodesByPathChecksValuesAndRefusesWhatIsAmbiguous) {
  const fs::path file = Model("X/BCN_Epileptic.X");
  const fs::path scene = dir / "three.tsm", equipped = dir / "equipped.tsm";
  Run("scene import " + Quoted(file) + " --out " + Quoted(scene));
  Run("command 1035622 --select Torso --select Head --select Legs --shift " + Quoted(scene) +
      " --out " + Quoted(equipped));
  const std::string set = "scene set " + Quoted(equipped) + " --out " + Quoted(dir / "out.tsm");
  auto refused = [&](const std::string& rest, const std::string& why) {
    const CliRun run = RunInProcess(set + " " + rest);
    EXPECT_EQ(run.status, 1) << rest << "\n" << run.output;
    EXPECT_TRUE(Contains(run.err, why)) << rest << "\n" << run.err;
    EXPECT_TRUE(Contains(run.err, "nothing written")) << run.err;
    EXPECT_FALSE(fs::exists(dir / "out.tsm"));
  };
  refused(
      "iterations=4",
      "several nodes have a parameter \"iterations\": \"Torso/Tessamire Bind\", \"Head/Tessamire "
      "Bind\", \"Legs/Tessamire Bind\"; name one with --node PATH");
  refused(
      "--node Legs strength=0.5",
      "no node \"Legs\" has a parameter \"strength\"; these have one: \"Torso/Tessamire Bind\"");
  refused("--node 'Legs/Tessamire Bind' iterations=1001",
          "Iterations (TTESSAMIRE_ITERATIONS) runs from 0 to 1000, not 1001");
  refused("--node 'Legs/Tessamire Bind' weighting=2", "is one of 0 \"Uniform\", 1 \"Length\"");
  refused("--node 'Legs/Tessamire Bind' strength=nan", "is a finite number, not \"nan\"");
  refused("--node 'Legs/Tessamire Bind' 'pin border=maybe'", "is 0 or 1 (true or false)");
  refused("--node 'Legs/Tessamire Bind' bind=1", "is a button: press it with --press \"Bind\"");
  refused("--node 'Legs/Tessamire Bind' --press iterations", "is no button");
  refused("--node 'Legs/Tessamire Bind' 'vertex map=Legs/skin'", "links a node of type 5682");
  refused("mode=exclude", "several nodes have a parameter \"mode\"");

  const CliRun good = Run(set +
                          " --node 'Legs/Tessamire Bind' 'Pin Border=on' strength=0.25 "
                          "'vertex map=Legs/B_Knee_Left weights'");
  EXPECT_TRUE(Contains(good.out, "Pin border (TTESSAMIRE_PINBORDER) = 1, was 0")) << good.out;
  const CliRun info = Run("scene info " + Quoted(dir / "out.tsm"));
  EXPECT_TRUE(Contains(info.out, "1008 TTESSAMIRE_STRENGTH \"Strength\" = 0.25 (enabled)"))
      << info.out;
  EXPECT_TRUE(Contains(info.out,
                       "1007 TTESSAMIRE_VERTEXMAP \"Vertex map\" = link "
                       "'B_Knee_Left weights'"))
      << info.out;
}

TEST_F(CharactersCli, CommandsAreTakenByNameOrIdAndListed) {
  const CliRun list = Run("command --list");
  EXPECT_TRUE(Contains(list.out, "1035622  Add Tessamire: ")) << list.out;
  const fs::path scene = dir / "c.tsm";
  Run("scene import " + Quoted(Model("X/anim_test.x")) + " --out " + Quoted(scene));
  const CliRun byName = Run("command 'ADD TESSAMIRE' --select pCylinder1 --shift " + Quoted(scene) +
                            " --out " + Quoted(dir / "name.tsm"));
  EXPECT_TRUE(Contains(byName.out, "command 1035622 (Add Tessamire): done, 1 objects and 1 tags"))
      << byName.out;
  Run("command 1035622 --select pCylinder1 --shift " + Quoted(scene) + " --out " +
      Quoted(dir / "id.tsm"));
  EXPECT_EQ(ReadWholeFile(dir / "name.tsm"), ReadWholeFile(dir / "id.tsm"));

  const CliRun unknown = RunInProcess("command 'Remove Tessamire' " + Quoted(scene) + " --out " +
                                      Quoted(dir / "u.tsm"));
  EXPECT_EQ(unknown.status, 1);
  EXPECT_TRUE(Contains(unknown.err,
                       "no registered command is called \"Remove Tessamire\"; the "
                       "commands are 1035622 \"Add Tessamire\""))
      << unknown.err;
  EXPECT_EQ(RunInProcess("command --list " + Quoted(scene)).status, 2);
  EXPECT_EQ(RunInProcess("command 1035622 " + Quoted(scene)).status, 2);
}

// ---------------------------------------------------------------------------------------------
// One step, and the file's own frame rate

TEST_F(CharactersCli, CachesOfA24AndA25FramesPerSecondFileAreTimedAtTheirOwnRate) {
  struct Rated {
    const char* file;
    const char* object;
    Float fps;
    Int64 frames;
  };
  for (const Rated& model : {Rated{"FBX/animation_with_skeleton.fbx", "Cube_001", 24.0, 21},
                             Rated{"FBX/huesitos.fbx", "Cylinder", 25.0, 40}}) {
    SCOPED_TRACE(model.file);
    const fs::path file = Model(model.file);
    const fs::path out = dir / std::to_string(static_cast<int>(model.fps));
    Run("correct " + Quoted(file) + " --quiet --format mdd --save-scene " +
        Quoted(out / "scene.tsm") + " --out " + Quoted(out));
    const headless::PointCache mdd =
        headless::ReadPointCache((out / (std::string(model.object) + ".mdd")).string());
    ASSERT_EQ(mdd.SampleCount(), model.frames);
    for (Int64 k = 0; k < model.frames; ++k)
      EXPECT_EQ(mdd.times[static_cast<size_t>(k)],
                static_cast<Float32>(static_cast<Float>(k) / model.fps))
          << k;
    // The rate stays with the saved scene, which eval times by; --fps sets another.
    EXPECT_TRUE(Contains(Run("scene info " + Quoted(out / "scene.tsm")).out,
                         std::to_string(static_cast<int>(model.fps)) + " frames per second"));
    Run("eval " + Quoted(out / "scene.tsm") + " --quiet --format mdd --out " +
        Quoted(out / "eval"));
    EXPECT_EQ(ReadWholeFile(out / "eval" / (std::string(model.object) + ".mdd")),
              ReadWholeFile(out / (std::string(model.object) + ".mdd")));
    // A glTF's keys at the same times, one per frame.
    Run("correct " + Quoted(file) + " --quiet --format glb --out " + Quoted(out / "glb"));
    const fs::path glb = out / "glb" / (file.stem().string() + ".glb");
    ExpectValidGltf(glb);
#if TESSAMIRE_HAVE_ASSIMP
    Assimp::Importer reader;
    const aiScene* scene = reader.ReadFile(glb.string(), 0);
    ASSERT_NE(scene, nullptr) << reader.GetErrorString();
    ASSERT_EQ(scene->mNumAnimations, 1u);
    ASSERT_EQ(scene->mAnimations[0]->mNumMorphMeshChannels, 1u);
    const aiMeshMorphAnim* channel = scene->mAnimations[0]->mMorphMeshChannels[0];
    ASSERT_EQ(channel->mNumKeys, static_cast<unsigned>(model.frames));
    for (unsigned k = 0; k < channel->mNumKeys; ++k)
      EXPECT_NEAR(channel->mKeys[k].mTime / scene->mAnimations[0]->mTicksPerSecond, k / model.fps,
                  1e-6)
          << k;
#endif
    Run("scene import " + Quoted(file) + " --fps 50 --out " + Quoted(out / "50.tsm"));
    Run("eval " + Quoted(out / "50.tsm") + " --quiet --frames 0:3 --format mdd --out " +
        Quoted(out / "50"));
    EXPECT_EQ(headless::ReadPointCache((out / "50" / (std::string(model.object) + ".mdd")).string())
                  .times,
              (std::vector<Float32>{0.0f, 0.02f, 0.04f, 0.06f}));
  }
}

TEST_F(CharactersCli, CorrectOnASceneKeepsItsTagsAndBindsThemWithTheSettingsGiven) {
  const fs::path file = Model("X/anim_test.x");
  const CliRun first = Run("correct " + Quoted(file) + " --frames 12 --format obj --save-scene " +
                           Quoted(dir / "s.tsm") + " --out " + Quoted(dir / "a"));
  EXPECT_TRUE(Contains(first.out,
                       "pCylinder1: equipped by Add Tessamire (Shift); bound at 2 "
                       "iterations"))
      << first.out;
  const CliRun again = Run("correct " + Quoted(dir / "s.tsm") +
                           " --iterations 12 --frames 12 --format obj --out " + Quoted(dir / "b"));
  EXPECT_TRUE(Contains(again.out, "pCylinder1: already equipped; bound at 12 iterations"))
      << again.out;
  EXPECT_GT(MaxDistance(Points(dir / "a" / "pCylinder1.0012.obj"),
                        Points(dir / "b" / "pCylinder1.0012.obj")),
            1e-3);
  // The scene written as it was: the same frame again from it, through eval.
  Run("eval " + Quoted(dir / "s.tsm") + " --quiet --frames 12 --out " + Quoted(dir / "e"));
  EXPECT_EQ(ReadWholeFile(dir / "e" / "pCylinder1.0012.obj"),
            ReadWholeFile(dir / "a" / "pCylinder1.0012.obj"));

  EXPECT_EQ(RunInProcess("correct " + Quoted(dir / "s.tsm") + " --clip 0 --format obj --out " +
                         Quoted(dir / "c"))
                .status,
            2);
  const CliRun range = RunInProcess("correct " + Quoted(file) +
                                    " --iterations 5000 --format obj "
                                    "--out " +
                                    Quoted(dir / "c"));
  EXPECT_EQ(range.status, 2);
  EXPECT_TRUE(Contains(range.err, "--iterations wants a whole number from 0 to 1000")) << range.err;
  const CliRun still = RunInProcess("correct " + Quoted(Model("FBX/spider.fbx")) +
                                    " --format obj --out " + Quoted(dir / "c"));
  EXPECT_EQ(still.status, 1);
  EXPECT_FALSE(fs::exists(dir / "c"));
}

}  // namespace
