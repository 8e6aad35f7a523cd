// Character files read in the reader's own process: what the parent makes of every way the reader
// can end (a signal, no answer in time, a damaged answer, a refusal), the answer read back as the
// in-process import gives it, and files that crash Assimp ending as refusals. POSIX only: the
// fake readers are shell scripts, and the Windows build has no Assimp to read with.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "headless/characters/character.h"
#include "headless/deformers/skin.h"
#include "headless/io/character_reader.h"
#include "headless/io/character_transport.h"
#include "headless/io/page.h"
#include "tests/support/temp_folder.h"

namespace {

namespace fs = std::filesystem;

#ifndef _WIN32

// The message of what `read` throws; empty when it throws nothing.
template <typename Read>
std::string Refusal(Read read) {
  try {
    read();
  } catch (const std::exception& e) {
    return e.what();
  }
  return "";
}

struct FakeReader {
  const char* what;
  const char* script;  // the reader program's body
  Float seconds;
  const char* expected;  // in the message
};

TEST(CharacterReader, EveryEndOfTheReaderIsARefusalNamingTheFile) {
  if (!headless::CharacterImportAvailable()) GTEST_SKIP() << "built without Assimp";
  const FakeReader cases[] = {
      {"a crash", "kill -SEGV $$", 0.0, "the character reader stopped on /in/hero.glb: signal 11"},
      {"a hang", "exec sleep 30", 0.3, "the character reader stopped on /in/hero.glb: no answer"},
      {"an answer of another kind", "printf 'TSMCHLST'", 0.0,
       "/in/hero.glb: the character reader's answer is damaged"},
      {"a damaged answer", "printf 'TSMCHIMP\\001\\000\\000\\000\\377\\377'", 0.0,
       "answer is damaged"},
      {"a refusal", "echo '/in/hero.glb: holds no mesh' >&2; exit 1", 0.0,
       "/in/hero.glb: holds no mesh"},
      {"an abort", "kill -ABRT $$", 0.0, "signal 6"},
      {"an unknown exit", "exit 7", 0.0, "stopped on /in/hero.glb: exit code 7"},
  };
  TempFolder folder;
  for (const FakeReader& c : cases) {
    SCOPED_TRACE(c.what);
    const fs::path program = folder.path / "reader.sh";
    std::ofstream(program) << "#!/bin/sh\n" << c.script << "\n";
    fs::permissions(program, fs::perms::owner_all);
    headless::CharacterOptions options;
    options.readerSeconds = c.seconds;
    options.readerProgram = program.string();
    EXPECT_NE(
        Refusal([&] { headless::ReadCharacterApart("/in/hero.glb", options); }).find(c.expected),
        std::string::npos);
  }
  headless::CharacterOptions absent;
  absent.readerProgram = "/nonexistent/reader";
  const std::string missing =
      Refusal([&] { headless::ListCharacterApart("/in/hero.glb", absent); });
  EXPECT_NE(
      missing.find("/in/hero.glb: the character reader /nonexistent/reader cannot be started"),
      std::string::npos)
      << missing;
}

TEST(CharacterReader, AnswersWhatTheImportInProcessGives) {
  if (!headless::CharacterImportAvailable()) GTEST_SKIP() << "built without Assimp";
  const std::string path = "/usr/share/assimp/models/X/Testwuson.X";
  if (!fs::exists(path)) GTEST_SKIP() << "assimp-testmodels is missing";
  headless::CharacterOptions options;
  options.allClips = true;
  auto direct = headless::NewDocument();
  const headless::CharacterImport expected = headless::ImportCharacter(path, *direct, options);
  const headless::ReadCharacter read = headless::ReadCharacterApart(path, options);
  const headless::CharacterImport& got = read.imported;
  ASSERT_EQ(got.meshes.size(), expected.meshes.size());
  for (size_t m = 0; m < got.meshes.size(); ++m) {
    EXPECT_EQ(got.meshes[m].object->name, expected.meshes[m].object->name);
    ASSERT_EQ(got.meshes[m].object->points.size(), expected.meshes[m].object->points.size());
    for (size_t p = 0; p < got.meshes[m].object->points.size(); ++p)
      ASSERT_EQ(got.meshes[m].object->points[p].y, expected.meshes[m].object->points[p].y);
    ASSERT_EQ(got.meshes[m].joints.size(), expected.meshes[m].joints.size());
    for (size_t j = 0; j < got.meshes[m].joints.size(); ++j)
      EXPECT_EQ(got.meshes[m].joints[j]->name, expected.meshes[m].joints[j]->name);
    EXPECT_EQ(got.meshes[m].maps.back()->weights, expected.meshes[m].maps.back()->weights);
    EXPECT_EQ(got.meshes[m].skin->up, got.meshes[m].object);
    EXPECT_EQ(got.meshes[m].fileVertices, expected.meshes[m].fileVertices);
  }
  EXPECT_EQ(got.notes, expected.notes);
  EXPECT_EQ(got.fps, expected.fps);
  EXPECT_EQ(got.frameSeconds, expected.frameSeconds);
  ASSERT_EQ(got.clips.size(), expected.clips.size());
  EXPECT_EQ(got.clips.back().lastFrame, expected.clips.back().lastFrame);
  ASSERT_NE(read.document->rig, nullptr);
  EXPECT_EQ(read.document->rig->nodes.size(), direct->rig->nodes.size());

  const headless::CharacterListing listed = headless::ListCharacterApart(path);
  const headless::CharacterListing own = headless::ListCharacter(path);
  EXPECT_EQ(listed.meshes.size(), own.meshes.size());
  EXPECT_EQ(listed.joints.size(), own.joints.size());
  ASSERT_EQ(listed.clips.size(), own.clips.size());
  EXPECT_EQ(listed.clips[1].frames, own.clips[1].frames);
  EXPECT_EQ(listed.clips[1].name, own.clips[1].name);
}

// Files of the shapes that crashed Assimp inside the program.
std::string Base64Of(const std::vector<std::uint8_t>& bytes) {
  return headless::Base64(bytes);
}

template <typename T>
void Append(std::vector<std::uint8_t>& bytes, std::initializer_list<T> values) {
  for (T v : values) {
    const size_t at = bytes.size();
    bytes.resize(at + sizeof v);
    std::memcpy(bytes.data() + at, &v, sizeof v);
  }
}

// One triangle weighed wholly by joint `joint` of skin 0, drawn by node `meshNode`, in a glTF
// whose nodes come from `nodes`; `skin` is the skin's JSON.
std::string SkinnedGltf(const std::string& nodes, const std::string& skin) {
  std::vector<std::uint8_t> data;
  Append<float>(data, {0, 0, 0, 1, 0, 0, 0, 1, 0});                  // positions
  Append<std::uint8_t>(data, {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0});  // joints
  Append<float>(data, {1, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0});         // weights
  return R"({"asset":{"version":"2.0"},"scene":0,"scenes":[{"nodes":[0]}],"nodes":[)" + nodes +
         R"(],"skins":[)" + skin +
         R"(],"meshes":[{"primitives":[{"attributes":{"POSITION":0,"JOINTS_0":1,"WEIGHTS_0":2}}]}],)"
         R"("buffers":[{"byteLength":96,"uri":"data:application/octet-stream;base64,)" +
         Base64Of(data) +
         R"("}],"bufferViews":[{"buffer":0,"byteOffset":0,"byteLength":36},)"
         R"({"buffer":0,"byteOffset":36,"byteLength":12},{"buffer":0,"byteOffset":48,"byteLength":48}],)"
         R"("accessors":[{"bufferView":0,"componentType":5126,"count":3,"type":"VEC3",)"
         R"("min":[0,0,0],"max":[1,1,0]},{"bufferView":1,"componentType":5121,"count":3,"type":"VEC4"},)"
         R"({"bufferView":2,"componentType":5126,"count":3,"type":"VEC4"}]})";
}

