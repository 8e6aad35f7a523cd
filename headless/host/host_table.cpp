#include "headless/host/host_table.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <new>
#include <stdexcept>
#include <thread>

#include "headless/host/adjacency.h"
#include "headless/host/bitmap.h"
#include "headless/host/deform.h"
#include "headless/host/falloff.h"
#include "headless/host/framework.h"
#include "headless/host/registry.h"
#include "headless/host/selection.h"
#include "headless/host/stream.h"
#include "headless/host/undo.h"
#include "host/plugin_base.h"

namespace headless {

namespace {

// Copies text into a caller buffer, always terminated when there is room; answers the full
// length.
Int64 CopyOut(const std::string& text, char* buf, Int64 capacity) {
  if (buf != nullptr && capacity > 0) {
    const Int64 n = std::min<Int64>(static_cast<Int64>(text.size()), capacity - 1);
    std::memcpy(buf, text.data(), static_cast<size_t>(n));
    buf[n] = '\0';
  }
  return static_cast<Int64>(text.size());
}

// Host operations answer the plug-in with a failure value rather than let an exception (a
// failed std allocation, a stream error) cross into it.
template <typename R, typename Body>
R NoThrow(R failure, Body body) {
  try {
    return body();
  } catch (...) {
    return failure;
  }
}

template <typename T, typename... Args>
T* NewHostRecord(Args&&... args) {
  void* memory = Allocate(sizeof(T), false, __FILE__, __LINE__);
  return memory == nullptr ? nullptr : new (memory) T(std::forward<Args>(args)...);
}

template <typename T>
void DeleteHostRecord(T* record) {
  if (record == nullptr) return;
  record->~T();
  Free(record);
}

// ---------------------------------------------------------------------------------------------
// Nodes and the tree

Int32 NodeGetType(const BaseList2D* node) {
  return node ? FromHandle(node)->type : 0;
}

BaseList2D* NodeGetNext(const BaseList2D* node) {
  return node ? ToList(FromHandle(node)->next) : nullptr;
}

BaseObject* ObjectGetUp(const BaseObject* op) {
  const Node* n = FromHandle(op);
  return n && !n->isTag ? ToObject(n->up) : nullptr;
}

BaseObject* ObjectGetDown(const BaseObject* op) {
  const Node* n = FromHandle(op);
  return n && !n->isTag ? ToObject(n->down) : nullptr;
}

BaseTag* ObjectGetFirstTag(const BaseObject* op) {
  const Node* n = FromHandle(op);
  return n && !n->isTag ? ToTag(n->firstTag) : nullptr;
}

BaseObject* TagGetObject(const BaseTag* tag) {
  const Node* n = FromHandle(tag);
  return n && n->isTag ? ToObject(n->up) : nullptr;
}

BaseDocument* NodeGetDocument(const BaseList2D* node) {
  return node ? ToDocument(FromHandle(node)->document) : nullptr;
}

NodeData* NodeGetNodeData(const BaseList2D* node) {
  return node ? FromHandle(node)->instance : nullptr;
}

Int32 NodeGetFlags(const BaseList2D* node) {
  return node ? FromHandle(node)->flags : 0;
}

BaseList2D* NodeAlloc(Int32 type) {
  Registration registration;
  const bool tag = IsHostTagType(type) ||
                   (FindRegistration(type, registration) && registration.kind == PluginKind::kTag);
  if (type == kDocumentType) return nullptr;
  return ToList(NewNode(type, tag));
}

void NodeFree(BaseList2D* node) {
  Node* n = FromHandle(node);
  if (n == nullptr || n->type == kDocumentType) return;
  if (n->document != nullptr) n->document->Remove(n);
  DestroyNode(n);
}

// Tree edits from the plug-in: faults become host diagnostics, never exceptions.
template <typename Edit>
void Guarded(const char* what, Edit edit) {
  try {
    edit();
  } catch (const std::exception& e) {
    ReportHostError(std::string(what) + ": " + e.what());
  }
}

void ObjectInsertTagFirst(BaseObject* op, BaseTag* tag) {
  Node* object = FromHandle(op);
  Node* t = FromHandle(tag);
  Guarded("objectInsertTagFirst", [&] {
    if (object == nullptr || t == nullptr) throw std::invalid_argument("null object or tag");
    if (object->document != nullptr) {
      object->document->InsertTagFirst(object, t);
      return;
    }
    // An object outside any document may carry tags too.
    if (!t->isTag || t->up != nullptr || t->document != nullptr || object->isTag)
      throw std::invalid_argument("tag is already inserted, or not a tag on an object");
    t->next = object->firstTag;
    if (object->firstTag != nullptr) object->firstTag->prev = t;
    object->firstTag = t;
    t->up = object;
  });
}

void DocumentInsertObjectAfter(BaseDocument* doc, BaseObject* op, BaseObject* pred) {
  Guarded("documentInsertObjectAfter", [&] {
    Document* d = DocumentFromHandle(doc);
    if (d == nullptr) throw std::invalid_argument("no document");
    d->InsertAfter(FromHandle(op), FromHandle(pred));
  });
}

void DocumentInsertObjectLast(BaseDocument* doc, BaseObject* op, BaseObject* parent) {
  Guarded("documentInsertObjectLast", [&] {
    Document* d = DocumentFromHandle(doc);
    if (d == nullptr) throw std::invalid_argument("no document");
    d->InsertLast(FromHandle(op), FromHandle(parent));
  });
}

Bool NodeMessage(BaseList2D* node, Int32 type, void* data) {
  Node* n = FromHandle(node);
  if (n == nullptr) return false;
  try {
    std::lock_guard<std::mutex> lock(n->messageMutex);
    n->messages.push_back(type);
  } catch (...) {
    // The record is for observers only; delivery goes on.
  }
  if (n->instance == nullptr) return true;
  try {
    return n->instance->CallHandleMessage(node, type, data);
  } catch (...) {
    return false;
  }
}

void NodeSetDirty(BaseList2D* node, Int32) {
  if (node != nullptr) FromHandle(node)->dirtyCount.fetch_add(1);
}

void ObjectSetDeformMode(BaseObject* op, Bool on) {
  if (op != nullptr) FromHandle(op)->deformMode = on;
}

Bool ObjectGetDeformMode(const BaseObject* op) {
  return op && FromHandle(op)->deformMode;
}

void EventAdd(Int32) {
  CountRefreshRequest();
}

// ---------------------------------------------------------------------------------------------
// Parameters and containers

Bool ParamGetInt32(const BaseList2D* node, Int32 id, Int32* out, Int32) {
  if (node == nullptr || out == nullptr) return false;
  const auto v = FromHandle(node)->params.GetInt32(id);
  if (v) *out = *v;
  return v.has_value();
}

Bool ParamGetFloat(const BaseList2D* node, Int32 id, Float* out, Int32) {
  if (node == nullptr || out == nullptr) return false;
  const auto v = FromHandle(node)->params.GetFloat(id);
  if (v) *out = *v;
  return v.has_value();
}

Bool ParamGetLink(const BaseList2D* node, Int32 id, const BaseLink** out, Int32) {
  if (node == nullptr || out == nullptr) return false;
  const LinkValue* link = FromHandle(node)->params.GetLink(id);
  if (link != nullptr) *out = reinterpret_cast<const BaseLink*>(link);
  return link != nullptr;
}

Bool ParamGetInExclude(const BaseList2D* node, Int32 id, const InExcludeData** out, Int32) {
  if (node == nullptr || out == nullptr) return false;
  const InExcludeValue* list = FromHandle(node)->params.GetInExclude(id);
  if (list != nullptr) *out = reinterpret_cast<const InExcludeData*>(list);
  return list != nullptr;
}

Bool ParamSetInt32(BaseList2D* node, Int32 id, Int32 value, Int32) {
  if (node == nullptr) return false;
  FromHandle(node)->params.SetInt32(id, value);
  return true;
}

Bool ParamSetFloat(BaseList2D* node, Int32 id, Float value, Int32) {
  if (node == nullptr) return false;
  FromHandle(node)->params.SetFloat(id, value);
  return true;
}

Bool ParamSetString(BaseList2D* node, Int32 id, const char* utf8, Int32) {
  if (node == nullptr || utf8 == nullptr) return false;
  FromHandle(node)->params.SetString(id, utf8);
  return true;
}

Bool ParamSetLink(BaseList2D* node, Int32 id, BaseList2D* target, Int32) {
  if (node == nullptr) return false;
  FromHandle(node)->params.SetLink(id, target != nullptr ? FromHandle(target)->serial : 0);
  return true;
}

BaseList2D* LinkResolve(const BaseLink* link, const BaseDocument* doc, Int32 typeFilter) {
  if (link == nullptr) return nullptr;
  Node* target = FindLiveNode(reinterpret_cast<const LinkValue*>(link)->target);
  if (target == nullptr) return nullptr;
  if (typeFilter != 0 && target->type != typeFilter) return nullptr;
  if (doc != nullptr && target->document != DocumentFromHandle(doc)) return nullptr;
  return ToList(target);
}

Int32 InExcludeIndex(const InExcludeData* list, const BaseDocument* doc, const BaseList2D* node) {
  if (list == nullptr || node == nullptr) return -1;
  // Entries are looked up in the given document: a node outside it is not listed there.
  if (doc != nullptr && FromHandle(node)->document != DocumentFromHandle(doc)) return -1;
  const auto& targets = reinterpret_cast<const InExcludeValue*>(list)->targets;
  const auto it = std::find(targets.begin(), targets.end(), FromHandle(node)->serial);
  return it == targets.end() ? -1 : static_cast<Int32>(it - targets.begin());
}

BaseContainer* NodeGetContainer(BaseList2D* node) {
  return node ? ToContainer(&FromHandle(node)->params) : nullptr;
}

BaseContainer* ContainerAlloc() {
  return ToContainer(NewHostRecord<Container>());
}

void ContainerFree(BaseContainer* bc) {
  DeleteHostRecord(FromHandle(bc));
}

Int32 ContainerGetInt32(const BaseContainer* bc, Int32 id, Int32 defaultValue) {
  if (bc == nullptr) return defaultValue;
  return FromHandle(bc)->GetInt32(id).value_or(defaultValue);
}

void ContainerSetInt32(BaseContainer* bc, Int32 id, Int32 value) {
  if (bc != nullptr) FromHandle(bc)->SetInt32(id, value);
}

// ---------------------------------------------------------------------------------------------
// Resources, console, bitmaps, registration

std::atomic<Int64> g_liveResources{0};

const ResourceSet* AsResourceSet(const Resource* res) {
  return reinterpret_cast<const ResourceSet*>(res);
}

Resource* ResourceLoad(const char* resDirectory) {
  if (resDirectory == nullptr) return nullptr;
  ResourceSet set;
  std::string error;
  if (!LoadResourceSet(resDirectory, set, error)) {
    ReportHostError("resources: " + error);
    return nullptr;
  }
  ResourceSet* record = NewHostRecord<ResourceSet>(std::move(set));
  if (record != nullptr) g_liveResources.fetch_add(1);
  return reinterpret_cast<Resource*>(record);
}

void ResourceFree(Resource* res) {
  if (res == nullptr) return;
  g_liveResources.fetch_sub(1);
  DeleteHostRecord(reinterpret_cast<ResourceSet*>(res));
}

Int64 ResourceString(const Resource* res, Int32 id, char* buf, Int64 capacity) {
  static const std::string kEmpty;
  const ResourceSet* set = AsResourceSet(res);
  const std::string* text = &kEmpty;
  if (set != nullptr) {
    const auto it = set->strings.find(id);
    if (it != set->strings.end()) text = &it->second;
  }
  return CopyOut(*text, buf, capacity);
}

Int64 FormatInt64(Int64 value, char* buf, Int64 capacity) {
  return CopyOut(std::to_string(value), buf, capacity);
}

void ConsolePrint(const char* utf8) {
  ConsolePrintLine(utf8 != nullptr ? utf8 : "");
}

Bitmap* AsBitmap(BaseBitmap* bmp) {
  return reinterpret_cast<Bitmap*>(bmp);
}

BaseBitmap* BitmapAlloc() {
  return reinterpret_cast<BaseBitmap*>(NewHostRecord<Bitmap>());
}

void BitmapFree(BaseBitmap* bmp) {
  DeleteHostRecord(AsBitmap(bmp));
}

Int32 BitmapLoad(BaseBitmap* bmp, const char* path, Int32) {
  if (bmp == nullptr || path == nullptr) return kBitmapMissing;
  std::string error;
  const Int32 result = LoadBitmapFile(path, *AsBitmap(bmp), error);
  if (result != kBitmapOk) ReportHostError("bitmap: " + error);
  return result;
}

Bool RegisterDescriptionEntry(Int32 id, const char* name, const Resource* res) {
  if (name == nullptr || name[0] == '\0') return false;
  DescriptionData description;
  description.name = name;
  const ResourceSet* set = AsResourceSet(res);
  if (set != nullptr) {
    std::string error;
    if (!LoadDescription(set->directory, name, description, error)) {
      ReportHostError("description: " + error);
      return false;
    }
  }
  return RegisterDescription(id, std::move(description));
}

void IconSize(BaseBitmap* icon, Registration& r) {
  if (icon == nullptr) return;
  r.iconWidth = AsBitmap(icon)->width;
  r.iconHeight = AsBitmap(icon)->height;
}

Bool RegisterCommand(Int32 id, const char* name, Int32 flags, BaseBitmap* icon, const char* help,
                     CommandData* instance) {
  Registration r;
  r.kind = PluginKind::kCommand;
  r.id = id;
  r.name = name != nullptr ? name : "";
  r.flags = flags;
  r.help = help != nullptr ? help : "";
  r.command = instance;
  r.owner = CurrentModule();
  IconSize(icon, r);
  return AddRegistration(std::move(r));
}

Bool RegisterNode(PluginKind kind, Int32 id, const char* name, Int32 flags, DataAllocator alloc,
                  const char* description, BaseBitmap* icon, Int32 diskLevel) {
  Registration r;
  r.kind = kind;
  r.id = id;
  r.name = name != nullptr ? name : "";
  r.flags = flags;
  r.allocate = alloc;
  r.description = description != nullptr ? description : "";
  r.diskLevel = diskLevel;
  r.owner = CurrentModule();
  IconSize(icon, r);
  return AddRegistration(std::move(r));
}

Bool RegisterObject(Int32 id, const char* name, Int32 flags, DataAllocator alloc,
                    const char* description, BaseBitmap* icon, Int32 diskLevel) {
  return RegisterNode(PluginKind::kObject, id, name, flags, alloc, description, icon, diskLevel);
}

Bool RegisterTag(Int32 id, const char* name, Int32 flags, DataAllocator alloc,
                 const char* description, BaseBitmap* icon, Int32 diskLevel) {
  return RegisterNode(PluginKind::kTag, id, name, flags, alloc, description, icon, diskLevel);
}

Bool DescriptionLoad(Description* desc, Int32 type) {
  if (desc == nullptr) return false;
  return FindDescription(type, *reinterpret_cast<DescriptionData*>(desc));
}

// ---------------------------------------------------------------------------------------------
// Mesh data and vertex maps

Int32 ObjectDataCount(const BaseObject* op, Int32 dataType) {
  const Node* n = FromHandle(op);
  if (n == nullptr || !n->IsPolygonObject()) return 0;
  if (dataType == Tpoint) return static_cast<Int32>(n->CurrentPoints().size());
  if (dataType == Tpolygon) return static_cast<Int32>(n->polygons.size());
  return 0;
}

const void* ObjectDataR(const BaseObject* op, Int32 dataType) {
  const Node* n = FromHandle(op);
  if (n == nullptr || !n->IsPolygonObject()) return nullptr;
  if (dataType == Tpoint && !n->CurrentPoints().empty()) return n->CurrentPoints().data();
  if (dataType == Tpolygon && !n->polygons.empty()) return n->polygons.data();
  return nullptr;
}

Vector3* ObjectPointsW(BaseObject* op) {
  Node* n = FromHandle(op);
  if (n == nullptr || !n->IsPolygonObject() || n->CurrentPoints().empty()) return nullptr;
  return n->CurrentPoints().data();
}

Int32 VertexMapCount(const BaseTag* tag) {
  const Node* n = FromHandle(tag);
  return n && n->isTag && n->type == Tvertexmap ? static_cast<Int32>(n->weights.size()) : 0;
}

const Float32* VertexMapDataR(const BaseTag* tag) {
  const Node* n = FromHandle(tag);
  if (n == nullptr || !n->isTag || n->type != Tvertexmap || n->weights.empty()) return nullptr;
  return n->weights.data();
}

// ---------------------------------------------------------------------------------------------
// Threads

struct HostThread {
  void* user = nullptr;
  void (*main)(void*) = nullptr;
  Bool (*testBreak)(void*) = nullptr;
  const char* (*name)(void*) = nullptr;
  std::thread thread;
  bool started = false;
};

HostThread* AsThread(BaseThread* thread) {
  return reinterpret_cast<HostThread*>(thread);
}

BaseThread* ThreadAlloc(void* user, void (*main)(void*), Bool (*testBreak)(void*),
                        const char* (*name)(void*)) {
  if (main == nullptr) return nullptr;
  HostThread* t = NewHostRecord<HostThread>();
  if (t == nullptr) return nullptr;
  t->user = user;
  t->main = main;
  t->testBreak = testBreak;
  t->name = name;
  return reinterpret_cast<BaseThread*>(t);
}

void ThreadWait(BaseThread* thread, Bool) {
  HostThread* t = AsThread(thread);
  if (t != nullptr && t->thread.joinable()) t->thread.join();
}

void ThreadFree(BaseThread* thread) {
  ThreadWait(thread, false);
  DeleteHostRecord(AsThread(thread));
}

Bool ThreadStart(BaseThread* thread, Int32 mode, Int32) {
  HostThread* t = AsThread(thread);
  if (t == nullptr || t->started) return false;  // one run per thread record
  const char* name = t->name != nullptr ? t->name(t->user) : nullptr;
  RecordThreadName(name != nullptr ? name : "");
  t->started = true;
  if (mode != THREADMODE_ASYNC) {
    t->main(t->user);
    return true;
  }
  try {
    t->thread = std::thread(t->main, t->user);
  } catch (const std::exception&) {
    t->started = false;
    return false;
  }
  return true;
}

HostTable MakeTable() {
  HostTable t{};
  t.version = kHostInterfaceVersion;

  t.nodeGetType = NodeGetType;
  t.nodeGetNext = NodeGetNext;
  t.objectGetUp = ObjectGetUp;
  t.objectGetDown = ObjectGetDown;
  t.objectGetFirstTag = ObjectGetFirstTag;
  t.tagGetObject = TagGetObject;
  t.nodeGetDocument = NodeGetDocument;
  t.nodeGetNodeData = NodeGetNodeData;
  t.nodeGetFlags = NodeGetFlags;
  t.nodeAlloc = [](Int32 type) {
    return NoThrow<BaseList2D*>(nullptr, [&] { return NodeAlloc(type); });
  };
  t.nodeFree = NodeFree;
  t.objectInsertTagFirst = ObjectInsertTagFirst;
  t.documentInsertObjectAfter = DocumentInsertObjectAfter;
  t.documentInsertObjectLast = DocumentInsertObjectLast;
  t.nodeMessage = NodeMessage;
  t.nodeSetDirty = NodeSetDirty;
  t.objectSetDeformMode = ObjectSetDeformMode;
  t.objectGetDeformMode = ObjectGetDeformMode;
  t.eventAdd = EventAdd;

  t.paramGetInt32 = ParamGetInt32;
  t.paramGetFloat = ParamGetFloat;
  t.paramGetLink = ParamGetLink;
  t.paramGetInExclude = ParamGetInExclude;
  t.paramSetInt32 = ParamSetInt32;
  t.paramSetFloat = ParamSetFloat;
  t.paramSetString = [](BaseList2D* node, Int32 id, const char* utf8, Int32 flags) {
    return NoThrow(false, [&] { return ParamSetString(node, id, utf8, flags); });
  };
  t.paramSetLink = ParamSetLink;
  t.linkResolve = LinkResolve;
  t.inExcludeIndex = InExcludeIndex;
  t.nodeGetContainer = NodeGetContainer;
  t.containerAlloc = ContainerAlloc;
  t.containerFree = ContainerFree;
  t.containerGetInt32 = ContainerGetInt32;
  t.containerSetInt32 = ContainerSetInt32;

  t.resourceLoad = [](const char* dir) {
    return NoThrow<Resource*>(nullptr, [&] { return ResourceLoad(dir); });
  };
  t.resourceFree = ResourceFree;
  t.resourceString = ResourceString;
  t.formatInt64 = FormatInt64;
  t.consolePrint = [](const char* utf8) {
    NoThrow(0, [&] {
      ConsolePrint(utf8);
      return 0;
    });
  };
  t.bitmapAlloc = BitmapAlloc;
  t.bitmapFree = BitmapFree;
  t.bitmapLoad = [](BaseBitmap* bmp, const char* path, Int32 frame) {
    return NoThrow(kBitmapUnreadable, [&] { return BitmapLoad(bmp, path, frame); });
  };
  t.registerDescription = [](Int32 id, const char* name, const Resource* res) {
    return NoThrow(false, [&] { return RegisterDescriptionEntry(id, name, res); });
  };
  t.registerCommand = [](Int32 id, const char* name, Int32 flags, BaseBitmap* icon,
                         const char* help, CommandData* instance) {
    return NoThrow(false, [&] { return RegisterCommand(id, name, flags, icon, help, instance); });
  };
  t.registerObject = [](Int32 id, const char* name, Int32 flags, DataAllocator alloc,
                        const char* description, BaseBitmap* icon, Int32 diskLevel) {
    return NoThrow(false, [&] {
      return RegisterObject(id, name, flags, alloc, description, icon, diskLevel);
    });
  };
  t.registerTag = [](Int32 id, const char* name, Int32 flags, DataAllocator alloc,
                     const char* description, BaseBitmap* icon, Int32 diskLevel) {
    return NoThrow(
        false, [&] { return RegisterTag(id, name, flags, alloc, description, icon, diskLevel); });
  };
  t.descriptionLoad = [](Description* desc, Int32 type) {
    return NoThrow(false, [&] { return DescriptionLoad(desc, type); });
  };

  t.objectDataCount = ObjectDataCount;
  t.objectDataR = ObjectDataR;
  t.objectPointsW = ObjectPointsW;
  t.vertexMapCount = VertexMapCount;
  t.vertexMapDataR = VertexMapDataR;

  t.neighborAlloc = AdjacencyAlloc;
  t.neighborFree = AdjacencyFree;
  t.neighborInit = AdjacencyInit;
  t.neighborPolyInfo = AdjacencyPolyInfo;
  t.neighborPointPolys = AdjacencyPointPolys;
  t.neighborPointPolyArrays = AdjacencyPointPolyArrays;
  t.neighborPolyInfoArray = AdjacencyPolyInfoArray;

  t.threadAlloc = ThreadAlloc;
  t.threadFree = ThreadFree;
  t.threadStart = ThreadStart;
  t.threadWait = ThreadWait;

  InstallDeformEntries(t);
  InstallFalloffEntries(t);

  FillStreamEntries(t);
  AddSelectionEntries(t);
  AddUndoEntries(t);
  return t;
}

}  // namespace

const HostTable& HostTableInstance() {
  static const HostTable table = MakeTable();
  return table;
}

Int64 LiveResourceSets() {
  return g_liveResources.load();
}

bool DescribeNode(Node* node, DescriptionData& out) {
  if (node == nullptr) return false;
  if (node->instance != nullptr) {
    DescriptionData own;
    Int32 flags = 0;
    bool described = false;
    try {
      described = node->instance->CallDescribeParameters(
          ToList(node), reinterpret_cast<Description*>(&own), &flags);
    } catch (...) {
      described = false;
    }
    if (described && (flags & DESCFLAGS_DESC_LOADED) != 0) {
      out = std::move(own);
      return true;
    }
  }
  return FindDescription(node->type, out);
}

}  // namespace headless
