// The product's glTF player on a hand-made skinned triangle whose placements are worked out by
// hand (a joint moved by its animation, a half-and-half vertex, a morph target keyed in), and on
// broken copies of it, each refused naming its fault.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

#include "headless/characters/gltf_skin_player.h"

#if TESSAMIRE_HAVE_JSON_READER
namespace {

void Put(std::string& bytes, const void* data, size_t size) {
  bytes.append(static_cast<const char*>(data), size);
}

void Put32(std::string& bytes, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) bytes.push_back(static_cast<char>(v >> (8 * i) & 0xFF));
}

// The binary chunk: positions 0, joints 36, weights 48, inverse binds 96, key times 224, joint
// translations 232, weights' values 256, target 264.
std::string Bin() {
  std::string bin;
  const float positions[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};
  const std::uint8_t joints[12] = {0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0};
  const float weights[12] = {1, 0, 0, 0, 1, 0, 0, 0, 0.5f, 0.5f, 0, 0};
  const float binds[32] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0,  0, 1,
                           1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, -1, 0, 1};
  const float times[2] = {0, 1};
  const float moves[6] = {0, 1, 0, 0, 3, 0};
  const float morph[2] = {0, 1};
  const float target[9] = {0, 0, 0, 0, 0, 0, 0, 0, 1};
  Put(bin, positions, 36);
  Put(bin, joints, 12);
  Put(bin, weights, 48);
  Put(bin, binds, 128);
  Put(bin, times, 8);
  Put(bin, moves, 24);
  Put(bin, morph, 8);
  Put(bin, target, 36);
  return bin;
}

const char* const kJson = R"({"asset":{"version":"2.0"},
"buffers":[{"byteLength":300}],
"bufferViews":[{"buffer":0,"byteOffset":0,"byteLength":36},{"buffer":0,"byteOffset":36,"byteLength":12},
 {"buffer":0,"byteOffset":48,"byteLength":48},{"buffer":0,"byteOffset":96,"byteLength":128},
 {"buffer":0,"byteOffset":224,"byteLength":8},{"buffer":0,"byteOffset":232,"byteLength":24},
 {"buffer":0,"byteOffset":256,"byteLength":8},{"buffer":0,"byteOffset":264,"byteLength":36}],
"accessors":[{"bufferView":0,"componentType":5126,"count":3,"type":"VEC3"},
 {"bufferView":1,"componentType":5121,"count":3,"type":"VEC4"},
 {"bufferView":2,"componentType":5126,"count":3,"type":"VEC4"},
 {"bufferView":3,"componentType":5126,"count":2,"type":"MAT4"},
 {"bufferView":4,"componentType":5126,"count":2,"type":"SCALAR"},
 {"bufferView":5,"componentType":5126,"count":2,"type":"VEC3"},
 {"bufferView":6,"componentType":5126,"count":2,"type":"SCALAR"},
 {"bufferView":7,"componentType":5126,"count":3,"type":"VEC3"}],
"meshes":[{"primitives":[{"attributes":{"POSITION":0,"JOINTS_0":1,"WEIGHTS_0":2},
 "targets":[{"POSITION":7}]}],"weights":[0]}],
"skins":[{"joints":[1,2],"inverseBindMatrices":3}],
"nodes":[{"name":"body","mesh":0,"skin":0},{"children":[2]},{"translation":[0,1,0]}],
"animations":[{"channels":[{"sampler":0,"target":{"node":2,"path":"translation"}},
 {"sampler":1,"target":{"node":0,"path":"weights"}}],
 "samplers":[{"input":4,"output":5},{"input":4,"output":6}]}]})";

std::string Glb(std::string json, const std::string& bin) {
  while (json.size() % 4) json += ' ';
  std::string glb = "glTF";
  Put32(glb, 2);
  Put32(glb, static_cast<std::uint32_t>(12 + 8 + json.size() + 8 + bin.size()));
  Put32(glb, static_cast<std::uint32_t>(json.size()));
  Put32(glb, 0x4E4F534A);
  glb += json;
  Put32(glb, static_cast<std::uint32_t>(bin.size()));
  Put32(glb, 0x004E4942);
  return glb + bin;
}

