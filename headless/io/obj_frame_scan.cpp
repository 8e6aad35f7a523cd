#include "headless/io/obj_frame_scan.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <stdexcept>

#include "headless/files/input_file.h"
#include "headless/files/input_ranges.h"
#include "headless/io/obj_read.h"
#include "headless/platform/files.h"
#include "headless/platform/paths.h"

namespace headless {
namespace {

bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\f' || c == '\v';
}

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

// The words of one line [p, end), split as the OBJ reader splits them: blanks between words, and a
// word starting with '#' ends the line.
struct Line {
  const char* p;
  const char* end;

  // Moves to the next word's start; false at the line's end or a comment.
  bool NextWord() {
    while (p < end && IsBlank(*p)) ++p;
    return p < end && *p != '#';
  }
  bool AtWordEnd() const { return p == end || IsBlank(*p); }
};

// A whole word that is a plain decimal number (the header's): its size is 0 or between 1e-139
// and 1e139, and the reader takes it. Moves past it.
bool PlainNumber(Line& line) {
  const char*& p = line.p;
  if (p < line.end && (*p == '+' || *p == '-')) ++p;
  const char* const first = p;
  while (p < line.end && IsDigit(*p)) ++p;
  if (p == first) return false;
  Int64 digits = p - first;
  if (p < line.end && *p == '.') {
    const char* const fraction = ++p;
    while (p < line.end && IsDigit(*p)) ++p;
    if (p == fraction) return false;
    digits += p - fraction;
  }
  if (digits > 40) return false;
  if (p < line.end && (*p == 'e' || *p == 'E')) {
    ++p;
    if (p < line.end && (*p == '+' || *p == '-')) ++p;
    const char* const exponent = p;
    while (p < line.end && IsDigit(*p)) ++p;
    if (p == exponent || p - exponent > 2) return false;
  }
  return line.AtWordEnd();
}

// A whole word that is a coordinate as the reader reads it and that lies in the range the plug-in
// takes. Moves past it. (A number never runs over a blank, so it is the whole word exactly when it
// stops at the word's end.)
bool Coordinate(Line& line, Float& out) {
  const char* const stop = ParseObjNumberAt(line.p, line.end, out);
  if (stop == nullptr) return false;
  line.p = stop;
  return line.AtWordEnd() && CoordinateInRange(out);
}

// A face corner's index as the reader takes it (a nonzero whole number; a negative one counts
// back from the `count` items read so far), 0-based into `out`; false when it is not one or
// reaches before the first item. Moves past it.
bool Index(const char*& p, const char* end, Int64 count, Int64& out) {
  const bool negative = p < end && *p == '-';
  if (negative) ++p;
  const char* const first = p;
  Int64 value = 0;
  while (p < end && IsDigit(*p)) {
    if (p - first == 10) return false;  // beyond any index a mesh holds
    value = value * 10 + (*p++ - '0');
  }
  if (p == first || value == 0) return false;
  out = negative ? count - value : value - 1;
  return out >= 0;
}

// The keyword of the line [p, end) names a point, texture coordinates or a normal.
bool VertexLine(const char* p, const char* end) {
  while (p < end && IsBlank(*p)) ++p;
  if (p == end || *p != 'v') return false;
  ++p;
  if (p < end && (*p == 't' || *p == 'n')) ++p;
  return p == end || IsBlank(*p) || *p == '#';
}

// The line [p, end) is a face whose keyword starts it.
bool PlainFaceLine(const char* p, const char* end) {
  return end - p >= 2 && p[0] == 'f' && IsBlank(p[1]);
}

// Reads `count` bytes of `in` a piece at a time, handing each to `same`: false as soon as the input
// ends early or `same` finds a piece other than it should be.
template <typename Same>
bool ReadsAlike(InputFile& in, std::uint64_t count, Same same) {
  constexpr std::uint64_t kPiece = std::uint64_t{1} << 16;
  std::string piece;
  piece.reserve(static_cast<size_t>(std::min(kPiece, count)));
  for (std::uint64_t left = count; left > 0;) {
    const std::uint64_t want = std::min(kPiece, left);
    piece.clear();
    if (in.Read(want, piece) != want || !same(std::string_view(piece))) return false;
    left -= want;
  }
  return true;
}

// Opens `path` into `in`, moved on to `from`; false unless it is a regular file of `size` bytes.
bool OpenAt(std::optional<InputFile>& in, const std::string& path, std::uint64_t size,
            std::uint64_t from) {
  in.emplace(path);
  return in->Size() && *in->Size() == size && in->Seek(from);
}

// The rest's file as it was when its face text was taken.
bool Unchanged(const RestFaceText& faces) {
  platform::FileVersion now;
  return platform::VersionOfFile(faces.path, now) && now == faces.version &&
         now.bytes == static_cast<std::uint64_t>(faces.fileBytes);
}

struct Scan {
  const ObjFile& rest;
  ObjFile* keep = nullptr;              // what writing a result needs, or nothing
  const RestFaceText* faces = nullptr;  // the rest's face text, until compared
  const char* buffer = nullptr;         // the text held now
  Int64 bufferOffset = 0;               // where in the file `buffer` starts
  Int64 points = 0, texcoords = 0, normals = 0;
  Int64 face = 0, corner = 0;
  Int64 lastTexcoord = -1, lastNormal = -1;  // the largest index a corner names

