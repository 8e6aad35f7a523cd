// The reading of the bind tag's parameters (their ids are in host/abi/ids.h) and its resource
// strings.
#pragma once

#include "host/abi/ids.h"
#include "host/binding/nodes.h"
#include "source/tessamireThreads/smoothing.h"

// Resource strings of the tag's status text.
inline constexpr Int32 IDS_STATUS_BOUND_PREFIX = 1002;
inline constexpr Int32 IDS_STATUS_LIVE = 1003;

// Reads 1004, the number of smoothing passes; 0 when it cannot be read. Apart from the other
// settings because the deformer tests it, and reads 1006, before them.
Int32 ReadIterations(const BaseList2D* tag);

// The smoothing settings of `tag` with `iterations` (read by ReadIterations): reads 1003, 1005,
// 1008 and 1009, in this order; an unreadable value reads 0. The strength is narrowed from
// float64 to float32 here. No vertex map is set: the link is resolved where the core runs.
SmoothingSettings ReadSmoothingSettings(const BaseList2D* tag, Int32 iterations);

// The vertex-map tag that parameter 1007 of `tag` links, resolved in `doc`; null when the link is
// empty or names a node of another type.
BaseTag* LinkedVertexMap(const BaseList2D* tag, const BaseDocument* doc);
