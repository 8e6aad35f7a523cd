#include "headless/characters/glb_scene.h"

#include <filesystem>
#include <stdexcept>

#include "headless/characters/glb_images.h"
#include "headless/files/asset_root.h"
#include "headless/platform/paths.h"

namespace headless {
namespace {

std::string Floats(const Float32* values, int n) {
  std::string text = "[";
  for (int k = 0; k < n; ++k) text += (k > 0 ? "," : "") + GlbNumber(values[k]);
  return text + "]";
}

std::string Trs(const NodeTrs& trs) {
  return ",\"translation\":" + Floats(trs.translation.data(), 3) +
         ",\"rotation\":" + Floats(trs.rotation.data(), 4) +
         ",\"scale\":" + Floats(trs.scale.data(), 3);
}

}  // namespace

GlbNodes WriteNodes(const Rig& rig, const std::vector<NodeTrs>& rest,
                    const std::vector<GlbPlacement>& placements) {
  const size_t count = rig.nodes.size();
  std::vector<std::string> children(count);
  GlbNodes out;
  for (size_t n = 0; n < count; ++n) {
    const Int32 parent = rig.nodes[n].parent;
    if (parent >= 0)
      children[parent] += (children[parent].empty() ? "" : ",") + std::to_string(n);
    else
      out.roots += (out.roots.empty() ? "" : ",") + std::to_string(n);
  }
  std::vector<Int64> drawn(count, -1);  // the mesh an unskinned rig node draws
  out.meshNode.assign(placements.size(), -1);
  Int64 next = static_cast<Int64>(count);
  for (size_t m = 0; m < placements.size(); ++m) {
    if (placements[m].node >= 0 && placements[m].skin < 0) {
      drawn[placements[m].node] = static_cast<Int64>(m);
      out.meshNode[m] = placements[m].node;
    } else {
      out.meshNode[m] = next++;
    }
  }
  for (size_t n = 0; n < count; ++n) {
    out.nodes += (n > 0 ? ",{\"name\":" : "{\"name\":") + GlbJsonString(rig.nodes[n].name) +
                 Trs(rest[n]) + (children[n].empty() ? "" : ",\"children\":[" + children[n] + "]") +
                 (drawn[n] >= 0 ? ",\"mesh\":" + std::to_string(drawn[n]) : "") + "}";
  }
  for (size_t m = 0; m < placements.size(); ++m) {
    if (out.meshNode[m] < static_cast<Int64>(count)) continue;
    out.nodes +=
        std::string(out.nodes.empty() ? "" : ",") +
        "{\"name\":" + GlbJsonString(placements[m].name) + ",\"mesh\":" + std::to_string(m) +
        (placements[m].skin >= 0 ? ",\"skin\":" + std::to_string(placements[m].skin) : "") + "}";
    out.roots += (out.roots.empty() ? "" : ",") + std::to_string(out.meshNode[m]);
  }
  return out;
}

std::vector<std::optional<GlbImage>> LoadPictures(const Rig& rig, const std::string& folder,
                                                  std::vector<std::string>& notes) {
  std::vector<std::optional<GlbImage>> pictures(rig.materials.size());
  // The folder is the asset root: pictures are taken from its tree only.
  AssetRoot root;
  std::error_code ec;
  if (!folder.empty())
    root.folder = root.base = platform::Utf8FromPath(
        std::filesystem::weakly_canonical(platform::PathFromUtf8(folder), ec));
  for (size_t k = 0; k < rig.materials.size(); ++k) {
    const RigMaterial& material = rig.materials[k];
    if (material.texture.empty()) continue;
    try {
      std::string why;
      const std::optional<std::string> file = PictureInRoot(root, material.texture, why);
      if (!file) throw std::runtime_error(material.texture + " " + why);
      pictures[k] = LoadGlbImage(*file);
    } catch (const std::runtime_error& e) {
      notes.push_back("material \"" + material.name + "\": its picture is left out: " + e.what());
    }
  }
  return pictures;
}

std::string WriteMaterials(const Rig& rig, const std::vector<std::string>& names,
                           const std::vector<std::optional<GlbImage>>& pictures,
                           GlbBuffer& buffer) {
  std::string materials, textures, images;
  Int64 embedded = 0;
  for (size_t k = 0; k < names.size(); ++k) {
    const RigMaterial* source = nullptr;
    const GlbImage* picture = nullptr;
    for (size_t r = 0; r < rig.materials.size() && source == nullptr; ++r)
      if (rig.materials[r].name == names[k] && !names[k].empty()) {
        source = &rig.materials[r];
        picture = pictures[r] ? &*pictures[r] : nullptr;
      }
    RigMaterial material = source != nullptr ? *source : RigMaterial{};
    material.name = names[k].empty() ? std::string("default") : names[k];
    if (source == nullptr) material.baseColour = {0.8, 0.8, 0.8, 1.0};
    std::string texture;
    if (picture != nullptr) {
      const Int64 view = buffer.View(buffer.AppendValues(std::span<const char>(picture->bytes)),
                                     static_cast<Int64>(picture->bytes.size()));
      images += std::string(embedded > 0 ? "," : "") + "{\"bufferView\":" + std::to_string(view) +
                ",\"mimeType\":\"" + picture->mimeType + "\"}";
      textures += std::string(embedded > 0 ? "," : "") +
                  "{\"sampler\":0,\"source\":" + std::to_string(embedded) + "}";
      texture = ",\"baseColorTexture\":{\"index\":" + std::to_string(embedded++) + "}";
    }
    std::string colour = "[";
    for (int c = 0; c < 4; ++c)
      colour += (c > 0 ? "," : "") + GlbNumber(static_cast<Float32>(material.baseColour[c]));
    materials += std::string(k > 0 ? "," : "") + "{\"name\":" + GlbJsonString(material.name) +
                 ",\"pbrMetallicRoughness\":{\"baseColorFactor\":" + colour + "]" + texture +
                 ",\"metallicFactor\":" +
                 GlbNumber(static_cast<Float32>(material.metallicGiven ? material.metallic : 0.0)) +
                 ",\"roughnessFactor\":" + GlbNumber(static_cast<Float32>(material.roughness)) +
                 "}}";
  }
  std::string out;
  if (!materials.empty()) out += ",\"materials\":[" + materials + "]";
  if (embedded > 0)
    out += ",\"textures\":[" + textures + "],\"images\":[" + images +
           "],\"samplers\":[{\"magFilter\":9729,\"minFilter\":9987}]";
  return out;
}

}  // namespace headless
