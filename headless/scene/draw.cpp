#include "headless/scene/draw.h"

#include <stdexcept>
#include <string>

#include "host/abi/plugin_base.h"

namespace headless {

BaseDraw* ToDraw(DrawView* view) {
  return reinterpret_cast<BaseDraw*>(view);
}

DrawView* DrawViewFromHandle(BaseDraw* handle) {
  return reinterpret_cast<DrawView*>(handle);
}

Int32 DrawObject(Node* object, Int32 drawPass, DrawView& view) {
  if (object == nullptr || object->isTag || object->instance == nullptr)
    throw std::invalid_argument("DrawObject: the node is not an object with a plug-in instance");
  auto* data = static_cast<ObjectData*>(object->instance);
  try {
    return data->CallDrawOverlay(ToObject(object), drawPass, ToDraw(&view), nullptr);
  } catch (...) {
    return DRAWRESULT_FAILURE;
  }
}

Int32 DefaultDraw(BaseObject* op, Int32 drawPass, BaseDraw* bd, BaseDrawHelp*) {
  Node* node = FromHandle(op);
  if (drawPass != DRAWPASS_HANDLES || node == nullptr || node->isTag || node->instance == nullptr)
    return DRAWRESULT_SKIP;
  auto* data = static_cast<ObjectData*>(node->instance);
  DrawView* view = DrawViewFromHandle(bd);
  Int32 count = 0;
  try {
    count = data->CallCountHandles(op);
    for (Int32 i = 0; i < count; ++i) {
      DrawRecord record;
      record.kind = DrawRecord::Kind::kHandle;
      record.node = node->serial;
      record.drawPass = drawPass;
      record.handleIndex = i;
      data->CallReadHandle(op, i, record.handle);
      if (view != nullptr) view->records.push_back(record);
    }
  } catch (...) {
    return DRAWRESULT_FAILURE;
  }
  return count > 0 ? DRAWRESULT_OK : DRAWRESULT_SKIP;
}

}  // namespace headless
