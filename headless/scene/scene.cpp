#include "headless/scene/scene.h"

#include <cmath>
#include <limits>
#include <new>
#include <shared_mutex>
#include <stdexcept>

#include "headless/scene/object_names.h"
#include "headless/scene/registry.h"
#include "headless/scene/scene_state.h"
#include "host/abi/ids.h"
#include "host/abi/plugin_base.h"

namespace headless {

// The enable switch the host itself gives every expression tag.
inline constexpr Int32 kExpressionEnabled = 1000999;

const char* ValueTypeName(ValueType type) {
  switch (type) {
    case ValueType::kInt32:
      return "int32";
    case ValueType::kFloat:
      return "float";
    case ValueType::kString:
      return "string";
    case ValueType::kLink:
      return "link";
    case ValueType::kInExclude:
      return "inexclude";
  }
  return "unknown";
}

// ---------------------------------------------------------------------------------------------
// Container

const Value* Container::Find(Int32 id) const {
  const auto it = values_.find(id);
  return it == values_.end() ? nullptr : &it->second;
}

void Container::Set(Int32 id, Value value) {
  values_[id] = std::move(value);
}

void Container::SetInt32(Int32 id, Int32 v) {
  Value value;
  value.type = ValueType::kInt32;
  value.int32 = v;
  Set(id, std::move(value));
}

void Container::SetFloat(Int32 id, Float v) {
  Value value;
  value.type = ValueType::kFloat;
  value.real = v;
  Set(id, std::move(value));
}

void Container::SetString(Int32 id, std::string v) {
  Value value;
  value.type = ValueType::kString;
  value.text = std::move(v);
  Set(id, std::move(value));
}

void Container::SetLink(Int32 id, UInt64 targetSerial) {
  Value value;
  value.type = ValueType::kLink;
  value.link.target = targetSerial;
  Set(id, std::move(value));
}

void Container::SetInExclude(Int32 id, std::vector<UInt64> targetSerials) {
  Value value;
  value.type = ValueType::kInExclude;
  value.list.targets = std::move(targetSerials);
  Set(id, std::move(value));
}

std::optional<Int32> Container::GetInt32(Int32 id) const {
  const Value* v = Find(id);
  if (v == nullptr || v->type != ValueType::kInt32) return std::nullopt;
  return v->int32;
}

std::optional<Float> Container::GetFloat(Int32 id) const {
  const Value* v = Find(id);
  if (v == nullptr || v->type != ValueType::kFloat) return std::nullopt;
  return v->real;
}

std::optional<std::string> Container::GetString(Int32 id) const {
  const Value* v = Find(id);
  if (v == nullptr || v->type != ValueType::kString) return std::nullopt;
  return v->text;
}

const LinkValue* Container::GetLink(Int32 id) const {
  const Value* v = Find(id);
  return v == nullptr || v->type != ValueType::kLink ? nullptr : &v->link;
}

const InExcludeValue* Container::GetInExclude(Int32 id) const {
  const Value* v = Find(id);
  return v == nullptr || v->type != ValueType::kInExclude ? nullptr : &v->list;
}

// ---------------------------------------------------------------------------------------------
// Node records and the registry of live nodes

std::vector<Int32> Node::DeliveredMessages() const {
  std::lock_guard<std::mutex> lock(messageMutex);
  return messages;
}

void Node::ClearDeliveredMessages() {
  std::lock_guard<std::mutex> lock(messageMutex);
  messages.clear();
}

bool IsHostTagType(Int32 type) {
  return type == Tvertexmap || type == Tpoint || type == Tpolygon;
}

namespace {

void DestroyOne(Node* node);

Node* NewRecord(Int32 type, bool isTag, const NodeMemory* from) {
  void* memory =
      from != nullptr ? from->allocate(sizeof(Node)) : ::operator new(sizeof(Node), std::nothrow);
  if (memory == nullptr) return nullptr;
  Node* node = new (memory) Node;
  if (from != nullptr) node->release = from->release;
  SceneState& state = TheSceneState();
  node->serial = state.nextSerial.fetch_add(1);
  node->type = type;
  node->isTag = isTag;
  try {
    std::unique_lock<std::shared_mutex> lock(state.liveMutex);
    state.liveNodes.emplace(node->serial, node);
  } catch (...) {
    DestroyOne(node);
    return nullptr;
  }
  return node;
}

void DropInstance(Node* node) {
  if (node->instance == nullptr) return;
  NodeData* instance = node->instance;
  node->instance = nullptr;
  node->instanceOwner = nullptr;
  try {
    instance->CallFree(ToList(node));
  } catch (...) {
  }
  delete instance;  // virtual: the plug-in's own destructor returns the memory to its allocator
}

void DestroyOne(Node* node) {
  DropInstance(node);
  {
    SceneState& state = TheSceneState();
    std::unique_lock<std::shared_mutex> lock(state.liveMutex);
    state.liveNodes.erase(node->serial);
  }
  void (*const release)(void*) = node->release;
  node->~Node();
  if (release != nullptr) {
    release(node);
  } else {
    ::operator delete(node);
  }
}

// Like the host, gives every include/exclude list that the type's registered description
// declares an empty list, so that the plug-in finds a list there from the start.
void GiveDescribedLists(Node* node) {
  DescriptionData description;
  if (!FindDescription(node->type, description)) return;
  for (const ParameterDescription& parameter : description.parameters)
    if (parameter.type == ParameterType::kInExclude) node->params.SetInExclude(parameter.id, {});
}

// Walks without recursion, so that no depth of the tree can exhaust the stack.
void SetDocumentOfSubtree(Node* node, Document* doc) {
  for (Node* op = node; op != nullptr;) {
    op->document = doc;
    for (Node* tag = op->firstTag; tag != nullptr; tag = tag->next) tag->document = doc;
    if (op->down != nullptr) {
      op = op->down;
      continue;
    }
    while (op != node && op->next == nullptr) op = op->up;
    op = op == node ? nullptr : op->next;
  }
}

}  // namespace

Node* NewNode(Int32 type, bool isTag, const NodeMemory* memory) {
  Registration registration;
  const bool plugin = FindRegistration(type, registration) &&
                      registration.kind == (isTag ? PluginKind::kTag : PluginKind::kObject);
  Node* node = NewRecord(type, isTag, memory);
  if (node == nullptr || !plugin) return node;
  node->name = registration.name;
  NodeData* instance = nullptr;
  try {
    instance = registration.allocate();
  } catch (...) {
    instance = nullptr;
  }
  if (instance == nullptr) {
    DestroyOne(node);
    return nullptr;
  }
  node->instance = instance;
  node->instanceOwner = registration.owner;
  if (isTag && (registration.flags & TAG_EXPRESSION) != 0)
    node->params.SetInt32(kExpressionEnabled, 1);
  bool initialised = false;
  try {
    GiveDescribedLists(node);
    initialised = instance->CallInitialise(ToList(node));
  } catch (...) {
    initialised = false;
  }
  if (!initialised) {
    DestroyOne(node);
    return nullptr;
  }
  return node;
}

bool DeliverMessage(Node* n, Int32 type, void* data) {
  if (n == nullptr) return false;
  try {
    std::lock_guard<std::mutex> lock(n->messageMutex);
    n->messages.push_back(type);
  } catch (...) {
    // The record is for observers only; delivery goes on.
  }
  if (type == MSG_TESSAMIRE_POINTSKEPT && data != nullptr)
    n->pointsKept.fetch_add(*static_cast<const Int64*>(data));
  if (n->instance == nullptr) return true;
  try {
    return n->instance->CallHandleMessage(ToList(n), type, data);
  } catch (...) {
    return false;
  }
}

void DestroyNode(Node* node) {
  // Children before their parent, without recursion: down to a node without children, free it,
  // then on to its next sibling, or back up to its parent once it has none left.
  for (Node* op = node; op != nullptr;) {
    while (op->down != nullptr) op = op->down;
    Node* const parent = op == node ? nullptr : op->up;
    Node* const next = op == node ? nullptr : op->next;
    if (parent != nullptr) parent->down = next;
    for (Node* tag = op->firstTag; tag != nullptr;) {
      Node* const following = tag->next;
      DestroyOne(tag);
      tag = following;
    }
    DestroyOne(op);
    op = next != nullptr ? next : parent;
  }
}

Node* FindLiveNode(UInt64 serial) {
  if (serial == 0) return nullptr;
  SceneState& state = TheSceneState();
  std::shared_lock<std::shared_mutex> lock(state.liveMutex);
  const auto it = state.liveNodes.find(serial);
  return it == state.liveNodes.end() ? nullptr : it->second;
}

void ReleaseInstancesOf(const void* owner) {
  std::vector<Node*> nodes;
  {
    SceneState& state = TheSceneState();
    std::shared_lock<std::shared_mutex> lock(state.liveMutex);
    for (const auto& [serial, node] : state.liveNodes)
      if (node->instance != nullptr && node->instanceOwner == owner) nodes.push_back(node);
  }
  for (Node* node : nodes) DropInstance(node);
}

void ValidateMesh(const std::vector<Vector3>& points, const std::vector<CPolygon>& polygons) {
  constexpr size_t kMaxCount = static_cast<size_t>(std::numeric_limits<Int32>::max());
  if (points.size() > kMaxCount)
    throw std::invalid_argument("mesh: " + std::to_string(points.size()) +
                                " points exceed the int32 range");
  if (polygons.size() > kMaxCount)
    throw std::invalid_argument("mesh: " + std::to_string(polygons.size()) +
                                " polygons exceed the int32 range");
  for (size_t i = 0; i < points.size(); ++i) {
    const Vector3& p = points[i];
    if (!std::isfinite(p.x) || !std::isfinite(p.y) || !std::isfinite(p.z))
      throw std::invalid_argument("mesh: point " + std::to_string(i) +
                                  " has a non-finite coordinate");
  }
  const Int64 count = static_cast<Int64>(points.size());
  static const char* const kCorner[4] = {"a", "b", "c", "d"};
  for (size_t i = 0; i < polygons.size(); ++i) {
    const Int32 corners[4] = {polygons[i].a, polygons[i].b, polygons[i].c, polygons[i].d};
    for (int k = 0; k < 4; ++k) {
      if (corners[k] < 0 || corners[k] >= count)
        throw std::invalid_argument("mesh: polygon " + std::to_string(i) + " corner " + kCorner[k] +
                                    " = " + std::to_string(corners[k]) + " is outside [0, " +
                                    std::to_string(count) + ")");
    }
  }
}

void SetMeshUnvalidated(Node* object, std::vector<Vector3> points, std::vector<CPolygon> polygons) {
  if (object == nullptr || !object->IsPolygonObject())
    throw std::invalid_argument("SetMeshUnvalidated: the node is not a polygon object");
  object->points = std::move(points);
  object->polygons = std::move(polygons);
}

// ---------------------------------------------------------------------------------------------
// Document

Document::Document() {
  root_ = NewRecord(kDocumentType, false, nullptr);
  if (root_ == nullptr) throw std::bad_alloc();
  root_->document = this;
}

void Document::SetFrameRate(Float fps) {
  if (!std::isfinite(fps) || !(fps > 0.0))
    throw std::invalid_argument("a frame rate must be a finite number above 0, not " +
                                std::to_string(fps));
  frameRate_ = fps;
}

Document::~Document() {
  // A destroyed document is no longer the one commands run on.
  Document* self = this;
  TheSceneState().activeDocument.compare_exchange_strong(self, nullptr);
  for (Node* op = first_; op != nullptr;) {
    Node* next = op->next;
    DestroyNode(op);
    op = next;
  }
  DestroyOne(root_);
}

std::unique_ptr<Document> NewDocument() {
  return std::make_unique<Document>();
}

void Document::CheckInsertable(const Node* op, bool wantTag) const {
  if (op == nullptr) throw std::invalid_argument("insert: no node given");
  if (op->isTag != wantTag)
    throw std::invalid_argument(std::string("insert: node of type ") + std::to_string(op->type) +
                                (op->isTag ? " is a tag, not an object" : " is not a tag"));
  if (op->IsInserted() || op->up != nullptr || op->prev != nullptr || op->next != nullptr)
    throw std::invalid_argument("insert: node of type " + std::to_string(op->type) +
                                " is already inserted");
  if (op->type == kDocumentType)
    throw std::invalid_argument("insert: a document root cannot be inserted");
}

void Document::CheckMember(const Node* node, const char* role) const {
  if (node == nullptr || node->document != this || node == root_ || node->isTag)
    throw std::invalid_argument(std::string("insert: the ") + role +
                                " is not an object of this document");
}

void Document::InsertFirst(Node* op, Node* parent) {
  CheckInsertable(op, false);
  if (parent != nullptr) CheckMember(parent, "parent");
  Node*& head = parent != nullptr ? parent->down : first_;
  op->next = head;
  if (head != nullptr) head->prev = op;
  head = op;
  op->up = parent;
  SetDocumentOfSubtree(op, this);
}

void Document::InsertLast(Node* op, Node* parent) {
  CheckInsertable(op, false);
  if (parent != nullptr) CheckMember(parent, "parent");
  Node*& head = parent != nullptr ? parent->down : first_;
  if (head == nullptr) {
    head = op;
  } else {
    Node* tail = head;
    while (tail->next != nullptr) tail = tail->next;
    tail->next = op;
    op->prev = tail;
  }
  op->up = parent;
  SetDocumentOfSubtree(op, this);
}

void Document::InsertAfter(Node* op, Node* pred) {
  if (pred == nullptr) {
    InsertFirst(op, nullptr);
    return;
  }
  CheckInsertable(op, false);
  CheckMember(pred, "predecessor");
  op->next = pred->next;
  if (pred->next != nullptr) pred->next->prev = op;
  pred->next = op;
  op->prev = pred;
  op->up = pred->up;
  SetDocumentOfSubtree(op, this);
}

void Document::InsertTagFirst(Node* object, Node* tag) {
  CheckInsertable(tag, true);
  CheckMember(object, "object");
  tag->next = object->firstTag;
  if (object->firstTag != nullptr) object->firstTag->prev = tag;
  object->firstTag = tag;
  tag->up = object;
  tag->document = this;
}

void Document::AppendTag(Node* object, Node* tag) {
  CheckInsertable(tag, true);
  CheckMember(object, "object");
  if (object->firstTag == nullptr) {
    object->firstTag = tag;
  } else {
    Node* tail = object->firstTag;
    while (tail->next != nullptr) tail = tail->next;
    tail->next = tag;
    tag->prev = tail;
  }
  tag->up = object;
  tag->document = this;
}

void Document::Remove(Node* node) {
  if (node == nullptr || node->document != this || node == root_)
    throw std::invalid_argument("remove: the node is not in this document");
  Node*& head = node->isTag ? node->up->firstTag : (node->up != nullptr ? node->up->down : first_);
  if (node->prev != nullptr) {
    node->prev->next = node->next;
  } else {
    head = node->next;
  }
  if (node->next != nullptr) node->next->prev = node->prev;
  node->prev = nullptr;
  node->next = nullptr;
  node->up = nullptr;
  if (node->isTag) {
    node->document = nullptr;
  } else {
    SetDocumentOfSubtree(node, nullptr);
  }
}

void Document::Delete(Node* node) {
  Remove(node);
  DestroyNode(node);
}

Node* Document::AddPolygonObject(const std::string& name, std::vector<Vector3> points,
                                 std::vector<CPolygon> polygons, Node* parent) {
  ValidateMesh(points, polygons);
  if (parent != nullptr) CheckMember(parent, "parent");
  Node* node = NewNode(Opolygon, false);
  if (node == nullptr) return nullptr;
  node->name = name;
  node->points = std::move(points);
  node->polygons = std::move(polygons);
  InsertLast(node, parent);
  return node;
}

Node* Document::AddObject(Int32 type, const std::string& name, Node* parent) {
  Registration registration;
  if (IsHostTagType(type) ||
      (FindRegistration(type, registration) && registration.kind == PluginKind::kTag))
    throw std::invalid_argument("AddObject: type " + std::to_string(type) + " is a tag type");
  if (type == kDocumentType)
    throw std::invalid_argument("AddObject: type " + std::to_string(type) + " is a document");
  if (parent != nullptr) CheckMember(parent, "parent");
  Node* node = NewNode(type, false);
  if (node == nullptr) return nullptr;
  if (!name.empty() || node->name.empty()) node->name = name;
  InsertLast(node, parent);
  return node;
}

Node* Document::AddTag(Node* object, Int32 type) {
  CheckMember(object, "object");
  Registration registration;
  const bool registered = FindRegistration(type, registration);
  if (registered && registration.kind != PluginKind::kTag)
    throw std::invalid_argument("AddTag: type " + std::to_string(type) + " is registered as a " +
                                PluginKindName(registration.kind));
  if (!registered && !IsHostTagType(type))
    throw std::invalid_argument("AddTag: type " + std::to_string(type) + " is not a tag type");
  Node* tag = NewNode(type, true);
  if (tag == nullptr) return nullptr;
  AppendTag(object, tag);
  return tag;
}

Node* Document::AddVertexMap(Node* object, std::vector<Float32> weights, const std::string& name) {
  CheckMember(object, "object");
  if (weights.size() > static_cast<size_t>(std::numeric_limits<Int32>::max()))
    throw std::invalid_argument("AddVertexMap: too many weights");
  Node* tag = NewNode(Tvertexmap, true);
  if (tag == nullptr) return nullptr;
  tag->name = name;
  tag->weights = std::move(weights);
  AppendTag(object, tag);
  return tag;
}

std::vector<Node*> Document::Objects() const {
  // Without recursion, so that no depth of the tree can exhaust the stack.
  std::vector<Node*> out;
  for (Node* op = first_; op != nullptr;) {
    out.push_back(op);
    if (op->down != nullptr) {
      op = op->down;
      continue;
    }
    while (op != nullptr && op->next == nullptr) op = op->up;
    if (op != nullptr) op = op->next;
  }
  return out;
}

std::vector<Node*> Document::Tags(const Node* object) {
  std::vector<Node*> out;
  if (object == nullptr) return out;
  for (Node* tag = object->firstTag; tag != nullptr; tag = tag->next) out.push_back(tag);
  return out;
}

std::vector<Node*> Document::SelectedObjects() const {
  std::vector<Node*> out;
  for (Node* op : Objects())
    if ((op->flags & BIT_ACTIVE) != 0) out.push_back(op);
  return out;
}

Node* Document::FindObject(const std::string& name) const {
  Int64 compared = 0;
  Node* found = nullptr;
  for (Node* op : Objects()) {
    ++compared;
    if (op->name == name) {
      found = op;
      break;
    }
  }
  CountObjectNamesCompared(compared);
  return found;
}

// ---------------------------------------------------------------------------------------------
// Handles

BaseList2D* ToList(Node* node) {
  return reinterpret_cast<BaseList2D*>(node);
}
BaseObject* ToObject(Node* node) {
  return reinterpret_cast<BaseObject*>(node);
}
BaseTag* ToTag(Node* node) {
  return reinterpret_cast<BaseTag*>(node);
}
BaseDocument* ToDocument(Document* doc) {
  return doc == nullptr ? nullptr : reinterpret_cast<BaseDocument*>(doc->Root());
}
Node* FromHandle(const BaseList2D* handle) {
  return reinterpret_cast<Node*>(const_cast<BaseList2D*>(handle));
}
Node* FromHandle(const BaseObject* handle) {
  return reinterpret_cast<Node*>(const_cast<BaseObject*>(handle));
}
Node* FromHandle(const BaseTag* handle) {
  return reinterpret_cast<Node*>(const_cast<BaseTag*>(handle));
}
Document* DocumentFromHandle(const BaseDocument* handle) {
  if (handle == nullptr) return nullptr;
  const Node* root = reinterpret_cast<const Node*>(handle);
  return root->document;
}
Container* FromHandle(const BaseContainer* handle) {
  return reinterpret_cast<Container*>(const_cast<BaseContainer*>(handle));
}
BaseContainer* ToContainer(Container* container) {
  return reinterpret_cast<BaseContainer*>(container);
}

}  // namespace headless