// Nodes 0 .. depth - 1 each the child of the one before, the last drawing the skinned mesh.
std::string DeepNodes(int depth) {
  std::string nodes;
  for (int i = 0; i + 1 < depth; ++i)
    nodes +=
        R"({"name":"n)" + std::to_string(i) + R"(","children":[)" + std::to_string(i + 1) + "]},";
  return nodes + R"({"name":"last","mesh":0,"skin":0})";
}

std::string Glb(std::string json) {
  while (json.size() % 4 != 0) json.push_back(' ');
  std::vector<std::uint8_t> bytes;
  Append<std::uint32_t>(bytes, {0x46546C67u, 2u, static_cast<std::uint32_t>(20 + json.size()),
                                static_cast<std::uint32_t>(json.size()), 0x4E4F534Au});
  return std::string(bytes.begin(), bytes.end()) + json;
}

std::string DeepCollada(int depth) {
  std::string nodes;
  for (int i = 0; i < depth; ++i) nodes += "<node id=\"n" + std::to_string(i) + "\">";
  for (int i = 0; i < depth; ++i) nodes += "</node>";
  return R"(<?xml version="1.0"?><COLLADA xmlns="http://www.collada.org/2005/11/COLLADASchema" )"
         R"(version="1.4.1"><library_visual_scenes><visual_scene id="s">)" +
         nodes +
         R"(</visual_scene></library_visual_scenes><scene><instance_visual_scene url="#s"/>)"
         R"(</scene></COLLADA>)";
}

std::string DeepX(int depth) {
  std::string text = "xof 0303txt 0032\n";
  for (int i = 0; i < depth; ++i) text += "Frame f" + std::to_string(i) + " {\n";
  for (int i = 0; i < depth; ++i) text += "}\n";
  return text;
}

