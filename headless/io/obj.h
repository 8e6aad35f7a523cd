// OBJ meshes in and out of the headless host, kept faithful to the file they came from.
//
// Reading takes what 3D applications write: `v x y z` (optionally followed by a weight, or by a
// colour of three or four numbers), `vt`, `vn`, faces `f` of any number of corners in the forms
// `v`, `v/vt`, `v//vn` and `v/vt/vn` (1-based, or negative for relative to what was read so
// far: -1 = the last one), `#` comments (also after the data of a line), and every other
// statement (`o`, `g`, `s`, `mtllib`, `usemtl`, `l`, `p`, ...), which is kept as written but not
// part of the mesh; of those, the first `o`'s name, each face's `usemtl` and where each `mtllib`
// names its libraries are noted. Lines end in LF, CRLF or CR. Faces may name points, texture
// coordinates and normals that come later in the file; indices are checked once everything is read.
// A face of 3 or 4 corners becomes one host polygon (a triangle repeats its third index, c == d); a
// larger face becomes a fan of triangles (0, k, k + 1) from its first corner, in order.
//
// Refused, each with "name:line: what" (line 0 when the fault is not tied to a line): a file
// that is not text (it holds a zero byte, or is UTF-16), a line longer than kMaxObjLineBytes, a
// malformed or non-finite number, a stray word on a `v` or `vn` line, a `vt` of no number or more
// than three, a malformed face corner,
// an index out of range, a face of fewer than 3 corners or naming one point twice, and a file
// without any `v` line (not a mesh).
//
// Writing back (ObjText) changes only the three coordinates of every `v` line and of every `vn`
// line that turned with the surface, and the file names of `mtllib` lines where the result goes
// to another folder, and copies every other byte as it was, so groups, materials, texture
// coordinates, smoothing groups, comments, line ends and the original faces (degenerate ones
// too) all survive.
#pragma once

#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "headless/geometry/file_vertices.h"
#include "headless/geometry/mesh.h"
#include "host/abi/types.h"

namespace headless {

class OutputFile;

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

// Whether the whole `word` is a number as the reader takes a coordinate (in `out`): a finite
// decimal number, an optional sign, digits with an optional point, an optional exponent;
// hexadecimal forms, "inf" and "nan" are not.
bool ParseObjNumber(std::string_view word, Float& out);
// The same number read from `p` as far as it runs before `end`, for a caller that finds the word's
// end from where the number stops: that place, or null when no such number starts at `p`.
const char* ParseObjNumberAt(const char* p, const char* end, Float& out);
// Three such numbers from `p`, one space between them and LF after the third, all before `end`:
// the place after the LF, or null when the text at `p` is not in that form.
const char* ParsePlainTriple(const char* p, const char* end, Vector3& out);
// A face corner in the plain form from `p`: a 1-based index of 1 to 9 digits (below the largest
// a corner keeps) into `out`; the place after it, or null when the text at `p` is not one.
const char* ParsePlainIndex(const char* p, const char* end, Int32& out);

// The size from which ParseObj reads a text in parts, two at a time.
inline constexpr size_t kObjPartsFrom = size_t{4} << 20;
// Parses OBJ text; `name` names it in messages. Throws std::runtime_error as above. A text of
// `partsFrom` bytes or more is read in parts side by side: the same file, and the same fault, as a
// reading in one go.
ObjFile ParseObj(std::string text, const std::string& name, const ObjSizes& expected = {},
                 size_t partsFrom = kObjPartsFrom);
// Reads and parses the file at `path` (named by its path). An unreadable file fails on line 0.
ObjFile ReadObjFile(const std::string& path, const ObjSizes& expected = {});
// ReadObjFile(path).mesh.
Mesh ReadObj(const std::string& path);

// Throws std::runtime_error naming the first face (number and line in both files) in which
// `frame`'s faces differ from `rest`'s, or the first face one of them lacks.
void CheckSameFaces(const ObjFile& rest, const ObjFile& frame);

// The direction of the surface each `vn` of `file` stands for, for the given points: the sum of
// the vector areas of the faces that name it (each face once, in face order), normalised (a zero
// sum stays zero). That is the area-weighted point normal where the file gave one normal per
// point, and the normal of a face or of a smoothing group where it gave them per corner. Empty
// for a `vn` no face names.
std::vector<std::optional<Vector3>> ObjNormals(const ObjFile& file,
                                               std::span<const Vector3> points);

// `file`'s text with its `v` coordinates replaced by `points` (one per `v` line) and each `vn`
// turned with the surface (Turned) from how it lay at the file's own points to how it lies at
// `points`: the surface's ObjNormals direction there and the edge from the first corner naming
// the `vn` to the next corner of its face. The file's points give back every `vn` as written; a
// `vn` whose faces have no area (degenerate faces), or that no face names, is left as it was. With
// `outputPath` (the file the text goes to), each relative file name of an `mtllib` line is
// rewritten to reach the same library from the output's folder (a name with blanks is taken whole
// when such a file exists beside the source, else word by word). Throws std::invalid_argument when
// the point count differs.
std::string ObjText(const ObjFile& file, std::span<const Vector3> points,
                    const std::string& outputPath = "");
// ObjText handed to `sink` in pieces, in order: runs of unchanged text as they stand in `file`,
// the rest in pieces of about a MiB, so the text is never held twice, and not at all where the
// file has let it go. Throws std::runtime_error "name: cannot read: reason" when the file read
// again cannot be read or is no longer as long as it was.
void StreamObjText(const ObjFile& file, std::span<const Vector3> points,
                   const std::string& outputPath,
                   const std::function<void(std::string_view)>& sink);

// A relative material library name of a file read from `sourcePath` as seen from the folder of
// `outputPath`, with '/' between folders; an absolute name, or any name when either path is "-"
// or both lie in one folder, stays as it is.
std::string RelocatedLibrary(const std::string& name, const std::string& sourcePath,
                             const std::string& outputPath);

// Writes ObjText(like, points, path) to `path`.
void WriteObjLike(const std::string& path, const ObjFile& like, std::span<const Vector3> points);
// Writes ObjText(like, points, out.Path()) into `out`, leaving its finishing and renaming to the
// caller.
void WriteObjLike(OutputFile& out, const ObjFile& like, std::span<const Vector3> points);

// The file's own vertices of an OBJ: one per distinct corner (point, `vt`, `vn`) in order of first
// use by the faces, with the file's texture coordinates and normals (zero for a corner that names
// none where others do), faces, materials and object name (the first `o`, else the file's stem).
// Throws std::runtime_error naming the file for a texture coordinate beyond float32.
FileVertices ObjFileVertices(const ObjFile& file);

// An OBJ of a file's own vertices at `positions` with `normals` (one each per vertex; normals
// empty when the file gave none): `o` with the object's name, `v`, `vt`, `vn` per vertex, and the
// faces, each material's run of them after its `usemtl`.
std::string FileVerticesObjText(const FileVertices& file, std::span<const Vector3> positions,
                                std::span<const Vector3> normals);

// A plain OBJ: `v` lines in the shortest form, `f` lines with 1-based indices, triangles
// (c == d) as 3 corners.
std::string PlainObjText(std::span<const Vector3> points, std::span<const CPolygon> polygons);
// Writes PlainObjText(points, polygons) to `path`.
void WriteObj(const std::string& path, std::span<const Vector3> points,
              std::span<const CPolygon> polygons);

}  // namespace headless
