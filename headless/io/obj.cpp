#include "headless/io/obj.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <limits>
#include <sstream>
#include <stdexcept>
#include <unordered_map>

#include "headless/geometry/vector.h"
#include "headless/io/input_file.h"
#include "headless/io/output_file.h"
#include "headless/platform/platform.h"

namespace headless {
namespace {

[[noreturn]] void Fail(const std::string& name, Int64 line, const std::string& what) {
  throw std::runtime_error(name + ":" + std::to_string(line) + ": " + what);
}

bool IsSpace(char c) {
  return c == ' ' || c == '\t' || c == '\f' || c == '\v';
}

struct Word {
  std::string_view text;
  Int64 begin = 0;  // offset in the file
};

// The whitespace-separated words of the line at `begin`, up to a word starting with '#'.
std::vector<Word> Words(std::string_view line, Int64 begin) {
  std::vector<Word> words;
  size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && IsSpace(line[i])) ++i;
    const size_t start = i;
    while (i < line.size() && !IsSpace(line[i])) ++i;
    if (i == start) break;
    if (line[start] == '#') break;
    words.push_back({line.substr(start, i - start), begin + static_cast<Int64>(start)});
  }
  return words;
}

// The whole word must be a finite decimal number (an optional sign, digits with an optional
// point, an optional exponent); hexadecimal forms, "inf" and "nan" are not coordinates.
bool ParseNumber(std::string_view word, Float& out) {
  if (!word.empty() && word.front() == '+') {
    word.remove_prefix(1);
    if (!word.empty() && word.front() == '-') return false;
  }
  if (word.empty()) return false;
  const char* end = word.data() + word.size();
  const auto [stop, error] = std::from_chars(word.data(), end, out, std::chars_format::general);
  return error == std::errc() && stop == end && std::isfinite(out);
}

bool ParseIndex(std::string_view word, Int64& out) {
  if (word.empty()) return false;
  const char* end = word.data() + word.size();
  const auto [stop, error] = std::from_chars(word.data(), end, out);
  return error == std::errc() && stop == end && out != 0;
}

// A 1-based or relative index against `count` items read so far: 0-based, possibly still
// beyond the end (checked once the file is read), or -1 when it reaches before the first.
Int64 Resolve(Int64 index, Int64 count) {
  if (index > 0) return index - 1;
  const Int64 absolute = count + index;
  return absolute < 0 ? -1 : absolute;
}

struct Parser {
  ObjFile file;
  Int64 line = 0;
  Int32 material = -1;                  // the latest `usemtl`
  std::vector<Int64> pendingPoints;     // per corner, 0-based, unchecked against the point count
  std::vector<Int64> pendingTexcoords;  // -1 where the corner names none
  std::vector<Int64> pendingNormals;

  [[noreturn]] void Error(const std::string& what) const { Fail(file.name, line, what); }

  // Three coordinates from words[1..3]; answers their span.
  TextSpan Coordinates(const std::vector<Word>& words, Vector3& p) const {
    Float* xyz[3] = {&p.x, &p.y, &p.z};
    for (int k = 0; k < 3; ++k)
      if (!ParseNumber(words[1 + k].text, *xyz[k]))
        Error("malformed coordinate '" + std::string(words[1 + k].text) + "'");
    return {words[1].begin, words[3].begin + static_cast<Int64>(words[3].text.size())};
  }

  void Point(const std::vector<Word>& words) {
    const size_t numbers = words.size() - 1;
    if (numbers < 3) Error("a point needs three coordinates");
    if (numbers == 5 || numbers > 7)
      Error("a point line holds " + std::to_string(numbers) +
            " numbers (3 coordinates, then a weight or a colour of 3 or 4)");
    Vector3 p;
    file.pointSpans.push_back(Coordinates(words, p));
    for (size_t k = 4; k < words.size(); ++k) {
      Float extra = 0.0;
      if (!ParseNumber(words[k].text, extra))
        Error("stray word '" + std::string(words[k].text) + "' on a point line");
    }
    file.mesh.points.push_back(p);
  }

