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

#include "headless/io/obj.h"
#include "host/abi/types.h"

namespace headless {

class OutputFile;

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

// Appends "x y z" to `out`, each in the shortest form that reads back to the same double, as
// written `v` and `vn` lines hold them.
void AppendObjTriple(std::string& out, const Vector3& v);

// A plain OBJ: `v` lines in the shortest form, `f` lines with 1-based indices, triangles
// (c == d) as 3 corners.
std::string PlainObjText(std::span<const Vector3> points, std::span<const CPolygon> polygons);
// Writes PlainObjText(points, polygons) to `path`.
void WriteObj(const std::string& path, std::span<const Vector3> points,
              std::span<const CPolygon> polygons);

}  // namespace headless
