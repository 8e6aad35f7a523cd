#include "headless/host/deform_entries.h"

#include <cstring>

#include "headless/host/entry_guard.h"
#include "headless/host/framework.h"
#include "headless/scene/deform.h"
#include "headless/scene/draw.h"

namespace headless {

namespace {

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

void InstallDeformEntries(HostTable& t) {
  t.priorityListAdd = Entry<PriorityListAdd>;
  t.restrictionWeights = Entry<RestrictionWeights>;
  t.objectDefaultDraw = Entry<DefaultDraw>;
}

}  // namespace headless