  void Normal(const std::vector<Word>& words) {
    if (words.size() != 4) Error("a normal needs exactly three numbers");
    Vector3 n;
    file.normalSpans.push_back(Coordinates(words, n));
    file.normals.push_back(n);
  }

  // u, then an optional v and w (w is not kept).
  void Texcoord(const std::vector<Word>& words) {
    if (words.size() < 2 || words.size() > 4)
      Error("a texture coordinate holds 1 to 3 numbers, not " + std::to_string(words.size() - 1));
    Float uvw[3] = {0.0, 0.0, 0.0};
    for (size_t k = 1; k < words.size(); ++k)
      if (!ParseNumber(words[k].text, uvw[k - 1]))
        Error("malformed texture coordinate '" + std::string(words[k].text) + "'");
    file.texcoords.push_back(uvw[0]);
    file.texcoords.push_back(uvw[1]);
  }

  // The words after the keyword as written, blanks between them included.
  static std::string_view Rest(std::string_view line, Int64 lineBegin,
                               const std::vector<Word>& words) {
    if (words.size() < 2) return {};
    const Word& last = words.back();
    return line.substr(static_cast<size_t>(words[1].begin - lineBegin),
                       static_cast<size_t>(last.begin - words[1].begin) + last.text.size());
  }

  void Corner(std::string_view word) {
    std::string_view parts[3];
    int count = 0;
    size_t start = 0;
    while (true) {
      const size_t slash = word.find('/', start);
      if (count == 3) Error("malformed face corner '" + std::string(word) + "'");
      parts[count++] = word.substr(start, slash == std::string_view::npos ? slash : slash - start);
      if (slash == std::string_view::npos) break;
      start = slash + 1;
    }
    // v, v/t, v//n or v/t/n.
    Int64 v = 0, t = 0, n = 0;
    const bool ok = ParseIndex(parts[0], v) &&
                    (count < 2 || (count == 3 && parts[1].empty()) || ParseIndex(parts[1], t)) &&
                    (count < 3 || ParseIndex(parts[2], n));
    if (!ok) Error("malformed face corner '" + std::string(word) + "'");
    const Int64 point = Resolve(v, static_cast<Int64>(file.mesh.points.size()));
    if (point < 0) Error("corner index " + std::to_string(v) + " refers before the first point");
    const Int64 texcoords = static_cast<Int64>(file.texcoords.size() / 2);
    const Int64 texcoord = t == 0 ? -1 : Resolve(t, texcoords);
    if (t != 0 && texcoord < 0)
      Error("texture coordinate index " + std::to_string(t) + " refers before the first one");
    const Int64 normal = n == 0 ? -1 : Resolve(n, static_cast<Int64>(file.normalSpans.size()));
    if (n != 0 && normal < 0)
      Error("normal index " + std::to_string(n) + " refers before the first one");
    pendingPoints.push_back(point);
    pendingTexcoords.push_back(texcoord);
    pendingNormals.push_back(normal);
  }

  void Face(const std::vector<Word>& words) {
    if (words.size() < 4) Error("a face needs at least 3 corners");
    for (size_t k = 1; k < words.size(); ++k) Corner(words[k].text);
    file.faceFirst.push_back(static_cast<Int64>(pendingPoints.size()));
    file.faceLine.push_back(line);
    file.faceMaterial.push_back(material);
  }

  void Statement(std::string_view text, Int64 begin) {
    const std::vector<Word> words = Words(text, begin);
    if (words.empty()) return;
    const std::string_view keyword = words[0].text;
    if (keyword == "v") {
      Point(words);
    } else if (keyword == "vn") {
      Normal(words);
    } else if (keyword == "vt") {
      Texcoord(words);
    } else if (keyword == "f") {
      Face(words);
    } else if (keyword == "usemtl") {
      const std::string name(Rest(text, begin, words));
      material = -1;
      for (size_t m = 0; m < file.materials.size() && material < 0; ++m)
        if (file.materials[m] == name) material = static_cast<Int32>(m);
      if (material < 0) {
        material = static_cast<Int32>(file.materials.size());
        file.materials.push_back(name);
      }
    } else if (keyword == "mtllib" && words.size() > 1) {
      const std::string_view rest = Rest(text, begin, words);
      file.mtllibSpans.push_back(
          {words[1].begin, words[1].begin + static_cast<Int64>(rest.size())});
    } else if (keyword == "o" && file.objectName.empty()) {
      file.objectName = std::string(Rest(text, begin, words));
    }
  }

