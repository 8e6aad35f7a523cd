// Results on the file's own vertices, through the program: Assimp's rigged test models imported,
// corrected and evaluated into OBJ, caches and glTF with as many vertices as Assimp reports for
// the file and its texture coordinates; each glTF validator-clean and, read back with Assimp,
// holding every frame of the clip at the OBJ sequence's positions within float32 rounding.
// `--welded` and scenes saved before scenes kept the file's vertices write the welded points;
// `apply --out X.glb` writes an OBJ sequence's or a cache's corrected frames on the rest mesh's
// own vertices.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <limits>
#include <string>
#include <vector>

#include "headless/characters/character.h"
#include "headless/files/checksum.h"
#include "headless/files/shortest_number.h"
#include "headless/io/obj_file_vertices.h"
#include "headless/io/obj_read.h"
#include "headless/io/obj_write.h"
#include "headless/io/point_cache.h"
#include "headless/io/results.h"
#include "headless/io/scene_file.h"
#include "tests/support/cli_runner.h"
#include "tests/support/deform_scene.h"
#include "tests/support/gltf_check.h"

namespace {

namespace fs = std::filesystem;

// float32 rounding of a value read back as rest + offset: each of the three roundings is within
// half a float32 step of the larger of the two magnitudes.
constexpr Float kFloat32Step = std::numeric_limits<float>::epsilon();

class FileVerticesCli : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    dir = fs::path(::testing::TempDir()) /
          ("file_vertices_" + std::string(info->name()) + "_" + std::to_string(getpid()));
    fs::remove_all(dir);
    fs::create_directories(dir);
  }
  void TearDown() override { fs::remove_all(dir); }

  // Imports `model`, adds the correction after the skin of `object`: the corrected scene.
  fs::path Corrected(const fs::path& model, const std::string& object) {
    const fs::path scene = dir / "character.tsm", corrected = dir / "corrected.tsm";
    CliRun run = RunInProcess("scene import " + Quoted(model) + " --out " + Quoted(scene));
    EXPECT_EQ(run.status, 0) << run.output;
    run = RunInProcess("command 1035622 --select '" + object + "' --shift " + Quoted(scene) +
                       " --out " + Quoted(corrected));
    EXPECT_EQ(run.status, 0) << run.output;
    return corrected;
  }

  fs::path dir;
};

std::string Stem(std::string name) {
  for (char& c : name)
    if (!std::isalnum(static_cast<unsigned char>(c)) && c != '-' && c != '_') c = '_';
  return name;
}

struct Model {
  const char* file;
  const char* object;
  Int64 lastFrame;  // the clip's frames are 0 .. lastFrame
  size_t points;    // welded
};

class CharacterResults : public FileVerticesCli, public ::testing::WithParamInterface<Model> {};

