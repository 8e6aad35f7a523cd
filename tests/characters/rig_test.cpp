// A character's rig (headless/scene/rig.h) made by the import, against Assimp's own reading of
// the file: the node tree places every mesh where the file's own skinning (or, for a mesh without
// a skin, its node) puts it; each file vertex keeps its own influences; several clips sit end to
// end on the timeline, each keyed as when imported alone; the rig survives a scene file.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "headless/characters/character.h"
#include "headless/characters/rig_pose.h"
#include "headless/deformers/skin.h"
#include "headless/deformers/skinning.h"
#include "headless/io/scene_file.h"
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

#if TESSAMIRE_HAVE_ASSIMP

// The file read as the import reads it (its vertices joined where every attribute agrees).
struct AssimpFile {
  explicit AssimpFile(const std::string& path) {
    scene =
        importer.ReadFile(path, aiProcess_ValidateDataStructure | aiProcess_JoinIdenticalVertices);
  }
  // Each node's global transform at rest, by node.
  std::map<const aiNode*, aiMatrix4x4> Globals() const {
    std::map<const aiNode*, aiMatrix4x4> globals;
    std::vector<std::pair<const aiNode*, aiMatrix4x4>> stack{{scene->mRootNode, aiMatrix4x4()}};
    while (!stack.empty()) {
      const auto [node, parent] = stack.back();
      stack.pop_back();
      globals[node] = parent * node->mTransformation;
      for (unsigned c = 0; c < node->mNumChildren; ++c)
        stack.push_back({node->mChildren[c], globals[node]});
    }
    return globals;
  }
  const aiNode* NodeOf(unsigned mesh) const {
    std::vector<const aiNode*> stack{scene->mRootNode};
    while (!stack.empty()) {
      const aiNode* node = stack.back();
      stack.pop_back();
      for (unsigned i = 0; i < node->mNumMeshes; ++i)
        if (node->mMeshes[i] == mesh) return node;
      for (unsigned c = 0; c < node->mNumChildren; ++c) stack.push_back(node->mChildren[c]);
    }
    return nullptr;
  }
  // Where Assimp's data puts mesh `m`'s vertices in the world at rest: the weighted bones'
  // transforms (weights normalised) for a skinned mesh, its node's for one without bones.
  // Vertices without weight are left at the origin and reported in `weighed`.
  std::vector<aiVector3D> World(unsigned m, std::vector<bool>& weighed) const {
    const aiMesh* mesh = scene->mMeshes[m];
    const std::map<const aiNode*, aiMatrix4x4> globals = Globals();
    std::vector<aiVector3D> out(mesh->mNumVertices, aiVector3D(0, 0, 0));
    weighed.assign(mesh->mNumVertices, !mesh->HasBones());
    if (!mesh->HasBones()) {
      const aiMatrix4x4 place = globals.at(NodeOf(m));
      for (unsigned v = 0; v < mesh->mNumVertices; ++v) out[v] = place * mesh->mVertices[v];
      return out;
    }
    std::vector<float> sums(mesh->mNumVertices, 0.0f);
    for (unsigned b = 0; b < mesh->mNumBones; ++b) {
      const aiBone* bone = mesh->mBones[b];
      // A bone without a node stays where it was bound.
      const aiNode* node = scene->mRootNode->FindNode(bone->mName);
      const aiMatrix4x4 skin =
          node == nullptr ? aiMatrix4x4() : globals.at(node) * bone->mOffsetMatrix;
      for (unsigned k = 0; k < bone->mNumWeights; ++k) {
        const aiVertexWeight& w = bone->mWeights[k];
        out[w.mVertexId] += w.mWeight * (skin * mesh->mVertices[w.mVertexId]);
        sums[w.mVertexId] += w.mWeight;
      }
    }
    for (unsigned v = 0; v < mesh->mNumVertices; ++v)
      if (sums[v] > 0.0f) {
        out[v] /= sums[v];
        weighed[v] = true;
      }
    return out;
  }

  Assimp::Importer importer;
  const aiScene* scene = nullptr;
};

#endif

class RigTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!headless::CharacterImportAvailable()) GTEST_SKIP() << "built without Assimp";
    doc = headless::NewDocument();
  }
  std::string Model(const char* file) {
    const std::string path = std::string(kModels) + file;
    if (!fs::exists(path)) ADD_FAILURE() << path << " is missing (package assimp-testmodels)";
    return path;
  }
  std::unique_ptr<headless::Document> doc;
};

#if TESSAMIRE_HAVE_ASSIMP

struct Placed {
  const char* file;
  size_t meshes;  // imported
  size_t rigid;   // of them without a skin
};

class RigPlacement : public RigTest, public ::testing::WithParamInterface<Placed> {};

Float Largest(const std::vector<aiVector3D>& points) {
  Float largest = 1.0;
  for (const aiVector3D& p : points)
    largest = std::max({largest, Float{std::abs(p.x)}, Float{std::abs(p.y)}, Float{std::abs(p.z)}});
  return largest;
}

// Every mesh lies where the file puts it in the world, within float32 rounding of its
// coordinates: at rest, through the rig alone (a skinned mesh by its skin: joints' global
// transforms from the node tree times the inverse binds; a rigid one by its node), and at frames
// of the animation, the host's evaluated points placed by WorldPlacements (what `--space world`
// writes) where Assimp's own skinning puts them.
TEST_P(RigPlacement, EveryMeshLiesWhereTheFilePutsItInTheWorld) {
  const std::string path = Model(GetParam().file);
  const headless::CharacterImport imported = headless::ImportCharacter(path, *doc);
  ASSERT_NE(doc->rig, nullptr);
  const headless::Rig& rig = *doc->rig;
  ASSERT_EQ(imported.meshes.size(), GetParam().meshes);
  EXPECT_EQ(std::count_if(imported.meshes.begin(), imported.meshes.end(),
                          [](const headless::ImportedMesh& m) { return m.rigid; }),
            static_cast<std::ptrdiff_t>(GetParam().rigid));
  const AssimpFile file(path);
  const assimp_skinning::AssimpSkinning skinning(path);
  ASSERT_EQ(file.scene->mNumMeshes, imported.meshes.size());
  const std::vector<Matrix> globals = headless::RigRestGlobals(rig);
  std::vector<headless::Node*> objects;
  for (const headless::ImportedMesh& mesh : imported.meshes) objects.push_back(mesh.object);
  const std::vector<Matrix> placements = headless::WorldPlacements(*doc, objects);
  for (size_t m = 0; m < imported.meshes.size(); ++m) {
    SCOPED_TRACE(imported.meshes[m].object->name);
    const headless::Node* object = imported.meshes[m].object;
    EXPECT_EQ(rig.meshObjects[m], object->name);
    const Int32 node = headless::RigNodeOfMesh(rig, static_cast<Int32>(m));
    ASSERT_GE(node, 0);
    EXPECT_EQ(headless::RigMeshIsRigid(rig, static_cast<Int32>(m)), imported.meshes[m].rigid);
    std::vector<bool> weighed;
    const std::vector<aiVector3D> world = file.World(static_cast<unsigned>(m), weighed);
    const std::vector<Int32>& vertexPoint = object->fileVertices->vertexPoint;
    ASSERT_EQ(vertexPoint.size(), world.size());
    const headless::RigSkin* skin = nullptr;
    for (const headless::RigSkin& s : rig.skins)
      if (s.mesh == static_cast<Int32>(m)) skin = &s;
    ASSERT_EQ(skin == nullptr, imported.meshes[m].rigid);
    const Float tolerance = 1e-6 * Largest(world);
    for (size_t v = 0; v < world.size(); ++v) {
      if (!weighed[v]) continue;
      const Vector3 point = object->points[static_cast<size_t>(vertexPoint[v])];
      Vector3 placed;
      if (skin == nullptr) {
        placed = headless::TransformPoint(globals[static_cast<size_t>(node)], point);
      } else {
        Float sum = 0.0;
        for (Int64 k = skin->first[v]; k < skin->first[v + 1]; ++k) {
          const auto j = static_cast<size_t>(skin->joint[static_cast<size_t>(k)]);
          const Matrix bone = headless::Multiply(globals[static_cast<size_t>(skin->joints[j])],
                                                 skin->inverseBinds[j]);
          const Float w = skin->weight[static_cast<size_t>(k)];
          const Vector3 p = headless::TransformPoint(bone, point);
          placed = {placed.x + w * p.x, placed.y + w * p.y, placed.z + w * p.z};
          sum += w;
        }
        placed = {placed.x / sum, placed.y / sum, placed.z / sum};
      }
      ASSERT_NEAR(placed.x, world[v].x, tolerance) << "vertex " << v;
      ASSERT_NEAR(placed.y, world[v].y, tolerance) << "vertex " << v;
      ASSERT_NEAR(placed.z, world[v].z, tolerance) << "vertex " << v;
    }
  }
  if (imported.lastFrame < 0 || GetParam().rigid > 0) return;
  for (const Int32 frame : {0, imported.lastFrame / 2, imported.lastFrame}) {
    SCOPED_TRACE(frame);
    ASSERT_TRUE(headless::EvaluateDocumentAtFrame(*doc, frame).Ok());
    for (size_t m = 0; m < imported.meshes.size(); ++m) {
      const headless::Node* object = imported.meshes[m].object;
      const std::vector<aiVector3D> expected =
          skinning.At(frame, imported.fps, static_cast<unsigned>(m), true);
      const std::vector<Vector3>& deformed = headless::DeformedPoints(object);
      const std::vector<Int32>& vertexPoint = object->fileVertices->vertexPoint;
      const Float tolerance = 1e-5 * Largest(expected);
      // The object skins a welded point with its first copy's weights: the copies after it may
      // carry others (the rig keeps those, EveryFileVertexKeepsItsOwnInfluences).
      std::vector<bool> seen(object->points.size(), false);
      for (size_t v = 0; v < expected.size(); ++v) {
        if (seen[static_cast<size_t>(vertexPoint[v])]) continue;
        seen[static_cast<size_t>(vertexPoint[v])] = true;
        const Vector3 placed =
            headless::TransformPoint(placements[m], deformed[static_cast<size_t>(vertexPoint[v])]);
        ASSERT_NEAR(placed.x, expected[v].x, tolerance) << object->name << " vertex " << v;
        ASSERT_NEAR(placed.y, expected[v].y, tolerance) << object->name << " vertex " << v;
        ASSERT_NEAR(placed.z, expected[v].z, tolerance) << object->name << " vertex " << v;
      }
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Characters, RigPlacement,
                         ::testing::Values(Placed{"X/BCN_Epileptic.X", 3, 0},
                                           Placed{"FBX/spider.fbx", 19, 19},
                                           Placed{"X/Testwuson.X", 1, 0},
                                           Placed{"X/anim_test.x", 1, 0}),
                         [](const ::testing::TestParamInfo<Placed>& info) {
                           std::string name;
                           for (char c : fs::path(info.param.file).stem().string())
                             name += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
                           return name;
                         });

// A mesh without a skin comes in with one joint at its node weighing every point 1, and moves
// with the node: at rest it is the file's mesh as it stands.
TEST_F(RigTest, AMeshWithoutASkinMovesWithItsNodeThroughOneJoint) {
  const headless::CharacterImport imported =
      headless::ImportCharacter(Model("FBX/spider.fbx"), *doc);
  for (const headless::ImportedMesh& mesh : imported.meshes) {
    SCOPED_TRACE(mesh.object->name);
    ASSERT_TRUE(mesh.rigid);
    ASSERT_EQ(mesh.joints.size(), 1u);
    ASSERT_NE(mesh.skin, nullptr);
    EXPECT_TRUE(std::all_of(mesh.maps[0]->weights.begin(), mesh.maps[0]->weights.end(),
                            [](Float32 w) { return w == 1.0f; }));
  }
  for (const std::string& note : imported.notes)
    EXPECT_EQ(note.find("has no bones"), std::string::npos) << note;
}

// Where copies of one welded point carry different weights, the object takes the first copy's,
// but the rig keeps every file vertex's own, as Assimp delivers them.
TEST_F(RigTest, EveryFileVertexKeepsItsOwnInfluences) {
  const std::string path = Model("X/Testwuson.X");
  const headless::CharacterImport imported = headless::ImportCharacter(path, *doc);
  ASSERT_EQ(doc->rig->skins.size(), 1u);
  const headless::RigSkin& skin = doc->rig->skins[0];
  const AssimpFile file(path);
  const aiMesh* mesh = file.scene->mMeshes[0];
  ASSERT_EQ(skin.first.size(), mesh->mNumVertices + size_t{1});
  // Per vertex, the file's (bone, weight) pairs.
  std::vector<std::vector<std::pair<Int32, Float32>>> own(mesh->mNumVertices);
  for (unsigned b = 0; b < mesh->mNumBones; ++b)
    for (unsigned k = 0; k < mesh->mBones[b]->mNumWeights; ++k) {
      const aiVertexWeight& w = mesh->mBones[b]->mWeights[k];
      own[w.mVertexId].push_back({static_cast<Int32>(b), w.mWeight});
    }
  std::vector<std::vector<std::pair<Int32, Float32>>> kept(mesh->mNumVertices);
  for (unsigned v = 0; v < mesh->mNumVertices; ++v) {
    for (Int64 k = skin.first[v]; k < skin.first[v + 1]; ++k)
      kept[v].push_back({skin.joint[static_cast<size_t>(k)], skin.weight[static_cast<size_t>(k)]});
    std::sort(own[v].begin(), own[v].end());
    std::sort(kept[v].begin(), kept[v].end());
  }
  EXPECT_EQ(kept, own);
  // The copies the object could not keep apart: their influences differ in the rig.
  const std::vector<Int32>& vertexPoint = imported.meshes[0].object->fileVertices->vertexPoint;
  std::map<Int32, unsigned> firstCopy;
  Int64 differing = 0;
  for (unsigned v = 0; v < mesh->mNumVertices; ++v) {
    const auto [it, added] = firstCopy.emplace(vertexPoint[v], v);
    if (!added && kept[v] != kept[it->second]) ++differing;
  }
  EXPECT_GT(differing, 0);
}

struct ClipCase {
  const char* label;
  headless::CharacterOptions options;
  std::vector<Int32> indices;  // expected, in timeline order
  std::vector<Int32> firsts, lasts;
};

class RigClips : public RigTest, public ::testing::WithParamInterface<ClipCase> {};

// Several clips, by name, index, commas or all: end to end on the timeline, in the rig with their
// frames, and each clip's stretch keyed as the clip imported alone is.
TEST_P(RigClips, SitEndToEndEachKeyedAsAlone) {
  const std::string path = Model("X/Testwuson.X");
  const ClipCase& c = GetParam();
  const headless::CharacterImport imported = headless::ImportCharacter(path, *doc, c.options);
  ASSERT_EQ(imported.clips.size(), c.indices.size());
  ASSERT_EQ(doc->rig->clips.size(), c.indices.size());
  EXPECT_EQ(imported.lastFrame, c.lasts.back());
  const std::vector<headless::Node*>& joints = imported.meshes[0].joints;
  for (size_t i = 0; i < c.indices.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(imported.clips[i].index, c.indices[i]);
    EXPECT_EQ(imported.clips[i].firstFrame, c.firsts[i]);
    EXPECT_EQ(imported.clips[i].lastFrame, c.lasts[i]);
    const headless::RigClip& clip = doc->rig->clips[i];
    EXPECT_EQ(clip.name, imported.clips[i].name);
    EXPECT_EQ(clip.firstFrame, c.firsts[i]);
    EXPECT_EQ(clip.lastFrame, c.lasts[i]);
    EXPECT_FALSE(clip.channels.empty());
    for (const headless::RigChannel& channel : clip.channels)
      EXPECT_EQ(channel.values.size(),
                channel.times.size() * (channel.path == headless::RigPath::kRotation ? 4 : 3));

    auto alone = headless::NewDocument();
    const headless::CharacterImport single =
        headless::ImportCharacter(path, *alone, {.fps = 0.0, .clip = std::to_string(c.indices[i])});
    for (size_t j = 0; j < joints.size(); ++j) {
      const headless::JointKeys all = headless::ReadJointKeys(joints[j]);
      const headless::JointKeys own = headless::ReadJointKeys(single.meshes[0].joints[j]);
      if (own.kind == headless::JointKeyKind::kNone) continue;
      ASSERT_EQ(own.transforms.size(), static_cast<size_t>(c.lasts[i] - c.firsts[i] + 1));
      for (size_t k = 0; k < own.transforms.size(); ++k) {
        const Matrix& a = all.transforms[static_cast<size_t>(c.firsts[i]) + k].transform;
        const Matrix& b = own.transforms[k].transform;
        ASSERT_EQ(a.off.x, b.off.x) << "joint " << j << " frame " << k;
        ASSERT_EQ(a.v1.y, b.v1.y) << "joint " << j << " frame " << k;
      }
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Testwuson, RigClips,
    ::testing::Values(
        ClipCase{"repeated",
                 {.fps = 0.0, .clip = "Wuson_Walk", .clips = {"0"}},
                 {1, 0},
                 {0, 109},
                 {108, 138}},
        ClipCase{
            "commas", {.fps = 0.0, .clip = "Wuson_Walk, wuson_bind"}, {1, 2}, {0, 109}, {108, 109}},
        ClipCase{"all",
                 {.fps = 0.0, .clip = "", .clips = {}, .allClips = true},
                 {0, 1, 2},
                 {0, 30, 139},
                 {29, 138, 139}}),
    [](const ::testing::TestParamInfo<ClipCase>& info) { return std::string(info.param.label); });

// Clips asked for wrongly are refused, naming the fault, and the document is left as it was.
TEST_F(RigTest, ClipsAskedForWronglyAreRefused) {
  const std::string path = Model("X/Testwuson.X");
  struct Wrong {
    headless::CharacterOptions options;
    const char* says;
  };
  for (const Wrong& wrong : {
           Wrong{{.fps = 0.0, .clip = "0", .clips = {"0"}}, "asked for twice"},
           Wrong{{.fps = 0.0, .clip = "0", .clips = {}, .allClips = true}, "none can be named"},
           Wrong{{.fps = 0.0, .clip = "Wuson_Walk,,0"}, "an empty clip name"},
           Wrong{{.fps = 0.0, .clip = "Wuson_Walk,nothing"},
                 "no animation called or numbered "
                 "'nothing'"},
       }) {
    try {
      headless::ImportCharacter(path, *doc, wrong.options);
      ADD_FAILURE() << "imported: " << wrong.says;
    } catch (const std::exception& e) {
      EXPECT_NE(std::string(e.what()).find(wrong.says), std::string::npos) << e.what();
    }
    EXPECT_TRUE(doc->Objects().empty());
    EXPECT_EQ(doc->rig, nullptr);
  }
}

// The rig goes through a scene file whole.
TEST_F(RigTest, TheRigSurvivesASceneFile) {
  headless::ImportCharacter(Model("X/Testwuson.X"), *doc,
                            {.fps = 0.0, .clip = "", .clips = {}, .allClips = true});
  const std::unique_ptr<headless::Document> loaded =
      headless::DeserializeDocument(headless::SerializeDocument(*doc), "wuson.tsm");
  ASSERT_NE(loaded->rig, nullptr);
  const headless::Rig& a = *doc->rig;
  const headless::Rig& b = *loaded->rig;
  EXPECT_EQ(headless::SerializeDocument(*loaded), headless::SerializeDocument(*doc));
  ASSERT_EQ(a.nodes.size(), b.nodes.size());
  EXPECT_EQ(a.nodes.back().name, b.nodes.back().name);
  EXPECT_EQ(a.skins[0].weight, b.skins[0].weight);
  EXPECT_EQ(a.clips[1].channels[0].times, b.clips[1].channels[0].times);
  EXPECT_EQ(a.meshObjects, b.meshObjects);
  EXPECT_EQ(a.materials.size(), b.materials.size());
}

#endif

}  // namespace
