// The OBJ reader. A file that reads must write back, in both forms the program writes, to text
// that reads to the same points (bit for bit) and polygons.
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
  return 0;
}
