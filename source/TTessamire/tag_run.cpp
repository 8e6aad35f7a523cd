#include "source/TTessamire/tag_run.h"

#include <utility>

#include "source/TTessamire/tag_parameters.h"
#include "source/tessamireThreads/controller.h"

Bool RunCoreForTag(BaseObject* object, Int32 pointCount, const BaseList2D* tag,
                   const BaseDocument* doc, SmoothingSettings settings, HostBuffer<Frame>& frames) {
  frames = HostBuffer<Frame>();
  settings.vertexMap = LinkedVertexMap(tag, doc);
  if (settings.vertexMap == nullptr) settings.useVertexMap = false;
  if (settings.vertexMap != nullptr && settings.vertexMap->GetDataCount() != pointCount)
    return false;

  TessamireController controller;
  HostBuffer<Frame> buffer(NewMem(Frame, pointCount));
  if (!buffer) return false;
  // The buffer holds pointCount frames: the controller must have read the same count.
  if (!controller.Configure(object, buffer.get(), settings) ||
      controller.GetPointCount() != pointCount)
    return false;
  // A run that ended early left the buffer unfilled: hand over nothing.
  if (!RunController(controller)) return false;
  frames = std::move(buffer);
  return true;
}
