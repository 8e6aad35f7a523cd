#include "headless/batch/rest_file.h"

#include "headless/batch/frame_memory.h"
#include "headless/files/input_ranges.h"
#include "headless/io/obj_read.h"

namespace headless {

ObjFile ReadRestFile(const std::string& path) {
  ObjFile rest = ReadObjFile(path);
  // The rest's faces stay for checking every frame's against them: without the room they grew by.
  rest.faceFirst.shrink_to_fit();
  rest.cornerPoint.shrink_to_fit();
  rest.faceLine.shrink_to_fit();
  rest.faceMaterial.shrink_to_fit();
  CheckCoordinateRange(rest.mesh.points, path);
  return rest;
}

void ReleaseObjText(ObjFile& file) {
  Release(file.text);
  Release(file.pointSpans);
}

void ReleaseObjFaces(ObjFile& file) {
  file.faceFirst = {0};
  file.faceFirst.shrink_to_fit();
  Release(file.cornerPoint);
  Release(file.cornerTexcoord);
  Release(file.cornerNormal);
  Release(file.faceLine);
  Release(file.faceMaterial);
}

}  // namespace headless
