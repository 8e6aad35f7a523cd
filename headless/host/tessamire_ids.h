// The ids of the Tessamire plug-in's parts and parameters, for the jobs of the command line, the
// tests and the benchmarks that drive it. The host itself knows a plug-in only by what it
// registers; these are the values that plug-in registers and reads.
#pragma once

#include "host/abi/types.h"

namespace tessamire_ids {

inline constexpr Int32 kCommandId = 1035622;
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

}  // namespace tessamire_ids
