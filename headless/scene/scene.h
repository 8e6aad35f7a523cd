// The headless host's scene: documents holding a tree of nodes (objects with ordered children
// and an ordered tag list), typed parameters, polygon meshes and vertex maps.
//
// Handles: the plug-in sees a Node only as an opaque host handle (BaseList2D*, BaseObject*,
// BaseTag*). A document's handle is its root node, so that every handle the plug-in holds is a
// Node. Top-level objects have no parent (`up` is null) even though the root node stands for the
// document.
//
// Errors: the host-side API below throws std::invalid_argument naming the fault for bad input
// (mesh indices out of range, a tag asked on a non-object, ...) before it changes anything, and
// answers null when an allocation the plug-in could trigger fails (failure injection through
// headless::FailNthAllocation, for what the table's entries allocate).
#pragma once

#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "headless/geometry/file_vertices.h"
#include "headless/scene/rig.h"
#include "host/abi/table.h"

namespace headless {

class Document;
class UndoHistory;

// Type id of a document's root node.
inline constexpr Int32 kDocumentType = 110059;
// Type id of a plain null object (a grouping object without data).
inline constexpr Int32 kNullObjectType = 5140;
// Frames per second of a document nobody gave a rate.
inline constexpr Float kDefaultFrameRate = 30.0;

// ---------------------------------------------------------------------------------------------
// Typed parameter values.

enum class ValueType : Int32 { kInt32, kFloat, kString, kLink, kInExclude };

const char* ValueTypeName(ValueType type);

// A link holds the serial number of its target (0 = empty), so that a deleted target resolves to
// null rather than to freed memory.
struct LinkValue {
  UInt64 target = 0;
};

// Include/exclude list: serial numbers of its entries, in list order.
struct InExcludeValue {
  std::vector<UInt64> targets;
};

struct Value {
  ValueType type = ValueType::kInt32;
  Int32 int32 = 0;      // kInt32 (bools are stored as int32)
  Float real = 0.0;     // kFloat
  std::string text;     // kString
  LinkValue link;       // kLink
  InExcludeValue list;  // kInExclude
};

// Parameters by id. The BaseContainer handle of a node is its Container. Readers on several
// threads are fine while nobody writes.
class Container {
 public:
  const Value* Find(Int32 id) const;
  // Replaces the value in place, so that a link or list handed out earlier stays at its address.
  void Set(Int32 id, Value value);
  bool Erase(Int32 id) { return values_.erase(id) != 0; }
  void Clear() { values_.clear(); }
  const std::map<Int32, Value>& Entries() const { return values_; }

  void SetInt32(Int32 id, Int32 v);
  void SetBool(Int32 id, bool v) { SetInt32(id, v ? 1 : 0); }
  void SetFloat(Int32 id, Float v);
  void SetString(Int32 id, std::string v);
  void SetLink(Int32 id, UInt64 targetSerial);
  void SetInExclude(Int32 id, std::vector<UInt64> targetSerials);

  // Empty when the id is absent or holds another type.
  std::optional<Int32> GetInt32(Int32 id) const;
  std::optional<Float> GetFloat(Int32 id) const;
  std::optional<std::string> GetString(Int32 id) const;
  const LinkValue* GetLink(Int32 id) const;
  const InExcludeValue* GetInExclude(Int32 id) const;

 private:
  std::map<Int32, Value> values_;
};

// ---------------------------------------------------------------------------------------------
// Nodes.

struct Node {
  UInt64 serial = 0;  // unique in the process, never reused; links refer to it
  Int32 type = 0;
  bool isTag = false;
  std::string name;
  Int32 flags = 0;  // BIT_ACTIVE (2) = selected
  Container params;

  // Tree. Objects: `up` parent (null at top level), `down` first child, `next`/`prev` siblings,
  // `firstTag` head of the tag list. Tags: `up` the object carrying the tag, `next`/`prev` in the
  // tag list. Every field is null for a node not inserted anywhere.
  Document* document = nullptr;
  Node* up = nullptr;
  Node* down = nullptr;
  Node* next = nullptr;
  Node* prev = nullptr;
  Node* firstTag = nullptr;

