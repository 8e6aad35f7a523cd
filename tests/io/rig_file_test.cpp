// A character's rig in a scene file (version 4): saved and loaded whole; every field no writer
// could use refused naming it, the caller's document untouched; files of versions 1 to 3 load
// without a rig.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "headless/files/checksum.h"
#include "headless/io/scene_file.h"

namespace {

using headless::Rig;

// Two nodes, a material, a skinned mesh of three vertices and a clip of two channels.
Rig SmallRig() {
  Rig rig;
  rig.materials.push_back({"skin", {0.8, 0.6, 0.5, 1.0}, true, 0.1, 0.7, "skin.png"});
  rig.meshObjects = {"body"};
  rig.meshMaterials = {0};
  Matrix moved;
  moved.off = {0.0, 1.5, 0.0};
  rig.nodes = {{"root", -1, Matrix(), -1}, {"hip", 0, moved, -1}, {"body", 0, Matrix(), 0}};
  headless::RigSkin skin;
  skin.mesh = 0;
  skin.joints = {0, 1};
  skin.inverseBinds = {Matrix(), moved};
  skin.first = {0, 1, 3, 3};  // the last vertex weighs nothing, as a file may have it
  skin.joint = {0, 0, 1};
  skin.weight = {1.0f, 0.25f, 0.75f};
  rig.skins.push_back(skin);
  headless::RigClip clip{"walk", {}, 0, 24};
  clip.channels.push_back({1, headless::RigPath::kTranslation, {0.0, 0.5}, {0, 1, 0, 0, 2, 0}});
  clip.channels.push_back({1, headless::RigPath::kRotation, {0.0}, {0, 0, 0, 1}});
  rig.clips.push_back(clip);
  rig.notes = {"mesh 'eyes': its 2 morph targets ('blink', 'wide') are skipped"};
  return rig;
}

std::unique_ptr<headless::Document> WithRig(Rig rig) {
  auto doc = headless::NewDocument();
  doc->AddPolygonObject("body", {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}}, {{0, 1, 2, 2}});
  doc->rig = std::make_shared<const Rig>(std::move(rig));
  return doc;
}

TEST(RigFile, ARigIsSavedAndLoadedWhole) {
  const auto doc = WithRig(SmallRig());
  const std::vector<std::uint8_t> image = headless::SerializeDocument(*doc);
  headless::SceneFileInfo info;
  const auto loaded = headless::DeserializeDocument(image, "rig.tsm", &info);
  EXPECT_EQ(info.version, headless::kSceneFormatWithRig);
  ASSERT_NE(loaded->rig, nullptr);
  const Rig& a = *doc->rig;
  const Rig& b = *loaded->rig;
  ASSERT_EQ(b.nodes.size(), 3u);
  EXPECT_EQ(b.nodes[1].name, "hip");
  EXPECT_EQ(b.nodes[1].local.off.y, 1.5);
  EXPECT_EQ(b.nodes[2].mesh, 0);
  EXPECT_EQ(b.materials[0].texture, "skin.png");
  EXPECT_EQ(b.materials[0].baseColour, a.materials[0].baseColour);
  EXPECT_TRUE(b.materials[0].metallicGiven);
  EXPECT_EQ(b.skins[0].first, a.skins[0].first);
  EXPECT_EQ(b.skins[0].weight, a.skins[0].weight);
  EXPECT_EQ(b.clips[0].channels[0].values, a.clips[0].channels[0].values);
  EXPECT_EQ(b.clips[0].lastFrame, 24);
  EXPECT_EQ(b.notes, a.notes);
  EXPECT_EQ(b.meshObjects, a.meshObjects);
  EXPECT_EQ(b.meshMaterials, a.meshMaterials);
  EXPECT_EQ(headless::SerializeDocument(*loaded), image);
  // A document without a rig loads without one.
  EXPECT_EQ(headless::DeserializeDocument(headless::SerializeDocument(*headless::NewDocument()),
                                          "plain.tsm")
                ->rig,
            nullptr);
}

// Each damage to a sound rig, and what the refusal names.
struct Damage {
  const char* says;
  std::function<void(Rig&)> damage;
};