  // Checks the faces against the point count and builds the host polygons.
  void Finish() {
    const Int64 points = static_cast<Int64>(file.mesh.points.size());
    if (points == 0) Fail(file.name, 0, "no point (`v` line): not an OBJ mesh");
    const Int64 texcoords = static_cast<Int64>(file.texcoords.size() / 2);
    if (points > std::numeric_limits<Int32>::max() ||
        static_cast<Int64>(file.normalSpans.size()) > std::numeric_limits<Int32>::max() ||
        texcoords > std::numeric_limits<Int32>::max())
      Fail(file.name, 0, "more points, normals or texture coordinates than a mesh can hold");
    file.cornerPoint.resize(pendingPoints.size());
    file.cornerTexcoord.resize(pendingTexcoords.size());
    file.cornerNormal.resize(pendingNormals.size());
    for (Int64 f = 0; f < file.FaceCount(); ++f) {
      line = file.faceLine[f];
      const Int64 first = file.faceFirst[f], end = file.faceFirst[f + 1];
      for (Int64 c = first; c < end; ++c) {
        if (pendingPoints[c] >= points)
          Error("corner index " + std::to_string(pendingPoints[c] + 1) + " is out of range (" +
                std::to_string(points) + " points)");
        for (Int64 e = first; e < c; ++e)
          if (pendingPoints[e] == pendingPoints[c])
            Error("the face names point " + std::to_string(pendingPoints[c] + 1) + " twice");
        if (pendingTexcoords[c] >= texcoords)
          Error("texture coordinate index " + std::to_string(pendingTexcoords[c] + 1) +
                " is out of range (" + std::to_string(texcoords) + " in the file)");
        if (pendingNormals[c] >= static_cast<Int64>(file.normalSpans.size()))
          Error("normal index " + std::to_string(pendingNormals[c] + 1) + " is out of range (" +
                std::to_string(file.normalSpans.size()) + " in the file)");
        file.cornerPoint[c] = static_cast<Int32>(pendingPoints[c]);
        file.cornerTexcoord[c] = static_cast<Int32>(pendingTexcoords[c]);
        file.cornerNormal[c] = static_cast<Int32>(pendingNormals[c]);
      }
      AppendFacePolygons(std::span<const Int32>(file.cornerPoint)
                             .subspan(static_cast<size_t>(first), static_cast<size_t>(end - first)),
                         file.mesh.polygons);
    }
  }
};

void CheckText(const std::string& text, const std::string& name) {
  if (text.size() >= 2 &&
      ((text[0] == '\xFE' && text[1] == '\xFF') || (text[0] == '\xFF' && text[1] == '\xFE')))
    Fail(name, 0, "UTF-16 text: save the file as UTF-8 or ASCII");
  const size_t zero = text.find('\0');
  if (zero != std::string::npos)
    Fail(name, 0, "not a text file (byte " + std::to_string(zero) + " is zero): not an OBJ mesh");
}

Vector3 FaceArea(const ObjFile& file, std::span<const Vector3> points, Int64 face) {
  const Int64 first = file.faceFirst[face], end = file.faceFirst[face + 1];
  const Vector3& origin = points[file.cornerPoint[first]];
  Vector3 sum;
  for (Int64 c = first + 1; c + 1 < end; ++c)
    sum = Add(sum, Cross(Sub(points[file.cornerPoint[c]], origin),
                         Sub(points[file.cornerPoint[c + 1]], origin)));
  return sum;
}

