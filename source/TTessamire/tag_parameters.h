// Parameter ids of the bind tag, and its smoothing settings as the core takes them.
#pragma once

#include "host/nodes.h"

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

struct SmoothingSettings {
  Int32 iterations = 0;
  Int32 weighting = 0;
  Bool pinBorder = false;
  Float32 strength = 0.0f;  // narrowed from the tag's float64
  Bool useVertexMap = false;
};

// Reads 1004, 1003, 1005, 1008 and 1009 of `tag`, in this order; an unreadable value reads 0.
SmoothingSettings ReadSmoothingSettings(const BaseList2D* tag);

// The vertex-map tag that parameter 1007 of `tag` links, resolved in `doc`; null when the link is
// empty or names a node of another type.
BaseTag* LinkedVertexMap(const BaseList2D* tag, const BaseDocument* doc);
