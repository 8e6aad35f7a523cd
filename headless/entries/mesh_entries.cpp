#include "headless/entries/mesh_entries.h"

#include "headless/entries/entry_guard.h"
#include "headless/scene/scene.h"

namespace headless {

namespace {

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

}  // namespace

void InstallMeshEntries(HostTable& t) {
  t.objectDataCount = Entry<ObjectDataCount>;
  t.objectDataR = Entry<ObjectDataR>;
  t.objectPointsW = Entry<ObjectPointsW>;
  t.vertexMapCount = Entry<VertexMapCount>;
  t.vertexMapDataR = Entry<VertexMapDataR>;
}

}  // namespace headless
