// `tessamire scene import` and `tessamire scene info`: an imported mesh with a bound tag shows
// the checksum of the same bind made here and loads with the same bits, a tag alone is stored
// unbound, and errors name the file, exit with 1 and write nothing.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "headless/files/checksum.h"
#include "headless/io/obj_write.h"
#include "headless/io/scene_file.h"
#include "headless/scene/parameters.h"
#include "tests/support/bind_tag_fixture.h"
#include "tests/support/cli_runner.h"
#include "tests/support/temp_folder.h"

namespace {

namespace fs = std::filesystem;
using namespace bind_tag;
using headless::Node;

class SceneCommands : public BindTagFixture {
 protected:
  std::string Path(const std::string& name) const { return (folder.path / name).string(); }

  TempFolder folder;
};

std::string Checksum(const std::vector<Vector3>& differences) {
  // Three little-endian float64 per difference; this machine stores them so.
  const std::uint64_t hash = headless::Fnv1a64(differences.data(), differences.size() * 24);
  char text[24];
  std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(hash));
  return text;
}

TEST_F(SceneCommands, ImportWithABoundTagShowsTheSameChecksumAfterReload) {
  const Mesh mesh = Grid(17, 11);
  const std::string obj = Path("plate.obj");
  headless::WriteObj(obj, mesh.points, mesh.polygons);
  const std::string scene = Path("plate.scene");
  const CliRun imported =
      RunInProcess("scene import '" + obj + "' --out '" + scene + "' --tag --bind");
  ASSERT_EQ(imported.status, 0) << imported.err;

  // The same bind in this process: the differences are deterministic.
  Node* object = doc->AddPolygonObject("plate", mesh.points, mesh.polygons);
  Node* tag = doc->AddTag(object, ID_TTESSAMIRE);
  ASSERT_TRUE(headless::PressButton(tag, TTESSAMIRE_BIND));
  const std::string expected = Checksum(StoredBindOf(tag).differences);

  const CliRun info = RunInProcess("scene info '" + scene + "'");
  ASSERT_EQ(info.status, 0) << info.err;
  EXPECT_NE(info.out.find("object polygon \"plate\" points=187 polygons=160"), std::string::npos)
      << info.out;
  EXPECT_NE(info.out.find("bind: bound=yes differences=187 checksum=" + expected),
            std::string::npos)
      << info.out;
  EXPECT_NE(info.out.find("1004 TTESSAMIRE_ITERATIONS \"Iterations\" = 2 (disabled)"),
            std::string::npos)
      << info.out;
  EXPECT_NE(info.out.find("1002 TTESSAMIRE_BINDINFO \"Status\" = \"" + ResourceString(1002) +
                          "4488\" (enabled)"),
            std::string::npos)
      << info.out;

  // And what the file holds loads here with the same bits.
  std::unique_ptr<headless::Document> loaded = headless::LoadScene(scene);
  EXPECT_TRUE(SameBits(StoredBindOf(loaded->FirstObject()->firstTag).differences,
                       StoredBindOf(tag).differences));
}

TEST_F(SceneCommands, ImportWithATagOnlyStoresItUnbound) {
  const Mesh mesh = Grid(4, 3);
  const std::string obj = Path("small.obj");
  headless::WriteObj(obj, mesh.points, mesh.polygons);
  const std::string scene = Path("small.scene");
  ASSERT_EQ(RunInProcess("scene import '" + obj + "' --out '" + scene + "' --tag").status, 0);
  const CliRun info = RunInProcess("scene info '" + scene + "'");
  ASSERT_EQ(info.status, 0) << info.err;
  EXPECT_NE(info.out.find("bind: bound=no differences=0"), std::string::npos) << info.out;
  EXPECT_NE(info.out.find("1004 TTESSAMIRE_ITERATIONS \"Iterations\" = 2 (enabled)"),
            std::string::npos)
      << info.out;
}

TEST_F(SceneCommands, ErrorsNameTheFileExitWithOneAndWriteNothing) {
  const std::string scene = Path("out.scene");
  const CliRun missing =
      RunInProcess("scene import '" + Path("missing.obj") + "' --out '" + scene + "' --bind");
  EXPECT_EQ(missing.status, 1);
  EXPECT_NE(missing.err.find(Path("missing.obj")), std::string::npos) << missing.err;
  EXPECT_FALSE(fs::exists(scene));

  const std::string bad = Path("bad.obj");
  std::ofstream(bad) << "v 0 0 0\nv 1 0 0\nf 1 2 3\n";
  const CliRun broken = RunInProcess("scene import '" + bad + "' --out '" + scene + "'");
  EXPECT_EQ(broken.status, 1);
  EXPECT_NE(broken.err.find(bad + ":3:"), std::string::npos) << broken.err;
  EXPECT_FALSE(fs::exists(scene));

  std::ofstream(scene) << "not a scene";
  const CliRun corrupt = RunInProcess("scene info '" + scene + "'");
  EXPECT_EQ(corrupt.status, 1);
  EXPECT_NE(corrupt.err.find(scene + ": not a scene file"), std::string::npos) << corrupt.err;
  EXPECT_TRUE(corrupt.out.empty());

  EXPECT_EQ(RunInProcess("scene frobnicate").status, 2);
  EXPECT_EQ(RunInProcess("scene import '" + bad + "'").status, 2);
}

}  // namespace
