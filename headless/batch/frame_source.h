// Where a batch run's frames come from (OBJ files, obj_frames.h; the samples of a point cache,
// cache_frames.h), and a frame as read, which keeps its slot from its reading to its writing.
//
// A source names and numbers every frame from the start, so that results can be planned before
// anything is read. The engine (apply_frames.h) calls Read for frames 0, 1, ... in order, one at a
// time, on a thread of its own beside the correction of the frame before; Count, Name and Number
// may be called from any thread meanwhile.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "headless/batch/frame_memory.h"
#include "headless/io/obj.h"
#include "headless/io/point_cache.h"
#include "headless/platform/files.h"

namespace headless {

// An OBJ frame as read for writing its result like it. Its text is let go once the frame is
// parsed: writing the result reads it again from the file as it goes (the system's cache makes
// that cheap), so a frame's text is held only while it is parsed. The standard input cannot be
// read twice, so its frame keeps its text.
struct ObjFrame {
  ObjFile file;
  // The file as it stood before it was read (FrameFileVersion): identity, size, times.
  platform::FileVersion version;

  // Lets go of the file's text; nothing for the standard input.
  void SetTextAside();
  // Throws std::runtime_error "NAME: changed while it was being corrected; nothing of it written"
  // when the file was written to, or another file put in its place, since it was read.
  void CheckUnchanged() const;
};

// The version of a frame's file, taken before reading it so that a file replaced while it is read
// is noticed too; all zero for the standard input ("-") or a file that cannot be looked at.
platform::FileVersion FrameFileVersion(const std::string& path);

// A frame as read: an OBJ frame, or a cache's sample.
struct InputFrame {
  std::optional<ObjFrame> obj;
  std::vector<Vector3> sample;  // a cache's sample, until corrected or, looked at again, written

  const std::vector<Vector3>& Points() const { return obj ? obj->file.mesh.points : sample; }
  std::vector<Vector3>& Points() { return obj ? obj->file.mesh.points : sample; }
  // Whether writing the result needs the frame's own points too (normals turn from them).
  bool PointsNeededToWrite() const { return obj && !obj->file.normals.empty(); }
};

class FrameSource {
 public:
  virtual ~FrameSource() = default;

  virtual size_t Count() const = 0;
  // The frame in messages and progress: its file, or the cache and the sample.
  virtual std::string Name(size_t i) const = 0;
  // The frame's number: its place in a numbered sequence or a list, a sample's frame.
  virtual Float Number(size_t i) const = 0;
  // The timing of the cache the frames are samples of; null for frames of files of their own.
  virtual const PointCache* CacheTiming() const { return nullptr; }

  // Before the rest's text goes (rest_file.h): keeps what it needs of it.
  virtual void KeepFromRest() {}
  // Before the bind: reads what is best read then (apply_frames.h, ReadBeforeBind).
  virtual void ReadAhead() {}
  // Whether frames read after ReadAhead are checked against the rest's faces as written.
  virtual bool ChecksAgainstRestFaces() const { return false; }

  // Frame i into `into` (emptied by the caller), in the room of frames done with where there is
  // some. Throws naming the frame when it cannot be read or is not a frame of the rest.
  virtual void Read(size_t i, InputFrame& into, FrameRooms& rooms) = 0;
  // Frame i's points alone, after ReadAhead and before the run, in any order (tune's sample for
  // `apply --settings auto`), leaving what the run reads as it was. Throws naming the frame as
  // Read does.
  virtual std::vector<Vector3> PointsApart(size_t i) = 0;
  // Whether a Read failed on a frame at fault as input, rather than on reading a source checked
  // whole before: as though every frame had been checked first, nothing is then to be written.
  virtual bool FoundFaultyFrame() const { return false; }
};

}  // namespace headless
