#include "host/plugin_base.h"

BaseData::~BaseData() = default;

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

Int32 ObjectData::DrawOverlay(BaseObject* op, Int32 drawPass, BaseDraw* bd, BaseDrawHelp* bh) {
  return Host().objectDefaultDraw(op, drawPass, bd, bh);
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
