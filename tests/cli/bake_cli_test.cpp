// `tessamire bake` end to end on a small generated scan-like character: the baked glTF is clean
// by the Khronos validator, holds no morph target, and, played by the product's skinning player,
// lies as far from the corrected character (`correct --format glb`, played too) as the report
// says; the input's own weights likewise. Inputs bake refuses are refused by name.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "headless/characters/character.h"
#include "headless/io/scene_file.h"
#include "headless/job/scan_character.h"
#include "tests/support/cli_runner.h"
#include "tests/support/gltf_check.h"

#if TESSAMIRE_HAVE_JSON_READER && TESSAMIRE_HAVE_ASSIMP
#include "tests/support/gltf_player.h"

namespace {

namespace fs = std::filesystem;

std::string Slurp(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

// Mean and largest distance between two players' one mesh over the frames' times.
std::pair<double, double> Apart(const gltf_player::Player& a, const gltf_player::Player& b,
                                const std::vector<double>& times) {
  double sum = 0.0, largest = 0.0;
  size_t count = 0;
  for (const double t : times) {
    const auto pa = a.Play(0, t), pb = b.Play(0, t);
    EXPECT_EQ(pa.size(), 1u);
    EXPECT_EQ(pb.size(), 1u);
    if (pa.size() != 1 || pb.size() != 1) return {0.0, 0.0};
    EXPECT_EQ(pa[0].positions.size(), pb[0].positions.size());
    for (size_t v = 0; v < std::min(pa[0].positions.size(), pb[0].positions.size()); ++v) {
      const auto& p = pa[0].positions[v];
      const auto& q = pb[0].positions[v];
      const double d = std::hypot(p[0] - q[0], p[1] - q[1], p[2] - q[2]);
      sum += d;
      largest = std::max(largest, d);
      ++count;
    }
  }
  return {sum / static_cast<double>(count), largest};
}

// "  <who> weights: mean M (...), largest L (...)" of the report's first section.
std::pair<double, double> Reported(const std::string& output, const std::string& who) {
  const size_t at = output.find("  " + who + " weights:");
  const size_t mean = output.find("mean ", at), largest = output.find(", largest ", at);
  EXPECT_TRUE(at != std::string::npos && mean != std::string::npos && largest != std::string::npos)
      << output;
  if (at == std::string::npos || mean == std::string::npos || largest == std::string::npos)
    return {0.0, 0.0};
  return {std::stod(output.substr(mean + 5)), std::stod(output.substr(largest + 10))};
}

TEST(BakeCli, ThePlayedBakeLiesWhereTheReportSays) {
  if (!headless::CharacterImportAvailable()) GTEST_SKIP() << "built without Assimp";
  const fs::path dir = fs::path(::testing::TempDir()) / "bake_cli";
  fs::remove_all(dir);
  fs::create_directories(dir);
  const fs::path input = dir / "scan.glb";
  headless::WriteScanCharacter({1500, 3, 90.0, 9, 3}, input.string());
  const CliRun corrected = RunInProcess("correct " + Quoted(input.string()) +
                                        " --quiet --format glb --glb-targets float --out " +
                                        Quoted((dir / "corrected").string()));
  ASSERT_EQ(corrected.status, 0) << corrected.output;
  const fs::path baked = dir / "baked.glb";
  const CliRun bake =
      RunInProcess("bake " + Quoted(input.string()) + " --report --out " + Quoted(baked.string()));
  ASSERT_EQ(bake.status, 0) << bake.output;
  ExpectCleanGltf(baked, {});

  const gltf_player::Player correct(Slurp(dir / "corrected" / "scan.glb"));
  const gltf_player::Player source(Slurp(input)), played(Slurp(baked));
  EXPECT_FALSE(played.json()["meshes"][0]["primitives"][0].contains("targets"));
  std::vector<double> times;
  for (int f = 0; f < 9; ++f) times.push_back(f / 30.0);
  for (const auto& [who, player] : {std::pair{"baked", &played}, {"source", &source}}) {
    SCOPED_TRACE(who);
    const auto [mean, largest] = Apart(*player, correct, times);
    const auto [reportedMean, reportedLargest] = Reported(bake.output, who);
    // The report prints 4 digits; the players read float32 positions and weights.
    EXPECT_NEAR(mean, reportedMean, 1e-3 * reportedMean + 1e-6);
    EXPECT_NEAR(largest, reportedLargest, 1e-3 * reportedLargest + 1e-6);
  }
  EXPECT_LT(Reported(bake.output, "baked").first, Reported(bake.output, "source").first);
  EXPECT_NE(bake.output.find("held out: 2 frames"), std::string::npos) << bake.output;

  // Six turned poses per joint join the frames; --holdout 0 skips the second solve, and the
  // weights written, solved on more poses, fit the frames differently.
  const CliRun turned = RunInProcess("bake " + Quoted(input.string()) +
                                     " --range-of-motion 30 --holdout 0 --report --out " +
                                     Quoted((dir / "turned.glb").string()));
  ASSERT_EQ(turned.status, 0) << turned.output;
  EXPECT_NE(turned.output.find("over 9 frames and 18 range-of-motion poses"), std::string::npos)
      << turned.output;
  EXPECT_EQ(turned.output.find("held out"), std::string::npos) << turned.output;
  EXPECT_NE(Reported(turned.output, "baked"), Reported(bake.output, "baked"));
  fs::remove_all(dir);
}

// A character whose file splits points along seams: every vertex of one point (the same
// position) carries the same joints and weights, so the seam cannot open when it moves.
TEST(BakeCli, VerticesOfOnePointCarryTheSameWeights) {
  if (!headless::CharacterImportAvailable()) GTEST_SKIP() << "built without Assimp";
  const fs::path model = "/usr/share/assimp/models/X/anim_test.x";
  ASSERT_TRUE(fs::exists(model)) << model << " is missing (package assimp-testmodels)";
  const fs::path baked = fs::path(::testing::TempDir()) / "bake_seams.glb";
  const CliRun run =
      RunInProcess("bake " + Quoted(model.string()) + " --out " + Quoted(baked.string()));
  ASSERT_EQ(run.status, 0) << run.output;
  const gltf_player::Player player(Slurp(baked));
  const auto& attributes = player.json()["meshes"][0]["primitives"][0]["attributes"];
  const std::vector<double> positions = player.Read(attributes["POSITION"].get<int>());
  const std::vector<double> joints = player.Read(attributes["JOINTS_0"].get<int>());
  const std::vector<double> weights = player.Read(attributes["WEIGHTS_0"].get<int>());
  const size_t vertices = positions.size() / 3;
  ASSERT_EQ(joints.size(), 4 * vertices);
  std::map<std::array<double, 3>, size_t> first;
  size_t shared = 0;
  for (size_t v = 0; v < vertices; ++v) {
    const auto [at, fresh] =
        first.insert({{positions[3 * v], positions[3 * v + 1], positions[3 * v + 2]}, v});
    if (fresh) continue;
    ++shared;
    for (size_t k = 0; k < 4; ++k) {
      EXPECT_EQ(joints[4 * v + k], joints[4 * at->second + k]) << v;
      EXPECT_EQ(weights[4 * v + k], weights[4 * at->second + k]) << v;
    }
  }
  EXPECT_GT(shared, 0u) << "the file splits no point";
  fs::remove(baked);
}

TEST(BakeCli, RefusesWhatItCannotBake) {
  struct Case {
    std::string arguments, message;
  };
  const fs::path scene = fs::path(::testing::TempDir()) / "bake_refusals.scene";
  headless::Document empty;
  headless::SaveScene(empty, scene.string());
  const Case cases[] = {
      {"bake " + Quoted(scene.string()) + " --all-clips --out b.glb", "a scene holds one clip"},
      {"bake " + Quoted(scene.string()) + " --out b.glb", "holds no character's rig"},
      {"bake in.fbx --influences 5 --out b.glb", "--influences"},
      {"bake in.fbx --range-of-motion 200 --out b.glb", "--range-of-motion"},
      {"bake in.fbx", "--out"},
  };
  for (const Case& c : cases) {
    const CliRun run = RunInProcess(c.arguments);
    EXPECT_NE(run.status, 0) << c.arguments;
    EXPECT_NE(run.output.find(c.message), std::string::npos) << c.arguments << "\n" << run.output;
  }
  fs::remove(scene);
}

}  // namespace

#endif