  // Numbers of a `v`, `vn` or `vt` line: how many, or -1 when one is not plain.
  static Int64 Numbers(Line& line) {
    Int64 count = 0;
    while (line.NextWord()) {
      if (!PlainNumber(line)) return -1;
      ++count;
    }
    return count;
  }

  TextSpan Span(const char* begin, const char* end) const {
    return {bufferOffset + (begin - buffer), bufferOffset + (end - buffer)};
  }

  // Three coordinates, then nothing, a weight or a colour of 3 or 4 numbers. Kept coordinates
  // are read as the reader reads them; others need only be plain.
  bool Point(Line& line) {
    Vector3 p;
    Float* xyz[3] = {&p.x, &p.y, &p.z};
    const char* first = nullptr;
    const char* third = nullptr;  // the third coordinate's end
    Int64 count = 0;
    while (line.NextWord()) {
      if (count == 0) first = line.p;
      if (!(keep != nullptr && count < 3 ? Coordinate(line, *xyz[count]) : PlainNumber(line)))
        return false;
      if (++count == 3) third = line.p;
    }
    ++points;
    if (count != 3 && count != 4 && count != 6 && count != 7) return false;
    if (keep != nullptr) {
      keep->mesh.points.push_back(p);
      keep->pointSpans.push_back(Span(first, third));
    }
    return true;
  }

  // The file names of a `mtllib` line, as written.
  void Libraries(Line& line) {
    if (keep == nullptr || !line.NextWord()) return;
    const char* const first = line.p;
    const char* last = line.p;
    do {
      while (!line.AtWordEnd()) ++line.p;
      last = line.p;
    } while (line.NextWord());
    keep->mtllibSpans.push_back(Span(first, last));
  }

  // v, v/t, v//n or v/t/n, naming the rest's point of this corner.
  bool Corner(Line& line) {
    Int64 point = 0, texcoord = -1, normal = -1;
    if (!Index(line.p, line.end, points, point) || point != rest.cornerPoint[corner]) return false;
    if (line.p < line.end && *line.p == '/') {
      ++line.p;
      if (line.p < line.end && *line.p == '/') {
        ++line.p;
        if (!Index(line.p, line.end, normals, normal)) return false;
      } else {
        if (!Index(line.p, line.end, texcoords, texcoord)) return false;
        if (line.p < line.end && *line.p == '/') {
          ++line.p;
          if (!Index(line.p, line.end, normals, normal)) return false;
        }
      }
    }
    lastTexcoord = std::max(lastTexcoord, texcoord);
    lastNormal = std::max(lastNormal, normal);
    ++corner;
    return line.AtWordEnd();
  }

  bool Face(Line& line) {
    if (face >= rest.FaceCount()) return false;
    const Int64 end = rest.faceFirst[face + 1];
    while (line.NextWord())
      if (corner == end || !Corner(line)) return false;
    ++face;
    return corner == end;
  }

  // A line in the form nearly every frame's lines take, "v x y z" (kept coordinates) or
  // "f a b c ..." (positive indices), one space between words and LF at the end, read without
  // looking for its end first. Returns the place after it; null, having changed nothing, when the
  // line is in any other form or is cut by `end`: the general way then decides it.
  const char* PlainLine(const char* p, const char* end) {
    if (end - p < 3 || p[1] != ' ') return nullptr;
    if (p[0] == 'v' && keep != nullptr) return PlainPoint(p, end);
    if (p[0] == 'f') return PlainFace(p, end);
    return nullptr;
  }

