// Rigged characters made by others (Assimp's test models): each imports with joints, weights and
// keys; its bind pose gives back the file's mesh; and at several frames the host's skinning of
// the imported scene agrees with skinning worked out here from Assimp's own data, in Assimp's own
// float arithmetic (keys interpolated, node hierarchy walked, weights normalised as the
// importer's note says).
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <tuple>

#include "headless/characters/character.h"
#include "headless/deformers/skin.h"
#include "headless/scene/deform.h"
#include "headless/scene/evaluate.h"

#if TESSAMIRE_HAVE_ASSIMP
#include <assimp/postprocess.h>
#include <assimp/scene.h>
#include <assimp/Importer.hpp>

#include "tests/support/assimp_skinning.h"
#endif

namespace {

namespace fs = std::filesystem;

const char* const kModels = "/usr/share/assimp/models/";

struct Character {
  const char* file;
  size_t joints;
  Float fps;
  Int32 lastFrame;
};

class CharacterTest : public ::testing::TestWithParam<Character> {
 protected:
  void SetUp() override {
    if (!headless::CharacterImportAvailable())
      GTEST_SKIP() << "built without Assimp: characters cannot be imported";
    path = std::string(kModels) + GetParam().file;
    if (!fs::exists(path)) GTEST_SKIP() << path << " is missing (package assimp-testmodels)";
    doc = headless::NewDocument();
  }

