#include "headless/io/obj.h"

#include <algorithm>
#include <atomic>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <limits>
#include <sstream>
#include <stdexcept>
#include <system_error>
#include <thread>
#include <unordered_map>

#ifdef TESSAMIRE_HAVE_FAST_FLOAT
#include <fast_float/fast_float.h>
#endif

#include "headless/geometry/vector.h"
#include "headless/files/disk_writer.h"
#include "headless/files/input_file.h"
#include "headless/files/output_file.h"
#include "headless/files/pages_ahead.h"
#include "headless/files/shortest_number.h"
#include "headless/platform/paths.h"

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

// The whitespace-separated words of one line, up to a word starting with '#', one at a time.
class Words {
 public:
  // The line [line, end) of the file `text`.
  Words(const char* line, const char* end, const char* text) : p_(line), end_(end), text_(text) {}

  bool Next(Word& word) {
    while (p_ < end_ && IsSpace(*p_)) ++p_;
    if (p_ == end_ || *p_ == '#') {
      p_ = end_;
      return false;
    }
    const char* start = p_;
    while (p_ < end_ && !IsSpace(*p_)) ++p_;
    word = {std::string_view(start, static_cast<size_t>(p_ - start)), start - text_};
    return true;
  }

  // The first N of the remaining words into `words`; answers how many remained in all.
  template <size_t N>
  size_t Take(Word (&words)[N]) {
    size_t count = 0;
    Word word;
    while (Next(word)) {
      if (count < N) words[count] = word;
      ++count;
    }
    return count;
  }

  // The remaining words as written, blanks between them included (empty when none); `first` gets
  // the first of them.
  std::string_view Rest(Word& first) {
    if (!Next(first)) return {};
    Word last = first, word;
    while (Next(word)) last = word;
    return std::string_view(
        first.text.data(),
        static_cast<size_t>(last.text.data() + last.text.size() - first.text.data()));
  }

 private:
  const char* p_;
  const char* end_;
  const char* text_;
};

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

// A corner keeps its indices in Int32; an index beyond (out of range, since a mesh holds fewer
// items) is kept aside whole, for the message refusing it.
constexpr Int32 kBeyond = std::numeric_limits<Int32>::max();

// The material of the faces of a later part of the text before its first `usemtl`: the one in use
// where the part starts.
constexpr Int32 kInherited = -2;

struct Parser {
  ObjFile file;
  const char* text = nullptr;  // file.text's bytes
  Int64 line = 0;
  Int32 material = -1;    // the latest `usemtl`
  bool relative = false;  // a corner counted back from the items read so far
  // Indices of kBeyond or more, by corner * 3 + (0 point, 1 texture coordinate, 2 normal).
  std::vector<std::pair<Int64, Int64>> beyond;

  [[noreturn]] void Error(const std::string& what) const { Fail(file.name, line, what); }

  Int32 Keep(Int64 index, Int64 corner, int which) {
    if (index < kBeyond) return static_cast<Int32>(index);
    beyond.push_back({corner * 3 + which, index});
    return kBeyond;
  }

  Int64 Kept(Int32 index, Int64 corner, int which) const {
    if (index != kBeyond) return index;
    const auto it = std::lower_bound(beyond.begin(), beyond.end(),
                                     std::pair<Int64, Int64>{corner * 3 + which, 0});
    return it->second;
  }

  // Three coordinates; answers their span.
  TextSpan Coordinates(const Word* words, Vector3& p) const {
    Float* xyz[3] = {&p.x, &p.y, &p.z};
    for (int k = 0; k < 3; ++k)
      if (!ParseObjNumber(words[k].text, *xyz[k]))
        Error("malformed coordinate '" + std::string(words[k].text) + "'");
    return {words[0].begin, words[2].begin + static_cast<Int64>(words[2].text.size())};
  }

