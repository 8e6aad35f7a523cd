#include "source/TTessamire/bind.h"

#include "host/parallel.h"
#include "source/TTessamire/tag_parameters.h"
#include "source/tessamireThreads/controller.h"
#include "source/tessamireThreads/frame.h"

Bool Bind(DifferenceArray& differences, BaseObject* object, BaseList2D* tag) {
  if (object->GetType() != Opolygon) return false;
  SmoothingSettings settings = ReadSmoothingSettings(tag);
  const Int32 pointCount = object->GetPointCount();
  const Vector3* points = object->GetPointR();

  BaseTag* vertexMap = LinkedVertexMap(tag, object->GetDocument());
  if (vertexMap != nullptr && vertexMap->GetDataCount() != pointCount) return false;
  if (vertexMap == nullptr) settings.useVertexMap = false;

  TessamireController controller;
  HostBuffer<Frame> frames(NewMem(Frame, pointCount));
  if (!frames) return false;
  controller.Configure(object, frames.get(), settings.iterations, settings.weighting,
                       settings.pinBorder, settings.useVertexMap, vertexMap, settings.strength);
  if (!RunController(controller)) return false;

  differences.Release();
  if (!differences.Resize(pointCount)) return false;
  Vector3* out = differences.GetData();
  const Frame* frame = frames.get();
  ParallelFor(pointCount, [&](Int64 i) { out[i] = EncodeDifference(frame[i], points[i]); });
  return true;
}
