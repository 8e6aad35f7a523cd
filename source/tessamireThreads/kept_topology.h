// The topology of one object kept from one run to the next: an animated mesh moves its points but
// keeps its polygons, so the adjacency, neighbour lists and border flags need building only when
// the polygons change.
#pragma once

#include <span>

#include "host/binding/host_array.h"
#include "host/binding/memory.h"
#include "source/tessamireThreads/neighbourhoods.h"

// True when `a` and `b` hold as many polygons, equal corner for corner. The comparison is exact
// (a hash could collide and reuse the wrong topology) and spread over the workers.
Bool SamePolygons(std::span<const CPolygon> a, std::span<const CPolygon> b);

// One object's kept topology, with the point count, polygon count and a copy of the polygon array
// it was built from. Every block comes from the host's allocator.
class KeptTopology {
 public:
  TESSAMIRE_HOST_ALLOCATED

  KeptTopology() = default;
  KeptTopology(const KeptTopology&) = delete;
  KeptTopology& operator=(const KeptTopology&) = delete;

  // The kept topology when it was built for exactly these polygons and point count; else null.
  const MeshTopology* Find(std::span<const CPolygon> polygons, Int32 pointCount) const;

  // Frees what is kept, then keeps `topology` (built for these polygons and point count) with a
  // copy of the polygons, moving it out of the caller's hands, and answers the kept topology. Null
  // when the copy cannot be had: nothing is kept then and `topology` stays the caller's.
  const MeshTopology* Keep(std::span<const CPolygon> polygons, Int32 pointCount,
                           MeshTopology& topology);

  // Frees everything kept.
  void Release();

  Bool Holds() const { return held_; }
  // How many times a topology was kept (each one built afresh by a run).
  Int64 KeptCount() const { return keptCount_; }

 private:
  Bool held_ = false;
  Int32 pointCount_ = 0;
  HostArray<CPolygon> polygons_;  // the polygons the topology was built from
  MeshTopology topology_;
  Int64 keptCount_ = 0;
};
