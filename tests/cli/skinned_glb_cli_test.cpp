// A character's default glTF, clean by the Khronos validator, played as any linear-blend skinning
// player plays it (the test's own player, written from the format's rules, with every influence it
// holds): at every frame of the clip, each vertex lands where `correct --format obj --space world`
// puts it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <limits>
#include <string>
#include <vector>

#include "headless/characters/character.h"
#include "headless/io/obj_read.h"
#include "tests/support/cli_runner.h"
#include "tests/support/gltf_check.h"

#if TESSAMIRE_HAVE_JSON_READER && TESSAMIRE_HAVE_ASSIMP
#include "tests/support/assimp_skinning.h"
#include "tests/support/gltf_player.h"

namespace {

namespace fs = std::filesystem;

struct Case {
  const char* name;
  const char* model;  // under Assimp's test models
  const char* clip;   // empty: the first
};

class SkinnedGlbCli : public ::testing::TestWithParam<Case> {};

std::string Slurp(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

// The OBJ frames of the one mesh in `dir`, in frame order.
std::vector<fs::path> ObjFrames(const fs::path& dir) {
  std::vector<fs::path> frames;
  for (const auto& entry : fs::directory_iterator(dir))
    if (entry.path().extension() == ".obj" && entry.path().stem().extension() != ".rest")
      frames.push_back(entry.path());
  std::sort(frames.begin(), frames.end());
  return frames;
}

TEST_P(SkinnedGlbCli, APlayerLandsOnTheCorrectedWorldPointsAtEveryFrame) {
  if (!headless::CharacterImportAvailable()) GTEST_SKIP() << "built without Assimp";
  const Case& c = GetParam();
  const fs::path model = fs::path("/usr/share/assimp/models") / c.model;
  ASSERT_TRUE(fs::exists(model)) << model << " is missing (package assimp-testmodels)";
  const fs::path dir = fs::path(::testing::TempDir()) / (std::string("skinned_glb_") + c.name);
  fs::remove_all(dir);
  fs::create_directories(dir);
  const std::string clip = *c.clip ? std::string(" --clip ") + c.clip : "";
  const std::string source = "correct " + Quoted(model.string()) + clip + " --quiet";
  const CliRun obj =
      RunInProcess(source + " --format obj --space world --out " + Quoted((dir / "obj").string()));
  ASSERT_EQ(obj.status, 0) << obj.output;
  const std::vector<fs::path> frames = ObjFrames(dir / "obj");
  ASSERT_GT(frames.size(), 1u);
  std::vector<std::vector<Vector3>> wanted, wantedNormals;
  for (const fs::path& frame : frames) {
    const headless::ObjFile file = headless::ReadObjFile(frame.string());
    wanted.push_back(file.mesh.points);
    wantedNormals.push_back(file.normals);
  }
  Vector3 low = wanted[0][0], high = wanted[0][0];
  for (const Vector3& p : wanted[0]) {
    low = {std::min(low.x, p.x), std::min(low.y, p.y), std::min(low.z, p.z)};
    high = {std::max(high.x, p.x), std::max(high.y, p.y), std::max(high.z, p.z)};
  }
  const double extent = std::hypot(high.x - low.x, high.y - low.y, high.z - low.z);

  // The default (int16 positions, within the frame's scale / 65534) and float32 targets.
  for (const char* targets : {"quantised", "float"}) {
    const fs::path out = dir / targets;
    const CliRun glb = RunInProcess(source + " --format glb --glb-targets " + targets + " --out " +
                                    Quoted(out.string()));
    ASSERT_EQ(glb.status, 0) << glb.output;
    fs::path file;
    for (const auto& entry : fs::directory_iterator(out))
      if (entry.path().extension() == ".glb") file = entry.path();
    ExpectCleanGltf(file, {});
    const gltf_player::Player player(Slurp(file));
    const auto& json = player.json();
    ASSERT_EQ(json["skins"].size(), 1u) << "one skinned mesh";
    ASSERT_EQ(json["animations"].size(), 1u);
    // The frames' times: the keys of the weights that show each frame's target.
    std::vector<double> times;
    for (const auto& channel : json["animations"][0]["channels"])
      if (channel["target"]["path"] == "weights")
        times = player.Read(
            json["animations"][0]["samplers"][channel["sampler"].get<int>()]["input"].get<int>());
    ASSERT_EQ(times.size(), frames.size());
    for (size_t f = 0; f < frames.size(); ++f) {
      const std::vector<Vector3>& want = wanted[f];
      const std::vector<gltf_player::Played> played = player.Play(0, times[f]);
      ASSERT_EQ(played.size(), 1u);
      ASSERT_EQ(played[0].positions.size(), want.size());
      double worst = 0.0;
      for (size_t v = 0; v < want.size(); ++v) {
        const auto& got = played[0].positions[v];
        worst = std::max({worst, std::fabs(got[0] - want[v].x), std::fabs(got[1] - want[v].y),
                          std::fabs(got[2] - want[v].z)});
      }
      ASSERT_LE(worst, 1e-5 * extent)
          << c.name << " " << targets << " frame " << f << " of " << frames.size() << ": "
          << worst / extent << " of the extent";
      // The shading: each played normal along the corrected one (int8 normals: within a degree).
      ASSERT_EQ(played[0].normals.size(), wantedNormals[f].size());
      double turned = 0.0;
      for (size_t v = 0; v < wantedNormals[f].size(); ++v) {
        const auto& got = played[0].normals[v];
        const Vector3& n = wantedNormals[f][v];
        const double cosine = (got[0] * n.x + got[1] * n.y + got[2] * n.z) /
                              (std::hypot(got[0], got[1], got[2]) * std::hypot(n.x, n.y, n.z));
        turned = std::max(turned, std::acos(std::clamp(cosine, -1.0, 1.0)));
      }
      ASSERT_LE(turned, std::string(targets) == "float" ? 1e-4 : 0.02)
          << c.name << " " << targets << " frame " << f << ": a normal off by " << turned;
    }
  }
  fs::remove_all(dir);
}

// A character of several meshes on nodes of their own: with no animation applied (every node at
// its written transform, each skin at its bind), every mesh lies where Assimp's own skinning of
// the bind pose puts it in the world.
TEST(SkinnedGlbCliWhole, EachMeshLiesWhereTheFilesBindPosePutsIt) {
  if (!headless::CharacterImportAvailable()) GTEST_SKIP() << "built without Assimp";
  const fs::path model = "/usr/share/assimp/models/X/BCN_Epileptic.X";
  ASSERT_TRUE(fs::exists(model)) << model << " is missing (package assimp-testmodels)";
  const fs::path dir = fs::path(::testing::TempDir()) / "skinned_glb_whole";
  fs::remove_all(dir);
  fs::create_directories(dir);
  const CliRun run = RunInProcess("correct " + Quoted(model.string()) +
                                  " --quiet --format glb --out " + Quoted(dir.string()));
  ASSERT_EQ(run.status, 0) << run.output;
  ExpectCleanGltf(dir / "BCN_Epileptic.glb", {});
  const gltf_player::Player player(Slurp(dir / "BCN_Epileptic.glb"));
  const std::vector<gltf_player::Played> played = player.Play(-1, 0.0);

  const assimp_skinning::AssimpSkinning reference(model.string());
  const aiScene* scene = reference.Scene();
  ASSERT_NE(scene, nullptr);
  ASSERT_EQ(played.size(), scene->mNumMeshes);
  for (unsigned m = 0; m < scene->mNumMeshes; ++m) {
    const aiMesh* mesh = scene->mMeshes[m];
    // The glTF's mesh of as many vertices (each of this file's meshes has its own count).
    const gltf_player::Played* got = nullptr;
    for (const gltf_player::Played& p : played)
      if (p.positions.size() == mesh->mNumVertices) {
        ASSERT_EQ(got, nullptr) << "two meshes of " << mesh->mNumVertices << " vertices";
        got = &p;
      }
    ASSERT_NE(got, nullptr) << mesh->mName.C_Str();
    const std::vector<aiVector3D> want = reference.AtBind(m);
    for (unsigned v = 0; v < mesh->mNumVertices; ++v) {
      const float coordinates[3] = {want[v].x, want[v].y, want[v].z};
      for (int c = 0; c < 3; ++c)
        ASSERT_NEAR(got->positions[v][c], coordinates[c],
                    4 * std::numeric_limits<float>::epsilon() * (1.0 + std::fabs(coordinates[c])))
            << mesh->mName.C_Str() << " vertex " << v;
    }
  }
  fs::remove_all(dir);
}

// The bytes of RFC 4648 base64 `text` (padding allowed).
std::vector<std::uint8_t> FromBase64(const std::string& text) {
  static const std::string kDigits =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::vector<std::uint8_t> out;
  std::uint32_t bits = 0;
  int held = 0;
  for (const char c : text) {
    const size_t digit = kDigits.find(c);
    if (digit == std::string::npos) continue;
    bits = bits << 6 | static_cast<std::uint32_t>(digit);
    held += 6;
    if (held >= 8) {
      held -= 8;
      out.push_back(static_cast<std::uint8_t>(bits >> held & 0xFF));
    }
  }
  return out;
}

// Per frame of the page's only input, the positions it reads back: min + code * step per axis.
std::vector<std::vector<Vector3>> PageFrames(const std::string& page, std::string* name) {
  const std::string open = "id=\"tessamire-data\">";
  const size_t from = page.find(open) + open.size();
  const nlohmann::json data =
      nlohmann::json::parse(page.substr(from, page.find("</script>", from) - from));
  EXPECT_EQ(data["inputs"].size(), 1u);
  *name = data["inputs"][0]["name"];
  std::vector<std::vector<Vector3>> frames;
  for (const auto& frame : data["inputs"][0]["positions"]) {
    const std::vector<std::uint8_t> bytes = FromBase64(frame["data"]);
    const std::vector<double> min = frame["min"], step = frame["step"];
    std::vector<Vector3> points(bytes.size() / 6);
    for (size_t i = 0; i < points.size() * 3; ++i) {
      const double v = min[i % 3] + (bytes[2 * i] | bytes[2 * i + 1] << 8) * step[i % 3];
      (i % 3 == 0 ? points[i / 3].x : i % 3 == 1 ? points[i / 3].y : points[i / 3].z) = v;
    }
    frames.push_back(std::move(points));
  }
  return frames;
}

// `view` of a character's default (quantised) glTF shows it as an engine plays it: per key of
// its targets' weights one frame, each where `correct --format obj --space world` puts it.
TEST(SkinnedGlbView, ThePageShowsEachFrameWhereTheCorrectedWorldPointsAre) {
  if (!headless::CharacterImportAvailable()) GTEST_SKIP() << "built without Assimp";
  const fs::path model = "/usr/share/assimp/models/X/anim_test.x";
  ASSERT_TRUE(fs::exists(model)) << model << " is missing (package assimp-testmodels)";
  const fs::path dir = fs::path(::testing::TempDir()) / "skinned_glb_view";
  fs::remove_all(dir);
  fs::create_directories(dir);
  const std::string source = "correct " + Quoted(model.string()) + " --quiet";
  CliRun run =
      RunInProcess(source + " --format obj --space world --out " + Quoted((dir / "obj").string()));
  ASSERT_EQ(run.status, 0) << run.output;
  run = RunInProcess(source + " --format glb --out " + Quoted((dir / "glb").string()));
  ASSERT_EQ(run.status, 0) << run.output;
  run = RunInProcess("view --quiet " + Quoted((dir / "glb" / "anim_test.glb").string()) +
                     " --out " + Quoted((dir / "page.html").string()));
  ASSERT_EQ(run.status, 0) << run.output;

  std::string name;
  const std::vector<std::vector<Vector3>> shown = PageFrames(Slurp(dir / "page.html"), &name);
  const std::vector<fs::path> frames = ObjFrames(dir / "obj");
  ASSERT_GT(frames.size(), 1u);
  ASSERT_EQ(shown.size(), frames.size()) << name;
  for (size_t f = 0; f < frames.size(); ++f) {
    const std::vector<Vector3> want = headless::ReadObjFile(frames[f].string()).mesh.points;
    ASSERT_EQ(shown[f].size(), want.size()) << "frame " << f;
    Vector3 low = want[0], high = want[0];
    for (const Vector3& p : want) {
      low = {std::min(low.x, p.x), std::min(low.y, p.y), std::min(low.z, p.z)};
      high = {std::max(high.x, p.x), std::max(high.y, p.y), std::max(high.z, p.z)};
    }
    const double extent = std::hypot(high.x - low.x, high.y - low.y, high.z - low.z);
    double worst = 0.0;
    for (size_t v = 0; v < want.size(); ++v)
      worst =
          std::max({worst, std::fabs(shown[f][v].x - want[v].x),
                    std::fabs(shown[f][v].y - want[v].y), std::fabs(shown[f][v].z - want[v].z)});
    EXPECT_LE(worst, 1e-5 * extent) << "frame " << f << " of " << frames.size();
  }
  fs::remove_all(dir);
}

INSTANTIATE_TEST_SUITE_P(AssimpTestModels, SkinnedGlbCli,
                         ::testing::Values(Case{"wuson_walk", "X/Testwuson.X", "Wuson_Walk"},
                                           Case{"anim_test", "X/anim_test.x", ""}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace

#endif
