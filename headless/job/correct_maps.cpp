#include "headless/job/correct_maps.h"

#include <algorithm>
#include <filesystem>
#include <stdexcept>

#include "headless/deformers/skin.h"
#include "headless/files/printable.h"
#include "headless/io/weights_file.h"
#include "headless/platform/paths.h"
#include "headless/scene/deform.h"
#include "headless/scene/parameters.h"
#include "host/abi/ids.h"

namespace headless {
namespace {

std::string NameList(const std::vector<std::string>& names) {
  std::string list;
  for (const std::string& name : names)
    list += (list.empty() ? "'" : ", '") + Printable(name) + "'";
  return list;
}

std::vector<std::string> NamesOf(const std::vector<Node*>& objects) {
  std::vector<std::string> names;
  for (const Node* object : objects) names.push_back(object->name);
  return names;
}

// The index in `deformed` of the mesh a file is for.
size_t MeshOfFile(const MapSource& source, const std::vector<Node*>& deformed,
                  const std::string& option) {
  const std::vector<std::string> names = NamesOf(deformed);
  if (source.mesh.empty()) {
    if (deformed.size() == 1) return 0;
    throw std::invalid_argument(option + " " + source.file + ": the scene deforms " +
                                std::to_string(deformed.size()) + " meshes (" + NameList(names) +
                                "); name one as MESH=FILE");
  }
  const auto it = std::find(names.begin(), names.end(), source.mesh);
  if (it == names.end())
    throw std::invalid_argument(option + ": no deformed mesh is called '" + Printable(source.mesh) +
                                "'; they are " + NameList(names));
  return static_cast<size_t>(it - names.begin());
}

}  // namespace

MapSource ParseMapFile(const std::string& text, const std::vector<std::string>& meshes,
                       const std::string& option) {
  const size_t equals = text.find('=');
  std::error_code ec;
  if (equals == std::string::npos || std::filesystem::exists(platform::PathFromUtf8(text), ec))
    return {"", text, ""};
  const std::string mesh = text.substr(0, equals);
  if (std::find(meshes.begin(), meshes.end(), mesh) == meshes.end())
    throw std::invalid_argument(option + " " + Printable(text) + ": no deformed mesh is called '" +
                                Printable(mesh) + "'; they are " + NameList(meshes));
  return {mesh, text.substr(equals + 1), ""};
}

std::vector<Float32> JointWeights(const Node* object, const std::string& joint) {
  for (const Node* skin = object->down; skin != nullptr; skin = skin->next) {
    if (skin->type != Oskin) continue;
    const InExcludeValue* joints = skin->params.GetInExclude(kSkinJoints);
    const InExcludeValue* maps = skin->params.GetInExclude(kSkinWeightMaps);
    if (joints == nullptr || maps == nullptr) continue;
    for (size_t j = 0; j < joints->targets.size() && j < maps->targets.size(); ++j) {
      const Node* node = FindLiveNode(joints->targets[j]);
      const Node* map = FindLiveNode(maps->targets[j]);
      if (node != nullptr && map != nullptr && node->name == joint &&
          map->weights.size() == object->points.size())
        return map->weights;
    }
  }
  return {};
}

std::vector<std::vector<Float32>> MapWeights(const std::vector<MapSource>& sources,
                                             const std::vector<Node*>& deformed,
                                             const std::string& option, bool unitRange) {
  std::vector<std::vector<Float32>> weights(deformed.size());
  std::vector<bool> given(deformed.size(), false);
  auto take = [&](size_t m) {
    if (given[m])
      throw std::invalid_argument(option + ": mesh '" + Printable(deformed[m]->name) +
                                  "' is given two maps");
    given[m] = true;
  };
  for (const MapSource& source : sources) {
    if (source.joint.empty()) {
      const size_t m = MeshOfFile(source, deformed, option);
      take(m);
      weights[m] = ReadWeightsFile(source.file, deformed[m]->points.size(),
                                   "mesh " + deformed[m]->name, unitRange);
      continue;
    }
    bool found = false;
    for (size_t m = 0; m < deformed.size(); ++m) {
      take(m);
      weights[m] = JointWeights(deformed[m], source.joint);
      if (weights[m].empty())
        weights[m].assign(deformed[m]->points.size(), 0.0f);  // the joint does not reach it
      else
        found = true;
    }
    if (!found)
      throw std::invalid_argument(option + " " + Printable(source.joint) +
                                  ": no skin of the deformed meshes (" +
                                  NameList(NamesOf(deformed)) + ") lists a joint of that name");
  }
  return weights;
}

void LinkSmoothingMap(Document& doc, Node* object, std::vector<Float32> weights) {
  Node* map = doc.AddVertexMap(object, std::move(weights), "smoothing weights");
  if (map == nullptr) throw std::runtime_error("out of memory");
  Value link;
  link.type = ValueType::kLink;
  link.link.target = map->serial;
  for (Node* tag : Document::Tags(object))
    if (tag->type == ID_TTESSAMIRE) SetParameter(tag, TTESSAMIRE_VERTEXMAP, link);
}

void RestrictDeformers(Document& doc, Node* object, std::vector<Float32> weights) {
  Node* map = doc.AddVertexMap(object, std::move(weights), "restriction");
  if (map == nullptr) throw std::runtime_error("out of memory");
  for (Node* child = object->down; child != nullptr; child = child->next)
    if (child->type == ID_OTESSAMIRE) RestrictDeformer(child, map);
}

}  // namespace headless
