#include "headless/entries/node_entries.h"

#include <stdexcept>
#include <string>

#include "headless/entries/entry_guard.h"
#include "headless/entries/framework.h"
#include "headless/scene/registry.h"
#include "headless/scene/scene.h"
#include "host/abi/plugin_base.h"

namespace headless {

namespace {

// Nodes the plug-in asks for come from the framework allocator, so that tests can make it fail.
const NodeMemory kFrameworkMemory{
    [](size_t bytes) { return Allocate(static_cast<Int64>(bytes), false, __FILE__, __LINE__); },
    [](void* record) { Free(record); }};

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
  return ToList(NewNode(type, tag, &kFrameworkMemory));
}

void NodeFree(BaseList2D* node) {
  Node* n = FromHandle(node);
  if (n == nullptr || n->type == kDocumentType) return;
  if (n->document != nullptr) n->document->Remove(n);
  DestroyNode(n);
}

// Tree edits from the plug-in: a fault (thrown) becomes a host diagnostic through the entry's
// guard, and the tree stays as it was.
void ObjectInsertTagFirst(BaseObject* op, BaseTag* tag) {
  Node* object = FromHandle(op);
  Node* t = FromHandle(tag);
  if (object == nullptr || t == nullptr)
    throw std::invalid_argument("objectInsertTagFirst: null object or tag");
  if (object->document != nullptr) {
    object->document->InsertTagFirst(object, t);
    return;
  }
  // An object outside any document may carry tags too.
  if (!t->isTag || t->up != nullptr || t->document != nullptr || object->isTag)
    throw std::invalid_argument(
        "objectInsertTagFirst: tag is already inserted, or not a tag on an object");
  t->next = object->firstTag;
  if (object->firstTag != nullptr) object->firstTag->prev = t;
  object->firstTag = t;
  t->up = object;
}

Document& DocumentOf(BaseDocument* doc, const char* entry) {
  Document* d = DocumentFromHandle(doc);
  if (d == nullptr) throw std::invalid_argument(std::string(entry) + ": no document");
  return *d;
}

void DocumentInsertObjectAfter(BaseDocument* doc, BaseObject* op, BaseObject* pred) {
  DocumentOf(doc, "documentInsertObjectAfter").InsertAfter(FromHandle(op), FromHandle(pred));
}

void DocumentInsertObjectLast(BaseDocument* doc, BaseObject* op, BaseObject* parent) {
  DocumentOf(doc, "documentInsertObjectLast").InsertLast(FromHandle(op), FromHandle(parent));
}

Bool NodeMessage(BaseList2D* node, Int32 type, void* data) {
  return DeliverMessage(FromHandle(node), type, data);
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

}  // namespace

void InstallNodeEntries(HostTable& t) {
  t.nodeGetType = Entry<NodeGetType>;
  t.nodeGetNext = Entry<NodeGetNext>;
  t.objectGetUp = Entry<ObjectGetUp>;
  t.objectGetDown = Entry<ObjectGetDown>;
  t.objectGetFirstTag = Entry<ObjectGetFirstTag>;
  t.tagGetObject = Entry<TagGetObject>;
  t.nodeGetDocument = Entry<NodeGetDocument>;
  t.nodeGetNodeData = Entry<NodeGetNodeData>;
  t.nodeGetFlags = Entry<NodeGetFlags>;
  t.nodeAlloc = Entry<NodeAlloc>;
  t.nodeFree = Entry<NodeFree>;
  t.objectInsertTagFirst = Entry<ObjectInsertTagFirst>;
  t.documentInsertObjectAfter = Entry<DocumentInsertObjectAfter>;
  t.documentInsertObjectLast = Entry<DocumentInsertObjectLast>;
  t.nodeMessage = Entry<NodeMessage>;
  t.nodeSetDirty = Entry<NodeSetDirty>;
  t.objectSetDeformMode = Entry<ObjectSetDeformMode>;
  t.objectGetDeformMode = Entry<ObjectGetDeformMode>;
}

}  // namespace headless
