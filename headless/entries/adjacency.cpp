#include "headless/entries/adjacency.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <new>
#include <utility>

#include "headless/entries/entry_guard.h"
#include "headless/entries/framework.h"
#include "headless/scene/registry.h"

namespace headless {

namespace {

struct Adjacency {
  Int32 pointCount = 0;
  Int32 polyCount = 0;
  PolyInfo* info = nullptr;     // one per polygon
  Int64* pointStart = nullptr;  // pointCount + 1 offsets into pointPolys
  Int32* pointPolys = nullptr;  // polygons around each point, ascending; varies with valence
  const char* error = "";
};

// One block from the framework allocator, freed on every path.
template <typename T>
class Block {
 public:
  Block() = default;
  Block(const Block&) = delete;
  Block& operator=(const Block&) = delete;
  ~Block() { Free(data_); }
  Bool Allocate(Int64 count, Bool clear) {
    if (count < 0 || static_cast<UInt64>(count) > static_cast<UInt64>(INT64_MAX) / sizeof(T))
      return false;
    data_ = static_cast<T*>(
        headless::Allocate(count * static_cast<Int64>(sizeof(T)), clear, __FILE__, __LINE__));
    return data_ != nullptr;
  }
  T* get() const { return data_; }
  T* release() { return std::exchange(data_, nullptr); }
  void Reset() {
    Free(data_);
    data_ = nullptr;
  }