void AppendTriple(std::string& out, const Vector3& v) {
  out += ShortestNumber(v.x);
  out += ' ';
  out += ShortestNumber(v.y);
  out += ' ';
  out += ShortestNumber(v.z);
}

}  // namespace

ObjFile ParseObj(std::string text, const std::string& name) {
  CheckText(text, name);
  Parser parser;
  parser.file.name = name;
  parser.file.text = std::move(text);
  const std::string& t = parser.file.text;
  size_t start = t.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;  // a UTF-8 byte-order mark
  while (start < t.size()) {
    size_t stop = start;
    while (stop < t.size() && t[stop] != '\n' && t[stop] != '\r') ++stop;
    ++parser.line;
    if (static_cast<Int64>(stop - start) > kMaxObjLineBytes)
      parser.Error("the line is longer than " + std::to_string(kMaxObjLineBytes) + " bytes");
    parser.Statement(std::string_view(t).substr(start, stop - start), static_cast<Int64>(start));
    if (stop < t.size() && t[stop] == '\r' && stop + 1 < t.size() && t[stop + 1] == '\n') ++stop;
    start = stop + 1;
  }
  parser.Finish();
  return std::move(parser.file);
}

ObjFile ReadObjFile(const std::string& path) {
  std::string text;
  try {
    text = ReadTextInput(path, static_cast<std::uint64_t>(kMaxObjLineBytes));
  } catch (const std::runtime_error& e) {
    // Named like every other fault of the file: "path:0: cannot read: reason".
    std::string what = e.what();
    if (what.rfind(path + ": ", 0) == 0) what.erase(0, path.size() + 2);
    Fail(path, 0, what);
  }
  return ParseObj(std::move(text), path);
}

Mesh ReadObj(const std::string& path) {
  return ReadObjFile(path).mesh;
}

void CheckSameFaces(const ObjFile& rest, const ObjFile& frame) {
  const Int64 common = std::min(rest.FaceCount(), frame.FaceCount());
  auto describe = [](const ObjFile& file, Int64 f) {
    std::string text = "f";
    for (Int64 c = file.faceFirst[f]; c < file.faceFirst[f + 1]; ++c)
      text += " " + std::to_string(file.cornerPoint[c] + 1);
    return "'" + text + "' (line " + std::to_string(file.faceLine[f]) + ")";
  };
  for (Int64 f = 0; f < common; ++f) {
    const Int64 a = rest.faceFirst[f], b = frame.faceFirst[f];
    const Int64 n = rest.faceFirst[f + 1] - a;
    bool same = n == frame.faceFirst[f + 1] - b;
    for (Int64 c = 0; same && c < n; ++c)
      same = rest.cornerPoint[a + c] == frame.cornerPoint[b + c];
    if (!same)
      throw std::runtime_error(frame.name + ": face " + std::to_string(f + 1) + " is " +
                               describe(frame, f) + " but " + describe(rest, f) + " in the rest " +
                               rest.name);
  }
  if (rest.FaceCount() != frame.FaceCount()) {
    const bool restLonger = rest.FaceCount() > frame.FaceCount();
    const ObjFile& longer = restLonger ? rest : frame;
    throw std::runtime_error(
        frame.name + ": " + std::to_string(frame.FaceCount()) + " faces but the rest " + rest.name +
        " has " + std::to_string(rest.FaceCount()) + "; face " + std::to_string(common + 1) + " " +
        describe(longer, common) + " is only in " + longer.name);
  }
}

