#include "source/TTessamire/tag_run.h"

#include <utility>

#include "source/TTessamire/tag_parameters.h"
#include "source/tessamireThreads/controller.h"

Bool RunCoreForTag(BaseObject* object, Int32 pointCount, const BaseList2D* tag,
                   const BaseDocument* doc, SmoothingSettings settings, FrameSink sink,
                   KeptTopology* kept) {
  settings.vertexMap = LinkedVertexMap(tag, doc);
  if (settings.vertexMap == nullptr) settings.useVertexMap = false;
  if (settings.vertexMap != nullptr && settings.vertexMap->GetDataCount() != pointCount)
    return false;

  TessamireController controller;
  // The sink takes pointCount frames: the controller must have read the same count.
  if (!controller.Configure(object, sink, settings, kept) ||
      controller.GetPointCount() != pointCount)
    return false;
  return RunController(controller);
}

Bool RunCoreForTag(BaseObject* object, Int32 pointCount, const BaseList2D* tag,
                   const BaseDocument* doc, SmoothingSettings settings, HostArray<Frame>& frames,
                   KeptTopology* kept) {
  frames.Release();
  HostArray<Frame> buffer;
  if (!buffer.Allocate(pointCount)) return false;
  // A run that ended early never called the sink: hand over nothing.
  if (!RunCoreForTag(object, pointCount, tag, doc, settings, FrameBufferSink(buffer.Span()), kept))
    return false;
  frames = std::move(buffer);
  return true;
}