struct CrashingFile {
  const char* name;
  std::string content;
  bool imports;  // a valid file: it imports; else it is refused naming the file
};

TEST(CharacterReader, FilesThatCrashedTheLibraryEndAsAnswersOrRefusals) {
  if (!headless::CharacterImportAvailable()) GTEST_SKIP() << "built without Assimp";
  const std::string bone = R"({"name":"bone"})";
  const CrashingFile cases[] = {
      // glTF makes inverse binds optional: the identity then.
      {"no_inverse_binds.gltf",
       SkinnedGltf(R"({"name":"body","mesh":0,"skin":0,"children":[1]},)" + bone,
                   R"({"joints":[1]})"),
       true},
      {"deep.glb", Glb(SkinnedGltf(DeepNodes(20000), R"({"joints":[0]})")), false},
      {"deep.dae", DeepCollada(20000), false},
      {"deep.x", DeepX(50000), false},
  };
  TempFolder folder;
  for (const CrashingFile& c : cases) {
    SCOPED_TRACE(c.name);
    folder.Write(c.name, c.content);
    const std::string path = (folder.path / c.name).string();
    if (c.imports) {
      const headless::ReadCharacter read = headless::ReadCharacterApart(path);
      ASSERT_EQ(read.imported.meshes.size(), 1u);
      ASSERT_EQ(read.imported.meshes[0].joints.size(), 1u);
      EXPECT_EQ(headless::JointRest(read.imported.meshes[0].joints[0]).off.x, 0.0);
      EXPECT_EQ(headless::JointRest(read.imported.meshes[0].joints[0]).v1.x, 1.0);
      continue;
    }
    const std::string refusal = Refusal([&] { headless::ReadCharacterApart(path); });
    EXPECT_NE(refusal.find(path), std::string::npos) << refusal;
  }
}

struct Damage {
  const char* what;
  void (*apply)(std::vector<std::uint8_t>& bytes);
  const char* expected;
};

void PutI64(std::vector<std::uint8_t>& bytes, size_t at, std::int64_t v) {
  std::memcpy(bytes.data() + at, &v, sizeof v);
}
std::int64_t I64At(const std::vector<std::uint8_t>& bytes, size_t at) {
  std::int64_t v = 0;
  std::memcpy(&v, bytes.data() + at, sizeof v);
  return v;
}

// The answer's first mesh record starts after the magic, the version and the mesh count: its
// object's index at byte 16, its skin's at 24.
TEST(CharacterReader, AnAnswerNoReaderWritesIsRefusedNamingTheFile) {
  if (!headless::CharacterImportAvailable()) GTEST_SKIP() << "built without Assimp";
  auto doc = headless::NewDocument();
  const std::string gltf = SkinnedGltf(
      R"({"name":"body","mesh":0,"skin":0,"children":[1]},{"name":"bone"})", R"({"joints":[1]})");
  const headless::CharacterImport imported =
      headless::ImportCharacterBytes(gltf, "skinned.gltf", *doc);
  const std::vector<std::uint8_t> answer = headless::CharacterImportBytes(*doc, imported);
  ASSERT_NO_THROW(headless::CharacterImportFromBytes(answer, "hero.glb"));
  const Damage damages[] = {
      {"the object is the skin", [](std::vector<std::uint8_t>& b) { PutI64(b, 16, I64At(b, 24)); },
       "is no polygon object"},
      {"the skin is the object", [](std::vector<std::uint8_t>& b) { PutI64(b, 24, I64At(b, 16)); },
       "is no skin deformer under the mesh"},
      {"an index past the nodes", [](std::vector<std::uint8_t>& b) { PutI64(b, 16, 1 << 20); },
       "node 1048576 is no polygon object"},
      {"a later version", [](std::vector<std::uint8_t>& b) { b[8] = 9; }, "version 9"},
      {"a byte short", [](std::vector<std::uint8_t>& b) { b.pop_back(); }, "the scene"},
      {"a byte more", [](std::vector<std::uint8_t>& b) { b.push_back(0); },
       "the scene's size is not what follows"},
      {"a listing's magic", [](std::vector<std::uint8_t>& b) { b[5] = 'L'; },
       "not what the character reader writes"},
  };
  for (const Damage& d : damages) {
    SCOPED_TRACE(d.what);
    std::vector<std::uint8_t> damaged = answer;
    d.apply(damaged);
    const std::string refusal =
        Refusal([&] { headless::CharacterImportFromBytes(damaged, "hero.glb"); });
    EXPECT_NE(refusal.find("hero.glb: the character reader's answer is damaged"), std::string::npos)
        << refusal;
    EXPECT_NE(refusal.find(d.expected), std::string::npos) << refusal;
  }
}

#endif

}  // namespace
