// Binary glTF out: meshes on their own vertices with their faces, materials, texture coordinates
// and normals, and every frame as a morph target keyed by an animation of the weights. Each file
// written passes the Khronos validator and reads back with Assimp as written.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "headless/characters/glb_builder.h"
#include "headless/characters/gltf.h"
#include "headless/characters/gltf_reader.h"
#include "headless/geometry/file_vertices.h"
#include "tests/support/gltf_check.h"
#include "tests/support/temp_folder.h"

namespace {

// A hexagon-topped prism corner: a quad, a pentagon and a triangle over 7 vertices on 6 points
// (point 0 split along a texture seam), in two materials and none.
std::shared_ptr<headless::FileVertices> Patch() {
  auto file = std::make_shared<headless::FileVertices>();
  file->object = "patch \"one\"\n\xC3\xA4\xFF";  // a quote, a line end, an umlaut, a stray byte
  file->mesh = "patch mesh";
  file->materials = {"skin", "cloth"};
  file->vertexPoint = {0, 1, 2, 3, 4, 5, 0};
  for (int v = 0; v < 7; ++v) file->normals.push_back({0.0, 0.0, 2.0});  // not unit: normalised
  file->uvs = {0.0f, 0.0f, 1.0f, 0.0f,  1.0f,  1.0f, 0.0f,
               1.0f, 0.5f, 0.5f, 0.25f, 0.75f, 0.9f, 0.1f};
  file->faceFirst = {0, 4, 9, 12};
  file->cornerVertex = {0, 1, 2, 3, 6, 2, 3, 4, 5, 1, 4, 5};
  file->faceMaterial = {0, 1, -1};
  return file;
}

std::vector<Vector3> PatchPoints(Float t) {
  return {{0, 0, 0}, {1, 0, t}, {1, 1, 0}, {0, 1, -t}, {0.5, 2, 0}, {2, 0.5, 3 * t}};
}

// A triangle of bare points: no normals, no texture coordinates, no material.
std::shared_ptr<headless::FileVertices> Bare() {
  auto file = std::make_shared<headless::FileVertices>();
  file->object = "bare";
  file->vertexPoint = {0, 1, 2};
  file->faceFirst = {0, 3};
  file->cornerVertex = {0, 1, 2};
  file->faceMaterial = {-1};
  return file;
}

const std::vector<Vector3> kBarePoints = {{10, 0, 0}, {11, 0, 0}, {10, 1e-3, 0}};

TEST(GlbWriter, WritesEveryFrameAsAMorphTargetThatReadsBackWithinFloatRounding) {
  TempFolder folder;
  const auto patch = Patch(), bare = Bare();
  headless::GlbWriter writer;
  const std::vector<Vector3> patchRest = headless::FileVertexPositions(*patch, PatchPoints(0.0));
  writer.AddMesh(patch, patchRest, patch->normals);
  writer.AddMesh(bare, kBarePoints, {});
  std::vector<std::vector<Vector3>> patchFrames, bareFrames;
  for (int k = 0; k < 3; ++k) {
    patchFrames.push_back(headless::FileVertexPositions(*patch, PatchPoints(0.1 * k + 1e-9)));
    bareFrames.push_back(kBarePoints);
    bareFrames.back()[2].z = 0.25 * k;
    std::vector<Vector3> normals(7, {0.0, -std::sin(0.3 * k), std::cos(0.3 * k)});
    writer.AddFrame(k / 24.0, {patchFrames.back(), bareFrames.back()}, {normals, {}});
  }
  const std::string image = writer.Image();
  EXPECT_EQ(static_cast<Int64>(image.size()), writer.Bytes());
  ASSERT_EQ(image.compare(0, 4, "glTF"), 0);
  std::uint32_t length = 0;
  std::memcpy(&length, image.data() + 8, 4);
  EXPECT_EQ(length, image.size());
  const std::filesystem::path path = folder.path / "patch.glb";
  writer.Write(path.string());
  EXPECT_EQ(ReadWholeFile(path), image);
  ExpectValidGltf(path);

#if TESSAMIRE_HAVE_ASSIMP
  Assimp::Importer importer;
  const aiScene* scene = importer.ReadFile(path.string(), 0);
  ASSERT_NE(scene, nullptr) << importer.GetErrorString();
  // Assimp makes a mesh of each primitive: the patch's three materials, then the bare triangle;
  // each holds every vertex of its mesh.
  ASSERT_EQ(scene->mNumMeshes, 4u);
  const unsigned triangles[4] = {2, 3, 1, 1};
  for (unsigned m = 0; m < 4; ++m) {
    SCOPED_TRACE("mesh " + std::to_string(m));
    const aiMesh* mesh = scene->mMeshes[m];
    const bool isPatch = m < 3;
    const std::vector<std::vector<Vector3>>& frames = isPatch ? patchFrames : bareFrames;
    ASSERT_EQ(mesh->mNumVertices, isPatch ? 7u : 3u);
    EXPECT_EQ(mesh->mNumFaces, triangles[m]);
    ASSERT_EQ(mesh->mNumAnimMeshes, 3u);
    for (unsigned k = 0; k < 3; ++k)
      for (unsigned v = 0; v < mesh->mNumVertices; ++v) {
        const Vector3& want = frames[k][v];
        const aiVector3D& got = mesh->mAnimMeshes[k]->mVertices[v];
        const Float tolerance =
            4e-7 * (1.0 + std::fabs(want.x) + std::fabs(want.y) + std::fabs(want.z));
        ASSERT_NEAR(got.x, want.x, tolerance) << k << " " << v;
        ASSERT_NEAR(got.y, want.y, tolerance) << k << " " << v;
        ASSERT_NEAR(got.z, want.z, tolerance) << k << " " << v;
      }
    EXPECT_EQ(mesh->HasNormals(), isPatch);
    EXPECT_EQ(mesh->HasTextureCoords(0), isPatch);
    if (!isPatch) continue;
    EXPECT_NEAR(mesh->mNormals[0].z, 1.0, 1e-7);  // normalised
    for (unsigned v = 0; v < 7; ++v) {
      EXPECT_NEAR(mesh->mTextureCoords[0][v].x, patch->uvs[2 * v], 1e-7);
      EXPECT_NEAR(mesh->mTextureCoords[0][v].y, patch->uvs[2 * v + 1], 1e-7);
    }
    aiString material;
    scene->mMaterials[mesh->mMaterialIndex]->Get(AI_MATKEY_NAME, material);
    if (m < 2) {
      EXPECT_EQ(std::string(material.C_Str()), patch->materials[m]);
    }
  }
  // The node's name as UTF-8 with U+FFFD for the stray byte; the weights keyed at each frame.
  const aiNode* node = scene->mRootNode->FindNode("patch \"one\"\n\xC3\xA4\xEF\xBF\xBD");
  EXPECT_NE(node, nullptr);
  ASSERT_EQ(scene->mNumAnimations, 1u);
  const aiAnimation* animation = scene->mAnimations[0];
  ASSERT_EQ(animation->mNumMorphMeshChannels, 2u);
  for (unsigned c = 0; c < 2; ++c) {
    const aiMeshMorphAnim* channel = animation->mMorphMeshChannels[c];
    ASSERT_EQ(channel->mNumKeys, 3u);
    for (unsigned k = 0; k < 3; ++k) {
      EXPECT_NEAR(channel->mKeys[k].mTime / animation->mTicksPerSecond, k / 24.0, 1e-6);
      for (unsigned t = 0; t < channel->mKeys[k].mNumValuesAndWeights; ++t)
        EXPECT_EQ(channel->mKeys[k].mWeights[t], channel->mKeys[k].mValues[t] == k ? 1.0 : 0.0);
    }
  }
#endif
}

#if TESSAMIRE_HAVE_ASSIMP
TEST(GlbReader, GivesBackTheWritersMeshesFramesAndTimes) {
  TempFolder folder;
  const auto patch = Patch(), bare = Bare();
  headless::GlbWriter writer;
  writer.AddMesh(patch, headless::FileVertexPositions(*patch, PatchPoints(0.0)), patch->normals);
  writer.AddMesh(bare, kBarePoints, {});
  std::vector<std::vector<Vector3>> patchFrames;
  for (int k = 0; k < 3; ++k) {
    patchFrames.push_back(headless::FileVertexPositions(*patch, PatchPoints(0.5 * k)));
    writer.AddFrame(1.0 + k / 24.0, {patchFrames.back(), kBarePoints}, {patch->normals, {}});
  }
  const std::string path = (folder.path / "patch.glb").string();
  writer.Write(path);
  ASSERT_TRUE(headless::IsGlbFile(path));

  const std::vector<headless::MorphedMesh> meshes = headless::ReadGlb(path);
  ASSERT_EQ(meshes.size(), 2u);
  // The patch's three primitives are one mesh again: its quad, pentagon and triangle as the
  // writer's fans of 2, 3 and 1 triangles over its 7 vertices.
  const headless::MorphedMesh& one = meshes[0];
  EXPECT_EQ(one.name, "patch \"one\"\n\xC3\xA4\xEF\xBF\xBD");
  ASSERT_EQ(one.rest.points.size(), 7u);
  EXPECT_EQ(one.rest.polygons.size(), 6u);
  for (const CPolygon& p : one.rest.polygons) EXPECT_EQ(p.c, p.d);
  ASSERT_EQ(one.frames.size(), 3u);
  for (int k = 0; k < 3; ++k) {
    EXPECT_NEAR(one.seconds[k], 1.0 + k / 24.0, 1e-6) << k;
    for (size_t v = 0; v < 7; ++v) {
      EXPECT_NEAR(one.frames[k][v].x, patchFrames[k][v].x, 1e-6) << k << " " << v;
      EXPECT_NEAR(one.frames[k][v].z, patchFrames[k][v].z, 1e-6) << k << " " << v;
    }
  }
  EXPECT_EQ(meshes[1].name, "bare");
  EXPECT_EQ(meshes[1].rest.polygons.size(), 1u);
  EXPECT_EQ(meshes[1].frames.size(), 3u);

  // A file cut short, or longer than its header says, and what is no glTF at all are refused.
  const std::string image = writer.Image();
  const auto refused = [&](const std::string& bytes, const std::string& message) {
    const std::string other = (folder.path / "other.glb").string();
    std::ofstream(other, std::ios::binary) << bytes;
    try {
      headless::ReadGlb(other);
      ADD_FAILURE() << "read " << message;
    } catch (const std::runtime_error& e) {
      EXPECT_NE(std::string(e.what()).find(message), std::string::npos) << e.what();
    }
  };
  refused(image.substr(0, image.size() - 4), "header announces");
  refused(image + "more", "header announces");
  refused("v 0 0 0\n", "not a binary glTF");
  EXPECT_FALSE(headless::IsGlbFile((folder.path / "missing.glb").string()));
}

// A binary glTF of one triangle with one morph target, keyed by `weightsPerKey` weights at each
// of two keys (0.5 s: the first weighs 1 alone; 1 s: the last does). A file may give more
// weights than targets; the reader then names targets that do not exist.
std::string GlbWithWeightKeys(std::uint32_t weightsPerKey) {
  std::string bin;
  const auto floats = [&](std::initializer_list<float> values) {
    for (float v : values) bin.append(reinterpret_cast<const char*>(&v), 4);
  };
  floats({0, 0, 0, 1, 0, 0, 0, 1, 0});  // positions
  floats({0, 0, 1, 0, 0, 1, 0, 0, 1});  // the target's offsets
  floats({0.5f, 1.0f});                 // key times
  for (std::uint32_t key = 0; key < 2; ++key)
    for (std::uint32_t w = 0; w < weightsPerKey; ++w)
      floats({(key == 0 && w == 0) || (key == 1 && w + 1 == weightsPerKey) ? 1.0f : 0.0f});
  const std::string n = std::to_string(weightsPerKey * 2);
  std::string json =
      R"({"asset":{"version":"2.0"},"buffers":[{"byteLength":)" + std::to_string(bin.size()) +
      R"(}],"bufferViews":[{"buffer":0,"byteLength":72},{"buffer":0,"byteOffset":72,)"
      R"("byteLength":8},{"buffer":0,"byteOffset":80,"byteLength":)" +
      std::to_string(bin.size() - 80) +
      R"(}],"accessors":[{"bufferView":0,"componentType":5126,"count":3,"type":"VEC3",)"
      R"("min":[0,0,0],"max":[1,1,0]},{"bufferView":0,"byteOffset":36,"componentType":5126,)"
      R"("count":3,"type":"VEC3","min":[0,0,1],"max":[0,0,1]},{"bufferView":1,)"
      R"("componentType":5126,"count":2,"type":"SCALAR","min":[0.5],"max":[1]},{"bufferView":2,)"
      R"("componentType":5126,"count":)" +
      n +
      R"(,"type":"SCALAR"}],"meshes":[{"name":"tri","primitives":[{"attributes":{"POSITION":0},)"
      R"("targets":[{"POSITION":1}]}],"weights":[0]}],"nodes":[{"name":"tri","mesh":0}],)"
      R"("scenes":[{"nodes":[0]}],"scene":0,"animations":[{"samplers":[{"input":2,"output":3}],)"
      R"("channels":[{"sampler":0,"target":{"node":0,"path":"weights"}}]}]})";
  json.append((4 - json.size() % 4) % 4, ' ');
  const auto u32 = [](std::uint32_t v) {
    return std::string(reinterpret_cast<const char*>(&v), 4);
  };
  return "glTF" + u32(2) + u32(static_cast<std::uint32_t>(28 + json.size() + bin.size())) +
         u32(static_cast<std::uint32_t>(json.size())) + "JSON" + json +
         u32(static_cast<std::uint32_t>(bin.size())) + std::string("BIN\0", 4) + bin;
}

// A weight key naming a target the mesh does not have times no frame (and writes nothing outside
// the frames' times); the key of a target it has times its frame.
TEST(GlbReader, WeightKeysOfTargetsBeyondTheMeshAreIgnored) {
  TempFolder folder;
  for (const std::uint32_t weights : {1u, 2u, 1u << 16}) {
    SCOPED_TRACE(weights);
    const std::string path = (folder.path / "keys.glb").string();
    std::ofstream(path, std::ios::binary) << GlbWithWeightKeys(weights);
    const std::vector<headless::MorphedMesh> meshes = headless::ReadGlb(path);
    ASSERT_EQ(meshes.size(), 1u);
    ASSERT_EQ(meshes[0].frames.size(), 1u);
    ASSERT_EQ(meshes[0].seconds.size(), 1u);
    EXPECT_DOUBLE_EQ(meshes[0].seconds[0], 0.5);
    EXPECT_DOUBLE_EQ(meshes[0].frames[0][2].z, 1.0);
  }
}
#endif

// Each morph target's positions carry their own bounds, as readers size and cull by them: the
// offsets' least and greatest per axis, whether all above 0 (z), all below it (y) or across it (x).
TEST(GlbWriter, EachTargetsBoundsAreItsOffsetsLeastAndGreatest) {
  const std::vector<Vector3> rest = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}};
  headless::GlbWriter writer;
  writer.AddMesh(Bare(), rest, {});
  for (int k = 0; k < 3; ++k) {
    std::vector<Vector3> frame = rest;
    const double s = k + 1;
    for (int v = 0; v < 3; ++v) {
      frame[v].x += 0.5 * (v - 1) * s;
      frame[v].y -= 0.25 * (v + 1) * s;
      frame[v].z += 0.125 * (v + 1) * s;
    }
    writer.AddFrame(k / 24.0, {frame}, {{}});
  }
  const std::string image = writer.Image();
  for (int k = 0; k < 3; ++k) {
    const float s = static_cast<float>(k + 1);
    const auto n = [](float v) { return headless::GlbNumber(v); };
    const std::string bounds = "\"min\":[" + n(-0.5f * s) + "," + n(-0.75f * s) + "," +
                               n(0.125f * s) + "],\"max\":[" + n(0.5f * s) + "," + n(-0.25f * s) +
                               "," + n(0.375f * s) + "]";
    EXPECT_NE(image.find(bounds), std::string::npos) << "target " << k << ": " << bounds;
  }
}

