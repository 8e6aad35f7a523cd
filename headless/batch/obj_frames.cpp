#include "headless/batch/obj_frames.h"

#include <stdexcept>
#include <utility>

#include "headless/batch/correction.h"
#include "headless/batch/frame_pipeline.h"
#include "headless/batch/rest_file.h"
#include "headless/files/input_ranges.h"
#include "headless/files/interruption.h"
#include "headless/io/obj_read.h"

namespace headless {

namespace {

// The frame's OBJ file, checked against the rest mesh's points and faces.
// `restPoints` is the rest's point count (its points may have gone to the correction).
ObjFile ReadFrame(const std::string& path, const ObjFile& rest, size_t restPoints) {
  ObjFile frame = ReadObjFile(
      path, {restPoints, static_cast<size_t>(rest.FaceCount()), rest.cornerPoint.size()});
  CheckCoordinateRange(frame.mesh.points, path);
  CheckPointCount(frame.mesh.points.size(), restPoints, rest.name, path);
  CheckSameFaces(rest, frame);
  // Writing back needs the faces only to turn normals; the polygons are the rest's.
  Release(frame.mesh.polygons);
  if (frame.normals.empty()) ReleaseObjFaces(frame);
  return frame;
}

// The frame's OBJ file as writing its result needs it: read by a quick look that keeps only that
// where the look is sure the file is a frame of the rest (without normals), else by ReadFrame,
// which names the fault. The look reads into the room of `points` and `spans`.
ObjFile ReadFrameToWrite(const std::string& path, const ObjFile& rest, size_t restPoints,
                         const std::optional<RestFaceText>& restFaces,
                         std::vector<Vector3> points = {}, SpanList spans = {}) {
  ObjFile frame;
  frame.mesh.points = std::move(points);
  frame.pointSpans = std::move(spans);
  if (SurelyFrameOf(path, rest, restPoints, &frame, restFaces ? &*restFaces : nullptr))
    return frame;
  return ReadFrame(path, rest, restPoints);
}

}  // namespace

ObjFrames::ObjFrames(std::vector<std::string> files, const std::vector<Int64>& numbers,
                     const ObjFile& rest)
    : files_(std::move(files)), rest_(rest), restPoints_(rest.mesh.points.size()) {
  for (const std::string& file : files_)
    if (PointCacheFormatOf(file))
      throw std::invalid_argument(
          file + ": a point cache is corrected on its own, not among other frames");
  for (Int64 n : numbers) numbers_.push_back(static_cast<Float>(n));
}

void ObjFrames::KeepFromRest() {
  if (files_.size() > 1) restFaces_ = RestFaceTextOf(rest_);
}

void ObjFrames::ReadAhead() {
  std::vector<size_t> readNow;
  for (size_t i = 0; i < files_.size(); ++i)
    if (i < early_.size() || files_[i] == "-") readNow.push_back(i);
  // Each frame kept is written by one thread only.
  RunInPairs(readNow.size(), [&](size_t k) {
    StopIfInterrupted();
    const size_t i = readNow[k];
    const platform::FileVersion version = FrameFileVersion(files_[i]);
    ObjFrame frame{i < early_.size() ? ReadFrameToWrite(files_[i], rest_, restPoints_, restFaces_)
                                     : ReadFrame(files_[i], rest_, restPoints_),
                   version};
    if (i < early_.size()) {
      frame.SetTextAside();
      early_[i] = std::move(frame);
    } else if (files_[i] == "-") {
      standardInput_ = std::move(frame);
    }
  });
}

void ObjFrames::Read(size_t i, InputFrame& into, FrameRooms& rooms) {
  if (i < early_.size()) {
    into.obj = std::move(early_[i]);
    early_[i].reset();
  } else if (files_[i] == "-") {
    into.obj = std::move(standardInput_);
    standardInput_.reset();
  } else {
    try {
      const platform::FileVersion version = FrameFileVersion(files_[i]);
      into.obj = ObjFrame{ReadFrameToWrite(files_[i], rest_, restPoints_, restFaces_,
                                           rooms.points.Take(), rooms.spans.Take()),
                          version};
    } catch (...) {
      faultyFrame_ = true;
      throw;
    }
    into.obj->SetTextAside();
  }
}

std::vector<Vector3> ObjFrames::PointsApart(size_t i) {
  if (i < early_.size() && early_[i]) return early_[i]->file.mesh.points;
  if (files_[i] == "-" && standardInput_) return standardInput_->file.mesh.points;
  return ReadFrame(files_[i], rest_, restPoints_).mesh.points;
}

}  // namespace headless
