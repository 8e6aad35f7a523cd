// The tables through which the plug-in reaches its host. The host passes HostTable as p1 and
// FrameworkTable as p3 of the first system start (c4d_main action 1). Both sides are built by
// the same compiler, so the table carries C++ pointers to the opaque host types below; no
// exception ever crosses it: every entry, and every loop body handed to parallelFor, is noexcept.
#pragma once

#include "host/abi/types.h"

// Opaque host types. The plug-in never sees their layout: a pointer to one is a handle that
// only the host's operations understand.
class BaseList2D;
class BaseObject;
class BaseTag;
class BaseDocument;
class BaseContainer;
class BaseLink;
class InExcludeData;
class HyperFile;
class AtomArray;
class BaseBitmap;
class BaseThread;
class Neighbor;
class Falloff;
class Description;
class BaseDraw;
class BaseDrawHelp;
class PriorityList;
class Resource;
class NodeData;
class CommandData;

// Plug-in instance factory handed over at registration; the host calls it for every new node.
using DataAllocator = NodeData* (*)();

// Adjacency answer for one polygon: per side the polygon across it (-1 for none) and whether
// an earlier-visited polygon has already reported that side's edge.
struct PolyInfo {
  Int32 face[4];
  Bool edgeReported[4];
};

// Handle description of the falloff evaluator.
struct HandleInfo {
  Vector3 position;
  Vector3 direction;
  Int32 type = 0;
};

// The falloff evaluator's sample-input record, field by field in the host's order.
struct FalloffInput {
  const Vector3* positions = nullptr;
  Int64 positionCount = 0;
  const void* secondArray = nullptr;
  Int64 secondCount = 0;
  const void* thirdArray = nullptr;
  Int64 thirdCount = 0;
  Int64 count = 0;
  Int64 reserved = 0;
  Int64 blockCount = 0;
  Float transform[12] = {};
  Int64 fullArraySize = 0;
};

// Payload of message 18 (a button of a description was pressed): its first level.
struct DescriptionCommand {
  Int32 id = 0;
};

inline constexpr Int32 kMinimumInterfaceVersion = 20017;
inline constexpr Int32 kHostInterfaceVersion = 20026;

// The library's one entry, c4d_main(action, p1, p2, p3) -> answer: the host's actions,
using PluginEntry = Int32 (*)(Int32 action, void* p1, void* p2, void* p3);
inline constexpr Int32 kActionSystemStart = 1;  // p1 the HostTable, p3 the FrameworkTable
inline constexpr Int32 kActionStart = 2;        // register the plug-in's parts
inline constexpr Int32 kActionEnd = 3;          // once per accepted system start
inline constexpr Int32 kActionFour = 4;         // answered kAnswerFour; its meaning is the host's
inline constexpr Int32 kActionMessage = 6;      // p1 the message id, p2 its data
// the messages of action 6,
inline constexpr Int32 kMessageLoadResources = 1;  // load the res folder beside the library
inline constexpr Int32 kMessageQuery = 1001;
// and the answers.
inline constexpr Int32 kAnswerDone = 1;         // accepted, done, or a message answered true
inline constexpr Int32 kAnswerStartFailed = 0;  // action 2: a part could not be registered
inline constexpr Int32 kAnswerRefused = -1;     // an unknown action, a message answered false
inline constexpr Int32 kAnswerCannotBind = -3;  // action 1: host too old or no framework
inline constexpr Int32 kAnswerFour = 5;

struct HostTable {
  Int32 version;  // first 32-bit field: the host's interface version

