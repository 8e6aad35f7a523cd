// Frames from OBJ files (a list, or a numbered sequence expanded by frame_sequence.h), each the
// rest's points moved with the rest's faces, read for writing its result like it.
//
// A frame is read by a quick look that keeps only what writing needs where the look is sure the
// file is a frame of the rest (without normals), else in full, which names the fault. The first
// two frames are read ahead, before the bind, two at a time, so that their reading and the bound
// plug-in's arrays are never held at once; a frame from the standard input, which can be read only
// once, is read then too. Later frames are read in their turn.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <vector>

#include "headless/batch/frame_source.h"
#include "headless/io/obj_frame_scan.h"

namespace headless {

class ObjFrames final : public FrameSource {
 public:
  // The frames in `files` (at most one of them "-", the standard input), numbered by `numbers`,
  // checked against `rest`, which must outlive the source and keep its faces as written while
  // ChecksAgainstRestFaces (its points may go). Throws std::invalid_argument naming a point cache
  // among the files: a cache is corrected on its own.
  ObjFrames(std::vector<std::string> files, const std::vector<Int64>& numbers, const ObjFile& rest);

  size_t Count() const override { return files_.size(); }
  std::string Name(size_t i) const override { return files_[i]; }
  Float Number(size_t i) const override { return numbers_[i]; }

  // Frames of a sequence compare their faces' text with the rest's, read while the rest's is held.
  void KeepFromRest() override;
  // Reads and checks the first two frames and the standard input's, two at a time.
  void ReadAhead() override;
  bool ChecksAgainstRestFaces() const override { return files_.size() > early_.size(); }

  void Read(size_t i, InputFrame& into, FrameRooms& rooms) override;
  // A frame read ahead gives a copy of its points; any other is read in full.
  std::vector<Vector3> PointsApart(size_t i) override;
  bool FoundFaultyFrame() const override { return faultyFrame_; }

 private:
  std::vector<std::string> files_;
  std::vector<Float> numbers_;
  const ObjFile& rest_;
  size_t restPoints_ = 0;
  std::optional<RestFaceText> restFaces_;
  std::array<std::optional<ObjFrame>, 2> early_;
  std::optional<ObjFrame> standardInput_;
  bool faultyFrame_ = false;
};

}  // namespace headless
