#include "source/tessamireThreads/neighbourhoods.h"

#include <algorithm>
#include <cstring>

#include "host/binding/binding.h"

Bool PolygonIndicesInRange(std::span<const CPolygon> polygons, Int32 pointCount) {
  // Unsigned compare folds the negative test into the upper bound.
  const UInt32 limit = static_cast<UInt32>(pointCount < 0 ? 0 : pointCount);
  for (const CPolygon& p : polygons) {
    if (static_cast<UInt32>(p.a) >= limit || static_cast<UInt32>(p.b) >= limit ||
        static_cast<UInt32>(p.c) >= limit || static_cast<UInt32>(p.d) >= limit)
      return false;
  }
  return true;
}

Bool BuildAdjacency(std::span<const CPolygon> polygons, Int32 pointCount,
                    AdjacencyOwner& adjacency) {
  Neighbor::Free(adjacency.slot());
  adjacency.slot() = Neighbor::Alloc();
  if (adjacency.slot() == nullptr) return false;
  const Int32 polygonCount = static_cast<Int32>(polygons.size());
  return adjacency.slot()->Init(pointCount, polygonCount > 0 ? polygons.data() : nullptr,
                                polygonCount);
}

namespace {

// Ends of side j of a polygon: (a, b), (b, c), (c, d), (d, a).
inline void SideEnds(const CPolygon& p, Int32 j, Int32& from, Int32& to) {
  switch (j) {
    case 0:
      from = p.a;
      to = p.b;
      break;
    case 1:
      from = p.b;
      to = p.c;
      break;
    case 2:
      from = p.c;
      to = p.d;
      break;
    default:
      from = p.d;
      to = p.a;
      break;
  }
}

}  // namespace

Bool BuildNeighbourhoodsByWalk(std::span<const CPolygon> polygons, Int32 pointCount,
                               const Neighbor& adjacency, NeighbourLists& lists,
                               BorderFlags& border) {
  const Int32 polygonCount = static_cast<Int32>(polygons.size());
  if (pointCount < 0) return false;
  HostArray<std::uint8_t> sidesTaken;
  if (!border.flag.AllocateZeroed(pointCount) ||
      !lists.start.AllocateZeroed(Int64{pointCount} + 1) || !sidesTaken.Allocate(polygonCount))
    return false;
  std::uint8_t* flag = border.flag.GetData();
  Int64* start = lists.start.GetData();

  // Pass 1: the walk's decisions per polygon (bit j: side j is appended), the border flags, and
  // the entry count of every point in start[p]. The host's whole array of side information, when
  // it offers one, spares a call per polygon.
  const PolyInfo* infos = adjacency.GetPolyInfoArray();
  for (Int32 i = 0; i < polygonCount; ++i) {
    const CPolygon& polygon = polygons[i];
    PolyInfo info;
    if (infos != nullptr)
      info = infos[i];
    else if (!adjacency.GetPolyInfo(i, info))
      return false;
    std::uint8_t taken = 0;
    for (Int32 j = 0; j < 4; ++j) {
      if (info.edgeReported[j]) continue;
      if (j == 2 && polygon.c == polygon.d) continue;
      Int32 p;
      Int32 q;
      SideEnds(polygon, j, p, q);
      if (info.face[j] == -1) {
        flag[p] = 1;
        flag[q] = 1;
      }
      ++start[p];
      ++start[q];
      taken = static_cast<std::uint8_t>(taken | (1u << j));
    }
    sidesTaken[i] = taken;
  }

  // start[p] becomes the end of p's entries; filling backwards from the ends then leaves start[p]
  // at the beginning of p's entries.
  for (Int64 p = 1; p < pointCount; ++p) start[p] += start[p - 1];
  start[pointCount] = pointCount > 0 ? start[pointCount - 1] : 0;
  if (!lists.index.Allocate(start[pointCount])) return false;
  Int32* index = lists.index.GetData();

  // Pass 2: the same walk in reverse (polygons, sides and the two appends of a side all
  // reversed), each entry placed just before the later ones, so every list ends up in forward
  // walk order.
  for (Int32 i = polygonCount - 1; i >= 0; --i) {
    const std::uint8_t taken = sidesTaken[i];
    for (Int32 j = 3; j >= 0; --j) {
      if ((taken & (1u << j)) == 0) continue;
      Int32 p;
      Int32 q;
      SideEnds(polygons[i], j, p, q);
      index[--start[q]] = p;
      index[--start[p]] = q;
    }
  }
  return true;
}