TEST_P(CharacterResults, GoOutOnTheFilesOwnVerticesWithTheirTextureCoordinates) {
  if (!headless::CharacterImportAvailable()) GTEST_SKIP() << "built without Assimp";
#if TESSAMIRE_HAVE_ASSIMP
  const Model& model = GetParam();
  const fs::path file = fs::path("/usr/share/assimp/models") / model.file;
  if (!fs::exists(file)) GTEST_SKIP() << file << " is missing (package assimp-testmodels)";
  // What Assimp reports for the file, read as the import reads it.
  const std::string extension = file.extension().string();
  Assimp::Importer importer;
  const aiScene* source = importer.ReadFile(
      file.string(), aiProcess_ValidateDataStructure |
                         (extension == ".gltf" ? 0u : unsigned{aiProcess_JoinIdenticalVertices}));
  ASSERT_NE(source, nullptr);
  const aiMesh* sourceMesh = source->mMeshes[0];
  const size_t vertices = sourceMesh->mNumVertices;

  const fs::path corrected = Corrected(file, model.object);
  const CliRun info = RunInProcess("scene info " + Quoted(corrected));
  EXPECT_NE(info.out.find("file vertices: " + std::to_string(vertices) + " of \""),
            std::string::npos)
      << info.out;
  const std::string stem = Stem(model.object);
  for (const char* format : {"obj", "pc2", "mdd", "glb"}) {
    const std::string form = std::string(format) == "glb" ? " --glb-form frames" : "";
    const CliRun run = RunInProcess("eval " + Quoted(corrected) + " --quiet --format " + format +
                                    form + " --out " + Quoted(dir / format));
    ASSERT_EQ(run.status, 0) << run.output;
  }
  // Every frame of the clip as an OBJ on the file's vertices, texture coordinates and all.
  std::vector<headless::ObjFile> objs;
  for (Int64 frame = 0; frame <= model.lastFrame; ++frame) {
    objs.push_back(headless::ReadObjFile(
        (dir / "obj" / (stem + "." + headless::PaddedFrame(frame) + ".obj")).string()));
    ASSERT_EQ(objs.back().mesh.points.size(), vertices);
  }
  const headless::ObjFile& first = objs.front();
  EXPECT_EQ(first.FaceCount(), static_cast<Int64>(sourceMesh->mNumFaces));
  ASSERT_EQ(first.texcoords.size(), sourceMesh->HasTextureCoords(0) ? 2 * vertices : 0u);
  for (size_t v = 0; 2 * v < first.texcoords.size(); ++v) {
    ASSERT_EQ(static_cast<float>(first.texcoords[2 * v]), sourceMesh->mTextureCoords[0][v].x);
    ASSERT_EQ(static_cast<float>(first.texcoords[2 * v + 1]), sourceMesh->mTextureCoords[0][v].y);
  }
  EXPECT_EQ(first.normals.size(), sourceMesh->HasNormals() ? vertices : 0u);

  // The caches hold the same positions per vertex.
  for (const char* format : {"pc2", "mdd"}) {
    const headless::PointCache cache =
        headless::ReadPointCache((dir / format / (stem + "." + format)).string());
    ASSERT_EQ(static_cast<size_t>(cache.pointCount), vertices);
    ASSERT_EQ(cache.SampleCount(), model.lastFrame + 1);
    EXPECT_LT(deform_scene::MaxDistance(cache.Sample(model.lastFrame), objs.back().mesh.points),
              1e-4);
  }

  // The glTF: valid, one mesh of the file's vertices, a morph target per frame, each at the
  // OBJ's positions within float32 rounding.
  const fs::path glb = dir / "glb" / "corrected.glb";
  ExpectValidGltf(glb);
  Assimp::Importer reader;
  const aiScene* scene = reader.ReadFile(glb.string(), 0);
  ASSERT_NE(scene, nullptr) << reader.GetErrorString();
  ASSERT_EQ(scene->mNumMeshes, 1u);
  const aiMesh* mesh = scene->mMeshes[0];
  ASSERT_EQ(mesh->mNumVertices, vertices);
  ASSERT_EQ(mesh->mNumAnimMeshes, static_cast<unsigned>(model.lastFrame + 1));
  ASSERT_EQ(scene->mNumAnimations, 1u);
  ASSERT_EQ(scene->mAnimations[0]->mNumMorphMeshChannels, 1u);
  EXPECT_EQ(scene->mAnimations[0]->mMorphMeshChannels[0]->mNumKeys,
            static_cast<unsigned>(model.lastFrame + 1));
  Float moved = 0.0;
  for (Int64 k = 0; k <= model.lastFrame; ++k) {
    const std::vector<Vector3>& want = objs[static_cast<size_t>(k)].mesh.points;
    for (size_t v = 0; v < vertices; ++v) {
      const aiVector3D& got = mesh->mAnimMeshes[k]->mVertices[v];
      const aiVector3D& rest = mesh->mVertices[v];
      const Float wanted[3] = {want[v].x, want[v].y, want[v].z};
      const Float read[3] = {got.x, got.y, got.z};
      const Float base[3] = {rest.x, rest.y, rest.z};
      for (int c = 0; c < 3; ++c) {
        const Float scale = std::max(std::fabs(base[c]), std::fabs(wanted[c] - base[c]));
        ASSERT_LE(std::fabs(read[c] - wanted[c]), 1.5 * kFloat32Step * scale)
            << "frame " << k << " vertex " << v;
        moved = std::max(moved, std::fabs(wanted[c] - base[c]));
      }
    }
  }
  EXPECT_GT(moved, 0.0);
  ASSERT_EQ(mesh->HasTextureCoords(0), sourceMesh->HasTextureCoords(0));
  for (size_t v = 0; mesh->HasTextureCoords(0) && v < vertices; ++v) {
    ASSERT_NEAR(mesh->mTextureCoords[0][v].x, sourceMesh->mTextureCoords[0][v].x, 1e-6);
    ASSERT_NEAR(mesh->mTextureCoords[0][v].y, sourceMesh->mTextureCoords[0][v].y, 1e-6);
  }

  // Welded on request: the points the correction ran on.
  const CliRun welded = RunInProcess("eval " + Quoted(corrected) +
                                     " --quiet --welded --frames 0 --out " + Quoted(dir / "w"));
  ASSERT_EQ(welded.status, 0) << welded.output;
  EXPECT_EQ(headless::ReadObj((dir / "w" / (stem + ".0000.obj")).string()).points.size(),
            model.points);
#endif
}

