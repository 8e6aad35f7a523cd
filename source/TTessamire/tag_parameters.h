// Parameter ids of the bind tag, and the reading of its smoothing settings.
#pragma once

#include "host/binding/nodes.h"
#include "source/tessamireThreads/smoothing.h"

inline constexpr Int32 TTESSAMIRE_BIND = 1000;
inline constexpr Int32 TTESSAMIRE_UNBIND = 1001;
inline constexpr Int32 TTESSAMIRE_BINDINFO = 1002;
inline constexpr Int32 TTESSAMIRE_WEIGHTING = 1003;
inline constexpr Int32 TTESSAMIRE_ITERATIONS = 1004;
inline constexpr Int32 TTESSAMIRE_PINBORDER = 1005;
inline constexpr Int32 TTESSAMIRE_SHOWSMOOTH = 1006;
inline constexpr Int32 TTESSAMIRE_VERTEXMAP = 1007;
inline constexpr Int32 TTESSAMIRE_STRENGTH = 1008;
inline constexpr Int32 TTESSAMIRE_USEVERTEXMAP = 1009;
inline constexpr Int32 TTESSAMIRE_ENABLED = 1000999;

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
