#include "headless/io/obj_write.h"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <filesystem>
#include <functional>
#include <stdexcept>
#include <system_error>

#include "headless/files/disk_writer.h"
#include "headless/files/input_file.h"
#include "headless/files/output_file.h"
#include "headless/files/shortest_number.h"
#include "headless/geometry/vector.h"
#include "headless/io/obj.h"
#include "headless/platform/paths.h"

namespace headless {
namespace {

bool IsSpace(char c) {
  return c == ' ' || c == '\t' || c == '\f' || c == '\v';
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

}  // namespace

// Appends "x y z", each in the shortest form that reads back to the same double.
void AppendObjTriple(std::string& out, const Vector3& v) {
  char buffer[3 * (kShortestBytes + 1)];
  char* p = buffer;
  for (const Float c : {v.x, v.y, v.z}) {
    p = WriteShortest(p, c);
    *p++ = ' ';
  }
  out.append(buffer, static_cast<size_t>(p - 1 - buffer));
}

std::vector<std::optional<Vector3>> ObjNormals(const ObjFile& file,
                                               std::span<const Vector3> points) {
  const size_t count = file.normalSpans.size();
  if (count == 0) return {};
  std::vector<Vector3> sums(count);
  std::vector<Int64> lastFace(count, -1);
  for (Int64 f = 0; f < file.FaceCount(); ++f) {
    Vector3 area;
    bool computed = false;
    for (Int64 c = file.faceFirst[f]; c < file.faceFirst[f + 1]; ++c) {
      const Int32 n = file.CornerNormal(c);
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
      const Int32 n = file.CornerNormal(c);
      if (n < 0 || frames[n]) continue;
      const Int64 next = c + 1 < end ? c + 1 : first;
      frames[n] = SurfaceFrame{*normals[n],
                               Sub(points[file.cornerPoint[next]], points[file.cornerPoint[c]])};
    }
  }
  return frames;
}

// The text of a file being written back, read forwards: from `file.text`, or, where the file has
// let it go, from the file it was read from, a piece at a time.
class ForwardText {
 public:
  explicit ForwardText(const ObjFile& file) : file_(file) {
    if (static_cast<Int64>(file.text.size()) != file.textBytes) in_.emplace(file.name);
  }

  // Bytes [begin, end), valid until the next call; each call begins at or after the last's begin.
  std::string_view View(Int64 begin, Int64 end) {
    if (!in_)
      return std::string_view(file_.text)
          .substr(static_cast<size_t>(begin), static_cast<size_t>(end - begin));
    while (start_ + static_cast<Int64>(held_.size()) < end) {
      // What lies before `begin` is not asked for again; keep what follows it and read on.
      const Int64 keep = std::max<Int64>(begin, start_);
      const Int64 drop = std::min<Int64>(keep - start_, static_cast<Int64>(held_.size()));
      held_.erase(0, static_cast<size_t>(drop));
      start_ += drop;
      const Int64 want = std::max<Int64>(kPiece, end - start_ - static_cast<Int64>(held_.size()));
      if (in_->Read(static_cast<std::uint64_t>(want), held_) == 0) Changed();
    }
    return std::string_view(held_).substr(static_cast<size_t>(begin - start_),
                                          static_cast<size_t>(end - begin));
  }

  // Throws unless the file ends where the text did.
  void CheckEnd() {
    if (!in_) return;
    std::string more;
    if (start_ + static_cast<Int64>(held_.size()) != file_.textBytes || in_->Read(1, more) != 0)
      Changed();
  }

  bool FromFile() const { return in_.has_value(); }

  static constexpr Int64 kPiece = Int64{1} << 18;

 private:
  [[noreturn]] void Changed() const {
    throw std::runtime_error(file_.name + ": cannot read: the file changed after it was read");
  }

