#include "headless/io/obj.h"

#include "headless/io/input_file.h"
#include "headless/io/output_file.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <limits>
#include <sstream>
#include <stdexcept>
#include <string_view>

namespace headless {
namespace {

[[noreturn]] void Fail(const std::string& path, Int64 line, const std::string& what) {
  throw std::runtime_error(path + ":" + std::to_string(line) + ": " + what);
}

bool IsSpace(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\f' || c == '\v';
}

// Splits a line into whitespace-separated words.
std::vector<std::string_view> Words(std::string_view line) {
  std::vector<std::string_view> words;
  size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && IsSpace(line[i])) ++i;
    size_t start = i;
    while (i < line.size() && !IsSpace(line[i])) ++i;
    if (i > start) words.push_back(line.substr(start, i - start));
  }
  return words;
}

// strtod on a copy, so that the whole word must be a number (no trailing garbage).
bool ParseDouble(std::string_view word, Float& out) {
  std::string text(word);
  if (text.empty()) return false;
  char* end = nullptr;
  errno = 0;
  double v = std::strtod(text.c_str(), &end);
  if (end != text.c_str() + text.size()) return false;
  // "inf", "nan" and overflow are not coordinates; underflow to a denormal or zero is fine.
  if (!std::isfinite(v)) return false;
  out = v;
  return true;
}

bool ParseIndex(std::string_view word, Int64& out) {
  std::string text(word);
  if (text.empty()) return false;
  char* end = nullptr;
  errno = 0;
  long long v = std::strtoll(text.c_str(), &end, 10);
  if (end != text.c_str() + text.size() || errno == ERANGE) return false;
  out = v;
  return true;
}

struct PendingFace {
  Int64 line = 0;
  Int64 corners[4] = {0, 0, 0, 0};  // 0-based, not yet checked against the point count
  int count = 0;
};

}  // namespace

Mesh ReadObj(const std::string& path) {
  std::string text;
  try {
    text = ReadInputFile(path);
  } catch (const std::exception& e) {
    Fail(path, 0, e.what());
  }
  std::istringstream in(std::move(text));

  Mesh mesh;
  std::vector<PendingFace> faces;
  std::string line;
  Int64 lineNo = 0;
  while (std::getline(in, line)) {
    ++lineNo;
    std::vector<std::string_view> words = Words(line);
    if (words.empty()) continue;
    if (words[0] == "v") {
      if (words.size() < 4) Fail(path, lineNo, "a point needs three coordinates");
      Vector3 p;
      Float* xyz[3] = {&p.x, &p.y, &p.z};
      for (int k = 0; k < 3; ++k) {
        if (!ParseDouble(words[1 + k], *xyz[k]))
          Fail(path, lineNo, "malformed coordinate '" + std::string(words[1 + k]) + "'");
      }
      mesh.points.push_back(p);
    } else if (words[0] == "f") {
      size_t corners = words.size() - 1;
      if (corners < 3) Fail(path, lineNo, "a face needs at least 3 corners");
      if (corners > 4)
        Fail(path, lineNo,
             "a face of " + std::to_string(corners) + " corners (at most 4 are supported)");
      PendingFace face;
      face.line = lineNo;
      face.count = static_cast<int>(corners);
      for (size_t k = 0; k < corners; ++k) {
        std::string_view word = words[1 + k];
        std::string_view first = word.substr(0, word.find('/'));
        Int64 index = 0;
        if (!ParseIndex(first, index) || index == 0)
          Fail(path, lineNo, "malformed corner index '" + std::string(word) + "'");
        // Relative indices count back from the points read so far.
        Int64 absolute = index > 0 ? index - 1 : static_cast<Int64>(mesh.points.size()) + index;
        if (absolute < 0)
          Fail(path, lineNo,
               "corner index " + std::to_string(index) + " refers before the first point");
        face.corners[k] = absolute;
      }
      faces.push_back(face);
    }
  }
  if (in.bad()) Fail(path, lineNo, "read error");

  const Int64 pointCount = static_cast<Int64>(mesh.points.size());
  if (pointCount > std::numeric_limits<Int32>::max())
    Fail(path, 0, "more points than a polygon object can hold");
  mesh.polygons.reserve(faces.size());
  for (const PendingFace& face : faces) {
    for (int k = 0; k < face.count; ++k) {
      if (face.corners[k] >= pointCount)
        Fail(path, face.line,
             "corner index " + std::to_string(face.corners[k] + 1) + " is out of range (" +
                 std::to_string(pointCount) + " points)");
    }
    CPolygon poly;
    poly.a = static_cast<Int32>(face.corners[0]);
    poly.b = static_cast<Int32>(face.corners[1]);
    poly.c = static_cast<Int32>(face.corners[2]);
    poly.d = static_cast<Int32>(face.count == 4 ? face.corners[3] : face.corners[2]);
    mesh.polygons.push_back(poly);
  }
  return mesh;
}

void WriteObj(const std::string& path, const std::vector<Vector3>& points,
              const std::vector<CPolygon>& polygons) {
  OutputFile file(path);
  std::FILE* out = file.Stream();
  for (const Vector3& p : points) std::fprintf(out, "v %.17g %.17g %.17g\n", p.x, p.y, p.z);
  for (const CPolygon& f : polygons) {
    const Int64 a = Int64{f.a} + 1, b = Int64{f.b} + 1, c = Int64{f.c} + 1, d = Int64{f.d} + 1;
    if (f.c == f.d)
      std::fprintf(out, "f %lld %lld %lld\n", static_cast<long long>(a), static_cast<long long>(b),
                   static_cast<long long>(c));
    else
      std::fprintf(out, "f %lld %lld %lld %lld\n", static_cast<long long>(a),
                   static_cast<long long>(b), static_cast<long long>(c), static_cast<long long>(d));
  }
  file.Commit();  // a failed fprintf shows as the stream's error there
}

}  // namespace headless