  void Point(Words& words) {
    Word w[7];
    const size_t numbers = words.Take(w);
    if (numbers < 3) Error("a point needs three coordinates");
    if (numbers == 5 || numbers > 7)
      Error("a point line holds " + std::to_string(numbers) +
            " numbers (3 coordinates, then a weight or a colour of 3 or 4)");
    Vector3 p;
    file.pointSpans.push_back(Coordinates(w, p));
    for (size_t k = 3; k < numbers; ++k) {
      Float extra = 0.0;
      if (!ParseObjNumber(w[k].text, extra))
        Error("stray word '" + std::string(w[k].text) + "' on a point line");
    }
    file.mesh.points.push_back(p);
  }

  void Normal(Words& words) {
    Word w[3];
    if (words.Take(w) != 3) Error("a normal needs exactly three numbers");
    Vector3 n;
    file.normalSpans.push_back(Coordinates(w, n));
    file.normals.push_back(n);
  }

  // u, then an optional v and w (w is not kept).
  void Texcoord(Words& words) {
    Word w[3];
    const size_t numbers = words.Take(w);
    if (numbers < 1 || numbers > 3)
      Error("a texture coordinate holds 1 to 3 numbers, not " + std::to_string(numbers));
    Float uvw[3] = {0.0, 0.0, 0.0};
    for (size_t k = 0; k < numbers; ++k)
      if (!ParseObjNumber(w[k].text, uvw[k]))
        Error("malformed texture coordinate '" + std::string(w[k].text) + "'");
    file.texcoords.push_back(uvw[0]);
    file.texcoords.push_back(uvw[1]);
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
    relative = relative || v < 0 || t < 0 || n < 0;
    const Int64 point = Resolve(v, static_cast<Int64>(file.mesh.points.size()));
    if (point < 0) Error("corner index " + std::to_string(v) + " refers before the first point");
    const Int64 texcoords = static_cast<Int64>(file.texcoords.size() / 2);
    const Int64 texcoord = t == 0 ? -1 : Resolve(t, texcoords);
    if (t != 0 && texcoord < 0)
      Error("texture coordinate index " + std::to_string(t) + " refers before the first one");
    const Int64 normal = n == 0 ? -1 : Resolve(n, static_cast<Int64>(file.normalSpans.size()));
    if (n != 0 && normal < 0)
      Error("normal index " + std::to_string(n) + " refers before the first one");
    const Int64 corner = static_cast<Int64>(file.cornerPoint.size());
    file.cornerPoint.push_back(Keep(point, corner, 0));
    // Texture coordinates and normals per corner only once some corner names one.
    if (texcoord >= 0 || !file.cornerTexcoord.empty()) {
      file.cornerTexcoord.resize(static_cast<size_t>(corner), -1);
      file.cornerTexcoord.push_back(Keep(texcoord, corner, 1));
    }
    if (normal >= 0 || !file.cornerNormal.empty()) {
      file.cornerNormal.resize(static_cast<size_t>(corner), -1);
      file.cornerNormal.push_back(Keep(normal, corner, 2));
    }
  }

  void Face(const char* begin, Words& words) {
    Word first[3];
    size_t count = 0;
    while (count < 3 && words.Next(first[count])) ++count;
    if (count < 3) Error("a face needs at least 3 corners");
    for (const Word& corner : first) Corner(corner.text);
    Word more;
    while (words.Next(more)) Corner(more.text);
    AddFace(begin);
  }

  void AddFace(const char* begin) {
    if (file.faceLine.empty()) file.firstFaceAt = begin - text;
    file.faceFirst.push_back(static_cast<Int64>(file.cornerPoint.size()));
    file.faceLine.push_back(line);
    file.faceMaterial.push_back(material);
  }