std::vector<std::optional<Vector3>> ObjNormals(const ObjFile& file,
                                               std::span<const Vector3> points) {
  const size_t count = file.normalSpans.size();
  std::vector<Vector3> sums(count);
  std::vector<Int64> lastFace(count, -1);
  for (Int64 f = 0; f < file.FaceCount(); ++f) {
    Vector3 area;
    bool computed = false;
    for (Int64 c = file.faceFirst[f]; c < file.faceFirst[f + 1]; ++c) {
      const Int32 n = file.cornerNormal[c];
      if (n < 0 || lastFace[n] == f) continue;
      if (!computed) area = FaceArea(file, points, f);
      computed = true;
      lastFace[n] = f;
      sums[n] = Add(sums[n], area);
    }
  }
  std::vector<std::optional<Vector3>> normals(count);
  for (size_t n = 0; n < count; ++n)
    if (lastFace[n] >= 0) normals[n] = Normalized(sums[n]);
  return normals;
}

namespace {

// How the surface each `vn` stands for lies: its ObjNormals direction, and the edge from the
// first corner that names it to the next corner of that face. Empty for a `vn` no face names.
std::vector<std::optional<SurfaceFrame>> NormalFrames(const ObjFile& file,
                                                      std::span<const Vector3> points) {
  const std::vector<std::optional<Vector3>> normals = ObjNormals(file, points);
  std::vector<std::optional<SurfaceFrame>> frames(normals.size());
  for (Int64 f = 0; f < file.FaceCount(); ++f) {
    const Int64 first = file.faceFirst[f], end = file.faceFirst[f + 1];
    for (Int64 c = first; c < end; ++c) {
      const Int32 n = file.cornerNormal[c];
      if (n < 0 || frames[n]) continue;
      const Int64 next = c + 1 < end ? c + 1 : first;
      frames[n] = SurfaceFrame{*normals[n],
                               Sub(points[file.cornerPoint[next]], points[file.cornerPoint[c]])};
    }
  }
  return frames;
}

}  // namespace

std::string ObjText(const ObjFile& file, std::span<const Vector3> points,
                    const std::string& outputPath) {
  if (points.size() != file.pointSpans.size())
    throw std::invalid_argument(file.name + ": " + std::to_string(points.size()) +
                                " points given for " + std::to_string(file.pointSpans.size()) +
                                " `v` lines");
  // What changes, in file order: every `v`, each `vn` that turned, each `mtllib` that moved.
  enum Kind { kPoint, kNormal, kLibrary };
  struct Change {
    TextSpan span;
    Kind kind;
    size_t index;
  };
  std::vector<Change> changes;
  changes.reserve(points.size());
  for (size_t p = 0; p < points.size(); ++p) changes.push_back({file.pointSpans[p], kPoint, p});
  std::vector<Change> more;
  std::vector<Vector3> turned(file.normals.size());
  if (!file.normals.empty()) {
    const std::vector<std::optional<SurfaceFrame>> rest = NormalFrames(file, file.mesh.points);
    const std::vector<std::optional<SurfaceFrame>> now = NormalFrames(file, points);
    for (size_t n = 0; n < turned.size(); ++n) {
      if (!rest[n]) continue;
      turned[n] = Turned(file.normals[n], *rest[n], *now[n]);
      const Vector3& was = file.normals[n];
      if (turned[n].x != was.x || turned[n].y != was.y || turned[n].z != was.z)
        more.push_back({file.normalSpans[n], kNormal, n});
    }
  }
  std::vector<std::string> libraries;
  for (const TextSpan& span : file.mtllibSpans) {
    const std::string name = file.text.substr(static_cast<size_t>(span.begin),
                                              static_cast<size_t>(span.end - span.begin));
    std::string moved = RelocatedLibrary(name, file.name, outputPath);
    if (moved == name) continue;
    more.push_back({span, kLibrary, libraries.size()});
    libraries.push_back(std::move(moved));
  }
  const auto before = [](const Change& a, const Change& b) { return a.span.begin < b.span.begin; };
  std::sort(more.begin(), more.end(), before);
  const size_t middle = changes.size();
  changes.insert(changes.end(), more.begin(), more.end());
  std::inplace_merge(changes.begin(), changes.begin() + static_cast<std::ptrdiff_t>(middle),
                     changes.end(), before);

  std::string out;
  out.reserve(file.text.size() + file.text.size() / 4);
  Int64 copied = 0;
  for (const Change& change : changes) {
    out.append(file.text, static_cast<size_t>(copied),
               static_cast<size_t>(change.span.begin - copied));
    if (change.kind == kLibrary) {
      out += libraries[change.index];
    } else {
      AppendTriple(out, change.kind == kPoint ? points[change.index] : turned[change.index]);
    }
    copied = change.span.end;
  }
  out.append(file.text, static_cast<size_t>(copied), std::string::npos);
  return out;
}

