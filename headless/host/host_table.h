// The host table the headless host hands to plug-ins (p1 of the first system start): every
// operation of host/table.h over the scene of headless/scene.h. The falloff entries come from
// headless/falloff.h; the execution list, restriction weights and default draw from
// headless/deform.h; the scene-file stream from headless/stream.h.
//
// Contracts beyond host/table.h:
// - registerCommand: the host owns the command instance from the call on, accepted or not.
// - registerDescription: with no resources loaded (res null) an empty description is
//   registered, so that names and descriptions come up empty; with resources loaded, a missing
//   or malformed description file fails the call (the fault is in HostErrors()).
// - bitmapLoad answers 0 when the image was loaded, non-zero otherwise (bitmap.h).
// - threadStart records the thread's name (ThreadNames()) before it runs.
// - nodeMessage records the message id on the node, then hands it to the plug-in instance.
// - linkResolve answers null for an empty link, a deleted target, a target of another type than a
//   non-zero filter, or a target outside the given document.
// - inExcludeIndex answers -1 for a node outside the given document (any document when null).
#pragma once

#include "headless/host/resources.h"
#include "headless/host/scene.h"
#include "host/table.h"

namespace headless {

const HostTable& HostTableInstance();

// Resource sets loaded through the table and not yet freed.
Int64 LiveResourceSets();

// The description the host shows for a node: the plug-in's own when its DescribeParameters
// sets DESCFLAGS_DESC_LOADED, else the one registered for its type. False when there is none.
bool DescribeNode(Node* node, DescriptionData& out);

}  // namespace headless