  // The line [begin, end) of the text.
  void Statement(const char* begin, const char* end) {
    Words words(begin, end, text);
    Word word;
    if (!words.Next(word)) return;
    const std::string_view keyword = word.text;
    if (keyword == "v") {
      Point(words);
    } else if (keyword == "f") {
      Face(begin, words);
    } else if (keyword == "vn") {
      Normal(words);
    } else if (keyword == "vt") {
      Texcoord(words);
    } else if (keyword == "usemtl") {
      const std::string name(words.Rest(word));
      material = -1;
      for (size_t m = 0; m < file.materials.size() && material < 0; ++m)
        if (file.materials[m] == name) material = static_cast<Int32>(m);
      if (material < 0) {
        material = static_cast<Int32>(file.materials.size());
        file.materials.push_back(name);
      }
    } else if (keyword == "mtllib") {
      const std::string_view rest = words.Rest(word);
      if (!rest.empty())
        file.mtllibSpans.push_back({word.begin, word.begin + static_cast<Int64>(rest.size())});
    } else if (keyword == "o" && file.objectName.empty()) {
      file.objectName = std::string(words.Rest(word));
    }
  }

  // A line in the form nearly every application writes, "v x y z" or "f a b c ..." (positive
  // indices, no texture coordinates or normals so far), one space between words and LF at the end
  // within [p, end), read without finding its end and splitting its words first. Returns the place
  // after it; null, having changed nothing, for a line in any other form: the general way then
  // reads it, and names any fault.
  const char* PlainLine(const char* p, const char* end) {
    if (end - p < 3 || p[1] != ' ') return nullptr;
    if (p[0] == 'v') return PlainPoint(p, end);
    if (p[0] == 'f' && file.cornerTexcoord.empty() && file.cornerNormal.empty())
      return PlainFace(p, end);
    return nullptr;
  }

  const char* PlainPoint(const char* begin, const char* end) {
    const char* const first = begin + 2;
    Vector3 v;
    const char* const p = ParsePlainTriple(first, end, v);
    if (p == nullptr || p - begin > kMaxObjLineBytes) return nullptr;
    ++line;
    file.pointSpans.push_back({first - text, p - 1 - text});
    file.mesh.points.push_back(v);
    return p;
  }

  const char* PlainFace(const char* begin, const char* end) {
    const size_t before = file.cornerPoint.size();
    const auto other = [&] {
      file.cornerPoint.resize(before);
      return nullptr;
    };
    for (const char* p = begin + 2;; ++p) {
      Int32 index = 0;
      p = ParsePlainIndex(p, end, index);
      if (p == nullptr || p == end) return other();
      file.cornerPoint.push_back(index - 1);
      if (*p == '\n') {
        if (file.cornerPoint.size() - before < 3 || p - begin > kMaxObjLineBytes) return other();
        ++line;
        AddFace(begin);
        return p + 1;
      }
      if (*p != ' ') return other();
    }
  }

  // The lines of [p, end), a part of the text that starts at a line's start and ends at one's end
  // (or the text's).
  void Lines(const char* p, const char* end) {
    while (p < end) {
      if (const char* const next = PlainLine(p, end)) {
        p = next;
        continue;
      }
      const char* stop = FindLineEnd(p, end);
      ++line;
      if (stop - p > kMaxObjLineBytes)
        Error("the line is longer than " + std::to_string(kMaxObjLineBytes) + " bytes");
      Statement(p, stop);
      if (stop == end) break;
      if (*stop == '\r' && stop + 1 < end && stop[1] == '\n') ++stop;
      p = stop + 1;
    }
  }

