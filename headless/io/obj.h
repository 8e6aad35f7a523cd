// An OBJ file as read: its text, the mesh handed to the host and the faces as written, with
// where each `v` line's numbers stand, so that a result can be written back line for line
// (obj_read.h reads one, obj_write.h writes one back, obj_file_vertices.h maps its own vertices).
#pragma once

#include <string>
#include <vector>

#include "headless/geometry/mesh.h"
#include "host/abi/types.h"

namespace headless {

// Long enough for a face of tens of thousands of corners; a longer line is a damaged file.
inline constexpr Int64 kMaxObjLineBytes = Int64{1} << 20;

// [begin, end) in the file's text.
struct TextSpan {
  Int64 begin = 0;
  Int64 end = 0;
};

// Spans of a text in order, each at or after the end of the one before, held in 8 bytes each
// rather than 16: the distance from that end and the length, in 32 bits each (a span beyond
// either is held whole, aside). Read back in order, by a Reader.
class SpanList {
 public:
  void push_back(const TextSpan& span);
  void reserve(size_t count) { steps_.reserve(count); }
  void clear();  // keeps the room
  size_t size() const { return steps_.size(); }
  bool empty() const { return steps_.empty(); }
  void swap(SpanList& other) noexcept;

  class Reader {
   public:
    explicit Reader(const SpanList& list) : list_(list) {}
    // The next span; call it size() times at most.
    TextSpan Next();

   private:
    const SpanList& list_;
    size_t step_ = 0, whole_ = 0;
    Int64 lastEnd_ = 0;
  };

 private:
  struct Step {
    UInt32 gap = 0;  // kWhole: the span is the next of `whole_`
    UInt32 length = 0;
  };
  static constexpr UInt32 kWhole = ~UInt32{0};

  std::vector<Step> steps_;
  std::vector<TextSpan> whole_;
  Int64 lastEnd_ = 0;
};

// An OBJ file as read: its text, the mesh handed to the host, and the faces as written.
struct ObjFile {
  std::string name;  // names the file in messages
  std::string text;  // the bytes as read; may be let go (below)
  // The text's length. Where `text` has been let go (it is shorter), writing back reads the text
  // again from the file `name` as it goes, and refuses a file that is no longer that long.
  Int64 textBytes = 0;
  Mesh mesh;  // points in `v` order; polygons from the faces (fans for large faces)
  // Faces in file order: face f has corners faceFirst[f] .. faceFirst[f + 1] - 1.
  std::vector<Int64> faceFirst{0};
  std::vector<Int32> cornerPoint;  // 0-based point per corner
  // 0-based `vt` and `vn` per corner, -1 when the corner names none; empty when no corner names
  // one (CornerTexcoord and CornerNormal answer -1 then).
  std::vector<Int32> cornerTexcoord;
  std::vector<Int32> cornerNormal;
  std::vector<Int64> faceLine;         // 1-based line of each face
  Int64 firstFaceAt = -1;              // where in the text the first face's line begins
  std::vector<Int32> faceMaterial;     // per face: its `usemtl` in `materials`, -1 before any
  SpanList pointSpans;                 // the "x y z" of each `v` line
  std::vector<TextSpan> normalSpans;   // the "x y z" of each `vn` line
  std::vector<Vector3> normals;        // each `vn` as written
  std::vector<Float> texcoords;        // u, v of each `vt` (v is 0 where the line has none)
  std::vector<std::string> materials;  // the names `usemtl` lines give, in order of first use
  std::vector<TextSpan> mtllibSpans;   // the file names of each `mtllib` line, as written
  std::string objectName;              // the first `o` line's name

  Int64 FaceCount() const { return static_cast<Int64>(faceLine.size()); }
  Int32 CornerTexcoord(Int64 c) const {
    return cornerTexcoord.empty() ? -1 : cornerTexcoord[static_cast<size_t>(c)];
  }
  Int32 CornerNormal(Int64 c) const {
    return cornerNormal.empty() ? -1 : cornerNormal[static_cast<size_t>(c)];
  }
};

// How many points, faces and corners a file is expected to hold (e.g. the rest of a sequence's
// frames): its arrays start with room for them. The result is the same whatever the text holds.
struct ObjSizes {
  size_t points = 0;
  size_t faces = 0;
  size_t corners = 0;
};

}  // namespace headless
