// Plain value types shared by the plug-in and the host: the host's own layouts.
#pragma once

#include <cstdint>

using Int32 = std::int32_t;
using UInt32 = std::uint32_t;
using Int64 = std::int64_t;
using UInt64 = std::uint64_t;
using Float = double;
using Float32 = float;
using Bool = bool;

// Three float64 components: the layout of the host's point arrays and of every position,
// normal and difference.
struct Vector3 {
  Float x = 0.0;
  Float y = 0.0;
  Float z = 0.0;
};

// The host's matrix: offset first, then the three axes (4 x Vector3, 96 bytes).
struct Matrix {
  Vector3 off;
  Vector3 v1{1.0, 0.0, 0.0};
  Vector3 v2{0.0, 1.0, 0.0};
  Vector3 v3{0.0, 0.0, 1.0};
};

// Four point indices a, b, c, d; a triangle repeats its third index (c == d).
// Sides 0..3 join a-b, b-c, c-d, d-a.
struct CPolygon {
  Int32 a = 0;
  Int32 b = 0;
  Int32 c = 0;
  Int32 d = 0;
};

// Host type ids.
inline constexpr Int32 Opolygon = 5100;
inline constexpr Int32 Tpoint = 5600;
inline constexpr Int32 Tpolygon = 5604;
inline constexpr Int32 Tvertexmap = 5682;
inline constexpr Int32 Oskin = 1019363;
inline constexpr Int32 CUSTOMDATATYPE_INEXCLUDE_LIST = 1009290;
inline constexpr Int32 ID_FALLOFF_LIB = 1019541;

// Node flag bits.
inline constexpr Int32 BIT_ACTIVE = 2;

// Messages.
inline constexpr Int32 MSG_UPDATE = 5;
inline constexpr Int32 MSG_DESCRIPTION_COMMAND = 18;
inline constexpr Int32 MSG_MENUPREPARE = 22;

// Object state index of the deform switch, undo step for a new node, dirty flag for data.
inline constexpr Int32 OBJECTSTATE_DEFORM = 2;
inline constexpr Int32 UNDOTYPE_NEWOBJ = 44;
inline constexpr Int32 DIRTYFLAGS_DATA = 4;

// Registration flags.
inline constexpr Int32 OBJECT_MODIFIER = 1;
inline constexpr Int32 TAG_VISIBLE = 1;
inline constexpr Int32 TAG_MULTIPLE = 2;
inline constexpr Int32 TAG_EXPRESSION = 8;

// Results of an execution step (tags, PrepareExecution).
inline constexpr Int32 EXECUTIONRESULT_OK = 0;
inline constexpr Int32 EXECUTIONRESULT_USERBREAK = 1;
inline constexpr Int32 EXECUTIONRESULT_OUTOFMEMORY = 2;

// Results of a draw call.
inline constexpr Int32 DRAWRESULT_FAILURE = 0;
inline constexpr Int32 DRAWRESULT_OK = 1;
inline constexpr Int32 DRAWRESULT_SKIP = 2;
inline constexpr Int32 DRAWPASS_OBJECT = 0;
inline constexpr Int32 DRAWPASS_HANDLES = 2;

// Description flags handed back by DescribeParameters.
inline constexpr Int32 DESCFLAGS_DESC_LOADED = 2;

// Menu state answered by a command's state query.
inline constexpr Int32 CMD_ENABLED = 0x40000000;

// Keyboard qualifier: input device, channel and the id of the qualifier word.
inline constexpr Int32 BFM_INPUT_KEYBOARD = 0x6B657962;
inline constexpr Int32 BFM_INPUT_CHANNEL = 0x69706361;
inline constexpr Int32 BFM_INPUT_QUALIFIER = 0x69707161;
inline constexpr Int32 QSHIFT = 1;
inline constexpr Int32 QCTRL = 2;

// Thread start mode and priority.
inline constexpr Int32 THREADMODE_ASYNC = 1;
inline constexpr Int32 THREADPRIORITY_NORMAL = 0;

// The falloff evaluator's container entry for its mode, and the default mode.
inline constexpr Int32 FALLOFF_MODE = 5105;
inline constexpr Int32 FALLOFF_MODE_DEFAULT = 1019543;
