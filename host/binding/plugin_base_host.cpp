// What the plug-in base classes reach the host for, on the plug-in's side where the tables are
// bound: their instances' memory and the default drawing.
#include "host/abi/plugin_base.h"
#include "host/binding/memory.h"

void* BaseData::operator new(std::size_t size, const std::nothrow_t&) noexcept {
  return Framework().memAlloc(static_cast<Int64>(size), true, __FILE__, __LINE__);
}

void BaseData::operator delete(void* block) noexcept {
  DeleteMemory(block);
}

void BaseData::operator delete(void* block, const std::nothrow_t&) noexcept {
  DeleteMemory(block);
}

Int32 ObjectData::DrawOverlay(BaseObject* op, Int32 drawPass, BaseDraw* bd, BaseDrawHelp* bh) {
  return Host().objectDefaultDraw(op, drawPass, bd, bh);
}