std::string Replaced(std::string text, const std::string& from, const std::string& to) {
  const size_t at = text.find(from);
  EXPECT_NE(at, std::string::npos) << from;
  return at == std::string::npos ? text : text.replace(at, from.size(), to);
}

TEST(GltfSkinPlayer, PlacesSkinnedVerticesWithTheirTargetsAtAnyTimeOfTheAnimation) {
  const auto document = headless::ParseGlbDocument(Glb(kJson, Bin()));
  const std::vector<headless::GlbKey> keys = headless::GlbNodeKeys(*document, 0);
  ASSERT_EQ(keys.size(), 2u);
  EXPECT_EQ(keys[1].seconds, 1.0);
  const struct {
    Int64 animation;
    Float seconds;
    Vector3 want[3];
  } cases[] = {
      {-1, 0.0, {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}}},     // at bind, no target
      {0, 1.0, {{1, 0, 0}, {0, 3, 0}, {0, 1, 2}}},      // joint 2 up by 2, target whole
      {0, 0.5, {{1, 0, 0}, {0, 2, 0}, {0, 0.5, 1.5}}},  // halfway
      {0, 7.0, {{1, 0, 0}, {0, 3, 0}, {0, 1, 2}}},      // clamped past the last key
  };
  for (const auto& c : cases) {
    const std::vector<headless::PlayedGlbMesh> played =
        headless::PlayGlb(*document, c.animation, c.seconds);
    ASSERT_EQ(played.size(), 1u);
    EXPECT_EQ(played[0].name, "body");
    ASSERT_EQ(played[0].positions.size(), 3u);
    for (int v = 0; v < 3; ++v) {
      EXPECT_NEAR(played[0].positions[v].x, c.want[v].x, 1e-12) << c.seconds << " vertex " << v;
      EXPECT_NEAR(played[0].positions[v].y, c.want[v].y, 1e-12) << c.seconds << " vertex " << v;
      EXPECT_NEAR(played[0].positions[v].z, c.want[v].z, 1e-12) << c.seconds << " vertex " << v;
    }
  }
  const std::vector<CPolygon> faces =
      headless::GlbMeshFaces(*document, headless::PlayGlb(*document, -1, 0.0)[0]);
  ASSERT_EQ(faces.size(), 1u);
  EXPECT_TRUE(faces[0].a == 0 && faces[0].b == 1 && faces[0].c == 2 && faces[0].d == 2);
}

TEST(GltfSkinPlayer, RefusesBrokenFilesNamingTheFault) {
  const struct {
    const char* fault;
    std::string json;
    const char* message;
  } cases[] = {
      {"accessor past its view",
       Replaced(kJson, R"("count":3,"type":"VEC3"},
 {"bufferView":1)",
                R"("count":4,"type":"VEC3"},
 {"bufferView":1)"),
       "accessor 0 reaches past its buffer view"},
      {"joint past the skin", Replaced(kJson, R"("joints":[1,2])", R"("joints":[1])"),
       "names joint 1 of a skin of 1"},
      {"children in a loop",
       Replaced(kJson, R"({"translation":[0,1,0]})", R"({"translation":[0,1,0],"children":[1]})"),
       "loop"},
      {"a required extension",
       Replaced(kJson, R"({"asset")",
                R"({"extensionsRequired":["EXT_meshopt_compression"],"asset")"),
       "EXT_meshopt_compression"},
      {"a buffer in another file",
       Replaced(kJson, R"({"byteLength":300})", R"({"byteLength":300,"uri":"other.bin"})"),
       "outside the file's binary chunk"},
      {"a node past the nodes", Replaced(kJson, R"("node":2,"path")", R"("node":9,"path")"),
       "nodes 9 is named"},
  };
  for (const auto& c : cases) {
    try {
      const auto document = headless::ParseGlbDocument(Glb(c.json, Bin()));
      headless::PlayGlb(*document, 0, 0.5);
      ADD_FAILURE() << c.fault << " was played";
    } catch (const std::runtime_error& e) {
      EXPECT_NE(std::string(e.what()).find(c.message), std::string::npos)
          << c.fault << ": " << e.what();
    }
  }
}

}  // namespace
#endif