INSTANTIATE_TEST_SUITE_P(
    AssimpTestModels, CharacterResults,
    ::testing::Values(Model{"FBX/animation_with_skeleton.fbx", "Cube.001", 20, 1058},
                      Model{"X/anim_test.x", "pCylinder1", 24, 422},
                      Model{"glTF2/simple_skin/simple_skin.gltf", "meshes[0]", 165, 10}),
    [](const ::testing::TestParamInfo<Model>& info) {
      return Stem(fs::path(info.param.file).stem().string());
    });

// A scene written before scenes kept the file's vertices (format version 1) still evaluates: its
// meshes go out welded, and a note says why.
TEST_F(FileVerticesCli, AnOlderSceneIsWrittenWeldedWithANote) {
  if (!headless::CharacterImportAvailable()) GTEST_SKIP() << "built without Assimp";
  const fs::path file = "/usr/share/assimp/models/X/anim_test.x";
  if (!fs::exists(file)) GTEST_SKIP() << file << " is missing (package assimp-testmodels)";
  const fs::path imported = dir / "character.tsm";
  CliRun run = RunInProcess("scene import " + Quoted(file) + " --out " + Quoted(imported));
  ASSERT_EQ(run.status, 0) << run.output;
  std::unique_ptr<headless::Document> doc = headless::LoadScene(imported.string());
  for (headless::Node* object : doc->Objects()) object->fileVertices = nullptr;
  doc->rig = nullptr;
  // Version 1 is the present version without what follows the objects: the (here empty) list of
  // file vertices, the frame rate and the (here absent) rig's byte.
  std::vector<std::uint8_t> image = headless::SerializeDocument(*doc);
  std::vector<std::uint8_t> content(image.begin() + 20, image.end() - 8 - 1 - 4 - 8);
  image = headless::SceneFileImage(content);
  image[8] = 1;
  const std::uint64_t check = headless::Fnv1a64(image.data(), image.size() - 8);
  for (int k = 0; k < 8; ++k)
    image[image.size() - 8 + k] = static_cast<std::uint8_t>(check >> (8 * k));
  const fs::path old = dir / "old.tsm";
  std::ofstream(old, std::ios::binary)
      .write(reinterpret_cast<const char*>(image.data()),
             static_cast<std::streamsize>(image.size()));

  run = RunInProcess("eval " + Quoted(old) + " --frames 2 --out " + Quoted(dir / "o"));
  ASSERT_EQ(run.status, 0) << run.output;
  EXPECT_NE(run.err.find("note: " + old.string() +
                         ": object \"pCylinder1\" is written on its 422 welded points: the scene "
                         "was saved in format version 1"),
            std::string::npos)
      << run.err;
  EXPECT_EQ(headless::ReadObj((dir / "o" / "pCylinder1.0002.obj").string()).points.size(), 422u);
}