TEST(RigFile, ARigNoWriterCouldUseIsRefusedNamingTheFault) {
  const Float nan = std::numeric_limits<Float>::quiet_NaN();
  const std::vector<Damage> damages = {
      {"node 1 'hip': its parent 1 is outside", [](Rig& r) { r.nodes[1].parent = 1; }},
      {"node 2 'body': its mesh 1 is outside", [](Rig& r) { r.nodes[2].mesh = 1; }},
      {"node 1 'hip': its transform is not a finite", [=](Rig& r) { r.nodes[1].local.v2.z = nan; }},
      {"mesh 0's material 3 is outside", [](Rig& r) { r.meshMaterials[0] = 3; }},
      {"material 'skin': its colour is not a finite",
       [=](Rig& r) { r.materials[0].baseColour[3] = nan; }},
      {"skin 0: its mesh 2 is outside", [](Rig& r) { r.skins[0].mesh = 2; }},
      {"skin 0: joint node 7 is outside", [](Rig& r) { r.skins[0].joints[1] = 7; }},
      {"skin 0: vertex 1's joint 2 is outside", [](Rig& r) { r.skins[0].joint[2] = 2; }},
      {"skin 0: vertex 0's weight is not a finite",
       [](Rig& r) { r.skins[0].weight[0] = std::numeric_limits<Float32>::infinity(); }},
      {"skin 1: mesh 0 has a skin already", [](Rig& r) { r.skins.push_back(r.skins[0]); }},
      {"clip 'walk': its key times do not increase",
       [](Rig& r) {
         r.clips[0].channels[0].times = {0.5, 0.5};
       }},
      {"clip 'walk': a key's value is not a finite",
       [=](Rig& r) { r.clips[0].channels[1].values[3] = nan; }},
      {"clip 'walk': a channel's node 9 is outside",
       [](Rig& r) { r.clips[0].channels[0].node = 9; }},
      {"clip 'walk': a channel's path 5 is none known",
       [](Rig& r) { r.clips[0].channels[0].path = static_cast<headless::RigPath>(5); }},
      {"clip 'walk': a channel has no keys",
       [](Rig& r) { r.clips[0].channels[1].times.clear(), r.clips[0].channels[1].values.clear(); }},
      {"clip 'walk' ends at frame -1, before it starts at 0",
       [](Rig& r) { r.clips[0].lastFrame = -1; }},
      {"lies deeper than 1000 levels",
       [](Rig& r) {
         for (Int32 n = 0; n < headless::kMaxRigDepth; ++n)
           r.nodes.push_back({"bone", static_cast<Int32>(r.nodes.size()) - 1, Matrix(), -1});
       }},
  };
  for (const Damage& d : damages) {
    SCOPED_TRACE(d.says);
    Rig rig = SmallRig();
    d.damage(rig);
    const std::vector<std::uint8_t> image = headless::SerializeDocument(*WithRig(std::move(rig)));
    try {
      headless::DeserializeDocument(image, "damaged.tsm");
      ADD_FAILURE() << "loaded";
    } catch (const std::runtime_error& e) {
      EXPECT_NE(std::string(e.what()).find(d.says), std::string::npos) << e.what();
      EXPECT_NE(std::string(e.what()).find("damaged.tsm"), std::string::npos) << e.what();
    }
  }
}

// A file of version 3 (the same content without the rig's byte) loads, without a rig.
TEST(RigFile, FilesOfVersionThreeLoadWithoutARig) {
  auto doc = headless::NewDocument();
  doc->AddPolygonObject("body", {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}}, {{0, 1, 2, 2}});
  doc->SetFrameRate(24.0);
  std::vector<std::uint8_t> image = headless::SerializeDocument(*doc);
  // Header (magic, version, size), content ending with the rig's absent byte, check value.
  image.erase(image.end() - 9, image.end());
  image[8] = 3;
  std::uint64_t size = image.size() - 20;
  for (int k = 0; k < 8; ++k) image[12 + k] = static_cast<std::uint8_t>(size >> (8 * k));
  const std::uint64_t check = headless::Fnv1a64(image.data(), image.size());
  for (int k = 0; k < 8; ++k) image.push_back(static_cast<std::uint8_t>(check >> (8 * k)));
  headless::SceneFileInfo info;
  const auto loaded = headless::DeserializeDocument(image, "v3.tsm", &info);
  EXPECT_EQ(info.version, 3u);
  EXPECT_EQ(loaded->rig, nullptr);
  EXPECT_EQ(loaded->FrameRate(), 24.0);
  EXPECT_EQ(loaded->Objects().size(), 1u);
}

}  // namespace
