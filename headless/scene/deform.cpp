#include "headless/scene/deform.h"

#include <cstring>
#include <stdexcept>

#include "headless/scene/native_deformers.h"
#include "headless/scene/registry.h"
#include "headless/scene/scene_state.h"
#include "host/abi/plugin_base.h"

namespace headless {

namespace {

std::string Describe(const Node* node) {
  return "'" + node->name + "' (type " + std::to_string(node->type) + ")";
}

bool IsPluginDeformer(const Node* node) {
  if (node == nullptr || node->isTag || node->instance == nullptr) return false;
  Registration registration;
  return FindRegistration(node->type, registration) && registration.kind == PluginKind::kObject &&
         (registration.flags & OBJECT_MODIFIER) != 0;
}

// The object's deform cache becomes a copy of its stored points.
void CopyIntoDeformCache(Node& object) {
  // Sized once: an animated mesh keeps its point count, so later passes only copy.
  if (object.deformCache.size() != object.points.size())
    object.deformCache.resize(object.points.size());
  if (object.points.empty()) return;
  const PointCopy copy = TheSceneState().deformCacheCopy.load(std::memory_order_acquire);
  if (copy != nullptr)
    copy(object.points.data(), object.deformCache.data(), static_cast<Int64>(object.points.size()));
  else
    std::memcpy(object.deformCache.data(), object.points.data(),
                object.points.size() * sizeof(Vector3));
}

// Sets the object's deform cache in use for as long as it lives, whatever happens.
class DeformCacheInUse {
 public:
  explicit DeformCacheInUse(Node* object) : object_(object) { object_->useDeformCache = true; }
  ~DeformCacheInUse() { object_->useDeformCache = false; }
  DeformCacheInUse(const DeformCacheInUse&) = delete;
  DeformCacheInUse& operator=(const DeformCacheInUse&) = delete;

 private:
  Node* object_;
};

void CheckRestriction(const Node* deformer, const Node* object, DeformReport& report) {
  const Node* map = RestrictionOf(deformer);
  if (map == nullptr || map->up != object) return;
  if (map->weights.size() != object->deformCache.size())
    report.warnings.push_back("deformer " + Describe(deformer) + " on object " + Describe(object) +
                              ": restriction map '" + map->name + "' holds " +
                              std::to_string(map->weights.size()) + " weights for " +
                              std::to_string(object->deformCache.size()) +
                              " points; the deformer runs unrestricted");
}

void RunDeformer(Document& doc, Node* deformer, Node* object, DeformReport& report) {
  DeformCall call;
  call.deformer = deformer->serial;
  call.object = object->serial;
  const std::string where = "deformer " + Describe(deformer) + " on object " + Describe(object);
  if (const NativeDeformer native = FindNativeDeformer(deformer->type)) {
    try {
      native(deformer, object, object->deformCache);
      call.result = true;
    } catch (const std::exception& e) {
      report.errors.push_back(where + ": " + e.what());
    }
  } else {
    CheckRestriction(deformer, object, report);
    auto* data = static_cast<ObjectData*>(deformer->instance);
    const Matrix identity;
    object->pointsKept.store(0);
    try {
      call.result = data->CallDeformObject(ToObject(deformer), ToDocument(&doc), ToObject(object),
                                           identity, identity, 1.0, 0, nullptr);
    } catch (...) {
      call.result = false;
    }
    if (!call.result) report.errors.push_back(where + ": DeformObject answered false");
    call.pointsKept = object->pointsKept.exchange(0);
    if (call.pointsKept > 0)
      report.warnings.push_back(where + ": " + std::to_string(call.pointsKept) +
                                " points whose corrected position was not finite kept their "
                                "input position");
  }
  report.calls.push_back(call);
}

}  // namespace

bool IsDeformer(const Node* node) {
  if (node == nullptr || node->isTag) return false;
  return FindNativeDeformer(node->type) != nullptr || IsPluginDeformer(node);
}

DeformReport DeformDocument(Document& doc) {
  DeformReport report;
  const std::vector<Node*> objects = doc.Objects();
  std::vector<Node*> plugins;
  for (Node* node : objects)
    if (IsPluginDeformer(node)) plugins.push_back(node);

  auto* list = reinterpret_cast<PriorityList*>(&report.executionList);
  std::map<UInt64, bool> prepared;
  for (Node* node : plugins) {
    auto* data = static_cast<ObjectData*>(node->instance);
    try {
      data->CallRefreshDirty(ToObject(node), ToDocument(&doc));
      data->CallJoinExecution(ToObject(node), list);
    } catch (...) {
      report.errors.push_back("deformer " + Describe(node) + ": exception in its upkeep");
    }
  }
  for (Node* node : plugins) {
    auto* data = static_cast<ObjectData*>(node->instance);
    Int32 result = EXECUTIONRESULT_USERBREAK;
    try {
      result = data->CallPrepareExecution(ToObject(node), ToDocument(&doc), nullptr, 0, 0);
    } catch (...) {
      result = EXECUTIONRESULT_USERBREAK;
    }
    report.prepareResults.push_back(result);
    prepared[node->serial] = result == EXECUTIONRESULT_OK;
    if (result != EXECUTIONRESULT_OK)
      report.errors.push_back("deformer " + Describe(node) + ": PrepareExecution answered " +
                              std::to_string(result));
  }

  for (Node* object : objects) {
    if (!object->IsPolygonObject()) continue;
    std::vector<Node*> deformers;
    for (Node* child = object->down; child != nullptr; child = child->next)
      if (IsDeformer(child)) deformers.push_back(child);
    if (deformers.empty()) {
      object->deformCache.clear();
      continue;
    }
    CopyIntoDeformCache(*object);
    DeformCacheInUse inUse(object);
    for (Node* deformer : deformers) {
      if (!deformer->deformMode) continue;
      const auto it = prepared.find(deformer->serial);
      if (it != prepared.end() && !it->second) continue;
      RunDeformer(doc, deformer, object, report);
    }
  }
  return report;
}

void SetDeformCacheCopy(PointCopy copy) {
  TheSceneState().deformCacheCopy.store(copy, std::memory_order_release);
}

const std::vector<Vector3>& DeformedPoints(const Node* object) {
  if (object == nullptr || !object->IsPolygonObject())
    throw std::invalid_argument("DeformedPoints: the node is not a polygon object");
  return object->deformCache.empty() ? object->points : object->deformCache;
}

void RestrictDeformer(Node* deformer, Node* vertexMap) {
  if (!IsDeformer(deformer))
    throw std::invalid_argument("RestrictDeformer: the node is not a deformer");
  if (vertexMap != nullptr && (!vertexMap->isTag || vertexMap->type != Tvertexmap))
    throw std::invalid_argument("RestrictDeformer: the restriction is not a vertex-map tag");
  deformer->restriction.store(vertexMap == nullptr ? 0 : vertexMap->serial);
}

Node* RestrictionOf(const Node* deformer) {
  if (deformer == nullptr) return nullptr;
  const UInt64 serial = deformer->restriction.load();
  return serial == 0 ? nullptr : FindLiveNode(serial);
}

}  // namespace headless
