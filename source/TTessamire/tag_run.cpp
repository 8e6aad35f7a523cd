#include "source/TTessamire/tag_run.h"

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
