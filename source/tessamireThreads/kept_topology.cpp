#include "source/tessamireThreads/kept_topology.h"

#include <atomic>
#include <cstring>

#include "host/binding/binding.h"
#include "source/tessamireThreads/working_memory.h"

namespace {

struct PolygonComparison {
  const CPolygon* a;
  const CPolygon* b;
  std::atomic<bool> differ{false};
};

constexpr Int64 kCompareBlock = 1 << 14;

}  // namespace

Bool SamePolygons(const CPolygon* a, const CPolygon* b, Int32 count) {
  if (count <= 0) return true;
  if (a == nullptr || b == nullptr) return false;
  PolygonComparison comparison{a, b};
  Framework().parallelFor(
      count, kCompareBlock, &comparison, [](void* context, Int64 begin, Int64 end) noexcept {
        auto& c = *static_cast<PolygonComparison*>(context);
        // Once a difference is known the remaining blocks need not be read.
        if (c.differ.load(std::memory_order_relaxed)) return;
        const size_t bytes = static_cast<size_t>(end - begin) * sizeof(CPolygon);
        if (std::memcmp(c.a + begin, c.b + begin, bytes) != 0)
          c.differ.store(true, std::memory_order_relaxed);
      });
  return !comparison.differ.load(std::memory_order_relaxed);
}

const MeshTopology* KeptTopology::Find(const CPolygon* polygons, Int32 polygonCount,
                                       Int32 pointCount) const {
  if (!held_ || pointCount != pointCount_ || polygonCount != polygonCount_) return nullptr;
  return SamePolygons(polygons_.get(), polygons, polygonCount) ? &topology_ : nullptr;
}

const MeshTopology* KeptTopology::Keep(const CPolygon* polygons, Int32 polygonCount,
                                       Int32 pointCount, MeshTopology& topology) {
  Release();
  if (polygonCount < 0 || pointCount < 0 || (polygonCount > 0 && polygons == nullptr))
    return nullptr;
  if (!TESSAMIRE_ALLOCATE(polygons_, polygonCount)) return nullptr;
  if (polygonCount > 0)
    std::memcpy(polygons_.get(), polygons, static_cast<size_t>(polygonCount) * sizeof(CPolygon));
  topology_ = std::move(topology);
  pointCount_ = pointCount;
  polygonCount_ = polygonCount;
  held_ = true;
  ++keptCount_;
  return &topology_;
}

void KeptTopology::Release() {
  held_ = false;
  polygons_ = HostBuffer<CPolygon>();
  topology_ = MeshTopology();
  pointCount_ = 0;
  polygonCount_ = 0;
}
