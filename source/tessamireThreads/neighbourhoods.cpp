#include "source/tessamireThreads/neighbourhoods.h"

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

// The walk split by points: each of kWalkRanges ranges of points walks every polygon but counts,
// flags and places only the entries of its own points, so the ranges run in parallel and write
// disjoint parts of every array, and each list comes out in the whole walk's order. Every range
// reads all polygons; the writes, scattered over the lists, are what is shared out.
constexpr Int64 kWalkRanges = 2;
// Below this many polygons the single walk is as quick.
constexpr Int32 kRangedWalkPolygons = 1 << 15;

struct RangedWalk {
  const CPolygon* polygons;
  const PolyInfo* infos;
  Int32 polygonCount;
  Int32 pointCount;
  std::uint8_t* flag;
  Int64* start;
  Int64* rangeTotal;  // per range: its entry count, then the offset its first point starts at
  Int32* index;
};

Int32 RangeBegin(const RangedWalk& w, Int64 r) {
  return static_cast<Int32>(Int64{w.pointCount} * r / kWalkRanges);
}

// Pass 1 of ranges [rangeBegin, rangeEnd), in one walk: their points' entry counts in start[p],
// their border flags, and each range's total.
void CountRanges(const RangedWalk& w, Int64 rangeBegin, Int64 rangeEnd) {
  const Int32 from = RangeBegin(w, rangeBegin);
  const Int32 to = RangeBegin(w, rangeEnd);
  for (Int32 i = 0; i < w.polygonCount; ++i) {
    const CPolygon& polygon = w.polygons[i];
    const PolyInfo& info = w.infos[i];
    for (Int32 j = 0; j < 4; ++j) {
      if (!SideTaken(polygon, info, j)) continue;
      Int32 p;
      Int32 q;
      SideEnds(polygon, j, p, q);
      for (const Int32 end : {p, q}) {
        if (end < from || end >= to) continue;
        if (info.face[j] == -1) w.flag[end] = 1;
        ++w.start[end];
      }
    }
  }
  for (Int64 r = rangeBegin; r < rangeEnd; ++r) {
    Int64 total = 0;
    for (Int32 p = RangeBegin(w, r); p < RangeBegin(w, r + 1); ++p) total += w.start[p];
    w.rangeTotal[r] = total;
  }
}

// Pass 2 of ranges [rangeBegin, rangeEnd), in one walk: start[p] becomes the end of p's entries,
// then the walk in reverse places each entry just before the later ones (see
// BuildNeighbourhoodsByWalk), leaving start[p] at p's first.
void FillRanges(const RangedWalk& w, Int64 rangeBegin, Int64 rangeEnd) {
  const Int32 from = RangeBegin(w, rangeBegin);
  const Int32 to = RangeBegin(w, rangeEnd);
  Int64 running = w.rangeTotal[rangeBegin];
  for (Int32 p = from; p < to; ++p) {
    running += w.start[p];
    w.start[p] = running;
  }
  for (Int32 i = w.polygonCount - 1; i >= 0; --i) {
    const CPolygon& polygon = w.polygons[i];
    const PolyInfo& info = w.infos[i];
    for (Int32 j = 3; j >= 0; --j) {
      if (!SideTaken(polygon, info, j)) continue;
      Int32 p;
      Int32 q;
      SideEnds(polygon, j, p, q);
      if (q >= from && q < to) w.index[--w.start[q]] = p;
      if (p >= from && p < to) w.index[--w.start[p]] = q;
    }
  }
}

}  // namespace

Bool BuildNeighbourhoods(std::span<const CPolygon> polygons, Int32 pointCount,
                         const Neighbor& adjacency, NeighbourLists& lists, BorderFlags& border) {
  const PolyInfo* infos = adjacency.GetPolyInfoArray();
  const Int32 polygonCount = static_cast<Int32>(polygons.size());
  if (pointCount < kWalkRanges || polygonCount < kRangedWalkPolygons || infos == nullptr)
    return BuildNeighbourhoodsByWalk(polygons, pointCount, adjacency, lists, border);
  HostArray<Int64> rangeTotal;
  if (!border.flag.AllocateZeroed(pointCount) ||
      !lists.start.AllocateZeroed(Int64{pointCount} + 1) || !rangeTotal.Allocate(kWalkRanges))
    return false;
  RangedWalk walk{polygons.data(),       infos,
                  polygonCount,          pointCount,
                  border.flag.GetData(), lists.start.GetData(),
                  rangeTotal.GetData(),  nullptr};
  // A chunk of both ranges (one worker runs the loop) walks the polygons once for both.
  Framework().parallelFor(kWalkRanges, kWalkRanges, &walk,
                          [](void* c, Int64 begin, Int64 end) noexcept {
                            CountRanges(*static_cast<const RangedWalk*>(c), begin, end);
                          });
  Int64 running = 0;
  for (Int64 r = 0; r < kWalkRanges; ++r) {
    const Int64 total = rangeTotal[r];
    rangeTotal[r] = running;
    running += total;
  }
  lists.start[pointCount] = running;
  if (!lists.index.Allocate(running)) return false;
  walk.index = lists.index.GetData();
  Framework().parallelFor(kWalkRanges, kWalkRanges, &walk,
                          [](void* c, Int64 begin, Int64 end) noexcept {
                            FillRanges(*static_cast<const RangedWalk*>(c), begin, end);
                          });
  return true;
}

Bool BuildMeshTopology(std::span<const CPolygon> polygons, Int32 pointCount,
                       MeshTopology& topology) {
  return BuildAdjacency(polygons, pointCount, topology.adjacency) &&
         BuildNeighbourhoods(polygons, pointCount, *topology.adjacency.get(), topology.lists,
                             topology.border);
}