// `apply --out X.glb`: the rest OBJ's own vertices (one per distinct corner), every corrected
// frame of a sequence or of a cache as a morph target at its frame's time.
TEST_F(FileVerticesCli, ApplyWritesASequenceOrACacheAsOneGltf) {
  const deform_scene::Mesh mesh = deform_scene::Sheet(6, 5);
  std::string rest = "mtllib walk.mtl\no sheet\n";
  for (const Vector3& p : mesh.points)
    rest += "v " + headless::ShortestNumber(p.x) + " " + headless::ShortestNumber(p.y) + " " +
            headless::ShortestNumber(p.z) + "\n";
  rest += "vt 0 0\nvt 1 0\nvn 0 0 1\nusemtl skin\n";
  // The first face's corners take the second texture coordinate: a seam of four vertices.
  for (size_t f = 0; f < mesh.polygons.size(); ++f) {
    const CPolygon& p = mesh.polygons[f];
    const std::string t = f == 0 ? "/2/1 " : "/1/1 ";
    rest += "f " + std::to_string(p.a + 1) + t + std::to_string(p.b + 1) + t +
            std::to_string(p.c + 1) + t + std::to_string(p.d + 1) + t + "\n";
  }
  std::ofstream(dir / "rest.obj", std::ios::binary) << rest;
  const headless::ObjFile restFile = headless::ParseObj(rest, "rest");
  std::vector<std::vector<Vector3>> frames;
  for (int f = 1; f <= 3; ++f) {
    frames.push_back(deform_scene::Twist(mesh.points, 0.15 * f, true));
    std::ofstream(dir / ("walk." + headless::PaddedFrame(f) + ".obj"), std::ios::binary)
        << headless::ObjText(restFile, frames.back());
  }
  headless::WritePointCache(
      (dir / "walk.pc2").string(),
      headless::MakePointCache(headless::PointCacheFormat::kPc2, frames, 1.0, 1.0));
  const std::string restOption = "--rest " + Quoted(dir / "rest.obj");
  CliRun run = RunInProcess("apply " + restOption + " --frames 1:3 --quiet --out " +
                            Quoted(dir / "out") + " " + Quoted(dir / "walk.####.obj"));
  ASSERT_EQ(run.status, 0) << run.output;
  const headless::FileVertices own = headless::ObjFileVertices(restFile);
  const size_t vertices = static_cast<size_t>(own.VertexCount());
  EXPECT_GT(vertices, mesh.points.size());

  for (const std::string& input :
       {Quoted(dir / "walk.####.obj") + " --frames 1:3", Quoted(dir / "walk.pc2")}) {
    SCOPED_TRACE(input);
    const fs::path glb = dir / "walk.glb";
    run = RunInProcess("apply " + restOption + " --fps 24 --quiet --out " + Quoted(glb) + " " +
                       input);
    ASSERT_EQ(run.status, 0) << run.output;
    ExpectValidGltf(glb);
#if TESSAMIRE_HAVE_ASSIMP
    Assimp::Importer reader;
    const aiScene* scene = reader.ReadFile(glb.string(), 0);
    ASSERT_NE(scene, nullptr) << reader.GetErrorString();
    ASSERT_EQ(scene->mNumMeshes, 1u);
    const aiMesh* read = scene->mMeshes[0];
    ASSERT_EQ(read->mNumVertices, vertices);
    ASSERT_EQ(read->mNumAnimMeshes, 3u);
    const aiMeshMorphAnim* channel = scene->mAnimations[0]->mMorphMeshChannels[0];
    ASSERT_EQ(channel->mNumKeys, 3u);
    for (unsigned k = 0; k < 3; ++k) {
      EXPECT_NEAR(channel->mKeys[k].mTime / scene->mAnimations[0]->mTicksPerSecond, (k + 1) / 24.0,
                  1e-6);
      const headless::ObjFile out = headless::ReadObjFile(
          (dir / "out" / ("walk." + headless::PaddedFrame(k + 1) + ".obj")).string());
      // Vertex v of the glTF sits on the point of the rest's v-th distinct corner.
      for (size_t v = 0; v < vertices; ++v) {
        const Vector3& want = out.mesh.points[static_cast<size_t>(own.vertexPoint[v])];
        const aiVector3D& got = read->mAnimMeshes[k]->mVertices[v];
        ASSERT_NEAR(got.x, want.x, 1e-6) << v;
        ASSERT_NEAR(got.y, want.y, 1e-6) << v;
        ASSERT_NEAR(got.z, want.z, 1e-6) << v;
      }
    }
    EXPECT_EQ(read->mTextureCoords[0][0].x, 1.0f);  // the seam's copy of the first point
    aiString material;
    scene->mMaterials[read->mMaterialIndex]->Get(AI_MATKEY_NAME, material);
    EXPECT_STREQ(material.C_Str(), "skin");
#endif
  }
}

}  // namespace