  const ObjFile& file_;
  std::optional<InputFile> in_;
  std::string held_;  // bytes [start_, start_ + held_.size()) of the file
  Int64 start_ = 0;
};

}  // namespace

void StreamObjText(const ObjFile& file, std::span<const Vector3> points,
                   const std::string& outputPath,
                   const std::function<void(std::string_view)>& sink) {
  if (points.size() != file.pointSpans.size())
    throw std::invalid_argument(file.name + ": " + std::to_string(points.size()) +
                                " points given for " + std::to_string(file.pointSpans.size()) +
                                " `v` lines");
  // What changes besides every `v`, in file order: each `vn` that turned, each `mtllib` that
  // moved. The `v` lines are merged in as they come, in file order too.
  enum Kind { kNormal, kLibrary };
  struct Change {
    TextSpan span;
    Kind kind;
    size_t index;
  };
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
  ForwardText libraryText(file);
  for (const TextSpan& span : file.mtllibSpans) {
    const std::string name(libraryText.View(span.begin, span.end));
    std::string moved = RelocatedLibrary(name, file.name, outputPath);
    if (moved == name) continue;
    more.push_back({span, kLibrary, libraries.size()});
    libraries.push_back(std::move(moved));
  }
  std::sort(more.begin(), more.end(),
            [](const Change& a, const Change& b) { return a.span.begin < b.span.begin; });

  // Pieces of about kPiece bytes, for the sink to gather; a long run of unchanged text goes to it
  // as it stands.
  constexpr size_t kPiece = size_t{1} << 16;
  std::string piece;
  piece.reserve(kPiece + 256);
  ForwardText text(file);
  Int64 copied = 0;
  const auto copyTo = [&](Int64 until) {
    while (copied < until) {
      // A long run read again from the file comes a piece at a time.
      const Int64 next = until - copied > ForwardText::kPiece && text.FromFile()
                             ? copied + ForwardText::kPiece
                             : until;
      const std::string_view same = text.View(copied, next);
      copied = next;
      if (same.size() < kPiece / 8) {
        piece.append(same);
      } else {
        if (!piece.empty()) sink(piece);
        piece.clear();
        sink(same);
      }
      if (piece.size() >= kPiece) {
        sink(piece);
        piece.clear();
      }
    }
  };
  SpanList::Reader pointSpans(file.pointSpans);
  TextSpan span = points.empty() ? TextSpan{} : pointSpans.Next();  // point p's
  size_t p = 0, m = 0;
  while (p < points.size() || m < more.size()) {
    if (m == more.size() || (p < points.size() && span.begin < more[m].span.begin)) {
      copyTo(span.begin);
      AppendObjTriple(piece, points[p]);
      copied = span.end;
      if (++p < points.size()) span = pointSpans.Next();
      continue;
    }
    const Change& change = more[m++];
    copyTo(change.span.begin);
    if (change.kind == kLibrary)
      piece += libraries[change.index];
    else
      AppendObjTriple(piece, turned[change.index]);
    copied = change.span.end;
  }
  copyTo(file.textBytes);
  text.CheckEnd();
  if (!piece.empty()) sink(piece);
}

std::string ObjText(const ObjFile& file, std::span<const Vector3> points,
                    const std::string& outputPath) {
  std::string out;
  out.reserve(static_cast<size_t>(file.textBytes + file.textBytes / 4));
  StreamObjText(file, points, outputPath, [&out](std::string_view piece) { out += piece; });
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

void WriteObjLike(OutputFile& out, const ObjFile& like, std::span<const Vector3> points) {
  DiskWriter disk(out);
  StreamObjText(like, points, out.Path(), [&disk](std::string_view piece) { disk.Write(piece); });
  disk.Finish();
}

void WriteObjLike(const std::string& path, const ObjFile& like, std::span<const Vector3> points) {
  OutputFile out(path);
  WriteObjLike(out, like, points);
  out.Commit();
}

std::string PlainObjText(std::span<const Vector3> points, std::span<const CPolygon> polygons) {
  std::string out;
  out.reserve(points.size() * 40 + polygons.size() * 24);
  for (const Vector3& p : points) {
    out += "v ";
    AppendObjTriple(out, p);
    out += '\n';
  }
  for (const CPolygon& f : polygons) {
    const Int64 corners[4] = {Int64{f.a} + 1, Int64{f.b} + 1, Int64{f.c} + 1, Int64{f.d} + 1};
    char line[4 * 21 + 2] = "f";
    char* p = line + 1;
    for (int k = 0; k < (f.c == f.d ? 3 : 4); ++k) {
      *p++ = ' ';
      p = std::to_chars(p, line + sizeof line, corners[k]).ptr;
    }
    *p++ = '\n';
    out.append(line, static_cast<size_t>(p - line));
  }
  return out;
}

void WriteObj(const std::string& path, std::span<const Vector3> points,
              std::span<const CPolygon> polygons) {
  WriteFileAtomically(path, PlainObjText(points, polygons));
}

}  // namespace headless
