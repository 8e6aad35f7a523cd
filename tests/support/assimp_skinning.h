// Skinning worked out from Assimp's own data, in Assimp's own float arithmetic (keys
// interpolated, node hierarchy walked, weights normalised), for the character tests to hold the
// import against. Needs Assimp (tests/characters link it).
#pragma once

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include <assimp/postprocess.h>
#include <assimp/scene.h>
#include <assimp/Importer.hpp>

#include "host/abi/types.h"

namespace assimp_skinning {

// How the import reads a file: glTF's vertices as they stand, other formats' joined.
inline unsigned ImportSteps(const std::string& path) {
  const std::string extension = std::filesystem::path(path).extension().string();
  return aiProcess_ValidateDataStructure |
         (extension == ".gltf" || extension == ".glb" ? 0u
                                                      : unsigned{aiProcess_JoinIdenticalVertices});
}

// Skinning from Assimp's data: per vertex of the file's mesh, in the mesh's own space.
class AssimpSkinning {
 public:
  explicit AssimpSkinning(const std::string& path) {
    scene_ = importer_.ReadFile(path, ImportSteps(path));
  }
  const aiScene* Scene() const { return scene_; }

  // Mesh `m`'s vertices skinned at `frame` (of the first animation at `fps` when the file gives
  // no rate) in the mesh's own space, or with `world` in the world, as the file's skinning
  // places them.
  std::vector<aiVector3D> At(Float frame, Float fps, unsigned m = 0, bool world = false) const {
    const aiMesh* mesh = scene_->mMeshes[m];
    const aiAnimation* animation = scene_->mAnimations[0];
    const double tps = animation->mTicksPerSecond > 0.0 ? animation->mTicksPerSecond : fps;
    const float ticks = static_cast<float>(frame / fps * tps);
    std::map<std::string, aiMatrix4x4> globals;
    Walk(scene_->mRootNode, aiMatrix4x4(), animation, ticks, globals);
    const aiNode* meshNode = world ? nullptr : FindMeshNode(scene_->mRootNode, m);
    aiMatrix4x4 toMesh;
    Walk(scene_->mRootNode, aiMatrix4x4(), nullptr, 0.0f, rest_);
    if (meshNode != nullptr) toMesh = rest_.at(meshNode->mName.C_Str()).Inverse();
    std::vector<aiVector3D> out(mesh->mNumVertices, aiVector3D(0, 0, 0));
    std::vector<float> sums(mesh->mNumVertices, 0.0f);
    for (unsigned b = 0; b < mesh->mNumBones; ++b) {
      const aiBone* bone = mesh->mBones[b];
      const auto it = globals.find(bone->mName.C_Str());
      // A bone without a node stays where it was bound.
      const aiMatrix4x4 skin =
          it == globals.end() ? aiMatrix4x4() : toMesh * it->second * bone->mOffsetMatrix;
      for (unsigned k = 0; k < bone->mNumWeights; ++k) {
        const aiVertexWeight& w = bone->mWeights[k];
        out[w.mVertexId] += w.mWeight * (skin * mesh->mVertices[w.mVertexId]);
        sums[w.mVertexId] += w.mWeight;
      }
    }
    for (unsigned v = 0; v < mesh->mNumVertices; ++v) out[v] /= sums[v];
    return out;
  }

  // Mesh `m`'s vertices at the bind pose in the world: every node at its own transform, each
  // bone's global transform times its offset, the weights as the file gives them.
  std::vector<aiVector3D> AtBind(unsigned m) const {
    const aiMesh* mesh = scene_->mMeshes[m];
    std::map<std::string, aiMatrix4x4> rest;
    Walk(scene_->mRootNode, aiMatrix4x4(), nullptr, 0.0f, rest);
    std::vector<aiVector3D> out(mesh->mNumVertices, aiVector3D(0, 0, 0));
    for (unsigned b = 0; b < mesh->mNumBones; ++b) {
      const aiBone* bone = mesh->mBones[b];
      const aiMatrix4x4 skin = rest.at(bone->mName.C_Str()) * bone->mOffsetMatrix;
      for (unsigned k = 0; k < bone->mNumWeights; ++k) {
        const aiVertexWeight& w = bone->mWeights[k];
        out[w.mVertexId] += w.mWeight * (skin * mesh->mVertices[w.mVertexId]);
      }
    }
    return out;
  }

 private:
  template <typename Key>
  static unsigned Before(const Key* keys, unsigned count, float ticks) {
    unsigned i = 0;
    while (i + 1 < count && keys[i + 1].mTime <= ticks) ++i;
    return i;
  }
  template <typename Key>
  static float Fraction(const Key* keys, unsigned count, unsigned i, float ticks) {
    if (i + 1 >= count || ticks <= keys[i].mTime) return 0.0f;
    return static_cast<float>((ticks - keys[i].mTime) / (keys[i + 1].mTime - keys[i].mTime));
  }

  static aiVector3D Lerp(const aiVectorKey* keys, unsigned count, float ticks) {
    const unsigned i = Before(keys, count, ticks);
    const float t = Fraction(keys, count, i, ticks);
    return t == 0.0f ? keys[i].mValue : keys[i].mValue + t * (keys[i + 1].mValue - keys[i].mValue);
  }

  static void Walk(const aiNode* node, const aiMatrix4x4& parent, const aiAnimation* animation,
                   float ticks, std::map<std::string, aiMatrix4x4>& globals) {
    aiMatrix4x4 local = node->mTransformation;
    for (unsigned c = 0; animation && c < animation->mNumChannels; ++c) {
      const aiNodeAnim* ch = animation->mChannels[c];
      if (ch->mNodeName != node->mName) continue;
      const unsigned r = Before(ch->mRotationKeys, ch->mNumRotationKeys, ticks);
      const float t = Fraction(ch->mRotationKeys, ch->mNumRotationKeys, r, ticks);
      aiQuaternion rotation = ch->mRotationKeys[r].mValue;
      if (t > 0.0f)
        aiQuaternion::Interpolate(rotation, ch->mRotationKeys[r].mValue,
                                  ch->mRotationKeys[r + 1].mValue, t);
      local = aiMatrix4x4(Lerp(ch->mScalingKeys, ch->mNumScalingKeys, ticks), rotation.Normalize(),
                          Lerp(ch->mPositionKeys, ch->mNumPositionKeys, ticks));
    }
    const aiMatrix4x4 global = parent * local;
    globals[node->mName.C_Str()] = global;
    for (unsigned i = 0; i < node->mNumChildren; ++i)
      Walk(node->mChildren[i], global, animation, ticks, globals);
  }

  const aiNode* FindMeshNode(const aiNode* node, unsigned m) const {
    for (unsigned i = 0; i < node->mNumMeshes; ++i)
      if (node->mMeshes[i] == m) return node;
    for (unsigned i = 0; i < node->mNumChildren; ++i)
      if (const aiNode* found = FindMeshNode(node->mChildren[i], m)) return found;
    return nullptr;
  }

  Assimp::Importer importer_;
  const aiScene* scene_ = nullptr;
  mutable std::map<std::string, aiMatrix4x4> rest_;
};

}  // namespace assimp_skinning