  const char* PlainPoint(const char* line, const char* end) {
    const char* const first = line + 2;
    Vector3 v;
    const char* const p = ParsePlainTriple(first, end, v);
    if (p == nullptr || p - line > kMaxObjLineBytes || !CoordinateInRange(v.x) ||
        !CoordinateInRange(v.y) || !CoordinateInRange(v.z))
      return nullptr;
    ++points;
    keep->mesh.points.push_back(v);
    keep->pointSpans.push_back(Span(first, p - 1));
    return p;
  }

  const char* PlainFace(const char* line, const char* end) {
    if (face >= rest.FaceCount()) return nullptr;
    const Int64 last = rest.faceFirst[face + 1];
    Int64 c = corner;
    for (const char* p = line + 2;; ++p) {
      Int32 index = 0;
      p = ParsePlainIndex(p, end, index);
      if (p == nullptr || p == end || c == last || index - 1 != rest.cornerPoint[c]) return nullptr;
      ++c;
      if (*p == '\n') {
        if (c != last || p - line > kMaxObjLineBytes) return nullptr;
        corner = c;
        ++face;
        return p + 1;
      }
      if (*p != ' ') return nullptr;
    }
  }

  bool Statement(const char* begin, const char* end) {
    Line line{begin, end};
    if (!line.NextWord()) return true;
    const char* const keyword = line.p;
    while (!line.AtWordEnd()) ++line.p;
    const std::string_view word(keyword, static_cast<size_t>(line.p - keyword));
    if (word == "v") return Point(line);
    if (word == "f") return Face(line);
    if (word == "vn") {
      ++normals;
      // Normals turn with the faces that name them: a frame kept for writing keeps its faces.
      return keep == nullptr && Numbers(line) == 3;
    }
    if (word == "vt") {
      ++texcoords;
      const Int64 n = Numbers(line);
      return n >= 1 && n <= 3;
    }
    if (word == "mtllib") Libraries(line);
    return true;  // kept as written, whatever it says
  }

  // At the frame's first face, at `at` in the file: true when from here on the frame is the rest's
  // face text, read before it as many points and texture coordinates as the rest, and so has the
  // rest's faces; false, having changed nothing, when it is not, or not sure.
  bool RestFaces(const std::string& path, Int64 at, size_t expectedPoints) {
    const RestFaceText& text = *faces;
    faces = nullptr;  // compared once
    if (points != static_cast<Int64>(expectedPoints) || texcoords != text.texcoords ||
        normals != 0 || !EndsInRestFaces(path, at, text))
      return false;
    face = rest.FaceCount();
    corner = static_cast<Int64>(rest.cornerPoint.size());
    if (keep != nullptr)
      for (const TextSpan& span : text.mtllibSpans)
        keep->mtllibSpans.push_back({span.begin + at, span.end + at});
    return true;
  }

  bool Finished(size_t expectedPoints) const {
    const Int64 most = std::numeric_limits<Int32>::max();
    return points == static_cast<Int64>(expectedPoints) && face == rest.FaceCount() &&
           lastTexcoord < texcoords && lastNormal < normals && texcoords <= most && normals <= most;
  }
};

bool Scanned(const std::string& path, const ObjFile& rest, size_t points, ObjFile* keep,
             const RestFaceText* faces) {
  if (path == "-") return false;
  InputFile in(path);
  if (!in.Size()) return false;
  if (keep != nullptr) {
    // Whatever `keep` held goes but the room of its points and their places.
    ObjFile fresh;
    fresh.mesh.points = std::move(keep->mesh.points);
    fresh.pointSpans = std::move(keep->pointSpans);
    fresh.mesh.points.clear();
    fresh.pointSpans.clear();
    *keep = std::move(fresh);
    keep->name = path;
    keep->textBytes = static_cast<Int64>(*in.Size());
    keep->mesh.points.reserve(points);
    keep->pointSpans.reserve(points);
  }
  // Pieces of 256 KiB, and what is left of a line cut by a piece's end (the text grows for a line
  // longer than a piece): small enough that the memory of one look is reused by the next.
  constexpr std::uint64_t kPiece = std::uint64_t{1} << 18;
  std::string text;
  text.reserve(static_cast<size_t>(2 * kPiece));
  Scan scan{rest, keep, faces};
  bool first = true;
  for (bool atEnd = false; !atEnd;) {
    const size_t kept = text.size();
    atEnd = in.Read(kPiece, text) < kPiece;
    if (std::memchr(text.data() + kept, 0, text.size() - kept) != nullptr) return false;
    const char* p = text.data();
    const char* const end = p + text.size();
    scan.buffer = p;
    if (first) {
      first = false;
      if (text.compare(0, 2, "\xFE\xFF") == 0 || text.compare(0, 2, "\xFF\xFE") == 0)
        return false;  // UTF-16, which the reader refuses
      if (text.compare(0, 3, "\xEF\xBB\xBF") == 0) p += 3;
    }
    while (true) {
      if (scan.faces != nullptr && scan.face == 0 && PlainFaceLine(p, end) &&
          scan.RestFaces(path, scan.bufferOffset + (p - text.data()), points))
        return scan.Finished(points);
      if (const char* const next = scan.PlainLine(p, end)) {
        p = next;
        continue;
      }
      const char* const stop = FindLineEnd(p, end);
      if (stop == end && !atEnd) break;
      if (stop - p > kMaxObjLineBytes || !scan.Statement(p, stop)) return false;
      if (stop == end) break;
      p = stop + 1;
    }
    if (end - p > kMaxObjLineBytes) return false;
    scan.bufferOffset += p - text.data();
    text.erase(0, static_cast<size_t>(p - text.data()));
  }
  return scan.Finished(points);
}

}  // namespace

