#include "source/tessamireThreads/neighbourhoods.h"

#include <algorithm>

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

// The walk split by points: ranges of kRangePoints points each walk the polygons that can name
// their points (those from the lowest to the highest polygon around them: the adjacency lists
// them in ascending order) and count, flag and place only their own points' entries. The ranges
// write disjoint parts of every array, and every list keeps the whole walk's order. On a mesh
// numbered with some locality these spans hardly overlap, so the ranges together read the
// polygons about once; where they overlap much the single walk runs instead.
constexpr Int32 kRangePoints = 1 << 14;
// Below this many polygons the single walk is as quick.
constexpr Int32 kRangedWalkPolygons = 1 << 15;
// The ranges' spans may add up to at most this many times the polygons.
constexpr Int64 kSpanOverlap = 2;

struct RangedWalk {
  const CPolygon* polygons;
  const PolyInfo* infos;
  Int32 polygonCount;
  Int32 pointCount;
  const Int64* around;       // the adjacency's offsets of the polygons around each point
  const Int32* aroundIndex;  // and those polygons, ascending
  Int32* spanFirst;          // per range: the polygons [spanFirst, spanEnd) it walks
  Int32* spanEnd;
  std::uint8_t* flag;
  Int64* start;
  Int64* rangeTotal;  // per range: its entry count, then the offset its first point starts at
  Int32* index;
};

Int32 RangeBegin(const RangedWalk& w, Int64 r) {
  return static_cast<Int32>(std::min<Int64>(r * kRangePoints, w.pointCount));
}

void SpanRange(const RangedWalk& w, Int64 r) {
  Int32 first = w.polygonCount;
  Int32 end = 0;
  for (Int32 p = RangeBegin(w, r); p < RangeBegin(w, r + 1); ++p) {
    if (w.around[p] == w.around[p + 1]) continue;
    first = std::min(first, w.aroundIndex[w.around[p]]);
    end = std::max(end, w.aroundIndex[w.around[p + 1] - 1] + 1);
  }
  w.spanFirst[r] = first < end ? first : 0;
  w.spanEnd[r] = first < end ? end : 0;
}

// The polygons that ranges [rangeBegin, rangeEnd) walk together, [first, end).
void Span(const RangedWalk& w, Int64 rangeBegin, Int64 rangeEnd, Int32& first, Int32& end) {
  first = w.polygonCount;
  end = 0;
  for (Int64 r = rangeBegin; r < rangeEnd; ++r) {
    if (w.spanFirst[r] == w.spanEnd[r]) continue;
    first = std::min(first, w.spanFirst[r]);
    end = std::max(end, w.spanEnd[r]);
  }
}

// Pass 1 of ranges [rangeBegin, rangeEnd), in one walk: their points' entry counts in start[p],
// their border flags, and each range's total.
void CountRanges(const RangedWalk& w, Int64 rangeBegin, Int64 rangeEnd) {
  const Int32 from = RangeBegin(w, rangeBegin);
  const Int32 to = RangeBegin(w, rangeEnd);
  Int32 first;
  Int32 last;
  Span(w, rangeBegin, rangeEnd, first, last);
  for (Int32 i = first; i < last; ++i) {
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
  Int32 first;
  Int32 last;
  Span(w, rangeBegin, rangeEnd, first, last);
  for (Int32 i = last - 1; i >= first; --i) {
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
  const Int64 ranges = (Int64{pointCount} + kRangePoints - 1) / kRangePoints;
  RangedWalk walk{};
  if (ranges < 2 || polygonCount < kRangedWalkPolygons || infos == nullptr ||
      !adjacency.GetPointPolyArrays(walk.around, walk.aroundIndex))
    return BuildNeighbourhoodsByWalk(polygons, pointCount, adjacency, lists, border);
  HostArray<Int32> spanFirst;
  HostArray<Int32> spanEnd;
  HostArray<Int64> rangeTotal;
  if (!spanFirst.Allocate(ranges) || !spanEnd.Allocate(ranges) || !rangeTotal.Allocate(ranges))
    return false;
  walk.polygons = polygons.data();
  walk.infos = infos;
  walk.polygonCount = polygonCount;
  walk.pointCount = pointCount;
  walk.spanFirst = spanFirst.GetData();
  walk.spanEnd = spanEnd.GetData();
  walk.rangeTotal = rangeTotal.GetData();
  Framework().parallelFor(ranges, 1, &walk, [](void* c, Int64 begin, Int64 end) noexcept {
    for (Int64 r = begin; r < end; ++r) SpanRange(*static_cast<const RangedWalk*>(c), r);
  });
  Int64 spans = 0;
  for (Int64 r = 0; r < ranges; ++r) spans += spanEnd[r] - spanFirst[r];
  if (spans > kSpanOverlap * polygonCount)
    return BuildNeighbourhoodsByWalk(polygons, pointCount, adjacency, lists, border);

  if (!border.flag.AllocateZeroed(pointCount) || !lists.start.AllocateZeroed(Int64{pointCount} + 1))
    return false;
  walk.flag = border.flag.GetData();
  walk.start = lists.start.GetData();
  Framework().parallelFor(ranges, 1, &walk, [](void* c, Int64 begin, Int64 end) noexcept {
    CountRanges(*static_cast<const RangedWalk*>(c), begin, end);
  });
  Int64 running = 0;
  for (Int64 r = 0; r < ranges; ++r) {
    const Int64 total = rangeTotal[r];
    rangeTotal[r] = running;
    running += total;
  }
  lists.start[pointCount] = running;
  if (!lists.index.Allocate(running)) return false;
  walk.index = lists.index.GetData();
  Framework().parallelFor(ranges, 1, &walk, [](void* c, Int64 begin, Int64 end) noexcept {
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
