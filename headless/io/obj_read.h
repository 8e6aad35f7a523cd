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
#pragma once

#include <string>
#include <string_view>

#include "headless/geometry/mesh.h"
#include "headless/io/obj.h"
#include "host/abi/types.h"

namespace headless {

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

}  // namespace headless