  std::string path;
  std::unique_ptr<headless::Document> doc;
};

Float MaxDistance(const std::vector<Vector3>& a, const std::vector<Vector3>& b) {
  Float worst = 0.0;
  for (size_t i = 0; i < a.size(); ++i)
    worst = std::max(worst, std::hypot(a[i].x - b[i].x, a[i].y - b[i].y, a[i].z - b[i].z));
  return worst;
}

TEST_P(CharacterTest, ImportsJointsWeightsAndKeysAndGivesTheMeshBackAtTheBindPose) {
  const headless::CharacterImport imported = headless::ImportCharacter(path, *doc);
  ASSERT_EQ(imported.meshes.size(), 1u);
  const headless::ImportedMesh& mesh = imported.meshes[0];
  EXPECT_EQ(mesh.joints.size(), GetParam().joints);
  EXPECT_EQ(mesh.maps.size(), mesh.joints.size());
  EXPECT_EQ(imported.fps, GetParam().fps);
  EXPECT_EQ(doc->FrameRate(), GetParam().fps);
  EXPECT_EQ(imported.lastFrame, GetParam().lastFrame);
  EXPECT_EQ(imported.clip, 0);
  ASSERT_NE(mesh.object, nullptr);
  EXPECT_EQ(mesh.skin->up, mesh.object);
  // Welded: no two points share a position, and every file vertex maps onto its own position.
  EXPECT_LE(mesh.object->points.size(), static_cast<size_t>(mesh.fileVertices));
  ASSERT_NE(mesh.object->fileVertices, nullptr);
  const headless::FileVertices& file = *mesh.object->fileVertices;
  ASSERT_EQ(file.VertexCount(), mesh.fileVertices);
  EXPECT_NO_THROW(
      headless::CheckFileVertices(file, static_cast<Int64>(mesh.object->points.size())));
  // Every point's weights sum to 1.
  for (size_t p = 0; p < mesh.object->points.size(); ++p) {
    Float sum = 0.0;
    for (const headless::Node* map : mesh.maps) sum += map->weights[p];
    ASSERT_NEAR(sum, 1.0, 1e-6) << p;
  }
  // The bind pose (every joint at its rest transform) gives back the file's mesh.
  const headless::DeformReport report = headless::EvaluateDocument(*doc);
  ASSERT_TRUE(report.Ok()) << report.errors.front();
  EXPECT_LT(MaxDistance(headless::DeformedPoints(mesh.object), mesh.object->points),
            1e-6 * mesh.size);
  EXPECT_GT(mesh.size, 0.0);
  // Keys at every frame of the animation.
  for (const headless::Node* joint : mesh.joints) {
    const headless::JointKeys keys = headless::ReadJointKeys(joint);
    if (keys.kind == headless::JointKeyKind::kNone) continue;
    ASSERT_EQ(keys.transforms.size(), static_cast<size_t>(GetParam().lastFrame) + 1);
    EXPECT_EQ(keys.transforms.back().frame, GetParam().lastFrame);
  }
}

TEST_P(CharacterTest, FramesAgreeWithSkinningFromAssimpsOwnData) {
#if TESSAMIRE_HAVE_ASSIMP
  const headless::CharacterImport imported = headless::ImportCharacter(path, *doc);
  const headless::ImportedMesh& mesh = imported.meshes[0];
  const assimp_skinning::AssimpSkinning reference(path);
  ASSERT_NE(reference.Scene(), nullptr);
  const Int32 last = imported.lastFrame;
  Float moved = 0.0;
  for (const Int32 frame : {0, last / 3, last / 2 + 1, last}) {
    SCOPED_TRACE("frame " + std::to_string(frame));
    const headless::DeformReport report =
        headless::EvaluateDocumentAtFrame(*doc, static_cast<Float>(frame));
    ASSERT_TRUE(report.Ok()) << report.errors.front();
    const std::vector<Vector3>& points = headless::DeformedPoints(mesh.object);
    const std::vector<aiVector3D> expected = reference.At(frame, imported.fps);
    Float worst = 0.0;
    for (size_t v = 0; v < expected.size(); ++v) {
      const Vector3& p = points[static_cast<size_t>(mesh.object->fileVertices->vertexPoint[v])];
      worst = std::max(worst,
                       std::hypot(p.x - expected[v].x, p.y - expected[v].y, p.z - expected[v].z));
    }
    EXPECT_LT(worst, 1e-4 * mesh.size);  // float arithmetic on Assimp's side
    moved = std::max(moved, MaxDistance(points, mesh.object->points));
  }
  EXPECT_GT(moved, 0.05 * mesh.size) << "the animation moves the mesh";
#else
  GTEST_SKIP() << "built without Assimp";
#endif
}

// The object keeps the file's own vertices as Assimp delivers them: their count and order, each
// on the point at its position, their normals, texture coordinates and faces, the material's and
// the mesh's and its node's names.
TEST_P(CharacterTest, KeepsTheFilesOwnVerticesAsAssimpDeliversThem) {
#if TESSAMIRE_HAVE_ASSIMP
  const headless::CharacterImport imported = headless::ImportCharacter(path, *doc);
  const headless::Node* object = imported.meshes[0].object;
  ASSERT_NE(object->fileVertices, nullptr);
  const headless::FileVertices& file = *object->fileVertices;
  Assimp::Importer importer;
  const aiScene* scene = importer.ReadFile(path, assimp_skinning::ImportSteps(path));
  ASSERT_NE(scene, nullptr);
  const aiMesh* mesh = scene->mMeshes[0];
  ASSERT_EQ(file.VertexCount(), static_cast<Int64>(mesh->mNumVertices));
  for (unsigned v = 0; v < mesh->mNumVertices; ++v) {
    const Vector3& p = object->points[static_cast<size_t>(file.vertexPoint[v])];
    ASSERT_EQ(static_cast<float>(p.x), mesh->mVertices[v].x) << v;
    ASSERT_EQ(static_cast<float>(p.y), mesh->mVertices[v].y) << v;
    ASSERT_EQ(static_cast<float>(p.z), mesh->mVertices[v].z) << v;
  }
  ASSERT_EQ(file.normals.empty(), !mesh->HasNormals());
  for (size_t v = 0; v < file.normals.size(); ++v)
    ASSERT_EQ(static_cast<float>(file.normals[v].y), mesh->mNormals[v].y) << v;
  ASSERT_EQ(file.uvs.empty(), !mesh->HasTextureCoords(0));
  for (size_t v = 0; 2 * v < file.uvs.size(); ++v) {
    ASSERT_EQ(file.uvs[2 * v], mesh->mTextureCoords[0][v].x) << v;
    ASSERT_EQ(file.uvs[2 * v + 1], mesh->mTextureCoords[0][v].y) << v;
  }
  ASSERT_EQ(file.FaceCount(), static_cast<Int64>(mesh->mNumFaces));
  for (unsigned f = 0; f < mesh->mNumFaces; ++f) {
    ASSERT_EQ(file.faceFirst[f + 1] - file.faceFirst[f], mesh->mFaces[f].mNumIndices);
    for (unsigned k = 0; k < mesh->mFaces[f].mNumIndices; ++k)
      ASSERT_EQ(file.cornerVertex[file.faceFirst[f] + k], Int32(mesh->mFaces[f].mIndices[k]));
  }
  EXPECT_EQ(file.mesh, mesh->mName.C_Str());
  aiString material;
  scene->mMaterials[mesh->mMaterialIndex]->Get(AI_MATKEY_NAME, material);
  // An unnamed material keeps a name of its index, so that faces still name it.
  EXPECT_EQ(file.materials,
            std::vector<std::string>{material.length > 0
                                         ? std::string(material.C_Str())
                                         : "material-" + std::to_string(mesh->mMaterialIndex)});
  EXPECT_FALSE(file.object.empty());
#else
  GTEST_SKIP() << "built without Assimp";
#endif
}

INSTANTIATE_TEST_SUITE_P(
    AssimpTestModels, CharacterTest,
    ::testing::Values(Character{"FBX/animation_with_skeleton.fbx", 14, 24.0, 20},
                      Character{"X/anim_test.x", 4, 24.0, 24},
                      Character{"glTF2/simple_skin/simple_skin.gltf", 2, 30.0, 165}),
    [](const ::testing::TestParamInfo<Character>& info) {
      const std::string file = fs::path(info.param.file).stem().string();
      std::string name;
      for (char c : file) name += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
      return name;
    });

// A file of three animations: each is listed with its length at the rate it is sampled at, and
// any one is imported by name or index, keyed over its own frames.
TEST(CharacterImport, AnyAnimationIsListedAndImportedByNameOrIndex) {
  if (!headless::CharacterImportAvailable()) GTEST_SKIP() << "built without Assimp";
  const std::string wuson = std::string(kModels) + "X/Testwuson.X";
  if (!fs::exists(wuson)) GTEST_SKIP() << "assimp-testmodels is missing";
  const headless::CharacterListing listing = headless::ListCharacter(wuson);
  ASSERT_EQ(listing.clips.size(), 3u);
  EXPECT_EQ(listing.clips[1].name, "Wuson_Walk");
  // 17280 ticks at 4800 per second, keys 1/30 s apart: frames 0 to 108.
  EXPECT_EQ(listing.clips[1].frames, 109);
  EXPECT_TRUE(listing.clips[1].keyRate);
  EXPECT_TRUE(listing.clips[1].moves);
  EXPECT_FALSE(listing.clips[2].moves);
  EXPECT_EQ(headless::ListCharacter(wuson, {.fps = 60.0, .clip = ""}).clips[1].frames, 217);

  for (const auto& [clip, index, lastFrame] :
       {std::tuple{"Wuson_Walk", 1, 108}, std::tuple{"wuson_bind", 2, 0}, std::tuple{"0", 0, 29}}) {
    SCOPED_TRACE(clip);
    auto doc = headless::NewDocument();
    const headless::CharacterImport imported =
        headless::ImportCharacter(wuson, *doc, {.fps = 0.0, .clip = clip});
    EXPECT_EQ(imported.clip, index);
    EXPECT_EQ(imported.clipName, listing.clips[static_cast<size_t>(index)].name);
    EXPECT_EQ(imported.lastFrame, lastFrame);
    for (const headless::Node* joint : imported.meshes[0].joints) {
      const headless::JointKeys keys = headless::ReadJointKeys(joint);
      if (keys.kind != headless::JointKeyKind::kNone) {
        EXPECT_EQ(keys.transforms.size(), static_cast<size_t>(lastFrame) + 1);
      }
    }
  }
  auto doc = headless::NewDocument();
  EXPECT_THROW(headless::ImportCharacter(wuson, *doc, {.fps = 0.0, .clip = "3"}),
               std::runtime_error);
  EXPECT_TRUE(doc->Objects().empty());
}

// A skin whose bind shape is singular makes its bone's offset singular: refused by name, as a
// damaged file (an exception the program reports, not one that ends it).
TEST(CharacterImport, ATransformWithoutInverseIsRefusedNamingIt) {
  if (!headless::CharacterImportAvailable()) GTEST_SKIP() << "built without Assimp";
  const fs::path box = fs::path(kModels) / "Collada/box_nested_animation.dae";
  if (!fs::exists(box)) GTEST_SKIP() << "assimp-testmodels is missing";
  std::ifstream in(box, std::ios::binary);
  std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const size_t at = bytes.find("<bind_shape_matrix>1 ");
  ASSERT_NE(at, std::string::npos);
  bytes[at + std::string("<bind_shape_matrix>").size()] = '0';
  auto doc = headless::NewDocument();
  try {
    headless::ImportCharacterBytes(bytes, "flat.dae", *doc);
    ADD_FAILURE() << "imported";
  } catch (const std::runtime_error& e) {
    EXPECT_NE(std::string(e.what()).find("flat.dae: bone '"), std::string::npos) << e.what();
    EXPECT_NE(std::string(e.what()).find("cannot be inverted"), std::string::npos) << e.what();
  }
}

// A file of meshes without bones is a character standing still: each mesh comes in moving with
// its node. A file without any mesh of polygons is refused naming the file and why.
TEST(CharacterImport, RefusesWhatIsNoCharacterNamingTheFile) {
  if (!headless::CharacterImportAvailable()) GTEST_SKIP() << "built without Assimp";
  auto doc = headless::NewDocument();
  const std::string box = std::string(kModels) + "FBX/box.fbx";
  if (!fs::exists(box)) GTEST_SKIP() << "assimp-testmodels is missing";
  const headless::CharacterImport still = headless::ImportCharacter(box, *doc);
  ASSERT_EQ(still.meshes.size(), 1u);
  EXPECT_TRUE(still.meshes[0].rigid);

  // Three points drawn as points, no polygon among them.
  const std::string points =
      R"({"asset":{"version":"2.0"},"buffers":[{"byteLength":36,"uri":"data:application/)"
      R"(octet-stream;base64,AAAAAAAAAAAAAAAAAACAPwAAAAAAAAAAAAAAAAAAgD8AAAAA"}],)"
      R"("bufferViews":[{"buffer":0,"byteLength":36}],"accessors":[{"bufferView":0,)"
      R"("componentType":5126,"count":3,"type":"VEC3","min":[0,0,0],"max":[1,1,0]}],)"
      R"("meshes":[{"name":"dots","primitives":[{"attributes":{"POSITION":0},"mode":0}]}],)"
      R"("nodes":[{"mesh":0}],"scenes":[{"nodes":[0]}],"scene":0})";
  auto empty = headless::NewDocument();
  try {
    headless::ImportCharacterBytes(points, "dots.gltf", *empty);
    FAIL() << "a mesh of points imported";
  } catch (const std::runtime_error& e) {
    EXPECT_NE(std::string(e.what()).find("dots.gltf: holds no mesh of polygons"), std::string::npos)
        << e.what();
    EXPECT_NE(std::string(e.what()).find("made of lines or points"), std::string::npos) << e.what();
  }
  EXPECT_TRUE(empty->Objects().empty());
  EXPECT_THROW(headless::ImportCharacter("/nonexistent/x.fbx", *doc), std::runtime_error);
  EXPECT_THROW(headless::ImportCharacter(box, *doc, {.fps = -1.0, .clip = ""}),
               std::invalid_argument);
}

