// A character's pictures come from its asset root's tree only: relative names from it, absolute
// ones elsewhere by their file name in it; a picture above the root, through a link out of it, or
// that is no regular file is left out with a note naming it.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#ifndef _WIN32
#include <sys/stat.h>
#endif

#include "headless/characters/glb_scene.h"
#include "headless/files/asset_root.h"
#include "headless/io/png.h"
#include "tests/support/temp_folder.h"

namespace {

namespace fs = std::filesystem;

TEST(AssetRoot, PicturesComeFromTheRootsTreeOnly) {
  TempFolder folder;
  const fs::path root = folder.path / "root";
  fs::create_directories(root / "sub");
  fs::create_directories(root / "other");
  const headless::Image picture{2, 2, std::vector<std::uint8_t>(12, 90)};
  headless::WritePng((root / "sub" / "a.png").string(), picture);
  headless::WritePng((root / "other" / "c.png").string(), picture);
  headless::WritePng((folder.path / "b.png").string(), picture);
  struct Case {
    std::string texture;
    bool found;
    std::string note;  // part of the note when not found
  };
  std::vector<Case> cases = {
      {"sub/a.png", true, ""},
      {"sub/../sub/a.png", true, ""},
      {(root / "sub" / "a.png").string(), true, ""},
      // An exporter's absolute path from another machine: found by its name in the tree.
      {"/home/artist/textures/c.png", true, ""},
      {"../b.png", false, "../b.png lies outside the asset root"},
      {(folder.path / "b.png").string(), false, "no file of its name is in it"},
      {"sub", false, "sub is not a regular file"},
      {"none.png", false, "none.png does not exist"},
  };
#ifndef _WIN32
  fs::create_symlink(folder.path / "b.png", root / "link.png");
  ASSERT_EQ(mkfifo((root / "pipe.png").c_str(), 0600), 0);
  cases.push_back({"link.png", false, "link.png lies outside the asset root"});
  cases.push_back({"pipe.png", false, "pipe.png is not a regular file"});
#endif
  headless::Rig rig;
  for (const Case& c : cases) rig.materials.push_back({c.texture, {}, false, 0.0, 1.0, c.texture});
  std::vector<std::string> notes;
  const auto pictures = headless::LoadPictures(rig, root.string(), notes);
  ASSERT_EQ(pictures.size(), cases.size());
  size_t note = 0;
  for (size_t k = 0; k < cases.size(); ++k) {
    SCOPED_TRACE(cases[k].texture);
    EXPECT_EQ(pictures[k].has_value(), cases[k].found);
    if (cases[k].found) continue;
    ASSERT_LT(note, notes.size());
    EXPECT_NE(notes[note].find(cases[k].note), std::string::npos) << notes[note];
    ++note;
  }
  EXPECT_EQ(note, notes.size());
}

// The root itself: the file's own folder unless one is given, which must be a folder.
TEST(AssetRoot, TheRootIsTheFilesFolderOrTheOneGiven) {
  TempFolder folder;
  folder.Write("chars/x.gltf", "{}");
  const std::string file = (folder.path / "chars" / "x.gltf").string();
  std::string why;
  const headless::AssetRoot own = headless::AssetRootFor(file, "");
  EXPECT_EQ(fs::path(own.folder), fs::canonical(folder.path / "chars"));
  folder.Write("up.bin", "1234");
  EXPECT_FALSE(headless::FileInRoot(own, "../up.bin", why));
  EXPECT_NE(why.find("lies outside the asset root"), std::string::npos) << why;
  const headless::AssetRoot wider = headless::AssetRootFor(file, folder.path.string());
  EXPECT_TRUE(headless::FileInRoot(wider, "../up.bin", why)) << why;
  // The file itself is taken whatever the root.
  const headless::AssetRoot elsewhere =
      headless::AssetRootFor(file, (folder.path / "chars").string());
  EXPECT_TRUE(headless::FileInRoot(elsewhere, "x.gltf", why)) << why;
  EXPECT_THROW(headless::AssetRootFor(file, (folder.path / "up.bin").string()), std::runtime_error);
  // Bytes in memory reach no file without a root.
  EXPECT_FALSE(headless::FileInRoot(headless::AssetRootForBytes(""), file, why));
}

}  // namespace
