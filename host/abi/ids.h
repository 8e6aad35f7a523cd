// The Tessamire plug-in's ids: its three registrations, the parameters of its bind tag and
// deformer, and its one message. Written here once; the plug-in registers and reads them, and the
// headless host, its command line and the tests drive the plug-in by these names. The description
// resources in res/ repeat the parameter ids, since the host reads them from there.
#pragma once

#include "host/abi/types.h"

// Registrations.
inline constexpr Int32 ID_ADDTESSAMIRECMD = 1035622;  // the setup command
inline constexpr Int32 ID_OTESSAMIRE = 1035447;       // the deformer
inline constexpr Int32 ID_TTESSAMIRE = 1035496;       // the bind tag

// Bind tag parameters.
inline constexpr Int32 TTESSAMIRE_BIND = 1000;          // button: bind now
inline constexpr Int32 TTESSAMIRE_UNBIND = 1001;        // button: unbind
inline constexpr Int32 TTESSAMIRE_BINDINFO = 1002;      // string: the status text
inline constexpr Int32 TTESSAMIRE_WEIGHTING = 1003;     // int32: 0 uniform, 1 by edge length
inline constexpr Int32 TTESSAMIRE_ITERATIONS = 1004;    // int32: smoothing passes
inline constexpr Int32 TTESSAMIRE_PINBORDER = 1005;     // bool as int32: border points stay
inline constexpr Int32 TTESSAMIRE_SHOWSMOOTH = 1006;    // bool as int32: output the smoothed mesh
inline constexpr Int32 TTESSAMIRE_VERTEXMAP = 1007;     // link to a vertex-map tag
inline constexpr Int32 TTESSAMIRE_STRENGTH = 1008;      // float64: smoothing step factor
inline constexpr Int32 TTESSAMIRE_USEVERTEXMAP = 1009;  // bool as int32: use the linked map
// The enable switch the host itself gives every expression tag; the deformer skips a tag whose
// switch is 0.
inline constexpr Int32 TTESSAMIRE_ENABLED = 1000999;

// Deformer parameters.
inline constexpr Int32 OTESSAMIRE_FILTERMODE = 1000;  // int32: OTESSAMIRE_FILTER_EXCLUDE or include
inline constexpr Int32 OTESSAMIRE_OBJECTLIST = 1001;  // include/exclude list of objects
// Filter mode 1 skips the tags whose object is in the list; any other value keeps only those.
inline constexpr Int32 OTESSAMIRE_FILTER_EXCLUDE = 1;

// Sent by the deformer to the object it deformed when corrected points came out not finite and
// kept their input positions; the data is an Int64 holding how many. The id is the deformer's
// own, which no other message uses.
inline constexpr Int32 MSG_TESSAMIRE_POINTSKEPT = ID_OTESSAMIRE;
