// OBJ meshes in and out of the headless host, kept faithful to the file they came from.
//
// Reading takes what 3D applications write: `v x y z` (optionally followed by a weight, or by a
// colour of three or four numbers), `vt`, `vn`, faces `f` of any number of corners in the forms
// `v`, `v/vt`, `v//vn` and `v/vt/vn` (1-based, or negative for relative to what was read so
// far: -1 = the last one), `#` comments (also after the data of a line), and every other
// statement (`o`, `g`, `s`, `mtllib`, `usemtl`, `l`, `p`, ...), which is kept as written but not
// part of the mesh. Lines end in LF, CRLF or CR. Faces may name points, texture coordinates and
// normals that come later in the file; indices are checked once everything is read. A face of 3
// or 4 corners becomes one host polygon (a triangle repeats its third index, c == d); a larger
// face becomes a fan of triangles (0, k, k + 1) from its first corner, in order.
//
// Refused, each with "name:line: what" (line 0 when the fault is not tied to a line): a file
// that is not text (it holds a zero byte, or is UTF-16), a line longer than kMaxObjLineBytes, a
// malformed or non-finite number, a stray word on a `v` or `vn` line, a malformed face corner,
// an index out of range, a face of fewer than 3 corners or naming one point twice, and a file
// without any `v` line (not a mesh).
//
// Writing back (ObjText) changes only the three coordinates of every `v` line and of every
// referenced `vn` line and copies every other byte as it was, so groups, materials, texture
// coordinates, smoothing groups, comments, line ends and the original faces all survive.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>
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

// An OBJ file as read: its text, the mesh handed to the host, and the faces as written.
struct ObjFile {
  std::string name;  // names the file in messages
  std::string text;  // the bytes as read
  Mesh mesh;         // points in `v` order; polygons from the faces (fans for large faces)
  // Faces in file order: face f has corners faceFirst[f] .. faceFirst[f + 1] - 1.
  std::vector<Int64> faceFirst{0};
  std::vector<Int32> cornerPoint;     // 0-based point per corner
  std::vector<Int32> cornerNormal;    // 0-based `vn` per corner, -1 when the corner names none
  std::vector<Int64> faceLine;        // 1-based line of each face
  std::vector<TextSpan> pointSpans;   // the "x y z" of each `v` line
  std::vector<TextSpan> normalSpans;  // the "x y z" of each `vn` line

  Int64 FaceCount() const { return static_cast<Int64>(faceLine.size()); }
};

// Parses OBJ text; `name` names it in messages. Throws std::runtime_error as above.
ObjFile ParseObj(std::string text, const std::string& name);
// Reads and parses the file at `path` (named by its path). An unreadable file fails on line 0.
ObjFile ReadObjFile(const std::string& path);
// ReadObjFile(path).mesh.
Mesh ReadObj(const std::string& path);

// Throws std::runtime_error naming the first face (number and line in both files) in which
// `frame`'s faces differ from `rest`'s, or the first face one of them lacks.
void CheckSameFaces(const ObjFile& rest, const ObjFile& frame);

// The normal each `vn` of `file` gets for the given points: the sum of the vector areas of the
// faces that name it (each face once, in face order), normalised (a zero sum stays zero). That
// is the area-weighted point normal where the file gave one normal per point, and the normal of
// a face or of a smoothing group where it gave them per corner. Empty for a `vn` no face names.
std::vector<std::optional<Vector3>> ObjNormals(const ObjFile& file,
                                               std::span<const Vector3> points);

// `file`'s text with its `v` coordinates replaced by `points` (one per `v` line) and its `vn`
// coordinates by ObjNormals (a `vn` no face names is left as it was). Throws std::invalid_argument
// when the point count differs.
std::string ObjText(const ObjFile& file, std::span<const Vector3> points);

// A coordinate in the shortest form that reads back to the same double.
std::string ShortestNumber(Float value);

// Writes ObjText(like, points) to `path`.
void WriteObjLike(const std::string& path, const ObjFile& like, std::span<const Vector3> points);

// A plain OBJ: `v` lines in the shortest form, `f` lines with 1-based indices, triangles
// (c == d) as 3 corners.
std::string PlainObjText(std::span<const Vector3> points, std::span<const CPolygon> polygons);
// Writes PlainObjText(points, polygons) to `path`.
void WriteObj(const std::string& path, std::span<const Vector3> points,
              std::span<const CPolygon> polygons);

}  // namespace headless