  // Room for what `next` parts read besides this one's, so that taking them in copies each once.
  void Reserve(std::span<const Parser> next) {
    ObjFile& a = file;
    size_t points = a.mesh.points.size(), normals = a.normals.size(),
           texcoords = a.texcoords.size();
    size_t faces = a.faceLine.size(), corners = a.cornerPoint.size();
    bool perCorner[2] = {!a.cornerTexcoord.empty(), !a.cornerNormal.empty()};
    for (const Parser& part : next) {
      const ObjFile& b = part.file;
      points += b.mesh.points.size();
      normals += b.normals.size();
      texcoords += b.texcoords.size();
      faces += b.faceLine.size();
      corners += b.cornerPoint.size();
      perCorner[0] = perCorner[0] || !b.cornerTexcoord.empty();
      perCorner[1] = perCorner[1] || !b.cornerNormal.empty();
    }
    a.mesh.points.reserve(points);
    a.pointSpans.reserve(points);
    a.normals.reserve(normals);
    a.normalSpans.reserve(normals);
    a.texcoords.reserve(texcoords);
    a.faceFirst.reserve(faces + 1);
    a.faceLine.reserve(faces);
    a.faceMaterial.reserve(faces);
    a.cornerPoint.reserve(corners);
    if (perCorner[0]) a.cornerTexcoord.reserve(corners);
    if (perCorner[1]) a.cornerNormal.reserve(corners);
  }

  // Takes in what `next` read of the part of the text after this one's, as though this parser had
  // read on: its faces' corners, lines and materials follow on from this part's. `next` counted
  // nothing back (relative is false) and started with the inherited material.
  void Append(Parser&& next) {
    ObjFile& b = next.file;
    const Int64 corners = static_cast<Int64>(file.cornerPoint.size());
    const auto append = [](auto& to, const auto& from) {
      to.insert(to.end(), from.begin(), from.end());
    };
    append(file.mesh.points, b.mesh.points);
    SpanList::Reader spans(b.pointSpans);
    for (size_t k = 0; k < b.pointSpans.size(); ++k) file.pointSpans.push_back(spans.Next());
    append(file.normalSpans, b.normalSpans);
    append(file.normals, b.normals);
    append(file.texcoords, b.texcoords);
    append(file.mtllibSpans, b.mtllibSpans);
    for (size_t f = 1; f < b.faceFirst.size(); ++f)
      file.faceFirst.push_back(b.faceFirst[f] + corners);
    append(file.cornerPoint, b.cornerPoint);
    // Once a corner names one, every corner after has its entry.
    const auto perCorner = [&](std::vector<Int32>& to, const std::vector<Int32>& from) {
      if (from.empty() && to.empty()) return;
      to.resize(static_cast<size_t>(corners), -1);
      append(to, from);
      to.resize(file.cornerPoint.size(), -1);
    };
    perCorner(file.cornerTexcoord, b.cornerTexcoord);
    perCorner(file.cornerNormal, b.cornerNormal);
    if (file.faceLine.empty()) file.firstFaceAt = b.firstFaceAt;
    for (const Int64 faceLine : b.faceLine) file.faceLine.push_back(line + faceLine);
    // Materials in order of first use: those new to this part go after this part's.
    std::vector<Int32> global(b.materials.size());
    for (size_t m = 0; m < b.materials.size(); ++m) {
      const auto known = std::find(file.materials.begin(), file.materials.end(), b.materials[m]);
      global[m] = static_cast<Int32>(known - file.materials.begin());
      if (known == file.materials.end()) file.materials.push_back(b.materials[m]);
    }
    const auto globalOf = [&](Int32 m) { return m == kInherited ? material : global[m]; };
    for (const Int32 m : b.faceMaterial) file.faceMaterial.push_back(globalOf(m));
    for (const auto& [key, index] : next.beyond) beyond.push_back({key + corners * 3, index});
    if (file.objectName.empty()) file.objectName = std::move(b.objectName);
    line += next.line;
    material = globalOf(next.material);
  }