 private:
  T* data_ = nullptr;
};

// Uses of edges whose smaller end is one point fit this many entries on the stack; a point on
// more polygons than a quarter of it is answered from a shared scratch block, serially.
constexpr Int64 kLocalUses = 64;

// One use of an edge: the larger end, and the polygon side that forms it. Bucketed by the
// smaller end, so (bucket, hi) is the edge key.
struct EdgeUse {
  Int32 hi;
  Int32 poly;
  Int32 side;
};

bool UseBefore(const EdgeUse& l, const EdgeUse& r) {
  if (l.hi != r.hi) return l.hi < r.hi;
  if (l.poly != r.poly) return l.poly < r.poly;
  return l.side < r.side;
}

// Distinct corners of a polygon in corner order; answers how many.
inline Int32 DistinctCorners(const CPolygon& p, Int32 out[4]) {
  out[0] = p.a;
  Int32 n = 1;
  if (p.b != p.a) out[n++] = p.b;
  if (p.c != p.a && p.c != p.b) out[n++] = p.c;
  if (p.d != p.a && p.d != p.b && p.d != p.c) out[n++] = p.d;
  return n;
}

void Release(Adjacency& adj) {
  Free(adj.info);
  Free(adj.pointStart);
  Free(adj.pointPolys);
  adj.info = nullptr;
  adj.pointStart = nullptr;
  adj.pointPolys = nullptr;
  adj.pointCount = 0;
  adj.polyCount = 0;
}

// Marks, in the corner position of a point within a polygon, a polygon that names a corner twice.
constexpr std::uint8_t kRepeatedCorners = 0xFF;

struct GroupContext {
  const CPolygon* polys;
  const Int64* pointStart;
  const Int32* pointPolys;
  const std::uint8_t* pointCorner;  // per pointPolys entry: the point's corner 0..3, or repeated
  PolyInfo* info;
};

// Answers every use in [begin, end) (all uses of edges with the same smaller end, in (polygon,
// side) order): the first use of each edge is reported, and across each use is the
// lowest-indexed other polygon on the edge. Uses arrive in (polygon, side) order, so a group's
// uses of one edge already stand in the order of the answers: a group of at most kLocalUses is
// answered in place, by scans instead of a sort.
void AnswerFewUses(EdgeUse* begin, EdgeUse* end, PolyInfo* info) {
  const Int64 size = end - begin;
  for (Int64 a = 0; a < size; ++a) {
    const EdgeUse& u = begin[a];
    Int64 f = 0;
    while (begin[f].hi != u.hi) ++f;  // the edge's first use; stops at `a` at the latest
    const Int32 first = begin[f].poly;
    Int32 across = first;
    if (u.poly == first) {
      across = -1;  // the lowest-indexed later user other than `first`
      for (Int64 c = f + 1; c < size; ++c) {
        if (begin[c].hi == u.hi && begin[c].poly != first) {
          across = begin[c].poly;
          break;
        }
      }
    }
    PolyInfo& pi = info[u.poly];
    pi.face[u.side] = across;
    pi.edgeReported[u.side] = f != a;
  }
}

// AnswerFewUses for a group of any size: a fan around one point can make a group as large as the
// mesh, hence the sort there.
void AnswerUses(EdgeUse* begin, EdgeUse* end, PolyInfo* info) {
  if (end - begin <= kLocalUses) {
    AnswerFewUses(begin, end, info);
    return;
  }
  std::sort(begin, end, UseBefore);
  for (EdgeUse* run = begin; run < end;) {
    EdgeUse* runEnd = run + 1;
    while (runEnd < end && runEnd->hi == run->hi) ++runEnd;
    const Int32 first = run->poly;
    Int32 second = -1;  // lowest-indexed user other than `first`
    for (EdgeUse* u = run + 1; u < runEnd; ++u) {
      if (u->poly != first) {
        second = u->poly;
        break;
      }
    }
    for (EdgeUse* u = run; u < runEnd; ++u) {
      PolyInfo& pi = info[u->poly];
      pi.face[u->side] = u->poly == first ? second : first;
      pi.edgeReported[u->side] = u != run;
    }
    run = runEnd;
  }
}

// Collects into `out` the uses of every edge whose smaller end is `lo`, from the polygons around
// `lo` (ascending, each once), so in (polygon, side) order; answers how many. A side from `lo` to
// itself is no edge: it is answered at once. `out` holds at least
// four entries per polygon around `lo`.
Int64 CollectUses(const GroupContext& ctx, Int32 lo, EdgeUse* out) {
  Int64 n = 0;
  for (Int64 k = ctx.pointStart[lo]; k < ctx.pointStart[lo + 1]; ++k) {
    const Int32 i = ctx.pointPolys[k];
    const CPolygon& p = ctx.polys[i];
    const Int32 c[4] = {p.a, p.b, p.c, p.d};
    if (ctx.pointCorner[k] != kRepeatedCorners) {
      // Four distinct corners: only the two sides at lo's corner can have lo as an end; side
      // `before` ends at lo, side `at` starts there. Emitted in side order.
      const Int32 at = ctx.pointCorner[k];
      const Int32 before = (at + 3) & 3;
      const Int32 next = c[(at + 1) & 3];
      const Int32 previous = c[before];
      if (before < at && previous > lo) out[n++] = EdgeUse{previous, i, before};
      if (next > lo) out[n++] = EdgeUse{next, i, at};
      if (before > at && previous > lo) out[n++] = EdgeUse{previous, i, before};
      continue;
    }
    for (Int32 j = 0; j < 4; ++j) {
      const Int32 s = c[j];
      const Int32 t = c[(j + 1) & 3];
      if (s == t) {
        // No edge: flagged, nothing across. Answered here, by the group of the point it names.
        if (s == lo) {
          ctx.info[i].face[j] = -1;
          ctx.info[i].edgeReported[j] = true;
        }
        continue;
      }
      if (std::min(s, t) != lo) continue;
      out[n++] = EdgeUse{std::max(s, t), i, j};
    }
  }
  return n;
}

Bool UsesFitLocally(const GroupContext& ctx, Int64 lo) {
  return 4 * (ctx.pointStart[lo + 1] - ctx.pointStart[lo]) <= kLocalUses;
}

// Every edge has exactly one smaller end and every polygon using it is around that end, so the
// groups of different points are disjoint and write disjoint sides: points run concurrently.
// Flattened: with the collecting and the scans inlined, a point takes a fifth less time.
[[gnu::flatten]] void AnswerPoint(const GroupContext& ctx, Int64 lo) {
  if (!UsesFitLocally(ctx, lo)) return;
  EdgeUse local[kLocalUses];
  const Int64 n = CollectUses(ctx, static_cast<Int32>(lo), local);
  AnswerFewUses(local, local + n, ctx.info);
}

// Polygons per block below which the point lists are built in one block.
constexpr Int32 kPolygonsPerBlock = 16384;

struct FillContext {
  const CPolygon* polys;
  Int32 polyCount;
  Int32 pointCount;
  Int32 blocks;
  Int32* blockCounts;  // blocks * pointCount
  std::uint8_t* bad;   // per block: 1 when one of its polygons names a point outside the range
  Int64* start;        // pointCount + 1 offsets
  Int32* pointPolys;
  std::uint8_t* pointCorner;
};

Int32 BlockBegin(const FillContext& f, Int32 b) {
  return static_cast<Int32>(Int64{f.polyCount} * b / f.blocks);
}

// Counts block b's uses of every point, checking each polygon's corners on the way; a corner
// outside [0, pointCount) stops the block and marks it.
void CountBlock(const FillContext& f, Int32 b) {
  Int32* counts = f.blockCounts + Int64{b} * f.pointCount;
  // Each block clears its own counts, so the clearing is shared out too.
  std::memset(counts, 0, static_cast<size_t>(f.pointCount) * sizeof(Int32));
  // Unsigned compare folds the negative test into the upper bound.
  const UInt32 limit = static_cast<UInt32>(f.pointCount);
  f.bad[b] = 0;
  for (Int32 i = BlockBegin(f, b); i < BlockBegin(f, b + 1); ++i) {
    const CPolygon& p = f.polys[i];
    if (static_cast<UInt32>(p.a) >= limit || static_cast<UInt32>(p.b) >= limit ||
        static_cast<UInt32>(p.c) >= limit || static_cast<UInt32>(p.d) >= limit) {
      f.bad[b] = 1;
      return;
    }
    Int32 corners[4];
    const Int32 n = DistinctCorners(p, corners);
    for (Int32 k = 0; k < n; ++k) ++counts[corners[k]];
  }
}

void FillBlock(const FillContext& f, Int32 b) {
  Int32* cursor = f.blockCounts + Int64{b} * f.pointCount;
  for (Int32 i = BlockBegin(f, b); i < BlockBegin(f, b + 1); ++i) {
    Int32 corners[4];
    const Int32 n = DistinctCorners(f.polys[i], corners);
    for (Int32 k = 0; k < n; ++k) {
      const Int64 at = f.start[corners[k]] + cursor[corners[k]]++;
      f.pointPolys[at] = i;
      // With four distinct corners, corner k of the list is corner k of the polygon.
      f.pointCorner[at] = n == 4 ? static_cast<std::uint8_t>(k) : kRepeatedCorners;
    }
  }
}

// Points per range of the offsets' prefix sums.
constexpr Int64 kPointsPerRange = 1 << 14;

struct RangeSums {
  Int64 uses;     // the range's uses of points, then the offset its first point starts at
  Int64 largest;  // its busiest point's polygons whose edge uses do not fit on the stack, or 0
};

struct OffsetContext {
  const FillContext* fill;
  RangeSums* sums;
};

Int64 RangeEnd(const FillContext& f, Int64 r) {
  return std::min<Int64>((r + 1) * kPointsPerRange, f.pointCount);
}

// Points of range r: start[p] = p's uses, each block's count of p its cursor within p's uses.
RangeSums CountRange(const FillContext& f, Int64 r) {
  RangeSums sums{0, 0};
  for (Int64 p = r * kPointsPerRange; p < RangeEnd(f, r); ++p) {
    Int32 within = 0;
    for (Int32 b = 0; b < f.blocks; ++b) {
      Int32& count = f.blockCounts[Int64{b} * f.pointCount + p];
      const Int32 uses = count;
      count = within;
      within += uses;
    }
    if (4 * Int64{within} > kLocalUses) sums.largest = std::max<Int64>(sums.largest, within);
    f.start[p] = within;
    sums.uses += within;
  }
  return sums;
}

// Points of range r, whose first starts at `offset`: start[p] becomes p's offset.
void PlaceRange(const FillContext& f, Int64 r, Int64 offset) {
  Int64* start = f.start;
  for (Int64 p = r * kPointsPerRange; p < RangeEnd(f, r); ++p) {
    const Int64 uses = start[p];
    start[p] = offset;
    offset += uses;
  }
}

}  // namespace

Neighbor* AdjacencyAlloc() {
  void* block = Allocate(sizeof(Adjacency), true, __FILE__, __LINE__);
  if (block == nullptr) return nullptr;
  return reinterpret_cast<Neighbor*>(new (block) Adjacency());
}

void AdjacencyFree(Neighbor* nb) {
  if (nb == nullptr) return;
  Adjacency* adj = reinterpret_cast<Adjacency*>(nb);
  Release(*adj);
  adj->~Adjacency();
  Free(adj);
}

Bool AdjacencyInit(Neighbor* nb, Int32 pointCount, const CPolygon* polys, Int32 polyCount) {
  if (nb == nullptr) return false;
  Adjacency& adj = *reinterpret_cast<Adjacency*>(nb);
  // Arguments no host adjacency can take are the caller's fault: a diagnostic too, since the
  // host application need not check them.
  const auto refuse = [&adj](const char* why) {
    adj.error = why;
    ReportHostError(why);
    return false;
  };
  if (pointCount < 0 || polyCount < 0)
    return refuse("AdjacencyInit: negative point or polygon count");
  if (polys == nullptr && polyCount > 0)
    return refuse("AdjacencyInit: no polygon array for a non-zero polygon count");
  const char* outOfMemory = "AdjacencyInit: out of memory";

  // Polygons around each point, ascending: the polygons are cut into a few consecutive blocks;
  // each block counts its own uses of every point and later fills them from its own cursor, which
  // starts after the uses of the earlier blocks, so the lists come out in polygon order whatever
  // the number of blocks. The blocks run in parallel, and the count checks every corner first.
  Block<Int64> pointStart;
  if (!pointStart.Allocate(Int64{pointCount} + 1, false)) {
    adj.error = outOfMemory;
    return false;
  }
  Int64* start = pointStart.get();
  const Int32 blocks = polyCount >= kPolygonsPerBlock ? std::clamp(WorkerCount(), 1, 8) : 1;
  Block<Int32> blockCounts;  // per block, per point: its uses, then its cursor within the point
  if (!blockCounts.Allocate(Int64{blocks} * pointCount, false)) {
    adj.error = outOfMemory;
    return false;
  }
  std::uint8_t bad[8];
  FillContext fill{polys, polyCount, pointCount, blocks, blockCounts.get(),
                   bad,   start,     nullptr,    nullptr};
  ParallelFor(blocks, 1, &fill, [](void* context, Int64 begin, Int64 end) noexcept {
    const FillContext& f = *static_cast<const FillContext*>(context);
    for (Int64 b = begin; b < end; ++b) CountBlock(f, static_cast<Int32>(b));
  });
  if (std::any_of(bad, bad + blocks, [](std::uint8_t v) { return v != 0; }))
    return refuse("AdjacencyInit: a polygon names a point index outside [0, pointCount)");
  // Each point's count becomes its offset, and each block's count of it the block's cursor within
  // the point: ranges of points in parallel, then the ranges' offsets, then the ranges again.
  const Int64 ranges = (Int64{pointCount} + kPointsPerRange - 1) / kPointsPerRange;
  Block<RangeSums> rangeSums;
  if (!rangeSums.Allocate(ranges, false)) {
    adj.error = outOfMemory;
    return false;
  }
  OffsetContext offsets{&fill, rangeSums.get()};
  ParallelFor(ranges, 1, &offsets, [](void* context, Int64 begin, Int64 end) noexcept {
    const OffsetContext& o = *static_cast<const OffsetContext*>(context);
    for (Int64 r = begin; r < end; ++r) o.sums[r] = CountRange(*o.fill, r);
  });
  Int64 largest = 0;  // polygons around the busiest point whose edge uses do not fit on the stack
  Int64 running = 0;
  for (Int64 r = 0; r < ranges; ++r) {
    largest = std::max(largest, rangeSums.get()[r].largest);
    const Int64 uses = rangeSums.get()[r].uses;
    rangeSums.get()[r].uses = running;
    running += uses;
  }
  ParallelFor(ranges, 1, &offsets, [](void* context, Int64 begin, Int64 end) noexcept {
    const OffsetContext& o = *static_cast<const OffsetContext*>(context);
    for (Int64 r = begin; r < end; ++r) PlaceRange(*o.fill, r, o.sums[r].uses);
  });
  start[pointCount] = running;
  Block<Int32> pointPolys;
  if (!pointPolys.Allocate(running, false)) {
    adj.error = outOfMemory;
    return false;
  }
  Block<std::uint8_t> pointCorner;  // only while the edges are matched
  if (!pointCorner.Allocate(running, false)) {
    adj.error = outOfMemory;
    return false;
  }
  fill.pointPolys = pointPolys.get();
  fill.pointCorner = pointCorner.get();
  ParallelFor(blocks, 1, &fill, [](void* context, Int64 begin, Int64 end) noexcept {
    const FillContext& f = *static_cast<const FillContext*>(context);
    for (Int64 b = begin; b < end; ++b) FillBlock(f, static_cast<Int32>(b));
  });
  blockCounts.Reset();

  // Every side is answered from the polygons around its smaller end (a side from a point to
  // itself from that point), those points in parallel: each side once, by one point's group.
  Block<PolyInfo> info;
  if (!info.Allocate(polyCount, false)) {
    adj.error = outOfMemory;
    return false;
  }
  GroupContext ctx{polys, start, pointPolys.get(), pointCorner.get(), info.get()};
  Block<EdgeUse> scratch;
  if (largest > 0 && !scratch.Allocate(4 * largest, false)) {
    adj.error = outOfMemory;
    return false;
  }
  ParallelFor(pointCount, 64, &ctx, [](void* context, Int64 begin, Int64 end) noexcept {
    const GroupContext& c = *static_cast<const GroupContext*>(context);
    for (Int64 lo = begin; lo < end; ++lo) AnswerPoint(c, lo);
  });
  if (largest > 0) {
    for (Int64 p = 0; p < pointCount; ++p) {
      if (UsesFitLocally(ctx, p)) continue;
      const Int64 n = CollectUses(ctx, static_cast<Int32>(p), scratch.get());
      AnswerUses(scratch.get(), scratch.get() + n, info.get());
    }
  }

  Release(adj);
  adj.pointCount = pointCount;
  adj.polyCount = polyCount;
  adj.info = info.release();
  adj.pointStart = pointStart.release();
  adj.pointPolys = pointPolys.release();
  adj.error = "";
  return true;
}

Bool AdjacencyPolyInfo(const Neighbor* nb, Int32 poly, PolyInfo* out) {
  if (nb == nullptr || out == nullptr) return false;
  const Adjacency& adj = *reinterpret_cast<const Adjacency*>(nb);
  if (poly < 0 || poly >= adj.polyCount) return false;
  *out = adj.info[poly];
  return true;
}

const Int32* AdjacencyPointPolys(const Neighbor* nb, Int32 point, Int32* count) {
  Int32 dummy = 0;
  Int32& n = count != nullptr ? *count : dummy;
  n = 0;
  if (nb == nullptr) return nullptr;
  const Adjacency& adj = *reinterpret_cast<const Adjacency*>(nb);
  if (point < 0 || point >= adj.pointCount) return nullptr;
  const Int64 begin = adj.pointStart[point];
  const Int64 size = adj.pointStart[point + 1] - begin;
  if (size == 0) return nullptr;
  // A point lies on at most polyCount polygons (each counted once), so this fits in 32 bits.
  n = static_cast<Int32>(size);
  return adj.pointPolys + begin;
}

Bool AdjacencyPointPolyArrays(const Neighbor* nb, const Int64** start, const Int32** polys) {
  if (start != nullptr) *start = nullptr;
  if (polys != nullptr) *polys = nullptr;
  if (nb == nullptr || start == nullptr || polys == nullptr) return false;
  const Adjacency& adj = *reinterpret_cast<const Adjacency*>(nb);
  if (adj.pointStart == nullptr) return false;
  *start = adj.pointStart;
  *polys = adj.pointPolys;
  return true;
}

const PolyInfo* AdjacencyPolyInfoArray(const Neighbor* nb) {
  if (nb == nullptr) return nullptr;
  return reinterpret_cast<const Adjacency*>(nb)->info;
}

const char* AdjacencyError(const Neighbor* nb) {
  return nb == nullptr ? "AdjacencyError: no adjacency"
                       : reinterpret_cast<const Adjacency*>(nb)->error;
}

void InstallAdjacencyEntries(HostTable& t) {
  t.neighborAlloc = Entry<AdjacencyAlloc>;
  t.neighborFree = Entry<AdjacencyFree>;
  t.neighborInit = Entry<AdjacencyInit>;
  t.neighborPolyInfo = Entry<AdjacencyPolyInfo>;
  t.neighborPointPolys = Entry<AdjacencyPointPolys>;
  t.neighborPointPolyArrays = Entry<AdjacencyPointPolyArrays>;
  t.neighborPolyInfoArray = Entry<AdjacencyPolyInfoArray>;
}

}  // namespace headless