  // --- nodes and the scene tree ---
  Int32 (*nodeGetType)(const BaseList2D* node) noexcept;
  BaseList2D* (*nodeGetNext)(const BaseList2D* node) noexcept;  // next tag or next sibling object
  BaseObject* (*objectGetUp)(const BaseObject* op) noexcept;
  BaseObject* (*objectGetDown)(const BaseObject* op) noexcept;
  BaseTag* (*objectGetFirstTag)(const BaseObject* op) noexcept;
  BaseObject* (*tagGetObject)(const BaseTag* tag) noexcept;
  BaseDocument* (*nodeGetDocument)(const BaseList2D* node) noexcept;
  NodeData* (*nodeGetNodeData)(const BaseList2D* node) noexcept;
  Int32 (*nodeGetFlags)(const BaseList2D* node) noexcept;
  BaseList2D* (*nodeAlloc)(Int32 type) noexcept;  // null on failure
  void (*nodeFree)(BaseList2D* node) noexcept;    // for a node not inserted anywhere
  void (*objectInsertTagFirst)(BaseObject* op, BaseTag* tag) noexcept;
  void (*documentInsertObjectAfter)(BaseDocument* doc, BaseObject* op, BaseObject* pred) noexcept;
  void (*documentInsertObjectLast)(BaseDocument* doc, BaseObject* op, BaseObject* parent) noexcept;
  Bool (*nodeMessage)(BaseList2D* node, Int32 type, void* data) noexcept;
  void (*nodeSetDirty)(BaseList2D* node, Int32 flags) noexcept;
  void (*objectSetDeformMode)(BaseObject* op, Bool on) noexcept;
  Bool (*objectGetDeformMode)(const BaseObject* op) noexcept;
  Bool (*priorityListAdd)(PriorityList* list, BaseList2D* node, Int32 priority,
                          Int32 flags) noexcept;
  Int32 (*objectDefaultDraw)(BaseObject* op, Int32 drawPass, BaseDraw* bd,
                             BaseDrawHelp* bh) noexcept;

  // --- selection, undo, update ---
  AtomArray* (*atomArrayAlloc)() noexcept;
  void (*atomArrayFree)(AtomArray* array) noexcept;
  Int32 (*atomArrayCount)(const AtomArray* array) noexcept;
  BaseList2D* (*atomArrayIndex)(const AtomArray* array, Int32 index) noexcept;
  void (*documentGetActiveObjects)(BaseDocument* doc, AtomArray* out, Bool children, Int32 type,
                                   Int32 instanceOf) noexcept;
  Bool (*documentStartUndo)(BaseDocument* doc) noexcept;
  Bool (*documentAddUndo)(BaseDocument* doc, Int32 type, BaseList2D* node) noexcept;
  Bool (*documentEndUndo)(BaseDocument* doc) noexcept;
  void (*eventAdd)(Int32 flags) noexcept;
  Bool (*getInputState)(Int32 device, Int32 channel, BaseContainer* out) noexcept;

  // --- parameters and containers ---
  Bool (*paramGetInt32)(const BaseList2D* node, Int32 id, Int32* out, Int32 flags) noexcept;
  Bool (*paramGetFloat)(const BaseList2D* node, Int32 id, Float* out, Int32 flags) noexcept;
  Bool (*paramGetLink)(const BaseList2D* node, Int32 id, const BaseLink** out,
                       Int32 flags) noexcept;
  Bool (*paramGetInExclude)(const BaseList2D* node, Int32 id, const InExcludeData** out,
                            Int32 flags) noexcept;
  Bool (*paramSetInt32)(BaseList2D* node, Int32 id, Int32 value, Int32 flags) noexcept;
  Bool (*paramSetFloat)(BaseList2D* node, Int32 id, Float value, Int32 flags) noexcept;
  Bool (*paramSetString)(BaseList2D* node, Int32 id, const char* utf8, Int32 flags) noexcept;
  Bool (*paramSetLink)(BaseList2D* node, Int32 id, BaseList2D* target, Int32 flags) noexcept;
  BaseList2D* (*linkResolve)(const BaseLink* link, const BaseDocument* doc,
                             Int32 typeFilter) noexcept;
  Int32 (*inExcludeIndex)(const InExcludeData* list, const BaseDocument* doc,
                          const BaseList2D* node) noexcept;
  BaseContainer* (*nodeGetContainer)(BaseList2D* node) noexcept;
  BaseContainer* (*containerAlloc)() noexcept;
  void (*containerFree)(BaseContainer* bc) noexcept;
  Int32 (*containerGetInt32)(const BaseContainer* bc, Int32 id, Int32 defaultValue) noexcept;
  void (*containerSetInt32)(BaseContainer* bc, Int32 id, Int32 value) noexcept;