std::string RelocatedLibrary(const std::string& name, const std::string& sourcePath,
                             const std::string& outputPath) {
  namespace fs = std::filesystem;
  if (sourcePath.empty() || outputPath.empty() || sourcePath == "-" || outputPath == "-")
    return name;
  std::error_code ec;
  const fs::path source = fs::absolute(platform::PathFromUtf8(sourcePath), ec);
  const fs::path output = fs::absolute(platform::PathFromUtf8(outputPath), ec);
  if (ec) return name;
  const fs::path from = source.parent_path().lexically_normal();
  const fs::path to = output.parent_path().lexically_normal();
  if (from == to) return name;
  const auto relocate = [&](const std::string& one) {
    const fs::path library = platform::PathFromUtf8(one);
    // A rooted name ("/lib/a.mtl" is rooted but not absolute on Windows) names the same place
    // from any folder.
    if (library.has_root_directory() || library.has_root_name()) return one;
    const fs::path target = (from / library).lexically_normal();
    fs::path relative = target.lexically_relative(to);
    std::string text = platform::Utf8FromPath(relative.empty() ? target : relative);
    if (fs::path::preferred_separator != '/') std::replace(text.begin(), text.end(), '\\', '/');
    return text;
  };
  const bool blanks = name.find_first_of(" \t") != std::string::npos;
  if (!blanks || fs::is_regular_file(from / platform::PathFromUtf8(name), ec))
    return relocate(name);
  std::string out, word;
  for (size_t i = 0; i <= name.size(); ++i) {
    if (i < name.size() && !IsSpace(name[i])) {
      word += name[i];
      continue;
    }
    if (!word.empty()) out += relocate(word);
    word.clear();
    if (i < name.size()) out += name[i];
  }
  return out;
}

std::string ShortestNumber(Float value) {
  char buffer[32];
  const auto [end, error] = std::to_chars(buffer, buffer + sizeof buffer, value);
  return error == std::errc() ? std::string(buffer, end) : std::string("nan");
}

void WriteObjLike(const std::string& path, const ObjFile& like, std::span<const Vector3> points) {
  WriteFileAtomically(path, ObjText(like, points, path));
}

FileVertices ObjFileVertices(const ObjFile& file) {
  struct Corner {
    Int32 point, texcoord, normal;
    bool operator==(const Corner&) const = default;
  };
  struct CornerHash {
    size_t operator()(const Corner& c) const {
      return (size_t(UInt32(c.point)) * 73856093u) ^ (size_t(UInt32(c.texcoord)) * 19349663u) ^
             (size_t(UInt32(c.normal)) * 83492791u);
    }
  };
  FileVertices out;
  out.object = file.objectName;
  if (out.object.empty())
    out.object = platform::Utf8FromPath(platform::PathFromUtf8(file.name).stem());
  out.mesh = out.object;
  out.materials = file.materials;
  out.faceMaterial = file.faceMaterial;
  const bool texcoords = std::any_of(file.cornerTexcoord.begin(), file.cornerTexcoord.end(),
                                     [](Int32 t) { return t >= 0; });
  const bool normals = std::any_of(file.cornerNormal.begin(), file.cornerNormal.end(),
                                   [](Int32 n) { return n >= 0; });
  std::unordered_map<Corner, Int32, CornerHash> vertexOf;
  out.cornerVertex.reserve(file.cornerPoint.size());
  for (size_t c = 0; c < file.cornerPoint.size(); ++c) {
    const Corner corner{file.cornerPoint[c], file.cornerTexcoord[c], file.cornerNormal[c]};
    const auto [it, added] = vertexOf.emplace(corner, static_cast<Int32>(out.vertexPoint.size()));
    if (added) {
      out.vertexPoint.push_back(corner.point);
      for (int k = 0; texcoords && k < 2; ++k) {
        const Float32 uv = corner.texcoord < 0
                               ? 0.0f
                               : static_cast<Float32>(file.texcoords[2 * corner.texcoord + k]);
        if (!std::isfinite(uv))
          throw std::runtime_error(file.name + ": texture coordinate " +
                                   std::to_string(corner.texcoord + 1) +
                                   " does not fit in float32");
        out.uvs.push_back(uv);
      }
      if (normals)
        out.normals.push_back(corner.normal < 0 ? Vector3{} : file.normals[corner.normal]);
    }
    out.cornerVertex.push_back(it->second);
  }
  out.faceFirst = file.faceFirst;
  return out;
}

