#include "headless/entries/deform_entries.h"

#include <cstring>

#include "headless/entries/entry_guard.h"
#include "headless/entries/framework.h"
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

struct PointCopyContext {
  const Vector3* from;
  Vector3* to;
};

// The deform pass's copy of an object's points into its cache, in large blocks over the workers.
void CopyOverWorkers(const Vector3* from, Vector3* to, Int64 count) {
  PointCopyContext copy{from, to};
  ParallelFor(count, 1 << 14, &copy, [](void* context, Int64 begin, Int64 end) noexcept {
    const PointCopyContext& c = *static_cast<const PointCopyContext*>(context);
    std::memcpy(c.to + begin, c.from + begin, static_cast<size_t>(end - begin) * sizeof(Vector3));
  });
}

}  // namespace

void InstallDeformEntries(HostTable& t) {
  SetDeformCacheCopy(CopyOverWorkers);
  t.priorityListAdd = Entry<PriorityListAdd>;
  t.restrictionWeights = Entry<RestrictionWeights>;
  t.objectDefaultDraw = Entry<DefaultDraw>;
}

}  // namespace headless