  // Checks the faces against the point count and builds the host polygons.
  void Finish() {
    const Int64 points = static_cast<Int64>(file.mesh.points.size());
    if (points == 0) Fail(file.name, 0, "no point (`v` line): not an OBJ mesh");
    const Int64 texcoords = static_cast<Int64>(file.texcoords.size() / 2);
    const Int64 normals = static_cast<Int64>(file.normalSpans.size());
    if (points > std::numeric_limits<Int32>::max() || normals > std::numeric_limits<Int32>::max() ||
        texcoords > std::numeric_limits<Int32>::max())
      Fail(file.name, 0, "more points, normals or texture coordinates than a mesh can hold");
    size_t polygons = 0;  // a face of up to 4 corners is one, a larger one a fan
    for (Int64 f = 0; f < file.FaceCount(); ++f) {
      const Int64 corners = file.faceFirst[f + 1] - file.faceFirst[f];
      polygons += static_cast<size_t>(corners <= 4 ? 1 : corners - 2);
    }
    file.mesh.polygons.reserve(polygons);
    const PagesAhead ahead({RoomOf(file.mesh.polygons)});
    for (Int64 f = 0; f < file.FaceCount(); ++f) {
      line = file.faceLine[f];
      const Int64 first = file.faceFirst[f], end = file.faceFirst[f + 1];
      for (Int64 c = first; c < end; ++c) {
        const Int64 point = Kept(file.cornerPoint[c], c, 0);
        if (point >= points)
          Error("corner index " + std::to_string(point + 1) + " is out of range (" +
                std::to_string(points) + " points)");
        // The corners before are in range, so their Int32 indices are whole.
        for (Int64 e = first; e < c; ++e)
          if (file.cornerPoint[e] == file.cornerPoint[c])
            Error("the face names point " + std::to_string(point + 1) + " twice");
        const Int64 texcoord = Kept(file.CornerTexcoord(c), c, 1);
        if (texcoord >= texcoords)
          Error("texture coordinate index " + std::to_string(texcoord + 1) + " is out of range (" +
                std::to_string(texcoords) + " in the file)");
        const Int64 normal = Kept(file.CornerNormal(c), c, 2);
        if (normal >= normals)
          Error("normal index " + std::to_string(normal + 1) + " is out of range (" +
                std::to_string(normals) + " in the file)");
      }
      AppendFacePolygons(std::span<const Int32>(file.cornerPoint)
                             .subspan(static_cast<size_t>(first), static_cast<size_t>(end - first)),
                         file.mesh.polygons);
    }
  }
};

// Enough parts for two threads to share the work evenly, though faces take longer than points.
constexpr Int64 kObjParts = 8;

// Reads [p, end) of `parser`'s text in parts side by side, each starting at the start of a line
// (every byte after a line feed starts one). A part is taken in only when it read without a fault
// and counted nothing back; from the first that did not, the text is read again in turn, which
// gives the counts and the line of the fault as a reading in one go does.
void ReadInParts(Parser& parser, const char* p, const char* end) {
  std::vector<const char*> starts{p};
  for (Int64 k = 1; k < kObjParts; ++k) {
    const char* from = std::max(starts.back(), p + (end - p) / kObjParts * k);
    const char* feed =
        static_cast<const char*>(std::memchr(from, '\n', static_cast<size_t>(end - from)));
    if (feed == nullptr || feed + 1 >= end) break;
    if (feed + 1 > starts.back()) starts.push_back(feed + 1);
  }
  starts.push_back(end);
  const size_t parts = starts.size() - 1;
  std::vector<Parser> later(parts - 1);  // parts 1 on
  std::vector<char> partRead(parts - 1, 0);
  std::atomic<size_t> next{1};
  const auto readParts = [&](std::stop_token stop) {
    for (size_t k = next++; k < parts && !stop.stop_requested(); k = next++) {
      Parser& part = later[k - 1];
      part.file.name = parser.file.name;
      part.text = parser.text;
      part.material = kInherited;
      try {
        part.Lines(starts[k], starts[k + 1]);
        partRead[k - 1] = 1;
      } catch (...) {
      }
    }
  };
  {
    // Joined, after it finishes its part, also when the first part fails.
    std::jthread helper;
    if (parts > 1) {
      try {
        helper = std::jthread(readParts);
      } catch (const std::system_error&) {
      }
    }
    parser.Lines(starts[0], starts[1]);
    readParts({});
  }
  size_t taken = 1;  // parts taken in as read
  while (taken < parts && partRead[taken - 1] && !later[taken - 1].relative) ++taken;
  parser.Reserve(std::span<const Parser>(later).first(taken - 1));
  ObjFile& file = parser.file;
  const PagesAhead ahead({RoomOf(file.mesh.points), RoomOf(file.faceFirst),
                          RoomOf(file.cornerPoint), RoomOf(file.faceLine),
                          RoomOf(file.faceMaterial)});
  for (size_t k = 1; k < parts; ++k) {
    if (k == taken) {
      parser.Lines(starts[k], end);
      break;
    }
    parser.Append(std::move(later[k - 1]));
    later[k - 1] = Parser();
  }
}

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