namespace {

// Whether the walk appends side j of a polygon (see BuildNeighbourhoods).
inline bool SideTaken(const CPolygon& polygon, const PolyInfo& info, Int32 j) {
  return !info.edgeReported[j] && !(j == 2 && polygon.c == polygon.d);
}

// The walk split by polygons: each of kWalkBlocks consecutive blocks of polygons counts its own
// entries of every point and later places them from its own cursor, which starts after the
// earlier blocks' entries of the point, so every list comes out in the whole walk's order. The
// blocks run in parallel and write disjoint entries; the points' offsets and border flags are
// settled between the two, by ranges of points in parallel.
constexpr Int32 kWalkBlocks = 2;
// Below this many polygons the single walk is as quick.
constexpr Int32 kBlockedWalkPolygons = 1 << 15;
// Points per range of the offsets' sums.
constexpr Int64 kPointsPerRange = 1 << 14;

struct BlockedWalk {
  const CPolygon* polygons;
  const PolyInfo* infos;
  Int32 polygonCount;
  Int32 pointCount;
  // Per block, per point: its entries, then its cursor within the point's entries. Each edge is
  // taken once, so a point has fewer entries than there are points: 32 bits suffice.
  Int32* blockCounts;
  std::uint8_t* blockBorder;  // per block, per point: 1 when the block takes an open side of it
  std::uint8_t* flag;
  Int64* start;
  Int64* rangeOffset;  // per range of points: its entry count, then where its first point starts
  Int32* index;
};

Int32 BlockBegin(const BlockedWalk& w, Int64 b) {
  return static_cast<Int32>(Int64{w.polygonCount} * b / kWalkBlocks);
}

Int64 RangeEnd(const BlockedWalk& w, Int64 r) {
  return std::min<Int64>((r + 1) * kPointsPerRange, w.pointCount);
}

// Pass 1 of block b: its entries of every point and its open sides.
void CountBlock(const BlockedWalk& w, Int64 b) {
  Int32* counts = w.blockCounts + b * w.pointCount;
  std::uint8_t* open = w.blockBorder + b * w.pointCount;
  // Each block clears its own counts and marks, so the clearing is shared out too.
  std::memset(counts, 0, static_cast<size_t>(w.pointCount) * sizeof(Int32));
  std::memset(open, 0, static_cast<size_t>(w.pointCount));
  for (Int32 i = BlockBegin(w, b); i < BlockBegin(w, b + 1); ++i) {
    const CPolygon& polygon = w.polygons[i];
    const PolyInfo& info = w.infos[i];
    for (Int32 j = 0; j < 4; ++j) {
      if (!SideTaken(polygon, info, j)) continue;
      Int32 p;
      Int32 q;
      SideEnds(polygon, j, p, q);
      if (info.face[j] == -1) {
        open[p] = 1;
        open[q] = 1;
      }
      ++counts[p];
      ++counts[q];
    }
  }
}

// Points of range r: start[p] = p's entries, each block's count its cursor within them, and the
// border flag from every block's; the range's total in rangeOffset[r].
void CountRange(const BlockedWalk& w, Int64 r) {
  Int64 total = 0;
  for (Int64 p = r * kPointsPerRange; p < RangeEnd(w, r); ++p) {
    Int64 within = 0;
    std::uint8_t open = 0;
    for (Int64 b = 0; b < kWalkBlocks; ++b) {
      Int32& count = w.blockCounts[b * w.pointCount + p];
      const Int32 entries = count;
      count = static_cast<Int32>(within);
      within += entries;
      open |= w.blockBorder[b * w.pointCount + p];
    }
    w.start[p] = within;
    w.flag[p] = open;
    total += within;
  }
  w.rangeOffset[r] = total;
}

// Points of range r: start[p] becomes p's offset.
void PlaceRange(const BlockedWalk& w, Int64 r) {
  Int64 offset = w.rangeOffset[r];
  for (Int64 p = r * kPointsPerRange; p < RangeEnd(w, r); ++p) {
    const Int64 entries = w.start[p];
    w.start[p] = offset;
    offset += entries;
  }
}

// Pass 2 of block b: its entries placed in walk order from its cursors.
void FillBlock(const BlockedWalk& w, Int64 b) {
  Int32* cursor = w.blockCounts + b * w.pointCount;
  for (Int32 i = BlockBegin(w, b); i < BlockBegin(w, b + 1); ++i) {
    const CPolygon& polygon = w.polygons[i];
    const PolyInfo& info = w.infos[i];
    for (Int32 j = 0; j < 4; ++j) {
      if (!SideTaken(polygon, info, j)) continue;
      Int32 p;
      Int32 q;
      SideEnds(polygon, j, p, q);
      w.index[w.start[p] + cursor[p]++] = q;
      w.index[w.start[q] + cursor[q]++] = p;
    }
  }
}

// Runs Step for every index of [0, count) on the workers, one index to a chunk.
template <void (*Step)(const BlockedWalk&, Int64)>
void EachOf(BlockedWalk& walk, Int64 count) {
  Framework().parallelFor(count, 1, &walk, [](void* c, Int64 begin, Int64 end) noexcept {
    for (Int64 k = begin; k < end; ++k) Step(*static_cast<const BlockedWalk*>(c), k);
  });
}

}  // namespace

