// The deformer's kept topologies, one per object it deforms, so that an animated object's
// adjacency, neighbour lists and border flags are built once rather than at every evaluation.
#pragma once

#include <mutex>

#include "host/binding/host_array.h"
#include "host/binding/nodes.h"
#include "source/tessamireThreads/kept_topology.h"

// Entries are keyed by the object's address, which is only ever compared, never followed: an
// object that went away cannot be asked about, and a new object at the same address meets a
// kept topology that is used only when its polygons compare equal. An entry not used for more
// calls than there are entries belongs to an object no longer deformed and is freed; an object
// evaluated that rarely just has its topology built again.
class ObjectTopologies {
 public:
  ObjectTopologies() = default;
  ObjectTopologies(const ObjectTopologies&) = delete;
  ObjectTopologies& operator=(const ObjectTopologies&) = delete;
  ~ObjectTopologies() { Clear(); }

  // The object's kept topology, taken out for one call (a new, empty one the first time); null
  // when memory for it cannot be had, and the call then runs without. A topology `offered` (a
  // bind's, newer than anything kept) replaces the object's entry and is answered instead.
  KeptTopology* Take(const BaseObject* object, KeptTopology* offered = nullptr);
  // Puts back what Take answered (null is ignored); frees it when it cannot be put back.
  void Return(const BaseObject* object, KeptTopology* kept);
  // Frees every entry.
  void Clear();
  Int64 Count() const;

 private:
  struct Entry {
    const BaseObject* object;
    KeptTopology* kept;
    Int64 lastUse;
  };

  mutable std::mutex mutex_;  // guards the list only, never held during a run
  HostArray<Entry> entries_;
  Int64 calls_ = 0;
};
