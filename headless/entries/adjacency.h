// The host's mesh adjacency behind the opaque `Neighbor` handle: for every polygon the polygon
// across each side, and for every point the polygons that use it. Rebuilt by the plug-in at every
// evaluation, so Init runs in linear time over flat arrays (each edge matched among the
// polygons around its smaller end, those points in parallel; no maps).
//
// Contract of the answers (point indices 0-based, polygons a, b, c, d with sides 0..3 joining
// a-b, b-c, c-d, d-a; a triangle repeats c as d):
// - An edge is the unordered pair of its two point indices.
// - A side whose two ends are the same point (a triangle's side 2, or any side of a polygon that
//   names a point twice in a row) is not an edge: its face is -1 and its already-reported flag is
//   set, so a walk that skips flagged sides never meets it.
// - Every other side: the flag is clear on the first use of its edge in (polygon index, side
//   number) order and set on every later use, by another polygon or by a later side of the same
//   polygon. A walk over all polygons that skips flagged sides meets every edge exactly once.
// - Across a side: the lowest-indexed polygon other than this one that uses the same edge, or -1
//   when no other polygon uses it. An edge shared by three or more polygons is therefore never
//   open: its first user names the second, every later user names the first.
// - A polygon that names a point twice (e.g. {0, 1, 0, 2}) uses the edges its sides form; sides of
//   the same polygon never count as "another polygon" for the face across.
// - Polygons around a point: each polygon that names the point, once even when it names it twice,
//   in ascending polygon index. A point used by no polygon answers count 0 and null.
#pragma once

#include "host/abi/table.h"

namespace headless {

// A new, empty adjacency (no points, no polygons); null when memory is exhausted.
Neighbor* AdjacencyAlloc();
// Releases an adjacency from AdjacencyAlloc; null is ignored.
void AdjacencyFree(Neighbor* nb);
// Builds the adjacency of `polyCount` polygons over `pointCount` points. `polys` may be null only
// when polyCount is 0. False, keeping what the adjacency held before, on a negative count, a null
// polygon array, a corner index outside [0, pointCount), or exhausted memory;
// AdjacencyError names the fault, and HostErrors() (registry.h) gets it too unless memory ran
// out.
Bool AdjacencyInit(Neighbor* nb, Int32 pointCount, const CPolygon* polys, Int32 polyCount);
// Side information of polygon `poly`; false when `poly` is outside [0, polyCount).
Bool AdjacencyPolyInfo(const Neighbor* nb, Int32 poly, PolyInfo* out);
// The polygons using `point` in ascending index, their number in *count; null and 0 when none or
// when `point` is outside [0, pointCount).
const Int32* AdjacencyPointPolys(const Neighbor* nb, Int32 point, Int32* count);
// The flat arrays behind AdjacencyPointPolys: pointCount + 1 offsets and the polygon indices.
// False, both null, for a null adjacency or one without points.
Bool AdjacencyPointPolyArrays(const Neighbor* nb, const Int64** start, const Int32** polys);
// The side information of every polygon (polyCount entries), or null when there are none.
const PolyInfo* AdjacencyPolyInfoArray(const Neighbor* nb);
// Why the last AdjacencyInit failed, or "" after a success (static text).
const char* AdjacencyError(const Neighbor* nb);

// Puts the neighbor* entries of the host table: the routines above.
void InstallAdjacencyEntries(HostTable& table);

}  // namespace headless