namespace {

// A name on one line of its own: line ends become blanks.
std::string OneLine(std::string name) {
  for (char& c : name)
    if (c == '\n' || c == '\r') c = ' ';
  return name;
}

void AppendShortest(std::string& out, Float32 value) {
  char buffer[32];
  const auto [end, error] = std::to_chars(buffer, buffer + sizeof buffer, value);
  out.append(buffer, error == std::errc() ? end : buffer);
}

}  // namespace

std::string FileVerticesObjText(const FileVertices& file, std::span<const Vector3> positions,
                                std::span<const Vector3> normals) {
  std::string out;
  out.reserve(positions.size() * 100 + file.cornerVertex.size() * 24);
  const std::string name = file.object.empty() ? file.mesh : file.object;
  if (!name.empty()) out += "o " + OneLine(name) + "\n";
  for (const Vector3& p : positions) {
    out += "v ";
    AppendTriple(out, p);
    out += '\n';
  }
  for (size_t k = 0; k + 1 < file.uvs.size(); k += 2) {
    out += "vt ";
    AppendShortest(out, file.uvs[k]);
    out += ' ';
    AppendShortest(out, file.uvs[k + 1]);
    out += '\n';
  }
  for (const Vector3& n : normals) {
    out += "vn ";
    AppendTriple(out, n);
    out += '\n';
  }
  const bool texcoords = !file.uvs.empty();
  const bool withNormals = !normals.empty();
  Int32 material = -1;
  for (Int64 f = 0; f < file.FaceCount(); ++f) {
    if (file.faceMaterial[f] != material && file.faceMaterial[f] >= 0)
      out += "usemtl " + OneLine(file.materials[file.faceMaterial[f]]) + "\n";
    material = file.faceMaterial[f];
    out += 'f';
    for (Int64 c = file.faceFirst[f]; c < file.faceFirst[f + 1]; ++c) {
      const std::string index = std::to_string(Int64{file.cornerVertex[c]} + 1);
      out += ' ';
      out += index;
      if (texcoords || withNormals) out += '/';
      if (texcoords) out += index;
      if (withNormals) out += '/' + index;
    }
    out += '\n';
  }
  return out;
}

std::string PlainObjText(std::span<const Vector3> points, std::span<const CPolygon> polygons) {
  std::string out;
  out.reserve(points.size() * 40 + polygons.size() * 24);
  for (const Vector3& p : points) {
    out += "v ";
    AppendTriple(out, p);
    out += '\n';
  }
  for (const CPolygon& f : polygons) {
    const Int64 corners[4] = {Int64{f.a} + 1, Int64{f.b} + 1, Int64{f.c} + 1, Int64{f.d} + 1};
    out += 'f';
    for (int k = 0; k < (f.c == f.d ? 3 : 4); ++k) out += " " + std::to_string(corners[k]);
    out += '\n';
  }
  return out;
}

void WriteObj(const std::string& path, std::span<const Vector3> points,
              std::span<const CPolygon> polygons) {
  WriteFileAtomically(path, PlainObjText(points, polygons));
}

}  // namespace headless
