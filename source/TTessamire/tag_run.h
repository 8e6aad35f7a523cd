// Running the deformation core for one bind tag on one polygon object: the one path from a tag's
// settings to the core, shared by the bind action and the deformer.
#pragma once

#include "host/memory.h"
#include "host/nodes.h"
#include "source/tessamireThreads/frame.h"
#include "source/tessamireThreads/smoothing.h"

// Runs the core on `object`'s current points with `settings` (read from `tag` by the caller) and
// hands over one frame per point in `frames`. `pointCount` is the object's point count as the
// caller read it. Resolves the tag's vertex-map link (1007) in `doc`: a linked map whose weight
// count differs from `pointCount` refuses the run; without a linked map the vertex-map switch is
// off. Then, in this order: constructs the controller, allocates the frame buffer (uncleared),
// configures the controller, starts it and waits for it.
// False when the map refuses the run, the buffer cannot be had or the run fails; `frames` then
// holds no frames to use.
Bool RunCoreForTag(BaseObject* object, Int32 pointCount, const BaseList2D* tag,
                   const BaseDocument* doc, SmoothingSettings settings, HostBuffer<Frame>& frames);