  // --- resources, strings, console, registration ---
  Resource* (*resourceLoad)(const char* resDirectory) noexcept;  // null when it cannot be loaded
  void (*resourceFree)(Resource* res) noexcept;
  // Copies resource string `id` (empty when absent or res is null) into buf, always
  // terminated; answers the full length in bytes.
  Int64 (*resourceString)(const Resource* res, Int32 id, char* buf, Int64 capacity) noexcept;
  Int64 (*formatInt64)(Int64 value, char* buf, Int64 capacity) noexcept;
  void (*consolePrint)(const char* utf8) noexcept;
  BaseBitmap* (*bitmapAlloc)() noexcept;
  void (*bitmapFree)(BaseBitmap* bmp) noexcept;
  Int32 (*bitmapLoad)(BaseBitmap* bmp, const char* path, Int32 frame) noexcept;
  Bool (*registerDescription)(Int32 id, const char* name, const Resource* res) noexcept;
  Bool (*registerCommand)(Int32 id, const char* name, Int32 flags, BaseBitmap* icon,
                          const char* help, CommandData* instance) noexcept;
  Bool (*registerObject)(Int32 id, const char* name, Int32 flags, DataAllocator alloc,
                         const char* description, BaseBitmap* icon, Int32 diskLevel) noexcept;
  Bool (*registerTag)(Int32 id, const char* name, Int32 flags, DataAllocator alloc,
                      const char* description, BaseBitmap* icon, Int32 diskLevel) noexcept;
  Bool (*descriptionLoad)(Description* desc, Int32 type) noexcept;

  // --- scene-file stream ---
  Bool (*hfWriteBool)(HyperFile* hf, Bool v) noexcept;
  Bool (*hfWriteInt32)(HyperFile* hf, Int32 v) noexcept;
  Bool (*hfWriteVector)(HyperFile* hf, const Vector3* v) noexcept;
  Bool (*hfReadBool)(HyperFile* hf, Bool* v) noexcept;
  Bool (*hfReadInt32)(HyperFile* hf, Int32* v) noexcept;
  Bool (*hfReadVector)(HyperFile* hf, Vector3* v) noexcept;

  // --- mesh data ---
  Int32 (*objectDataCount)(const BaseObject* op, Int32 dataType) noexcept;  // 0 when absent
  const void* (*objectDataR)(const BaseObject* op, Int32 dataType) noexcept;
  Vector3* (*objectPointsW)(BaseObject* op) noexcept;
  Int32 (*vertexMapCount)(const BaseTag* tag) noexcept;
  const Float32* (*vertexMapDataR)(const BaseTag* tag) noexcept;
  // Restriction weights of `deformer` on `op`, one per point, or null. Freed by the caller
  // through FrameworkTable::memFree.
  Float32* (*restrictionWeights)(BaseObject* op, BaseObject* deformer) noexcept;

  // --- adjacency ---
  Neighbor* (*neighborAlloc)() noexcept;
  void (*neighborFree)(Neighbor* nb) noexcept;
  Bool (*neighborInit)(Neighbor* nb, Int32 pointCount, const CPolygon* polys,
                       Int32 polyCount) noexcept;
  Bool (*neighborPolyInfo)(const Neighbor* nb, Int32 poly, PolyInfo* out) noexcept;
  // Polygons around a point, in ascending polygon index; count 0 and null when none.
  const Int32* (*neighborPointPolys)(const Neighbor* nb, Int32 point, Int32* count) noexcept;

