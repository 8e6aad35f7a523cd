// Per-point topology of one controller run: the edge neighbours of every point, the border
// flags, the host adjacency they come from, and the corner pair of a polygon around a point.
#pragma once

#include <cstdint>
#include <span>

#include "host/binding/host_array.h"
#include "host/binding/services.h"

// Per point, the points joined to it by a polygon edge, in the order the walk met them (see
// BuildNeighbourhoods). Compact: one index array, point i's entries at [start[i], start[i + 1]).
struct NeighbourLists {
  HostArray<Int64> start;  // pointCount + 1 offsets into index
  HostArray<Int32> index;  // start[pointCount] point indices; per point varies with valence

  // Entry count of point i, as the signed 32-bit count the smoothing divides by.
  Int32 Count(Int64 i) const { return static_cast<Int32>(start[i + 1] - start[i]); }
  // Point i's entries, Count(i) of them.
  std::span<const Int32> List(Int64 i) const {
    return {index.GetData() + start[i], static_cast<size_t>(Count(i))};
  }
};

// One byte per point: 1 when the point ends at least one open edge, else 0.
struct BorderFlags {
  HostArray<std::uint8_t> flag;  // pointCount entries
};

// The host adjacency of one run (or of a kept topology); released on every path.
class AdjacencyOwner {
 public:
  AdjacencyOwner() = default;
  AdjacencyOwner(const AdjacencyOwner&) = delete;
  AdjacencyOwner& operator=(const AdjacencyOwner&) = delete;
  AdjacencyOwner(AdjacencyOwner&& other) noexcept : adjacency_(other.adjacency_) {
    other.adjacency_ = nullptr;
  }
  AdjacencyOwner& operator=(AdjacencyOwner&& other) noexcept {
    if (this != &other) {
      Neighbor::Free(adjacency_);
      adjacency_ = other.adjacency_;
      other.adjacency_ = nullptr;
    }
    return *this;
  }
  ~AdjacencyOwner() { Neighbor::Free(adjacency_); }
  const Neighbor* get() const { return adjacency_; }
  Neighbor*& slot() { return adjacency_; }

 private:
  Neighbor* adjacency_ = nullptr;
};

// Polygons travel as a span whose size is the polygon count, at most the largest Int32 (the
// host's counts); points are named by their count.

// True when every corner index of the polygons lies in [0, pointCount). Checked before any
// topology is built, so that no later pass indexes outside its arrays.
Bool PolygonIndicesInRange(std::span<const CPolygon> polygons, Int32 pointCount);

// Creates the host adjacency of the polygons (no selection). False when the host cannot create
// or initialise it.
Bool BuildAdjacency(std::span<const CPolygon> polygons, Int32 pointCount,
                    AdjacencyOwner& adjacency);

// Builds the neighbour lists and border flags of `pointCount` points from the polygons and their
// adjacency. The walk: polygon i = 0 .. polygonCount - 1, side j = 0 .. 3;
// skip a side the adjacency flags as already reported and side 2 of a triangle (c == d); the
// ends (p, q) are (a, b), (b, c), (c, d), (d, a) for sides 0..3; a side with no polygon across
// sets the border flags of p and q; then q is appended to p's list, then p to q's. No sorting,
// no removal of duplicates. Two passes (count, then fill) size the index array exactly once.
// On a large mesh whose host offers every polygon's side information at once, a few blocks of
// consecutive polygons each count and then place their own entries in parallel, each block's
// entries of a point after the earlier blocks', which gives the same arrays; otherwise one walk
// on the calling thread (BuildNeighbourhoodsByWalk). Allocates, in order: the border flags
// (cleared on the walk), the offsets, then one byte per polygon for the walk's decisions or the
// blocks' counts and open sides per point and the sums of ranges of points, the index array.
// False, with `lists` and `border` possibly partly allocated, on an allocation failure or when
// the adjacency refuses a polygon index.
Bool BuildNeighbourhoods(std::span<const CPolygon> polygons, Int32 pointCount,
                         const Neighbor& adjacency, NeighbourLists& lists, BorderFlags& border);
// The single walk on the calling thread.
Bool BuildNeighbourhoodsByWalk(std::span<const CPolygon> polygons, Int32 pointCount,
                               const Neighbor& adjacency, NeighbourLists& lists,
                               BorderFlags& border);

// Everything a run needs of a mesh's polygons: the adjacency, the neighbour lists and the border
// flags. Depends only on the point count and the polygon array, never on the positions.
struct MeshTopology {
  AdjacencyOwner adjacency;
  NeighbourLists lists;
  BorderFlags border;
};

// BuildAdjacency, then BuildNeighbourhoods, into `topology`. False on the first failure, with
// `topology` possibly partly built.
Bool BuildMeshTopology(std::span<const CPolygon> polygons, Int32 pointCount,
                       MeshTopology& topology);

// The two corners of `polygon` on either side of `point`, or (-1, -1) when there is no pair.
struct CornerPair {
  Int32 first = -1;
  Int32 second = -1;
};

// Quad (c != d): (b, d) when point is a or c, else (a, c). Triangle (c == d): the corners among
// a, b, c that differ from `point`, in that order, when exactly two do; else (-1, -1).
inline CornerPair PolygonCorners(Int32 point, const CPolygon& polygon) {
  if (polygon.c != polygon.d) {
    if (point == polygon.a || point == polygon.c) return {polygon.b, polygon.d};
    return {polygon.a, polygon.c};
  }
  const Int32 corners[3] = {polygon.a, polygon.b, polygon.c};
  Int32 found[2] = {-1, -1};
  Int32 n = 0;
  for (Int32 corner : corners) {
    if (corner == point) continue;
    if (n < 2) found[n] = corner;
    ++n;
  }
  if (n != 2) return {};
  return {found[0], found[1]};
}
