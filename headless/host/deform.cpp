#include "headless/host/deform.h"

#include <cmath>
#include <cstring>
#include <map>
#include <mutex>
#include <stdexcept>

#include "headless/host/draw.h"
#include "headless/host/framework.h"
#include "headless/host/registry.h"
#include "headless/host/skin.h"
#include "host/plugin_base.h"

namespace headless {

namespace {

std::string Describe(const Node* node) {
  return "'" + node->name + "' (type " + std::to_string(node->type) + ")";
}

void CheckFinite(const std::vector<Vector3>& points) {
  for (size_t i = 0; i < points.size(); ++i) {
    const Vector3& p = points[i];
    if (!std::isfinite(p.x) || !std::isfinite(p.y) || !std::isfinite(p.z))
      throw std::invalid_argument("point " + std::to_string(i) + " has a non-finite coordinate");
  }
}

void CheckPointCache(const Node* node, const char* caller) {
  if (node == nullptr || node->isTag || node->type != kPointCacheType)
    throw std::invalid_argument(std::string(caller) + ": the node is not a point cache");
}

bool PlayPointCache(Node* deformer, Node* object, std::vector<Vector3>& points,
                    std::string& error) {
  if (deformer->points.empty()) return true;
  std::vector<Float> frames;
  try {
    frames = PointCacheFrames(deformer);
  } catch (const std::invalid_argument& e) {
    error = e.what();
    return false;
  }
  const size_t samples = frames.empty() ? 1 : frames.size();
  if (deformer->points.size() != samples * points.size()) {
    error = (samples == 1 ? "the loaded frame holds "
                          : "the cache holds " + std::to_string(samples) + " samples of ") +
            std::to_string(deformer->points.size() / samples) + " points but the object has " +
            std::to_string(points.size());
    return false;
  }
  if (frames.size() < 2) {
    points = deformer->points;
    return true;
  }
  // The sample interval holding the frame, as the joints' keys do it.
  const Float frame = object->document != nullptr ? object->document->Frame() : 0.0;
  size_t i = 0;
  Float t = 0.0;
  if (frame >= frames.back()) {
    i = frames.size() - 1;
  } else if (frame > frames.front()) {
    while (frames[i + 1] <= frame) ++i;
    t = (frame - frames[i]) / (frames[i + 1] - frames[i]);
  }
  const Vector3* a = deformer->points.data() + i * points.size();
  if (t == 0.0) {
    points.assign(a, a + points.size());
    return true;
  }
  const Vector3* b = a + points.size();
  for (size_t p = 0; p < points.size(); ++p)
    points[p] = {a[p].x + t * (b[p].x - a[p].x), a[p].y + t * (b[p].y - a[p].y),
                 a[p].z + t * (b[p].z - a[p].z)};
  return true;
}

struct NativeRegistry {
  std::mutex mutex;
  std::map<Int32, NativeDeformer> routines{{kPointCacheType, PlayPointCache}, {Oskin, SkinDeform}};
};

NativeRegistry& Natives() {
  static NativeRegistry registry;
  return registry;
}

NativeDeformer FindNative(Int32 type) {
  NativeRegistry& registry = Natives();
  std::lock_guard<std::mutex> lock(registry.mutex);
  const auto it = registry.routines.find(type);
  return it == registry.routines.end() ? nullptr : it->second;
}

bool IsPluginDeformer(const Node* node) {
  if (node == nullptr || node->isTag || node->instance == nullptr) return false;
  Registration registration;
  return FindRegistration(node->type, registration) && registration.kind == PluginKind::kObject &&
         (registration.flags & OBJECT_MODIFIER) != 0;
}

// Deformer serial -> vertex-map serial. Serials are never reused, so an entry of a deleted node
// can never match a new one.
std::mutex g_restrictionMutex;
std::map<UInt64, UInt64> g_restrictions;

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
  if (const NativeDeformer native = FindNative(deformer->type)) {
    std::string error;
    call.result = native(deformer, object, object->deformCache, error);
    if (!call.result) report.errors.push_back(where + ": " + error);
  } else {
    CheckRestriction(deformer, object, report);
    auto* data = static_cast<ObjectData*>(deformer->instance);
    const Matrix identity;
    try {
      call.result = data->DeformObject(ToObject(deformer), ToDocument(&doc), ToObject(object),
                                       identity, identity, 1.0, 0, nullptr);
    } catch (...) {
      call.result = false;
    }
    if (!call.result) report.errors.push_back(where + ": DeformObject answered false");
  }
  report.calls.push_back(call);
}

Bool PriorityListAdd(PriorityList* list, BaseList2D* node, Int32 priority, Int32 flags) {
  if (list == nullptr || node == nullptr) return false;
  reinterpret_cast<ExecutionList*>(list)->entries.push_back(
      {FromHandle(node)->serial, priority, flags});
  return true;
}

Float32* RestrictionWeights(BaseObject* op, BaseObject* deformer) {
  const Node* object = FromHandle(op);
  const Node* map = RestrictionOf(FromHandle(deformer));
  if (object == nullptr || map == nullptr || map->up != object) return nullptr;
  const size_t count = object->CurrentPoints().size();
  if (map->weights.size() != count || count == 0) return nullptr;
  const Int64 bytes = static_cast<Int64>(count) * static_cast<Int64>(sizeof(Float32));
  auto* weights = static_cast<Float32*>(Allocate(bytes, false, __FILE__, __LINE__));
  if (weights != nullptr) std::memcpy(weights, map->weights.data(), static_cast<size_t>(bytes));
  return weights;
}

}  // namespace