TEST(GlbWriter, AFileWithoutFramesHoldsTheRestMeshAlone) {
  TempFolder folder;
  headless::GlbWriter writer;
  writer.AddMesh(Bare(), kBarePoints, {});
  const std::filesystem::path path = folder.path / "still.glb";
  writer.Write(path.string());
  ExpectValidGltf(path);
  EXPECT_EQ(writer.Image().find("animations"), std::string::npos);
}

TEST(GlbWriter, RefusesFramesOutOfOrderAndCountsThatDisagree) {
  headless::GlbWriter writer;
  const auto bare = Bare();
  EXPECT_THROW(writer.AddMesh(bare, {kBarePoints.data(), 2}, {}), std::invalid_argument);
  auto empty = std::make_shared<headless::FileVertices>();
  EXPECT_THROW(writer.AddMesh(empty, {}, {}), std::invalid_argument);
  writer.AddMesh(bare, kBarePoints, {});
  EXPECT_THROW(writer.AddFrame(-0.1, {kBarePoints}, {{}}), std::invalid_argument);
  EXPECT_THROW(writer.AddFrame(std::numeric_limits<Float>::quiet_NaN(), {kBarePoints}, {{}}),
               std::invalid_argument);
  EXPECT_THROW(writer.AddFrame(0.0, {{kBarePoints.data(), 1}}, {{}}), std::invalid_argument);
  EXPECT_THROW(writer.AddFrame(0.0, {}, {}), std::invalid_argument);
  writer.AddFrame(0.5, {kBarePoints}, {{}});
  EXPECT_THROW(writer.AddFrame(0.5, {kBarePoints}, {{}}), std::invalid_argument);
  // Beyond float32: refused, and the frames so far stay as they were.
  const std::string before = writer.Image();
  std::vector<Vector3> far = kBarePoints;
  far[1].y = 1e39;
  EXPECT_THROW(writer.AddFrame(1.0, {far}, {{}}), std::invalid_argument);
  EXPECT_EQ(writer.Image(), before);
  EXPECT_THROW(writer.AddMesh(bare, kBarePoints, {}), std::invalid_argument);
  EXPECT_EQ(writer.FrameCount(), 1);
}

}  // namespace
