// The OBJ reader. A file that reads must write back, in both forms the program writes, to text
// that reads to the same points (bit for bit) and polygons; its own vertices must be sound and
// their OBJ must read back with as many vertices and the same faces.
//
// Every eight bytes of the input, as a double, are written as std::to_chars writes them.
//
// Read in parts side by side, it must read as in one go, or fail with the same message.
//
// The quick look at frames too: looked at as a frame of a small fixed rest and, when it reads, as
// a frame of itself, the input may be found surely a frame only where the full read and the
// frame's checks accept it, and what the look keeps for writing must be what the full read reads.
#include <charconv>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <optional>
#include <stdexcept>
#include <string>

#include "fuzz/fuzz_check.h"
#include "headless/files/input_ranges.h"
#include "headless/files/shortest_number.h"
#include "headless/io/obj_file_vertices.h"
#include "headless/io/obj_frame_scan.h"
#include "headless/io/obj_read.h"
#include "headless/io/obj_write.h"

namespace {

// Bits, not values: -0 must stay -0.
bool SamePoints(const std::vector<Vector3>& a, const std::vector<Vector3>& b) {
  return a.size() == b.size() &&
         (a.empty() || std::memcmp(a.data(), b.data(), a.size() * sizeof(Vector3)) == 0);
}

bool SameMesh(const headless::Mesh& a, const headless::Mesh& b) {
  if (!SamePoints(a.points, b.points) || a.polygons.size() != b.polygons.size()) return false;
  for (std::size_t i = 0; i < a.polygons.size(); ++i) {
    const CPolygon& p = a.polygons[i];
    const CPolygon& q = b.polygons[i];
    if (p.a != q.a || p.b != q.b || p.c != q.c || p.d != q.d) return false;
  }
  return true;
}

bool SameSpans(const std::vector<headless::TextSpan>& a, const std::vector<headless::TextSpan>& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (a[i].begin != b[i].begin || a[i].end != b[i].end) return false;
  return true;
}

bool SameSpans(const headless::SpanList& a, const headless::SpanList& b) {
  if (a.size() != b.size()) return false;
  headless::SpanList::Reader x(a), y(b);
  for (std::size_t i = 0; i < a.size(); ++i) {
    const headless::TextSpan p = x.Next(), q = y.Next();
    if (p.begin != q.begin || p.end != q.end) return false;
  }
  return true;
}

// Four points, two faces, one of them with relative texture coordinates; the corpus holds frames
// of it.
const headless::ObjFile& FixedRest() {
  static const headless::ObjFile rest = headless::ParseObj(
      "v 0 0 0\nv 1 0 0\nv 1 1 0\nv 0 1 0\nvt 0 0\nvt 1 0\nvt 1 1\n"
      "f 1/1 2/2 3/3\nf -4/-3 -2/-1 -1/-1\n",
      "rest");
  return rest;
}

// The file at `path` as the full read and a frame's checks take it against `rest`, or nothing.
std::optional<headless::ObjFile> AcceptedFrame(const std::string& path,
                                               const headless::ObjFile& rest) {
  try {
    headless::ObjFile frame = headless::ReadObjFile(path);
    headless::CheckCoordinateRange(frame.mesh.points, path);
    headless::CheckSameFaces(rest, frame);
    if (frame.mesh.points.size() != rest.mesh.points.size()) return std::nullopt;
    return frame;
  } catch (const std::exception&) {
    return std::nullopt;
  }
}

void CheckQuickLook(const std::string& path, const headless::ObjFile& rest) {
  const std::size_t points = rest.mesh.points.size();
  headless::ObjFile kept;
  const bool sureKeeping = headless::SurelyFrameOf(path, rest, points, &kept);
  // Without keeping, numbers are only scanned, so the look may be less sure, never wrongly sure.
  if (!sureKeeping && !headless::SurelyFrameOf(path, rest, points)) return;
  const std::optional<headless::ObjFile> full = AcceptedFrame(path, rest);
  fuzz::Check(full.has_value(), "the quick look is sure only of frames the full read accepts");
  fuzz::Check(!sureKeeping || (SamePoints(kept.mesh.points, full->mesh.points) &&
                               SameSpans(kept.pointSpans, full->pointSpans) &&
                               SameSpans(kept.mtllibSpans, full->mtllibSpans) &&
                               kept.textBytes == full->textBytes),
              "the quick look keeps what the full read reads");
}

}  // namespace

// Read in parts side by side, the input gives what a reading in one go gives, or the same fault.
void CheckReadInParts(const std::string& text) {
  std::optional<headless::ObjFile> whole, parts;
  std::string wholeFault, partsFault;
  try {
    whole = headless::ParseObj(text, "input", {}, std::numeric_limits<size_t>::max());
  } catch (const std::runtime_error& e) {
    wholeFault = e.what();
  }
  try {
    parts = headless::ParseObj(text, "input", {}, 0);
  } catch (const std::runtime_error& e) {
    partsFault = e.what();
  }
  fuzz::Check(wholeFault == partsFault, "the same fault read in parts");
  if (!whole || !parts) return;
  fuzz::Check(SameMesh(parts->mesh, whole->mesh) && parts->faceFirst == whole->faceFirst &&
                  parts->cornerPoint == whole->cornerPoint &&
                  parts->cornerTexcoord == whole->cornerTexcoord &&
                  parts->cornerNormal == whole->cornerNormal &&
                  parts->faceLine == whole->faceLine &&
                  parts->faceMaterial == whole->faceMaterial &&
                  parts->materials == whole->materials && parts->objectName == whole->objectName &&
                  headless::ObjText(*parts, parts->mesh.points) ==
                      headless::ObjText(*whole, whole->mesh.points),
              "the same file read in parts");
}

void CheckShortest(const std::uint8_t* data, std::size_t size) {
  for (std::size_t i = 0; i + sizeof(double) <= size; i += sizeof(double)) {
    double value = 0.0;
    std::memcpy(&value, data + i, sizeof value);
    char ours[headless::kShortestBytes], library[64];
    char* const ourEnd = headless::WriteShortest(ours, value);
    char* const libraryEnd = std::to_chars(library, library + sizeof library, value).ptr;
    fuzz::Check(std::string(ours, ourEnd) == std::string(library, libraryEnd),
                "a number written as std::to_chars writes it");
  }
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string framePath = fuzz::WrittenInput(data, size, "frame.obj");
  CheckQuickLook(framePath, FixedRest());
  try {
    CheckQuickLook(framePath, headless::ReadObjFile(framePath));
  } catch (const std::runtime_error&) {
  }

  CheckReadInParts(std::string(reinterpret_cast<const char*>(data), size));
  CheckShortest(data, size);

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