void RegisterNativeDeformer(Int32 type, NativeDeformer deform) {
  if (deform == nullptr)
    throw std::invalid_argument("RegisterNativeDeformer: no routine for type " +
                                std::to_string(type));
  NativeRegistry& registry = Natives();
  std::lock_guard<std::mutex> lock(registry.mutex);
  registry.routines[type] = deform;
}

bool IsDeformer(const Node* node) {
  if (node == nullptr || node->isTag) return false;
  return FindNative(node->type) != nullptr || IsPluginDeformer(node);
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
      data->RefreshDirty(ToObject(node), ToDocument(&doc));
      data->JoinExecution(ToObject(node), list);
    } catch (...) {
      report.errors.push_back("deformer " + Describe(node) + ": exception in its upkeep");
    }
  }
  for (Node* node : plugins) {
    auto* data = static_cast<ObjectData*>(node->instance);
    Int32 result = EXECUTIONRESULT_USERBREAK;
    try {
      result = data->PrepareExecution(ToObject(node), ToDocument(&doc), nullptr, 0, 0);
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
    object->deformCache = object->points;
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
  std::lock_guard<std::mutex> lock(g_restrictionMutex);
  if (vertexMap == nullptr) {
    g_restrictions.erase(deformer->serial);
  } else {
    g_restrictions[deformer->serial] = vertexMap->serial;
  }
}

Node* RestrictionOf(const Node* deformer) {
  if (deformer == nullptr) return nullptr;
  UInt64 serial = 0;
  {
    std::lock_guard<std::mutex> lock(g_restrictionMutex);
    const auto it = g_restrictions.find(deformer->serial);
    if (it == g_restrictions.end()) return nullptr;
    serial = it->second;
  }
  return FindLiveNode(serial);
}

void LoadPointCacheFrame(Node* pointCache, std::vector<Vector3> points) {
  CheckPointCache(pointCache, "LoadPointCacheFrame");
  try {
    CheckFinite(points);
  } catch (const std::invalid_argument& e) {
    throw std::invalid_argument(std::string("LoadPointCacheFrame: ") + e.what());
  }
  std::vector<Int32> ids;
  for (const auto& [id, value] : pointCache->params.Entries())
    if (id == kPointCacheSampleCount || id >= kPointCacheFrames) ids.push_back(id);
  for (Int32 id : ids) pointCache->params.Erase(id);
  pointCache->points = std::move(points);
}

void LoadPointCacheSamples(Node* pointCache, Int64 pointCount, const std::vector<Float>& frames,
                           std::vector<Vector3> points) {
  CheckPointCache(pointCache, "LoadPointCacheSamples");
  const std::string caller = "LoadPointCacheSamples: ";
  if (frames.empty() || frames.size() > static_cast<size_t>(kMaxPointCacheSamples))
    throw std::invalid_argument(caller + std::to_string(frames.size()) + " samples (1 to " +
                                std::to_string(kMaxPointCacheSamples) + " can be held)");
  if (pointCount < 0 ||
      static_cast<Int64>(points.size()) != pointCount * static_cast<Int64>(frames.size()))
    throw std::invalid_argument(caller + std::to_string(points.size()) + " points are not " +
                                std::to_string(frames.size()) + " samples of " +
                                std::to_string(pointCount));
  for (size_t s = 0; s < frames.size(); ++s)
    if (!std::isfinite(frames[s]) || (s > 0 && !(frames[s] > frames[s - 1])))
      throw std::invalid_argument(caller + "the frame of sample " + std::to_string(s) +
                                  " is not finite or not after the one before");
  LoadPointCacheFrame(pointCache, std::move(points));
  pointCache->params.SetInt32(kPointCacheSampleCount, static_cast<Int32>(frames.size()));
  for (size_t s = 0; s < frames.size(); ++s)
    pointCache->params.SetFloat(kPointCacheFrames + static_cast<Int32>(s), frames[s]);
}

std::vector<Float> PointCacheFrames(const Node* pointCache) {
  CheckPointCache(pointCache, "PointCacheFrames");
  const std::optional<Int32> count = pointCache->params.GetInt32(kPointCacheSampleCount);
  std::vector<Float> frames;
  if (!count) return frames;
  if (*count < 1 || *count > kMaxPointCacheSamples)
    throw std::invalid_argument("point cache '" + pointCache->name + "': sample count " +
                                std::to_string(*count) + " out of range");
  for (Int32 s = 0; s < *count; ++s) {
    const std::optional<Float> frame = pointCache->params.GetFloat(kPointCacheFrames + s);
    if (!frame || !std::isfinite(*frame) || (s > 0 && !(*frame > frames.back())))
      throw std::invalid_argument("point cache '" + pointCache->name + "': the frame of sample " +
                                  std::to_string(s) + " is missing, not finite or out of order");
    frames.push_back(*frame);
  }
  return frames;
}

void InstallDeformEntries(HostTable& t) {
  t.priorityListAdd = PriorityListAdd;
  t.restrictionWeights = RestrictionWeights;
  t.objectDefaultDraw = DefaultDraw;
}

}  // namespace headless