Bool BuildNeighbourhoods(std::span<const CPolygon> polygons, Int32 pointCount,
                         const Neighbor& adjacency, NeighbourLists& lists, BorderFlags& border) {
  const PolyInfo* infos = adjacency.GetPolyInfoArray();
  const Int32 polygonCount = static_cast<Int32>(polygons.size());
  if (pointCount < 1 || polygonCount < kBlockedWalkPolygons || infos == nullptr)
    return BuildNeighbourhoodsByWalk(polygons, pointCount, adjacency, lists, border);
  const Int64 ranges = (Int64{pointCount} + kPointsPerRange - 1) / kPointsPerRange;
  HostArray<Int32> blockCounts;
  HostArray<std::uint8_t> blockBorder;
  HostArray<Int64> rangeOffset;
  if (!border.flag.Allocate(pointCount) || !lists.start.Allocate(Int64{pointCount} + 1) ||
      !blockCounts.Allocate(Int64{kWalkBlocks} * pointCount) ||
      !blockBorder.Allocate(Int64{kWalkBlocks} * pointCount) || !rangeOffset.Allocate(ranges))
    return false;
  BlockedWalk walk{polygons.data(),       infos,
                   polygonCount,          pointCount,
                   blockCounts.GetData(), blockBorder.GetData(),
                   border.flag.GetData(), lists.start.GetData(),
                   rangeOffset.GetData(), nullptr};
  EachOf<CountBlock>(walk, kWalkBlocks);
  EachOf<CountRange>(walk, ranges);
  Int64 running = 0;
  for (Int64 r = 0; r < ranges; ++r) {
    const Int64 total = rangeOffset[r];
    rangeOffset[r] = running;
    running += total;
  }
  lists.start[pointCount] = running;
  EachOf<PlaceRange>(walk, ranges);
  if (!lists.index.Allocate(running)) return false;
  walk.index = lists.index.GetData();
  EachOf<FillBlock>(walk, kWalkBlocks);
  return true;
}

Bool BuildMeshTopology(std::span<const CPolygon> polygons, Int32 pointCount,
                       MeshTopology& topology) {
  return BuildAdjacency(polygons, pointCount, topology.adjacency) &&
         BuildNeighbourhoods(polygons, pointCount, *topology.adjacency.get(), topology.lists,
                             topology.border);
}