  // Plug-in instance (registered plug-in types only), owned: freed through its virtual
  // destructor, which returns the memory to the allocator of the plug-in that made it.
  NodeData* instance = nullptr;
  const void* instanceOwner = nullptr;  // the loaded module whose allocation function made it

  // Polygon objects (type 5100): one Vector3 per point; four indices per polygon, a triangle
  // repeating its third index.
  std::vector<Vector3> points;
  std::vector<CPolygon> polygons;
  // Polygon objects made from a file that splits points along seams (a character's meshes): the
  // file's own vertices over the points, which results are written on. Never changed, so copies
  // share it; null for every other object.
  std::shared_ptr<const FileVertices> fileVertices;
  // Deform state. While `useDeformCache` is set, the mesh operations of the host table read and
  // write `deformCache` (a copy of `points` that deformers rewrite) instead of `points`.
  bool deformMode = true;
  bool useDeformCache = false;
  std::vector<Vector3> deformCache;
  std::atomic<Int32> dirtyCount{0};

  // Vertex-map tags (type 5682): one float32 weight per point.
  std::vector<Float32> weights;

  // Messages delivered through the host table's node message, in order (for tests).
  mutable std::mutex messageMutex;
  std::vector<Int32> messages;
  // Points the plug-in deformer reported kept at their input positions (message
  // MSG_TESSAMIRE_POINTSKEPT), summed until the deform pass reads and clears them.
  std::atomic<Int64> pointsKept{0};
  // Deformers: the serial of the vertex-map tag the deformer is restricted to (0: none); see
  // RestrictDeformer (deform.h).
  std::atomic<UInt64> restriction{0};

  // Where the record's memory goes back to when the node is freed (see NodeMemory).
  void (*release)(void* record) = nullptr;

  bool IsPolygonObject() const { return !isTag && type == Opolygon; }
  bool IsInserted() const { return document != nullptr; }
  // The points mesh reads see: the deform cache while it is in use, else the stored points.
  std::vector<Vector3>& CurrentPoints() { return useDeformCache ? deformCache : points; }
  const std::vector<Vector3>& CurrentPoints() const {
    return useDeformCache ? deformCache : points;
  }
  std::vector<Int32> DeliveredMessages() const;
  void ClearDeliveredMessages();
};

// Host tag types besides registered plug-in tags.
bool IsHostTagType(Int32 type);

// Where a node record's memory comes from. The host table's entries take it from the framework's
// allocator, so that a plug-in's node allocation can be made to fail (the allocator belongs to the
// host layer above, hence passed in); the host's own nodes come from the standard allocator.
struct NodeMemory {
  void* (*allocate)(size_t bytes);  // null on failure
  void (*release)(void* record);
};

// Creates a node of `type`, not inserted anywhere, with its plug-in instance when the type is a
// registered plug-in type (allocated through the registration and initialised). Before the
// plug-in's Initialise, the host gives such a node what it gives every node of a described type:
// an empty list for each include/exclude parameter of the type's registered description, and
// for an expression tag the enable switch 1000999 set to 1. Null when an allocation fails or the
// plug-in's initialisation answers false.
Node* NewNode(Int32 type, bool isTag, const NodeMemory* memory = nullptr);
// Delivers message `type` to a node as the host does: records its id (DeliveredMessages), adds a
// MSG_TESSAMIRE_POINTSKEPT count to `pointsKept`, then hands it to the plug-in instance. Answers
// the instance's result, true for a node without one, false for no node or an exception.
bool DeliverMessage(Node* node, Int32 type, void* data);
// Frees a node that is not inserted anywhere (or whose document is going away), with its tags
// and children: each plug-in instance gets Free, then its destructor.
void DestroyNode(Node* node);
// The live node with this serial number, or null.
Node* FindLiveNode(UInt64 serial);
// Drops the plug-in instances that the module `owner` made (it is about to be unloaded); their
// nodes stay, without instance.
void ReleaseInstancesOf(const void* owner);

// Validates a mesh as it enters the host: counts fit in int32, every index in [0, points).
// Throws std::invalid_argument naming the polygon, corner and index.
void ValidateMesh(const std::vector<Vector3>& points, const std::vector<CPolygon>& polygons);
// Replaces an object's mesh without validation, so that tests can hand the plug-in a broken mesh
// and check that the plug-in refuses it. Throws when `object` is not a polygon object.
void SetMeshUnvalidated(Node* object, std::vector<Vector3> points, std::vector<CPolygon> polygons);

// ---------------------------------------------------------------------------------------------
// Documents.

class Document {
 public:
  Document();
  ~Document();
  Document(const Document&) = delete;
  Document& operator=(const Document&) = delete;