// Appends "x y z", each in the shortest form that reads back to the same double.
void AppendTriple(std::string& out, const Vector3& v) {
  char buffer[3 * (kShortestBytes + 1)];
  char* p = buffer;
  for (const Float c : {v.x, v.y, v.z}) {
    p = WriteShortest(p, c);
    *p++ = ' ';
  }
  out.append(buffer, static_cast<size_t>(p - 1 - buffer));
}

}  // namespace

void SpanList::push_back(const TextSpan& span) {
  const Int64 gap = span.begin - lastEnd_, length = span.end - span.begin;
  if (gap >= 0 && gap < kWhole && length >= 0 && length <= kWhole) {
    steps_.push_back({static_cast<UInt32>(gap), static_cast<UInt32>(length)});
  } else {
    steps_.push_back({kWhole, 0});
    whole_.push_back(span);
  }
  lastEnd_ = span.end;
}

void SpanList::clear() {
  steps_.clear();
  whole_.clear();
  lastEnd_ = 0;
}

void SpanList::swap(SpanList& other) noexcept {
  steps_.swap(other.steps_);
  whole_.swap(other.whole_);
  std::swap(lastEnd_, other.lastEnd_);
}

TextSpan SpanList::Reader::Next() {
  const Step step = list_.steps_[step_++];
  const TextSpan span = step.gap == kWhole
                            ? list_.whole_[whole_++]
                            : TextSpan{lastEnd_ + step.gap, lastEnd_ + step.gap + step.length};
  lastEnd_ = span.end;
  return span;
}

const char* ParseObjNumberAt(const char* p, const char* end, Float& out) {
  if (p < end && *p == '+') {
    ++p;
    if (p < end && *p == '-') return nullptr;
  }
  if (p == end) return nullptr;
#ifdef TESSAMIRE_HAVE_FAST_FLOAT
  // The two read every number that gives a finite nonzero value alike (both round correctly);
  // a value out of range reads as 0 or infinity here but is refused by std::from_chars, which
  // decides those.
  if (const auto fast = fast_float::from_chars(p, end, out);
      fast.ec == std::errc() && std::isfinite(out) && out != 0.0)
    return fast.ptr;
#endif
  const auto [stop, error] = std::from_chars(p, end, out, std::chars_format::general);
  return error == std::errc() && std::isfinite(out) ? stop : nullptr;
}

const char* ParsePlainTriple(const char* p, const char* end, Vector3& out) {
  for (Float* c : {&out.x, &out.y, &out.z}) {
    p = ParseObjNumberAt(p, end, *c);
    if (p == nullptr || p == end || *p != (c == &out.z ? '\n' : ' ')) return nullptr;
    ++p;
  }
  return p;
}

