// What `view` takes each file for: a point cache or a numbered sequence by its name (a cache's name
// winning over a pattern in it), a binary glTF or a scene file by its first bytes whatever its
// name, an OBJ mesh otherwise; and a scene opened over the frames given or its keys, refused
// without a polygon object.
#include "headless/job/view_inputs.h"

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "headless/io/scene_file.h"
#include "headless/scene/scene.h"
#include "tests/support/temp_folder.h"

namespace {

using headless::ViewSourceKind;

TEST(ViewInputs, EachFileIsTakenForWhatItsNameOrItsFirstBytesSay) {
  const TempFolder folder;
  const auto at = [&](const std::string& name) { return (folder.path / name).string(); };
  auto doc = headless::NewDocument();
  ASSERT_NE(
      doc->AddPolygonObject("quad", {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}}, {{0, 1, 2, 3}}),
      nullptr);
  headless::SaveScene(*doc, at("scene.obj"));
  folder.Write("moving.obj", std::string("glTF") + std::string(16, '\0'));
  folder.Write("plain.glb", "v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\n");

  EXPECT_EQ(headless::ViewSourceKindOf(at("walk.####.pc2")), ViewSourceKind::kCache);
  EXPECT_EQ(headless::ViewSourceKindOf(at("walk.MDD")), ViewSourceKind::kCache);
  EXPECT_EQ(headless::ViewSourceKindOf(at("walk.%04d.obj")), ViewSourceKind::kSequence);
  EXPECT_EQ(headless::ViewSourceKindOf(at("scene.obj")), ViewSourceKind::kScene);
  EXPECT_EQ(headless::ViewSourceKindOf(at("moving.obj")), ViewSourceKind::kGlb);
  EXPECT_EQ(headless::ViewSourceKindOf(at("plain.glb")), ViewSourceKind::kMesh);
  EXPECT_EQ(headless::ViewSourceKindOf(at("missing.tsm")), ViewSourceKind::kMesh);
  EXPECT_EQ(headless::ViewSourceKindOf("-"), ViewSourceKind::kMesh);
}

TEST(ViewInputs, AScenesInputsAreItsPolygonObjectsOverTheFramesGivenOrItsKeys) {
  const TempFolder folder;
  const std::string withQuad = (folder.path / "quad.tsm").string();
  const std::string empty = (folder.path / "empty.tsm").string();
  auto doc = headless::NewDocument();
  ASSERT_NE(doc->AddObject(headless::kNullObjectType, "group"), nullptr);
  headless::SaveScene(*doc, empty);
  ASSERT_NE(
      doc->AddPolygonObject("quad", {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}}, {{0, 1, 2, 3}}),
      nullptr);
  headless::SaveScene(*doc, withQuad);

  headless::ViewReading reading;
  const headless::ViewSource still =
      headless::OpenViewSource(withQuad, ViewSourceKind::kScene, reading);
  EXPECT_EQ(still.Inputs(), 1);
  EXPECT_EQ(still.Frames(), 1);  // nothing keyed: frame 0 alone
  reading.frames = headless::FrameRange{2, 6};
  const headless::ViewSource ranged =
      headless::OpenViewSource(withQuad, ViewSourceKind::kScene, reading);
  EXPECT_EQ(ranged.objects.front()->name, "quad");
  EXPECT_EQ(ranged.Frames(), 5);
  try {
    headless::OpenViewSource(empty, ViewSourceKind::kScene, reading);
    ADD_FAILURE() << "a scene without a polygon object was opened";
  } catch (const std::runtime_error& e) {
    EXPECT_EQ(std::string(e.what()), empty + ": the scene holds no polygon object");
  }
}

TEST(ViewInputs, FilesOfOneNameAreLabelledByTheirFolderToo) {
  const struct {
    std::vector<std::string> paths, names;
  } cases[] = {
      {{"shot/walk.glb", "shot/skinned/walk.glb"}, {"shot/walk.glb", "skinned/walk.glb"}},
      {{"a/walk.glb", "b/run.glb"}, {"walk.glb", "run.glb"}},
      {{"walk.obj", "out/walk.obj", "-"}, {"./walk.obj", "out/walk.obj", "standard input"}},
  };
  for (const auto& c : cases) EXPECT_EQ(headless::ViewInputNames(c.paths), c.names);
}

// Counts nothing: AddViewSources steps it once per frame.
struct NoProgress final : headless::ProgressObserver {
  void Begin(const std::string&, Int64) override {}
  void Step(const std::string&) override {}
  void Finish() override {}
};

TEST(ViewInputs, AScenesObjectsShareOnePanelAndEveryOtherFileHasItsOwn) {
  const TempFolder folder;
  const std::string scene = (folder.path / "two.tsm").string();
  const std::string mesh = (folder.path / "quad.obj").string();
  auto doc = headless::NewDocument();
  for (const char* name : {"body", "eyes"})
    ASSERT_NE(
        doc->AddPolygonObject(name, {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}}, {{0, 1, 2, 3}}),
        nullptr);
  headless::SaveScene(*doc, scene);
  std::ofstream(mesh) << "v 0 0 0\nv 1 0 0\nv 1 1 0\nf 1 2 3\n";

  const headless::ViewReading reading;
  std::vector<headless::ViewSource> sources;
  sources.push_back(headless::OpenViewSource(mesh, ViewSourceKind::kMesh, reading));
  sources.push_back(headless::OpenViewSource(scene, ViewSourceKind::kScene, reading));
  sources.push_back(headless::OpenViewSource(mesh, ViewSourceKind::kMesh, reading));
  headless::ViewPage page("groups");
  NoProgress progress;
  headless::AddViewSources(sources, reading, page, progress, {});
  const std::string data = page.Builder().Text("/*tessamire:data*/");
  std::vector<std::string> groups;
  for (size_t at = data.find("\"group\":"); at != std::string::npos;
       at = data.find("\"group\":", at + 1))
    groups.push_back(data.substr(at + 8, data.find(',', at) - at - 8));
  EXPECT_EQ(groups, (std::vector<std::string>{"0", "1", "1", "3"}));
}

}  // namespace

TEST(ViewInputs, FramesAreLabelledWholeOrWithAtMostThreeDecimals) {
  const Float none = -HUGE_VAL;
  const struct {
    Float frame, before, label;
  } cases[] = {
      {58.750001220703126, none, 58.75},  // a float32 time at 24 per second, times 24
      {47.0000016, none, 47.0},           // a whole frame's float32 slip
      {46.9996, none, 47.0},
      {1.2345678, none, 1.235},
      {12.0, 11.0, 12.0},
      // Two frames that would read the same keep the second's own value.
      {3.0004, 3.0, 3.0004},
      {2.0001, 2.0, 2.0001},
  };
  for (const auto& c : cases)
    EXPECT_EQ(headless::ViewFrameLabel(c.frame, c.before), c.label) << c.frame;
}