// Only the formats documented and tested are read, each by its own reader: a file of another
// format, or one whose content is not the format its name says, is refused naming the formats
// taken before any reader sees it.
TEST(CharacterImport, TakesOnlyItsFormatsByNameAndContent) {
  if (!headless::CharacterImportAvailable()) GTEST_SKIP() << "built without Assimp";
  const std::string skinned = std::string(kModels) + "X/anim_test.x";
  const std::string obj = std::string(kModels) + "OBJ/box.obj";
  if (!fs::exists(skinned) || !fs::exists(obj)) GTEST_SKIP() << "assimp-testmodels is missing";
  const auto refusal = [](const std::string& path) {
    auto doc = headless::NewDocument();
    try {
      headless::ImportCharacter(path, *doc);
    } catch (const std::runtime_error& e) {
      return std::string(e.what());
    }
    return std::string();
  };
  const std::string formats = "FBX (.fbx), glTF 2.0 (.gltf, .glb), Collada (.dae) and DirectX (.x)";
  EXPECT_EQ(refusal(obj), obj + ": not a character file this program reads; it reads " + formats);
  const fs::path dir = fs::path(::testing::TempDir()) / "character_formats";
  fs::create_directories(dir);
  for (const char* name : {"anim_test.fbx", "anim_test.dae", "anim_test.glb", "anim_test.gltf"}) {
    fs::copy_file(skinned, dir / name, fs::copy_options::overwrite_existing);
    EXPECT_NE(refusal((dir / name).string()).find("its content is not"), std::string::npos) << name;
  }
  fs::copy_file(skinned, dir / "upper.X", fs::copy_options::overwrite_existing);
  EXPECT_EQ(refusal((dir / "upper.X").string()), "");

  // From memory the content alone tells the format, and the result is the file's.
  std::ifstream in(skinned, std::ios::binary);
  const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  auto fromFile = headless::NewDocument();
  auto fromMemory = headless::NewDocument();
  const headless::CharacterImport a = headless::ImportCharacter(skinned, *fromFile);
  const headless::CharacterImport b = headless::ImportCharacterBytes(bytes, "bytes", *fromMemory);
  ASSERT_EQ(a.meshes.size(), b.meshes.size());
  EXPECT_EQ(a.meshes[0].object->points.size(), b.meshes[0].object->points.size());
  EXPECT_EQ(a.lastFrame, b.lastFrame);
  EXPECT_THROW(headless::ImportCharacterBytes("v 0 0 0\n", "text", *fromMemory),
               std::runtime_error);
  fs::remove_all(dir);
}

