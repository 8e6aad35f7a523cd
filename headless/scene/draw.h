// Drawing in the headless host: there is no viewport, so a draw call is recorded instead. A
// DrawView is what the plug-in sees as its BaseDraw handle; every falloff outline and every
// handle drawn into it lands in its record list, in call order, for tests and tools to read.
#pragma once

#include <vector>

#include "headless/scene/scene.h"
#include "host/abi/table.h"

namespace headless {

struct DrawRecord {
  enum class Kind { kFalloff, kHandle };
  Kind kind = Kind::kFalloff;
  UInt64 node = 0;  // serial of the drawn node; 0 for a falloff (the evaluator knows no node)
  Int32 drawPass = 0;
  // kFalloff: the evaluator's shape and radii as its container holds them.
  Int32 shape = 0;
  Float radius = 0.0;
  Float innerRadius = 0.0;
  // kHandle: the handle's index and what ReadHandle reported for it.
  Int32 handleIndex = -1;
  HandleInfo handle;
};

// The BaseDraw handle. Not shared between threads.
struct DrawView {
  std::vector<DrawRecord> records;
};

BaseDraw* ToDraw(DrawView* view);
DrawView* DrawViewFromHandle(BaseDraw* handle);

// Calls the object's DrawOverlay with `view` (no draw help) and answers its DRAWRESULT_ value.
// Throws std::invalid_argument when `object` is not an object with a plug-in instance. An
// exception from the plug-in answers DRAWRESULT_FAILURE.
Int32 DrawObject(Node* object, Int32 drawPass, DrawView& view);

// The host's default object drawing (table entry objectDefaultDraw): in the handles pass it
// draws every handle that the object's CountHandles and ReadHandle report and answers
// DRAWRESULT_OK, or DRAWRESULT_SKIP when there is none; every other pass answers DRAWRESULT_SKIP.
// Without a view nothing is recorded, the answer is the same.
Int32 DefaultDraw(BaseObject* op, Int32 drawPass, BaseDraw* bd, BaseDrawHelp* bh);

}  // namespace headless
