// Host handle types of the scene: nodes, objects, tags, documents, containers, links, lists,
// streams and selections. Each is an opaque handle; every operation forwards to the host.
#pragma once

#include <string>

#include "host/binding/binding.h"

class BaseList2D {
 public:
  BaseList2D() = delete;
  Int32 GetType() const { return Host().nodeGetType(this); }
  BaseList2D* GetNext() const { return Host().nodeGetNext(this); }
  BaseDocument* GetDocument() const { return Host().nodeGetDocument(this); }
  NodeData* GetNodeData() const { return Host().nodeGetNodeData(this); }
  Bool GetBit(Int32 bit) const { return (Host().nodeGetFlags(this) & bit) != 0; }
  Bool Message(Int32 type, void* data = nullptr) { return Host().nodeMessage(this, type, data); }
  void SetDirty(Int32 flags) { Host().nodeSetDirty(this, flags); }
  BaseContainer* GetDataInstance() { return Host().nodeGetContainer(this); }

  Bool GetInt32(Int32 id, Int32& out) const { return Host().paramGetInt32(this, id, &out, 0); }
  Bool GetFloat(Int32 id, Float& out) const { return Host().paramGetFloat(this, id, &out, 0); }
  Bool GetLink(Int32 id, const BaseLink*& out) const {
    return Host().paramGetLink(this, id, &out, 0);
  }
  Bool GetInExclude(Int32 id, const InExcludeData*& out) const {
    return Host().paramGetInExclude(this, id, &out, 0);
  }
  Bool SetInt32(Int32 id, Int32 value) { return Host().paramSetInt32(this, id, value, 0); }
  Bool SetFloat(Int32 id, Float value) { return Host().paramSetFloat(this, id, value, 0); }
  Bool SetString(Int32 id, const std::string& value) {
    return Host().paramSetString(this, id, value.c_str(), 0);
  }
  Bool SetLink(Int32 id, BaseList2D* target) { return Host().paramSetLink(this, id, target, 0); }
};

class BaseObject : public BaseList2D {
 public:
  static BaseObject* Alloc(Int32 type) { return static_cast<BaseObject*>(Host().nodeAlloc(type)); }
  BaseObject* GetNext() const { return static_cast<BaseObject*>(Host().nodeGetNext(this)); }
  BaseObject* GetUp() const { return Host().objectGetUp(this); }
  BaseObject* GetDown() const { return Host().objectGetDown(this); }
  BaseTag* GetFirstTag() const { return Host().objectGetFirstTag(this); }
  void InsertTagFirst(BaseTag* tag) { Host().objectInsertTagFirst(this, tag); }
  void SetDeformMode(Bool on) { Host().objectSetDeformMode(this, on); }
  Bool GetDeformMode() const { return Host().objectGetDeformMode(this); }

  // Mesh data (polygon objects); counts are 0 and arrays null when the data is absent.
  Int32 GetPointCount() const { return Host().objectDataCount(this, Tpoint); }
  Int32 GetPolygonCount() const { return Host().objectDataCount(this, Tpolygon); }
  const Vector3* GetPointR() const {
    return static_cast<const Vector3*>(Host().objectDataR(this, Tpoint));
  }
  const CPolygon* GetPolygonR() const {
    return static_cast<const CPolygon*>(Host().objectDataR(this, Tpolygon));
  }
  Vector3* GetPointW() { return Host().objectPointsW(this); }
};

class BaseTag : public BaseList2D {
 public:
  static BaseTag* Alloc(Int32 type) { return static_cast<BaseTag*>(Host().nodeAlloc(type)); }
  BaseTag* GetNext() const { return static_cast<BaseTag*>(Host().nodeGetNext(this)); }
  BaseObject* GetObject() const { return Host().tagGetObject(this); }

  // Vertex-map tags: one float32 weight per point.
  Int32 GetDataCount() const { return Host().vertexMapCount(this); }
  const Float32* GetWeightsR() const { return Host().vertexMapDataR(this); }
};

class BaseDocument : public BaseList2D {
 public:
  void GetActiveObjects(AtomArray* out, Bool children, Int32 type, Int32 instanceOf) {
    Host().documentGetActiveObjects(this, out, children, type, instanceOf);
  }
  Bool StartUndo() { return Host().documentStartUndo(this); }
  Bool AddUndo(Int32 type, BaseList2D* node) { return Host().documentAddUndo(this, type, node); }
  Bool EndUndo() { return Host().documentEndUndo(this); }
  void InsertObjectAfter(BaseObject* op, BaseObject* pred) {
    Host().documentInsertObjectAfter(this, op, pred);
  }
  void InsertObjectLast(BaseObject* op, BaseObject* parent) {
    Host().documentInsertObjectLast(this, op, parent);
  }
};

class BaseContainer {
 public:
  BaseContainer() = delete;
  Int32 GetInt32(Int32 id, Int32 defaultValue = 0) const {
    return Host().containerGetInt32(this, id, defaultValue);
  }
  void SetInt32(Int32 id, Int32 value) { Host().containerSetInt32(this, id, value); }
};

class BaseLink {
 public:
  BaseLink() = delete;
  BaseList2D* GetLink(const BaseDocument* doc, Int32 typeFilter) const {
    return Host().linkResolve(this, doc, typeFilter);
  }
};

class InExcludeData {
 public:
  InExcludeData() = delete;
  Int32 GetObjectIndex(const BaseDocument* doc, const BaseList2D* node) const {
    return Host().inExcludeIndex(this, doc, node);
  }
};

class HyperFile {
 public:
  HyperFile() = delete;
  Bool WriteBool(Bool v) { return Host().hfWriteBool(this, v); }
  Bool WriteInt32(Int32 v) { return Host().hfWriteInt32(this, v); }
  Bool WriteVector(const Vector3& v) { return Host().hfWriteVector(this, &v); }
  Bool ReadBool(Bool* v) { return Host().hfReadBool(this, v); }
  Bool ReadInt32(Int32* v) { return Host().hfReadInt32(this, v); }
  Bool ReadVector(Vector3* v) { return Host().hfReadVector(this, v); }
};

class AtomArray {
 public:
  AtomArray() = delete;
  static AtomArray* Alloc() { return Host().atomArrayAlloc(); }
  static void Free(AtomArray*& array) {
    if (array != nullptr) Host().atomArrayFree(array);
    array = nullptr;
  }
  Int32 GetCount() const { return Host().atomArrayCount(this); }
  BaseList2D* GetIndex(Int32 i) const { return Host().atomArrayIndex(this, i); }
};

// Resource string `id` of `res` (empty when absent).
std::string LoadResourceString(const Resource* res, Int32 id);
// The host's text for a 64-bit number.
std::string FormatNumber(Int64 value);
// One line on the host console.
inline void ConsolePrint(const std::string& line) {
  Host().consolePrint(line.c_str());
}
// Asks the host to refresh its views.
inline void EventAdd(Int32 flags = 0) {
  Host().eventAdd(flags);
}
