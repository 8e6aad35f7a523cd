#include "host/abi/plugin_base.h"

BaseData::~BaseData() = default;

// --- entries: each operation through the barrier ---

Bool NodeData::CallInitialise(BaseList2D* node) noexcept {
  return Barrier(false, [&] { return Initialise(node); });
}
void NodeData::CallFree(BaseList2D* node) noexcept {
  Barrier([&] { Free(node); });
}
Bool NodeData::CallReadState(BaseList2D* node, HyperFile* hf, Int32 level) noexcept {
  return Barrier(false, [&] { return ReadState(node, hf, level); });
}
Bool NodeData::CallWriteState(BaseList2D* node, HyperFile* hf) noexcept {
  return Barrier(false, [&] { return WriteState(node, hf); });
}
Bool NodeData::CallCopyState(NodeData* dest, BaseList2D* sourceNode, BaseList2D* destNode,
                             Int32 flags, void* translator) noexcept {
  return Barrier(false, [&] { return CopyState(dest, sourceNode, destNode, flags, translator); });
}
Bool NodeData::CallHandleMessage(BaseList2D* node, Int32 type, void* data) noexcept {
  return Barrier(false, [&] { return HandleMessage(node, type, data); });
}
Bool NodeData::CallDescribeParameters(BaseList2D* node, Description* description,
                                      Int32* flags) noexcept {
  return Barrier(false, [&] { return DescribeParameters(node, description, flags); });
}
Bool NodeData::CallIsParameterEnabled(BaseList2D* node, Int32 id, const void* value, Int32 flags,
                                      const BaseContainer* itemDescription) noexcept {
  return Barrier(false,
                 [&] { return IsParameterEnabled(node, id, value, flags, itemDescription); });
}

Int32 ObjectData::CallDrawOverlay(BaseObject* op, Int32 drawPass, BaseDraw* bd,
                                  BaseDrawHelp* bh) noexcept {
  return Barrier(DRAWRESULT_FAILURE, [&] { return DrawOverlay(op, drawPass, bd, bh); });
}
Bool ObjectData::CallJoinExecution(BaseObject* op, PriorityList* list) noexcept {
  return Barrier(false, [&] { return JoinExecution(op, list); });
}
Int32 ObjectData::CallPrepareExecution(BaseObject* op, BaseDocument* doc, BaseThread* bt,
                                       Int32 priority, Int32 flags) noexcept {
  return Barrier(EXECUTIONRESULT_OUTOFMEMORY,
                 [&] { return PrepareExecution(op, doc, bt, priority, flags); });
}
Bool ObjectData::CallDeformObject(BaseObject* mod, BaseDocument* doc, BaseObject* op,
                                  const Matrix& opMg, const Matrix& modMg, Float lod, Int32 flags,
                                  BaseThread* thread) noexcept {
  return Barrier(false,
                 [&] { return DeformObject(mod, doc, op, opMg, modMg, lod, flags, thread); });
}
void ObjectData::CallRefreshDirty(BaseObject* op, BaseDocument* doc) noexcept {
  Barrier([&] { RefreshDirty(op, doc); });
}
Int32 ObjectData::CallCountHandles(BaseObject* op) noexcept {
  return Barrier(0, [&] { return CountHandles(op); });
}
void ObjectData::CallReadHandle(BaseObject* op, Int32 index, HandleInfo& info) noexcept {
  Barrier([&] { ReadHandle(op, index, info); });
}
void ObjectData::CallWriteHandle(BaseObject* op, Int32 index, const Vector3& position,
                                 const HandleInfo& info) noexcept {
  Barrier([&] { WriteHandle(op, index, position, info); });
}

Bool TagData::CallDrawTag(BaseTag* tag, BaseObject* op, BaseDraw* bd, BaseDrawHelp* bh) noexcept {
  return Barrier(false, [&] { return DrawTag(tag, op, bd, bh); });
}
Int32 TagData::CallExecuteTag(BaseTag* tag, BaseDocument* doc, BaseObject* op, BaseThread* bt,
                              Int32 priority, Int32 flags) noexcept {
  return Barrier(EXECUTIONRESULT_OK, [&] { return ExecuteTag(tag, doc, op, bt, priority, flags); });
}

Bool CommandData::CallExecute(BaseDocument* doc) noexcept {
  return Barrier(false, [&] { return Execute(doc); });
}
Int32 CommandData::CallGetState(BaseDocument* doc) noexcept {
  return Barrier(0, [&] { return GetState(doc); });
}

// --- the host base behaviour ---

Bool NodeData::Initialise(BaseList2D*) {
  return true;
}
void NodeData::Free(BaseList2D*) {}
Bool NodeData::ReadState(BaseList2D*, HyperFile*, Int32) {
  return true;
}
Bool NodeData::WriteState(BaseList2D*, HyperFile*) {
  return true;
}
Bool NodeData::CopyState(NodeData*, BaseList2D*, BaseList2D*, Int32, void*) {
  return true;
}
Bool NodeData::HandleMessage(BaseList2D*, Int32, void*) {
  return true;
}
Bool NodeData::DescribeParameters(BaseList2D*, Description*, Int32*) {
  return true;
}
Bool NodeData::IsParameterEnabled(BaseList2D*, Int32, const void*, Int32, const BaseContainer*) {
  return true;
}

Bool ObjectData::JoinExecution(BaseObject*, PriorityList*) {
  return false;
}
Int32 ObjectData::PrepareExecution(BaseObject*, BaseDocument*, BaseThread*, Int32, Int32) {
  return EXECUTIONRESULT_OK;
}
Bool ObjectData::DeformObject(BaseObject*, BaseDocument*, BaseObject*, const Matrix&, const Matrix&,
                              Float, Int32, BaseThread*) {
  return true;
}
void ObjectData::RefreshDirty(BaseObject*, BaseDocument*) {}
Int32 ObjectData::CountHandles(BaseObject*) {
  return 0;
}
void ObjectData::ReadHandle(BaseObject*, Int32, HandleInfo&) {}
void ObjectData::WriteHandle(BaseObject*, Int32, const Vector3&, const HandleInfo&) {}

Bool TagData::DrawTag(BaseTag*, BaseObject*, BaseDraw*, BaseDrawHelp*) {
  return true;
}
Int32 TagData::ExecuteTag(BaseTag*, BaseDocument*, BaseObject*, BaseThread*, Int32, Int32) {
  return EXECUTIONRESULT_OK;
}

Bool CommandData::Execute(BaseDocument*) {
  return false;
}
Int32 CommandData::GetState(BaseDocument*) {
  return CMD_ENABLED;
}