  Node* Root() const { return root_; }
  Node* FirstObject() const { return first_; }

  // Appends a polygon object as the last child of `parent` (top level when null). The mesh is
  // validated first.
  Node* AddPolygonObject(const std::string& name, std::vector<Vector3> points,
                         std::vector<CPolygon> polygons, Node* parent = nullptr);
  // Appends an object of any type; a registered plug-in object type gets its instance.
  Node* AddObject(Int32 type, const std::string& name, Node* parent = nullptr);
  // Appends a tag at the end of the object's tag list.
  Node* AddTag(Node* object, Int32 type);
  // Appends a vertex-map tag with the given weights (their count is not checked against the
  // object's points: the plug-in must cope with a map of another size).
  Node* AddVertexMap(Node* object, std::vector<Float32> weights, const std::string& name = "");

  // Tree edits, also used by the host table. Each throws std::invalid_argument when the node is
  // already inserted, is of the wrong kind, or the reference node is not in this document.
  void InsertFirst(Node* op, Node* parent);
  void InsertLast(Node* op, Node* parent);
  void InsertAfter(Node* op, Node* pred);
  void InsertTagFirst(Node* object, Node* tag);
  void AppendTag(Node* object, Node* tag);
  // Takes a node (with its subtree) out of the document; the caller then owns it.
  void Remove(Node* node);
  // Removes and frees a node with its subtree.
  void Delete(Node* node);

  // Walks: objects in depth-first order (parent before children), and the tags of an object.
  std::vector<Node*> Objects() const;
  static std::vector<Node*> Tags(const Node* object);
  // Objects with BIT_ACTIVE set, in tree order.
  std::vector<Node*> SelectedObjects() const;
  Node* FindObject(const std::string& name) const;

  // The frame the document is evaluated at (0 until set); time-dependent deformers read it.
  Float Frame() const { return frame_; }
  void SetFrame(Float frame) { frame_ = frame; }
  // Frames per second: what a frame is in time, for the files that count in seconds. Throws
  // std::invalid_argument for a rate that is not finite and positive.
  Float FrameRate() const { return frameRate_; }
  void SetFrameRate(Float fps);

  // Undo groups recorded through the host table (headless/undo.h); made on first use.
  std::shared_ptr<UndoHistory> undo;
  // What an imported character keeps beyond its objects (rig.h); null for other documents.
  // Never changed once set, so copies share it.
  std::shared_ptr<const Rig> rig;

 private:
  void CheckInsertable(const Node* op, bool wantTag) const;
  void CheckMember(const Node* node, const char* role) const;

  Node* root_ = nullptr;
  Node* first_ = nullptr;  // first top-level object
  Float frame_ = 0.0;
  Float frameRate_ = kDefaultFrameRate;
};

std::unique_ptr<Document> NewDocument();

// Handle conversions. A document's handle is its root node.
BaseList2D* ToList(Node* node);
BaseObject* ToObject(Node* node);
BaseTag* ToTag(Node* node);
BaseDocument* ToDocument(Document* doc);
Node* FromHandle(const BaseList2D* handle);
Node* FromHandle(const BaseObject* handle);
Node* FromHandle(const BaseTag* handle);
Document* DocumentFromHandle(const BaseDocument* handle);
Container* FromHandle(const BaseContainer* handle);
BaseContainer* ToContainer(Container* container);

}  // namespace headless
