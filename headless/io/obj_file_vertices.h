// The own vertices of an OBJ file (one per distinct corner), and an OBJ written on them.
#pragma once

#include <span>
#include <string>

#include "headless/geometry/file_vertices.h"
#include "headless/io/obj.h"
#include "host/abi/types.h"

namespace headless {

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

}  // namespace headless