const char* ParsePlainIndex(const char* p, const char* end, Int32& out) {
  // Up to 7 digits from one 8-byte word: most indices, in a few steps without a branch.
  if (std::endian::native == std::endian::little && end - p >= 8) {
    std::uint64_t word;
    std::memcpy(&word, p, 8);
    // A byte that is not a digit has its top bit set once '0' is taken from it or 0x46 added to
    // it. Bytes after the first such one may be wrong (a borrow or carry from it) but are not
    // looked at.
    const std::uint64_t other =
        ((word - 0x3030303030303030) | (word + 0x4646464646464646)) & 0x8080808080808080;
    const int count = std::countr_zero(other) / 8;
    if (count == 0) return nullptr;
    if (count < 8) {
      // The digits to the top bytes, zeros before them; then pairs, fours and eights summed.
      std::uint64_t v = (word & 0x0F0F0F0F0F0F0F0F) << (64 - 8 * count);
      v = (v * 2561) >> 8 & 0x00FF00FF00FF00FF;
      v = (v * 6553601) >> 16 & 0x0000FFFF0000FFFF;
      out = static_cast<Int32>((v * 42949672960001) >> 32);
      return out == 0 ? nullptr : p + count;
    }
  }
  const char* const digits = p;
  out = 0;
  while (p < end && *p >= '0' && *p <= '9' && p - digits < 9) out = out * 10 + (*p++ - '0');
  return p == digits || out == 0 ? nullptr : p;
}

bool ParseObjNumber(std::string_view word, Float& out) {
  const char* end = word.data() + word.size();
  return ParseObjNumberAt(word.data(), end, out) == end;
}

ObjFile ParseObj(std::string text, const std::string& name, const ObjSizes& expected,
                 size_t partsFrom) {
  CheckText(text, name);
  Parser parser;
  parser.file.name = name;
  // Room for what is expected: no arrays grown by doubling and copied on the way.
  ObjFile& file = parser.file;
  file.mesh.points.reserve(expected.points);
  file.pointSpans.reserve(expected.points);
  file.faceFirst.reserve(expected.faces + 1);
  file.cornerPoint.reserve(expected.corners);
  file.faceLine.reserve(expected.faces);
  file.faceMaterial.reserve(expected.faces);
  parser.file.textBytes = static_cast<Int64>(text.size());
  parser.file.text = std::move(text);
  const std::string& t = parser.file.text;
  const char* const begin = t.data();
  const char* const end = begin + t.size();
  parser.text = begin;
  const char* p =
      begin + (t.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0);  // a UTF-8 byte-order mark
  if (t.size() >= partsFrom)
    ReadInParts(parser, p, end);
  else
    parser.Lines(p, end);
  parser.Finish();
  return std::move(parser.file);
}

ObjFile ReadObjFile(const std::string& path, const ObjSizes& expected) {
  std::string text;
  try {
    text = ReadTextInput(path, static_cast<std::uint64_t>(kMaxObjLineBytes));
  } catch (const std::runtime_error& e) {
    // Named like every other fault of the file: "path:0: cannot read: reason".
    std::string what = e.what();
    if (what.rfind(path + ": ", 0) == 0) what.erase(0, path.size() + 2);
    Fail(path, 0, what);
  }
  return ParseObj(std::move(text), path, expected);
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
      AppendTriple(piece, points[p]);
      copied = span.end;
      if (++p < points.size()) span = pointSpans.Next();
      continue;
    }
    const Change& change = more[m++];
    copyTo(change.span.begin);
    if (change.kind == kLibrary)
      piece += libraries[change.index];
    else
      AppendTriple(piece, turned[change.index]);
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
    const Corner corner{file.cornerPoint[c], file.CornerTexcoord(c), file.CornerNormal(c)};
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
      char number[24];
      const char* end =
          std::to_chars(number, number + sizeof number, Int64{file.cornerVertex[c]} + 1).ptr;
      const std::string_view index(number, static_cast<size_t>(end - number));
      out += ' ';
      out += index;
      if (texcoords || withNormals) out += '/';
      if (texcoords) out += index;
      if (withNormals) {
        out += '/';
        out += index;
      }
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