std::optional<RestFaceText> RestFaceTextOf(const ObjFile& rest) {
  if (rest.name == "-" || static_cast<Int64>(rest.text.size()) != rest.textBytes ||
      rest.FaceCount() == 0 || !rest.normals.empty())
    return std::nullopt;
  const std::string_view all = rest.text;
  const size_t begin = static_cast<size_t>(rest.firstFaceAt);
  if (!PlainFaceLine(all.data() + begin, all.data() + all.size())) return std::nullopt;
  // After it, no line adds a point, texture coordinates or a normal: a `v` starts no statement.
  const std::string_view tail = all.substr(begin);
  for (size_t at = tail.find('v'); at != std::string_view::npos; at = tail.find('v', at + 1)) {
    size_t start = at;
    while (start > 0 && IsBlank(tail[start - 1])) --start;
    if ((start == 0 || tail[start - 1] == '\n' || tail[start - 1] == '\r') &&
        VertexLine(tail.data() + at, FindLineEnd(tail.data() + at, tail.data() + tail.size())))
      return std::nullopt;
  }
  RestFaceText faces;
  faces.path = rest.name;
  faces.begin = static_cast<Int64>(begin);
  faces.texcoords = static_cast<Int64>(rest.texcoords.size() / 2);
  for (const TextSpan& span : rest.mtllibSpans)
    if (span.begin >= faces.begin)
      faces.mtllibSpans.push_back({span.begin - faces.begin, span.end - faces.begin});
  faces.fileBytes = rest.textBytes;
  const bool known = platform::VersionOfFile(rest.name, faces.version);
  try {
    // The file still ends in the text that was read.
    std::string_view expected = tail;
    std::optional<InputFile> in;
    if (!known ||
        !OpenAt(in, rest.name, static_cast<std::uint64_t>(rest.textBytes),
                static_cast<std::uint64_t>(faces.begin)) ||
        !ReadsAlike(*in, expected.size(),
                    [&](std::string_view piece) {
                      const bool same = piece == expected.substr(0, piece.size());
                      expected.remove_prefix(piece.size());
                      return same;
                    }) ||
        !Unchanged(faces))
      return std::nullopt;
  } catch (const std::runtime_error&) {
    return std::nullopt;
  }
  return faces;
}

bool EndsInRestFaces(const std::string& path, Int64 from, const RestFaceText& faces) {
  try {
    if (!Unchanged(faces)) return false;
    const auto bytes = static_cast<std::uint64_t>(faces.fileBytes - faces.begin);
    std::optional<InputFile> frame, rest;
    std::string restPiece;
    if (!OpenAt(frame, path, static_cast<std::uint64_t>(from) + bytes,
                static_cast<std::uint64_t>(from)) ||
        !OpenAt(rest, faces.path, static_cast<std::uint64_t>(faces.fileBytes),
                static_cast<std::uint64_t>(faces.begin)) ||
        !ReadsAlike(*frame, bytes, [&](std::string_view piece) {
          restPiece.clear();
          return rest->Read(piece.size(), restPiece) == piece.size() && restPiece == piece;
        }))
      return false;
    return Unchanged(faces);
  } catch (const std::runtime_error&) {
    return false;
  }
}

bool SurelyFrameOf(const std::string& path, const ObjFile& rest, size_t points, ObjFile* keep,
                   const RestFaceText* faces) {
  try {
    return Scanned(path, rest, points, keep, faces);
  } catch (const std::runtime_error&) {
    return false;  // the full read names what went wrong
  }
}

}  // namespace headless