// Assimp quotes the text it could not parse, however long: a damaged array of a hundred thousand
// numbers gives a message of a line, not of the array.
TEST(CharacterImport, ALibraryMessageIsKeptShort) {
  if (!headless::CharacterImportAvailable()) GTEST_SKIP() << "built without Assimp";
  std::string collada =
      "<?xml version=\"1.0\"?>\n<COLLADA xmlns=\"http://www.collada.org/2005/11/COLLADASchema\" "
      "version=\"1.4.1\"><library_geometries><geometry id=\"g\"><mesh><source id=\"s\">"
      "<float_array id=\"a\" count=\"100000\">)";
  for (int i = 0; i < 100000; ++i) collada += " 0.125";
  collada += "</float_array></source></mesh></geometry></library_geometries></COLLADA>\n";
  auto doc = headless::NewDocument();
  try {
    headless::ImportCharacterBytes(collada, "damaged.dae", *doc);
    ADD_FAILURE() << "a damaged array was read";
  } catch (const std::runtime_error& e) {
    const std::string message = e.what();
    EXPECT_EQ(message.rfind("damaged.dae: cannot be read as a rigged character (", 0), 0u)
        << message.substr(0, 400);
    EXPECT_LT(message.size(), 400u) << message.substr(0, 400);
  }
}

}  // namespace
