// Only builds with Assimp make a rig from its scene.
#if TESSAMIRE_HAVE_ASSIMP
#include "headless/characters/rig_import.h"

#include <cmath>
#include <stdexcept>

#include <assimp/material.h>
#include <assimp/scene.h>

#include "headless/deformers/skinning.h"

namespace headless {

Matrix MatrixFromAssimp(const aiMatrix4x4& m) {
  Matrix out;
  out.off = {m.a4, m.b4, m.c4};
  out.v1 = {m.a1, m.b1, m.c1};
  out.v2 = {m.a2, m.b2, m.c2};
  out.v3 = {m.a3, m.b3, m.c3};
  return out;
}

namespace {

Int32 AddNode(Rig& rig, std::string name, Int32 parent, const Matrix& local) {
  rig.nodes.push_back({std::move(name), parent, local, -1});
  return static_cast<Int32>(rig.nodes.size() - 1);
}

// The node called `name`, first in the rig's order; -1 for none.
Int32 NodeNamed(const RigBuild& build, const std::string& name) {
  for (size_t n = 0; n < build.rig.nodes.size(); ++n)
    if (build.rig.nodes[n].name == name) return static_cast<Int32>(n);
  return -1;
}

bool Finite(Float v) {
  return std::isfinite(v);
}

// One path of a channel: keys kept where their time is later than the last kept and everything
// is finite; answers how many were left out.
template <typename Key, typename Values>
Int64 AddChannel(const Key* keys, unsigned count, Float ticksPerSecond, Int32 node, RigPath path,
                 Values values, RigClip& clip) {
  RigChannel channel;
  channel.node = node;
  channel.path = path;
  Int64 dropped = 0;
  for (unsigned k = 0; k < count; ++k) {
    const Float time = keys[k].mTime / ticksPerSecond;
    const std::vector<Float> value = values(keys[k].mValue);
    bool usable = Finite(time) && (channel.times.empty() || time > channel.times.back());
    for (Float v : value) usable = usable && Finite(v);
    if (!usable) {
      ++dropped;
      continue;
    }
    channel.times.push_back(time);
    channel.values.insert(channel.values.end(), value.begin(), value.end());
  }
  if (!channel.times.empty()) clip.channels.push_back(std::move(channel));
  return dropped;
}

}  // namespace

void AddRigNodes(const aiScene* scene, const std::string& path, RigBuild& build) {
  // Depth first without recursion: a forged file's tree may be of any depth.
  struct Pending {
    const aiNode* node;
    Int32 parent;
    Int32 depth;
  };
  std::vector<Pending> stack{{scene->mRootNode, -1, 0}};
  while (!stack.empty()) {
    const Pending at = stack.back();
    stack.pop_back();
    if (at.depth >= kMaxRigDepth)
      throw std::runtime_error(path + ": its node tree is deeper than " +
                               std::to_string(kMaxRigDepth) + " levels");
    const Int32 index = AddNode(build.rig, at.node->mName.C_Str(), at.parent,
                                MatrixFromAssimp(at.node->mTransformation));
    build.nodeOf[at.node] = index;
    for (unsigned c = at.node->mNumChildren; c-- > 0;)
      stack.push_back({at.node->mChildren[c], index, at.depth + 1});
  }
}

void DrawMeshAt(const aiNode* node, Int32 mesh, RigBuild& build) {
  const auto it = build.nodeOf.find(node);
  if (it == build.nodeOf.end()) return;
  RigNode& own = build.rig.nodes[static_cast<size_t>(it->second)];
  if (own.mesh < 0) {
    own.mesh = mesh;
    return;
  }
  const Int32 extra = AddNode(build.rig, own.name + "-mesh" + std::to_string(mesh), it->second, {});
  build.rig.nodes[static_cast<size_t>(extra)].mesh = mesh;
}

void AddRigMaterials(const aiScene* scene, RigBuild& build) {
  for (unsigned m = 0; m < scene->mNumMaterials; ++m) {
    const aiMaterial* source = scene->mMaterials[m];
    RigMaterial material;
    aiString name;
    if (source->Get(AI_MATKEY_NAME, name) == AI_SUCCESS && name.length > 0)
      material.name = name.C_Str();
    else
      material.name = "material-" + std::to_string(m);
    aiColor4D colour;
    float opacity = 1.0f;
    if (source->Get(AI_MATKEY_BASE_COLOR, colour) != AI_SUCCESS) {
      aiColor3D diffuse(1.0f, 1.0f, 1.0f);
      source->Get(AI_MATKEY_COLOR_DIFFUSE, diffuse);
      source->Get(AI_MATKEY_OPACITY, opacity);
      colour = {diffuse.r, diffuse.g, diffuse.b, opacity};
    }
    const std::array<Float, 4> rgba{colour.r, colour.g, colour.b, colour.a};
    bool finite = true;
    for (Float c : rgba) finite = finite && Finite(c);
    if (finite) material.baseColour = rgba;
    float metallic = 0.0f, roughness = 1.0f;
    if (source->Get(AI_MATKEY_METALLIC_FACTOR, metallic) == AI_SUCCESS && Finite(metallic)) {
      material.metallicGiven = true;
      material.metallic = metallic;
      if (source->Get(AI_MATKEY_ROUGHNESS_FACTOR, roughness) == AI_SUCCESS && Finite(roughness))
        material.roughness = roughness;
    }
    aiString texture;
    if (source->GetTexture(aiTextureType_BASE_COLOR, 0, &texture) == AI_SUCCESS ||
        source->GetTexture(aiTextureType_DIFFUSE, 0, &texture) == AI_SUCCESS)
      material.texture = texture.C_Str();
    build.rig.materials.push_back(std::move(material));
  }
}

void AddRigSkin(const aiScene* scene, const aiMesh* source, Int32 mesh, RigBuild& build) {
  RigSkin skin;
  skin.mesh = mesh;
  const unsigned vertices = source->mNumVertices;
  // Per vertex its influences, counted first so that they can be laid out in one array.
  std::vector<Int64> count(vertices, 0);
  for (unsigned b = 0; b < source->mNumBones; ++b) {
    const aiBone* bone = source->mBones[b];
    const aiNode* node = scene->mRootNode->FindNode(bone->mName);
    const auto it = node != nullptr ? build.nodeOf.find(node) : build.nodeOf.end();
    Int32 joint = it != build.nodeOf.end() ? it->second : -1;
    const Matrix offset = MatrixFromAssimp(bone->mOffsetMatrix);
    if (joint < 0) {
      Matrix bind;
      try {
        bind = Inverse(offset);
      } catch (const std::invalid_argument&) {
      }
      joint = AddNode(build.rig, bone->mName.C_Str(), -1, bind);
    }
    skin.joints.push_back(joint);
    skin.inverseBinds.push_back(offset);
    for (unsigned k = 0; k < bone->mNumWeights; ++k)
      if (bone->mWeights[k].mVertexId < vertices) ++count[bone->mWeights[k].mVertexId];
  }
  skin.first.assign(static_cast<size_t>(vertices) + 1, 0);
  for (unsigned v = 0; v < vertices; ++v) skin.first[v + 1] = skin.first[v] + count[v];
  skin.joint.resize(static_cast<size_t>(skin.first.back()));
  skin.weight.resize(static_cast<size_t>(skin.first.back()));
  std::vector<Int64> next(skin.first.begin(), skin.first.end() - 1);
  for (unsigned b = 0; b < source->mNumBones; ++b) {
    const aiBone* bone = source->mBones[b];
    for (unsigned k = 0; k < bone->mNumWeights; ++k) {
      const aiVertexWeight& w = bone->mWeights[k];
      if (w.mVertexId >= vertices) continue;
      const auto at = static_cast<size_t>(next[w.mVertexId]++);
      skin.joint[at] = static_cast<Int32>(b);
      skin.weight[at] = w.mWeight;
    }
  }
  build.rig.skins.push_back(std::move(skin));
}

void AddRigClip(const aiAnimation* animation, Float ticksPerSecond, Int32 first, Int32 last,
                RigBuild& build) {
  RigClip clip;
  clip.name = animation->mName.C_Str();
  clip.firstFrame = first;
  clip.lastFrame = last;
  Int64 dropped = 0;
  std::string unplaced;
  const auto vector = [](const aiVector3D& v) { return std::vector<Float>{v.x, v.y, v.z}; };
  const auto rotation = [](const aiQuaternion& q) {
    return std::vector<Float>{q.x, q.y, q.z, q.w};
  };
  for (unsigned c = 0; c < animation->mNumChannels; ++c) {
    const aiNodeAnim* channel = animation->mChannels[c];
    const Int32 node = NodeNamed(build, channel->mNodeName.C_Str());
    if (node < 0) {
      unplaced += (unplaced.empty() ? "'" : ", '") + std::string(channel->mNodeName.C_Str()) + "'";
      continue;
    }
    dropped += AddChannel(channel->mPositionKeys, channel->mNumPositionKeys, ticksPerSecond, node,
                          RigPath::kTranslation, vector, clip);
    dropped += AddChannel(channel->mRotationKeys, channel->mNumRotationKeys, ticksPerSecond, node,
                          RigPath::kRotation, rotation, clip);
    dropped += AddChannel(channel->mScalingKeys, channel->mNumScalingKeys, ticksPerSecond, node,
                          RigPath::kScale, vector, clip);
  }
  if (dropped > 0)
    build.rig.notes.push_back("clip '" + clip.name + "': " + std::to_string(dropped) +
                              " keys out of time order or not numbers are left out");
  if (!unplaced.empty())
    build.rig.notes.push_back("clip '" + clip.name + "': the channels of " + unplaced +
                              ", which no node is called, are left out");
  build.rig.clips.push_back(std::move(clip));
}

}  // namespace headless

#endif
