// The bind action: computes a tag's differences from the current mesh of its polygon object.
#pragma once

#include "host/binding/host_array.h"
#include "host/binding/nodes.h"
#include "source/tessamireThreads/kept_topology.h"

// Runs the core once on `object`'s own points with `tag`'s smoothing settings and stores every
// rest point encoded in its frame into `differences`. Never touches the bound flag. `kept`, when
// not null, holds the object's topology from one bind to the next (see ComputePointFrames).
// False when the object is not a polygon object, a linked vertex map's count differs from the
// point count, memory runs out or the core run fails; the previous differences are then kept.
Bool Bind(HostArray<Vector3>& differences, BaseObject* object, BaseList2D* tag,
          KeptTopology* kept = nullptr);
