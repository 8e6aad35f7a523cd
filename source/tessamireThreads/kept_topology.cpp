#include "source/tessamireThreads/kept_topology.h"

#include <atomic>
#include <cstring>

#include "host/binding/binding.h"

namespace {

struct PolygonComparison {
  const CPolygon* a;
  const CPolygon* b;
  std::atomic<bool> differ{false};
};

constexpr Int64 kCompareBlock = 1 << 14;

}  // namespace

Bool SamePolygons(std::span<const CPolygon> a, std::span<const CPolygon> b) {
  if (a.size() != b.size()) return false;
  const Int64 count = static_cast<Int64>(a.size());
  if (count == 0) return true;
  PolygonComparison comparison{a.data(), b.data()};
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

const MeshTopology* KeptTopology::Find(std::span<const CPolygon> polygons, Int32 pointCount) const {
  if (!held_ || pointCount != pointCount_) return nullptr;
  return SamePolygons(polygons_.Span(), polygons) ? &topology_ : nullptr;
}

const MeshTopology* KeptTopology::Keep(std::span<const CPolygon> polygons, Int32 pointCount,
                                       MeshTopology& topology) {
  Release();
  if (pointCount < 0) return nullptr;
  if (!polygons_.Allocate(static_cast<Int64>(polygons.size()))) return nullptr;
  if (!polygons.empty()) std::memcpy(polygons_.GetData(), polygons.data(), polygons.size_bytes());
  topology_ = std::move(topology);
  pointCount_ = pointCount;
  held_ = true;
  ++keptCount_;
  return &topology_;
}

void KeptTopology::Release() {
  held_ = false;
  polygons_.Release();
  topology_ = MeshTopology();
  pointCount_ = 0;
}
