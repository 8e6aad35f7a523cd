// The OBJ reader. A file that reads must write back, in both forms the program writes, to text
// that reads to the same points (bit for bit) and polygons; its own vertices must be sound and
// their OBJ must read back with as many vertices and the same faces.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <string>

#include "fuzz/fuzz_check.h"
#include "headless/io/obj.h"

namespace {

bool SameMesh(const headless::Mesh& a, const headless::Mesh& b) {
  if (a.points.size() != b.points.size() || a.polygons.size() != b.polygons.size()) return false;
  // Bits, not values: -0 must stay -0.
  if (!a.points.empty() &&
      std::memcmp(a.points.data(), b.points.data(), a.points.size() * sizeof(Vector3)) != 0)
    return false;
  for (std::size_t i = 0; i < a.polygons.size(); ++i) {
    const CPolygon& p = a.polygons[i];
    const CPolygon& q = b.polygons[i];
    if (p.a != q.a || p.b != q.b || p.c != q.c || p.d != q.d) return false;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  headless::ObjFile file;
  try {
    file = headless::ParseObj(std::string(reinterpret_cast<const char*>(data), size), "input");
  } catch (const std::runtime_error&) {
    return 0;
  }
  const headless::Mesh& mesh = file.mesh;
  const headless::ObjFile plain =
      headless::ParseObj(headless::PlainObjText(mesh.points, mesh.polygons), "plain");
  fuzz::Check(SameMesh(plain.mesh, mesh), "plain OBJ write, read");
  const std::string like = headless::ObjText(file, mesh.points);
  const headless::ObjFile kept = headless::ParseObj(like, "like");
  fuzz::Check(SameMesh(kept.mesh, mesh), "OBJ written like its source, read");
  fuzz::Check(headless::ObjText(kept, mesh.points) == like, "OBJ written like its source twice");

  headless::FileVertices own;
  try {
    own = headless::ObjFileVertices(file);
  } catch (const std::runtime_error&) {
    return 0;  // texture coordinates beyond float32
  }
  try {
    headless::CheckFileVertices(own, static_cast<Int64>(mesh.points.size()));
  } catch (const std::invalid_argument&) {
    fuzz::Check(false, "an OBJ's own vertices are sound");
  }
  if (own.VertexCount() == 0) return 0;  // no face: nothing to write

  const headless::ObjFile back =
      headless::ParseObj(headless::FileVerticesObjText(
                             own, headless::FileVertexPositions(own, mesh.points), own.normals),
                         "own");
  fuzz::Check(static_cast<Int64>(back.mesh.points.size()) == own.VertexCount() &&
                  back.faceFirst == own.faceFirst && back.cornerPoint == own.cornerVertex,
              "the OBJ of an OBJ's own vertices, read");
  return 0;
}