  // --- falloff evaluator (host library 1019541) ---
  Falloff* (*falloffAlloc)(Int32 type) noexcept;
  void (*falloffFree)(Falloff* fo) noexcept;
  Bool (*falloffInit)(Falloff* fo, const BaseContainer* bc, BaseDocument* doc,
                      BaseList2D* node) noexcept;
  Bool (*falloffSetMode)(Falloff* fo, Int32 mode, BaseContainer* bc) noexcept;
  Bool (*falloffAddDescription)(Falloff* fo, Description* desc, BaseContainer* bc, Int32 flags,
                                Bool a, Bool b, Bool c, Bool d) noexcept;
  void (*falloffDraw)(Falloff* fo, BaseDraw* bd, BaseDrawHelp* bh, Int32 drawPass,
                      const BaseContainer* bc) noexcept;
  Bool (*falloffCopyTo)(const Falloff* fo, Falloff* dest) noexcept;
  Int32 (*falloffDirty)(const Falloff* fo, BaseDocument* doc, const BaseContainer* bc) noexcept;
  Int32 (*falloffHandleCount)(const Falloff* fo, const BaseContainer* bc) noexcept;
  void (*falloffGetHandle)(const Falloff* fo, Int32 index, const BaseContainer* bc,
                           HandleInfo* info) noexcept;
  void (*falloffSetHandle)(Falloff* fo, Int32 index, Vector3 position, const BaseContainer* bc,
                           const HandleInfo* info) noexcept;
  Bool (*falloffPreSample)(Falloff* fo, BaseDocument* doc, BaseList2D* node,
                           const FalloffInput* input, Int32 flags) noexcept;
  Float (*falloffSample)(const Falloff* fo, const Vector3* position, Float* weightOut, Bool option,
                         Float weight, void* block, Int32 index) noexcept;

  // --- threads ---
  BaseThread* (*threadAlloc)(void* user, void (*main)(void*), Bool (*testBreak)(void*),
                             const char* (*name)(void*)) noexcept;
  void (*threadFree)(BaseThread* thread) noexcept;
  Bool (*threadStart)(BaseThread* thread, Int32 mode, Int32 priority) noexcept;
  void (*threadWait)(BaseThread* thread, Bool checkEvents) noexcept;

  // --- mesh adjacency, whole arrays (so that hot loops do not call the host per index) ---
  // The arrays behind neighborPointPolys: *start gets pointCount + 1 offsets and *polys the
  // polygon indices, point p's polygons at [start[p], start[p + 1]) in the same order. False,
  // with both null, when the adjacency holds none. Valid until the adjacency changes or is freed.
  Bool (*neighborPointPolyArrays)(const Neighbor* nb, const Int64** start,
                                  const Int32** polys) noexcept;
  // The array behind neighborPolyInfo: one PolyInfo per polygon, or null when none.
  const PolyInfo* (*neighborPolyInfoArray)(const Neighbor* nb) noexcept;
};

// The host framework binding (p3 of the first system start): memory and parallel loops.
struct FrameworkTable {
  // Allocate `size` bytes (zero-filled when `clear`), labelled with a source location; null on
  // failure.
  void* (*memAlloc)(Int64 size, Bool clear, const char* file, Int32 line) noexcept;
  void* (*memRealloc)(void* block, Int64 size, const char* file, Int32 line) noexcept;
  void (*memFree)(void* block) noexcept;
  void (*outOfMemory)(const char* file, Int32 line) noexcept;  // records the out-of-memory error
  // Runs body(context, begin, end) over chunks of [0, count) of at most `granularity`
  // consecutive indices, spread over the host's workers; returns when all are done.
  void (*parallelFor)(Int64 count, Int64 granularity, void* context,
                      void (*body)(void* context, Int64 begin, Int64 end) noexcept) noexcept;
};
