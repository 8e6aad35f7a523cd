// OBJ meshes in and out of the headless host.
//
// Reading keeps only `v x y z` (one point each, in file order) and `f` faces of 3 or 4 corners.
// A corner is `i`, `i/t`, `i//n` or `i/t/n`; only its first number counts: 1-based, or negative
// for relative to the points read so far (-1 = the last one). A triangle is stored with its third
// index repeated (c == d). Every other line (comments, normals, groups, materials) is ignored.
// Faces may refer to points that come later in the file; indices are checked once all points
// are read.
//
// Errors are std::runtime_error with the message "path:line: what" (line 0 when the fault is not
// tied to a line, e.g. an unreadable file).
#pragma once

#include <string>
#include <vector>

#include "headless/geometry/mesh.h"
#include "host/types.h"

namespace headless {

// The points, one per `v` line in file order, and the polygons, one per `f` line with 0-based
// indices.
Mesh ReadObj(const std::string& path);

// Writes `v` lines with every coordinate printed as %.17g (so a read gives back the same bits)
// and `f` lines with 1-based indices, triangles (c == d) as 3 corners. The text goes to a
// temporary file beside `path` that is renamed over it at the end, so a failure leaves no
// partial output. Throws std::runtime_error naming the path on failure.
void WriteObj(const std::string& path, const std::vector<Vector3>& points,
              const std::vector<CPolygon>& polygons);

}  // namespace headless
