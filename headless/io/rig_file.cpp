#include "headless/io/rig_file.h"

#include <cmath>

namespace headless {
namespace {

constexpr std::size_t kMatrixBytes = 12 * 8;

void WriteMatrix(ByteWriter& w, const Matrix& m) {
  for (const Vector3& v : {m.off, m.v1, m.v2, m.v3}) {
    w.F64(v.x);
    w.F64(v.y);
    w.F64(v.z);
  }
}

Float FiniteF64(ByteReader& r, const std::string& what) {
  const Float v = r.F64();
  if (!std::isfinite(v)) r.Fail(what + " is not a finite number");
  return v;
}

Matrix ReadMatrix(ByteReader& r, const std::string& what) {
  Matrix m;
  for (Vector3* v : {&m.off, &m.v1, &m.v2, &m.v3})
    *v = {FiniteF64(r, what), FiniteF64(r, what), FiniteF64(r, what)};
  return m;
}

// An index into `count` things, or -1 where `none` allows it.
Int32 ReadIndex(ByteReader& r, std::size_t count, bool none, const std::string& what) {
  const Int32 i = r.I32();
  if ((i == -1 && none) || (i >= 0 && static_cast<std::size_t>(i) < count)) return i;
  r.Fail(what + " " + std::to_string(i) + " is outside the " + std::to_string(count) +
         " there are");
}

void WriteSkin(ByteWriter& w, const RigSkin& skin) {
  w.I32(skin.mesh);
  w.Count(skin.joints.size(), "skin joints");
  for (size_t j = 0; j < skin.joints.size(); ++j) {
    w.I32(skin.joints[j]);
    WriteMatrix(w, skin.inverseBinds[j]);
  }
  w.Count(skin.first.size() - 1, "skinned vertices");
  for (size_t v = 0; v + 1 < skin.first.size(); ++v) {
    w.Count(static_cast<std::size_t>(skin.first[v + 1] - skin.first[v]), "influences");
    for (Int64 k = skin.first[v]; k < skin.first[v + 1]; ++k) {
      w.I32(skin.joint[static_cast<size_t>(k)]);
      w.F32(skin.weight[static_cast<size_t>(k)]);
    }
  }
}

RigSkin ReadSkin(ByteReader& r, const Rig& rig, std::size_t meshes, std::size_t index) {
  const std::string label = "skin " + std::to_string(index);
  RigSkin skin;
  skin.mesh = ReadIndex(r, meshes, false, label + ": its mesh");
  for (const RigSkin& other : rig.skins)
    if (other.mesh == skin.mesh)
      r.Fail(label + ": mesh " + std::to_string(skin.mesh) + " has a skin already");
  const std::size_t joints = r.Count(4 + kMatrixBytes, "skin joints");
  for (std::size_t j = 0; j < joints; ++j) {
    skin.joints.push_back(ReadIndex(r, rig.nodes.size(), false, label + ": joint node"));
    skin.inverseBinds.push_back(ReadMatrix(r, label + ": an inverse bind"));
  }
  const std::size_t vertices = r.Count(4, "skinned vertices");
  skin.first.reserve(vertices + 1);
  for (std::size_t v = 0; v < vertices; ++v) {
    const std::size_t influences = r.Count(8, "influences");
    for (std::size_t k = 0; k < influences; ++k) {
      skin.joint.push_back(
          ReadIndex(r, joints, false, label + ": vertex " + std::to_string(v) + "'s joint"));
      const Float32 weight = r.F32();
      if (!std::isfinite(weight))
        r.Fail(label + ": vertex " + std::to_string(v) + "'s weight is not a finite number");
      skin.weight.push_back(weight);
    }
    skin.first.push_back(static_cast<Int64>(skin.joint.size()));
  }
  return skin;
}

void WriteClip(ByteWriter& w, const RigClip& clip) {
  w.Text(clip.name);
  w.I32(clip.firstFrame);
  w.I32(clip.lastFrame);
  w.Count(clip.channels.size(), "channels");
  for (const RigChannel& channel : clip.channels) {
    w.I32(channel.node);
    w.U8(static_cast<std::uint8_t>(channel.path));
    w.Count(channel.times.size(), "keys");
    for (Float t : channel.times) w.F64(t);
    for (Float v : channel.values) w.F64(v);
  }
}

RigClip ReadClip(ByteReader& r, std::size_t nodes) {
  RigClip clip;
  clip.name = r.Text();
  const std::string label = "clip '" + clip.name + "'";
  clip.firstFrame = r.I32();
  clip.lastFrame = r.I32();
  if (clip.lastFrame < clip.firstFrame)
    r.Fail(label + " ends at frame " + std::to_string(clip.lastFrame) + ", before it starts at " +
           std::to_string(clip.firstFrame));
  const std::size_t channels = r.Count(9, "channels");
  for (std::size_t c = 0; c < channels; ++c) {
    RigChannel channel;
    channel.node = ReadIndex(r, nodes, false, label + ": a channel's node");
    const std::uint8_t path = r.U8();
    if (path > static_cast<std::uint8_t>(RigPath::kScale))
      r.Fail(label + ": a channel's path " + std::to_string(path) + " is none known");
    channel.path = static_cast<RigPath>(path);
    const std::size_t width = channel.path == RigPath::kRotation ? 4 : 3;
    const std::size_t keys = r.Count(8 * (1 + width), "keys");
    if (keys == 0) r.Fail(label + ": a channel has no keys");
    for (std::size_t k = 0; k < keys; ++k) {
      channel.times.push_back(FiniteF64(r, label + ": a key's time"));
      if (k > 0 && !(channel.times[k] > channel.times[k - 1]))
        r.Fail(label + ": its key times do not increase");
    }
    for (std::size_t k = 0; k < keys * width; ++k)
      channel.values.push_back(FiniteF64(r, label + ": a key's value"));
    clip.channels.push_back(std::move(channel));
  }
  return clip;
}

}  // namespace

void WriteRig(ByteWriter& w, const Rig& rig) {
  w.Count(rig.materials.size(), "materials");
  for (const RigMaterial& m : rig.materials) {
    w.Text(m.name);
    for (Float c : m.baseColour) w.F64(c);
    w.U8(m.metallicGiven ? 1 : 0);
    w.F64(m.metallic);
    w.F64(m.roughness);
    w.Text(m.texture);
  }
  w.Count(rig.meshObjects.size(), "character meshes");
  for (size_t m = 0; m < rig.meshObjects.size(); ++m) {
    w.Text(rig.meshObjects[m]);
    w.I32(m < rig.meshMaterials.size() ? rig.meshMaterials[m] : -1);
  }
  w.Count(rig.nodes.size(), "nodes");
  for (const RigNode& node : rig.nodes) {
    w.Text(node.name);
    w.I32(node.parent);
    WriteMatrix(w, node.local);
    w.I32(node.mesh);
  }
  w.Count(rig.skins.size(), "skins");
  for (const RigSkin& skin : rig.skins) WriteSkin(w, skin);
  w.Count(rig.clips.size(), "clips");
  for (const RigClip& clip : rig.clips) WriteClip(w, clip);
  w.Count(rig.notes.size(), "notes");
  for (const std::string& note : rig.notes) w.Text(note);
  w.Text(rig.pictureFolder);
}

Rig ReadRig(ByteReader& r) {
  Rig rig;
  const std::size_t materials = r.Count(4 + 32 + 1 + 16 + 4, "materials");
  for (std::size_t i = 0; i < materials; ++i) {
    RigMaterial m;
    m.name = r.Text();
    const std::string label = "material '" + m.name + "'";
    for (Float& c : m.baseColour) c = FiniteF64(r, label + ": its colour");
    m.metallicGiven = r.U8() != 0;
    m.metallic = FiniteF64(r, label + ": its metallic factor");
    m.roughness = FiniteF64(r, label + ": its roughness");
    m.texture = r.Text();
    rig.materials.push_back(std::move(m));
  }
  const std::size_t meshes = r.Count(8, "character meshes");
  for (std::size_t i = 0; i < meshes; ++i) {
    rig.meshObjects.push_back(r.Text());
    rig.meshMaterials.push_back(
        ReadIndex(r, materials, true, "mesh " + std::to_string(i) + "'s material"));
  }
  const std::size_t nodes = r.Count(4 + 4 + kMatrixBytes + 4, "nodes");
  std::vector<Int32> depth;
  for (std::size_t i = 0; i < nodes; ++i) {
    RigNode node;
    node.name = r.Text();
    const std::string label = "node " + std::to_string(i) + " '" + node.name + "'";
    node.parent = ReadIndex(r, i, true, label + ": its parent");
    depth.push_back(node.parent < 0 ? 0 : depth[static_cast<size_t>(node.parent)] + 1);
    if (depth.back() >= kMaxRigDepth)
      r.Fail(label + " lies deeper than " + std::to_string(kMaxRigDepth) + " levels");
    node.local = ReadMatrix(r, label + ": its transform");
    node.mesh = ReadIndex(r, meshes, true, label + ": its mesh");
    rig.nodes.push_back(std::move(node));
  }
  const std::size_t skins = r.Count(12, "skins");
  for (std::size_t i = 0; i < skins; ++i) rig.skins.push_back(ReadSkin(r, rig, meshes, i));
  const std::size_t clips = r.Count(16, "clips");
  for (std::size_t i = 0; i < clips; ++i) rig.clips.push_back(ReadClip(r, nodes));
  const std::size_t notes = r.Count(4, "notes");
  for (std::size_t i = 0; i < notes; ++i) rig.notes.push_back(r.Text());
  rig.pictureFolder = r.Text();
  return rig;
}

}  // namespace headless
