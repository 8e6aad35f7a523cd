// Running the deformation core for one bind tag on one polygon object: the one path from a tag's
// settings to the core, shared by the bind action and the deformer.
#pragma once

#include "host/binding/nodes.h"
#include "source/tessamireThreads/frame.h"
#include "source/tessamireThreads/frames.h"
#include "source/tessamireThreads/kept_topology.h"
#include "source/tessamireThreads/smoothing.h"

// Runs the core on `object`'s current points with `settings` (read from `tag` by the caller),
// handing one frame per point to `sink`, block by block (see FrameSink). `pointCount` is the
// object's point count as the caller read it. Resolves the tag's vertex-map link (1007) in `doc`:
// a linked map whose weight count differs from `pointCount` refuses the run; without a linked map
// the vertex-map switch is off. `kept`, when not null, holds the object's topology between runs
// (see ComputePointFrames). Then constructs the controller, configures it, starts it and waits
// for it. False when the map refuses the run or the run fails; the sink is then never called.
Bool RunCoreForTag(BaseObject* object, Int32 pointCount, const BaseList2D* tag,
                   const BaseDocument* doc, SmoothingSettings settings, FrameSink sink,
                   KeptTopology* kept);
