// Ids of the plug-in's parts and parameters as the tests name them, and the plain mesh record the
// scene fixtures build, shared by the fixtures of the tag and of the deformer.
#pragma once

#include <vector>

#include "host/types.h"

namespace plugin_ids {

inline constexpr Int32 kDeformerId = 1035447;
inline constexpr Int32 kTagId = 1035496;

// Bind tag parameters.
inline constexpr Int32 kBindButton = 1000;
inline constexpr Int32 kUnbindButton = 1001;
inline constexpr Int32 kStatus = 1002;
inline constexpr Int32 kWeighting = 1003;
inline constexpr Int32 kIterations = 1004;
inline constexpr Int32 kPinBorder = 1005;
inline constexpr Int32 kShowSmooth = 1006;
inline constexpr Int32 kVertexMapLink = 1007;
inline constexpr Int32 kStrength = 1008;
inline constexpr Int32 kUseVertexMap = 1009;
inline constexpr Int32 kEnabled = 1000999;

// Deformer parameters.
inline constexpr Int32 kFilterMode = 1000;
inline constexpr Int32 kObjectList = 1001;

struct Mesh {
  std::vector<Vector3> points;
  std::vector<CPolygon> polygons;
};

}  // namespace plugin_ids
