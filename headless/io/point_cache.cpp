#include "headless/io/point_cache.h"

#include <algorithm>
#include <bit>
#include <cctype>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <stdexcept>
#include <string_view>

#include "headless/files/input_file.h"
#include "headless/files/output_file.h"
#include "headless/files/shortest_number.h"
#include "headless/platform/memory.h"

namespace headless {
namespace {

constexpr char kPc2Signature[12] = {'P', 'O', 'I', 'N', 'T', 'C', 'A', 'C', 'H', 'E', '2', '\0'};
constexpr std::size_t kPc2Header = 32;
constexpr std::size_t kMddHeader = 8;

[[noreturn]] void Fail(const std::string& name, const std::string& what) {
  throw std::runtime_error(name + ": " + what);
}

std::uint32_t Load32(const std::byte* p, bool bigEndian) {
  std::uint32_t v = 0;
  for (int i = 0; i < 4; ++i) {
    const int shift = bigEndian ? 8 * (3 - i) : 8 * i;
    v |= static_cast<std::uint32_t>(std::to_integer<std::uint8_t>(p[i])) << shift;
  }
  return v;
}

void Store32(std::vector<std::byte>& out, std::uint32_t v, bool bigEndian) {
  for (int i = 0; i < 4; ++i) {
    const int shift = bigEndian ? 8 * (3 - i) : 8 * i;
    out.push_back(static_cast<std::byte>((v >> shift) & 0xFFu));
  }
}

Float32 LoadFloat(const std::byte* p, bool bigEndian) {
  return std::bit_cast<Float32>(Load32(p, bigEndian));
}

void StoreFloat(std::vector<std::byte>& out, Float32 v, bool bigEndian) {
  Store32(out, std::bit_cast<std::uint32_t>(v), bigEndian);
}

Int32 LoadInt(const std::byte* p, bool bigEndian) {
  return static_cast<Int32>(Load32(p, bigEndian));
}

// Samples x points x 12 bytes after a header of `header` bytes, saturated at the largest
// uint64 (no real input reaches it).
std::uint64_t CacheBytes(std::uint64_t header, Int32 points, Int32 samples) {
  const std::uint64_t perSample = static_cast<std::uint64_t>(points) * 12u;
  const std::uint64_t most = std::numeric_limits<std::uint64_t>::max();
  if (perSample != 0 && static_cast<std::uint64_t>(samples) > (most - header) / perSample)
    return most;
  return header + static_cast<std::uint64_t>(samples) * perSample;
}

// Throws unless `held` bytes (at least so many when `atLeast`: a stream read no further) are
// exactly `header` + samples * points * 12.
void CheckSize(std::uint64_t held, bool atLeast, std::uint64_t header, Int32 points, Int32 samples,
               const std::string& name) {
  if (points == 0) Fail(name, "the cache holds no points");
  const std::uint64_t perSample = static_cast<std::uint64_t>(points) * 12u;
  const std::uint64_t body = held >= header ? held - header : 0;
  // Compared by division first, so that no product of counts can overflow.
  const bool truncated = static_cast<std::uint64_t>(samples) > body / perSample;
  if (!atLeast && !truncated && static_cast<std::uint64_t>(samples) * perSample == body) return;
  const std::string counts =
      std::to_string(samples) + " samples of " + std::to_string(points) + " points";
  Fail(name, "the header gives " + counts + " (" + std::to_string(header) + " + " +
                 std::to_string(samples) + " x " + std::to_string(perSample) + " bytes), but " +
                 "the file holds " + (atLeast ? "more than " : "") +
                 std::to_string(atLeast ? held - 1 : held) + " bytes" +
                 (truncated ? " (truncated: " + std::to_string(body / perSample) + " whole samples)"
                            : std::string(" (trailing bytes)")));
}

// Float32s from their bytes in the file's order into `out`; the same bits as LoadFloat, copied
// whole where the file's order is the machine's.
void LoadFloats(const std::byte* p, std::span<Float32> out, bool bigEndian) {
  if (out.empty()) return;  // a sample of no points: nothing to copy, maybe from nowhere
  if (bigEndian == (std::endian::native == std::endian::big)) {
    std::memcpy(out.data(), p, out.size() * 4);
    return;
  }
  for (std::size_t i = 0; i < out.size(); ++i, p += 4) out[i] = LoadFloat(p, bigEndian);
}

// Float32s as bytes in the file's order, appended to `out` as StoreFloat appends them; copied
// whole where the file's order is the machine's.
void StoreFloats(std::span<const Float32> values, std::vector<std::byte>& out, bool bigEndian) {
  if (values.empty()) return;
  if (bigEndian != (std::endian::native == std::endian::big)) {
    out.reserve(out.size() + values.size() * 4);
    for (const Float32 v : values) StoreFloat(out, v, bigEndian);
    return;
  }
  const std::size_t start = out.size();
  out.resize(start + values.size() * 4);
  std::memcpy(out.data() + start, values.data(), values.size() * 4);
}

// Coordinates [first, first + out.size()) of a cache of `points` points per sample, from their
// bytes; throws naming the sample and the point of one that is not finite.
void LoadCoordinates(const std::byte* p, std::uint64_t first, std::span<Float32> out, Int32 points,
                     bool bigEndian, const std::string& name) {
  LoadFloats(p, out, bigEndian);
  for (std::size_t i = 0; i < out.size(); ++i) {
    const Float32 v = out[i];
    if (!std::isfinite(v)) {
      const std::uint64_t point = (first + i) / 3;
      Fail(name, "sample " + std::to_string(point / static_cast<std::uint64_t>(points)) +
                     ", point " + std::to_string(point % static_cast<std::uint64_t>(points)) +
                     " has a coordinate that is not finite");
    }
  }
}

// Checks that the bytes hold exactly `header` + samples * points * 12 and reads the points.
void ReadCoordinates(std::span<const std::byte> bytes, std::size_t header, Int32 points,
                     Int32 samples, bool bigEndian, const std::string& name, PointCache& cache) {
  CheckSize(bytes.size(), false, header, points, samples, name);
  const std::uint64_t body = bytes.size() - header;
  cache.coordinates.resize(static_cast<std::size_t>(body / 4));
  LoadCoordinates(bytes.data() + header, 0, cache.coordinates, points, bigEndian, name);
}

// What a cache's first bytes announce: the bytes before the coordinates, the counts and so the
// whole size. Empty when they make no header the parse accepts (the parse names why).
struct CacheHeader {
  std::uint64_t header = 0;
  Int32 points = 0;
  Int32 samples = 0;
  std::uint64_t Total() const { return CacheBytes(header, points, samples); }
};

std::optional<CacheHeader> AnnouncedHeader(std::span<const std::byte> head,
                                           PointCacheFormat format) {
  CacheHeader h;
  if (format == PointCacheFormat::kPc2) {
    if (head.size() < kPc2Header || std::memcmp(head.data(), kPc2Signature, 12) != 0 ||
        LoadInt(head.data() + 12, false) != 1)
      return std::nullopt;
    h.header = kPc2Header;
    h.points = LoadInt(head.data() + 16, false);
    h.samples = LoadInt(head.data() + 28, false);
  } else {
    if (head.size() < kMddHeader) return std::nullopt;
    h.samples = LoadInt(head.data(), true);
    h.points = LoadInt(head.data() + 4, true);
    h.header = kMddHeader + 4ull * static_cast<std::uint64_t>(std::max(h.samples, 0));
  }
  if (h.points < 0 || h.samples < 0) return std::nullopt;
  return h;
}

// The fields before the coordinates, checked; answers the header's length and sample count.
// `bytes` holds at least the header (MDD: what the file holds of its times, for the message).
std::pair<std::size_t, Int32> ParsePc2Header(std::span<const std::byte> bytes,
                                             const std::string& name, PointCache& cache) {
  if (bytes.size() < kPc2Header)
    Fail(name, "too short for a PC2 header (" + std::to_string(bytes.size()) + " of " +
                   std::to_string(kPc2Header) + " bytes)");
  if (std::memcmp(bytes.data(), kPc2Signature, sizeof kPc2Signature) != 0)
    Fail(name, "not a PC2 point cache (no POINTCACHE2 signature)");
  const std::byte* p = bytes.data();
  const Int32 version = LoadInt(p + 12, false);
  if (version != 1) Fail(name, "PC2 version " + std::to_string(version) + " (only 1 is known)");
  cache.format = PointCacheFormat::kPc2;
  cache.pointCount = LoadInt(p + 16, false);
  cache.startFrame = LoadFloat(p + 20, false);
  cache.sampleRate = LoadFloat(p + 24, false);
  const Int32 samples = LoadInt(p + 28, false);
  if (cache.pointCount < 0 || samples < 0)
    Fail(name, "negative count (" + std::to_string(cache.pointCount) + " points, " +
                   std::to_string(samples) + " samples)");
  if (!std::isfinite(cache.startFrame) || !std::isfinite(cache.sampleRate) ||
      !(cache.sampleRate > 0.0f))
    Fail(name, "the start frame and the sample rate must be finite and the rate positive (" +
                   ShortestNumber(cache.startFrame) + ", " + ShortestNumber(cache.sampleRate) +
                   ")");
  return {kPc2Header, samples};
}

std::pair<std::size_t, Int32> ParseMddHeader(std::span<const std::byte> bytes,
                                             const std::string& name, PointCache& cache) {
  if (bytes.size() < kMddHeader)
    Fail(name, "too short for an MDD header (" + std::to_string(bytes.size()) + " of " +
                   std::to_string(kMddHeader) + " bytes)");
  cache.format = PointCacheFormat::kMdd;
  const Int32 frames = LoadInt(bytes.data(), true);
  cache.pointCount = LoadInt(bytes.data() + 4, true);
  if (frames < 0 || cache.pointCount < 0)
    Fail(name, "negative count (" + std::to_string(frames) + " frames, " +
                   std::to_string(cache.pointCount) + " points)");
  const std::uint64_t timesEnd = kMddHeader + 4ull * static_cast<std::uint64_t>(frames);
  if (bytes.size() < timesEnd)
    Fail(name, "the header gives " + std::to_string(frames) + " frames, but the file (" +
                   std::to_string(bytes.size()) + " bytes) ends within their times");
  for (Int32 i = 0; i < frames; ++i) {
    const Float32 t = LoadFloat(bytes.data() + kMddHeader + 4 * static_cast<std::size_t>(i), true);
    if (!std::isfinite(t)) Fail(name, "the time of frame " + std::to_string(i) + " is not finite");
    if (i > 0 && !(t > cache.times.back()))
      Fail(name, "the time of frame " + std::to_string(i) + " (" + ShortestNumber(t) +
                     " s) is not after the one before (" + ShortestNumber(cache.times.back()) +
                     " s)");
    cache.times.push_back(t);
  }
  return {static_cast<std::size_t>(timesEnd), frames};
}

std::pair<std::size_t, Int32> ParseHeader(std::span<const std::byte> bytes, PointCacheFormat format,
                                          const std::string& name, PointCache& cache) {
  return format == PointCacheFormat::kPc2 ? ParsePc2Header(bytes, name, cache)
                                          : ParseMddHeader(bytes, name, cache);
}

// A sample's frame survives a cache's numbers when they give it back within this much; the
// MDD reader takes whole frames within it too.
constexpr Float kFrameTolerance = 1e-4;

}  // namespace

Int64 PointCache::SampleCount() const {
  return pointCount <= 0
             ? 0
             : static_cast<Int64>(coordinates.size() / 3 / static_cast<std::size_t>(pointCount));
}

std::vector<Vector3> PointCache::Sample(Int64 s) const {
  std::vector<Vector3> points(static_cast<std::size_t>(pointCount));
  const Float32* c = coordinates.data() + static_cast<std::size_t>(s) * points.size() * 3;
  for (std::size_t i = 0; i < points.size(); ++i, c += 3) points[i] = {c[0], c[1], c[2]};
  return points;
}

Float PointCache::SampleFrame(Int64 s, Float fps) const {
  if (format == PointCacheFormat::kMdd) {
    // Seconds in float32 rarely give whole frames exactly; that close to one they are meant to.
    const Float frame = Float{times[static_cast<std::size_t>(s)]} * fps;
    const Float whole = std::round(frame);
    return std::fabs(frame - whole) < kFrameTolerance ? whole : frame;
  }
  return Float{startFrame} + static_cast<Float>(s) * Float{sampleRate};
}

std::optional<PointCacheFormat> PointCacheFormatOf(const std::string& path) {
  std::string extension = std::filesystem::path(path).extension().string();
  std::transform(extension.begin(), extension.end(), extension.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  if (extension == ".pc2") return PointCacheFormat::kPc2;
  if (extension == ".mdd") return PointCacheFormat::kMdd;
  return std::nullopt;
}

PointCache ParsePointCache(std::span<const std::byte> bytes, PointCacheFormat format,
                           const std::string& name) {
  PointCache cache;
  const auto [header, samples] = ParseHeader(bytes, format, name, cache);
  ReadCoordinates(bytes, header, cache.pointCount, samples, format == PointCacheFormat::kMdd, name,
                  cache);
  return cache;
}

namespace {

// Refuses a cache larger than the machine's memory, before any of it is read.
void RefuseBeyondMemory(const CacheHeader& header, std::uint64_t total, const std::string& path) {
  const std::uint64_t memory = platform::PhysicalMemoryBytes();
  if (memory != 0 && total > memory)
    Fail(path, "the header gives " + std::to_string(header.samples) + " samples of " +
                   std::to_string(header.points) + " points, " + std::to_string(total >> 20) +
                   " MiB, more than the " + std::to_string(memory >> 20) +
                   " MiB of this machine's memory");
}

std::size_t HeaderStart(PointCacheFormat format) {
  return format == PointCacheFormat::kPc2 ? kPc2Header : kMddHeader;
}

std::span<const std::byte> AsBytes(const std::string& bytes) {
  return std::as_bytes(std::span<const char>(bytes));
}

// Coordinates read and written a piece at a time: whole points, 192 KiB.
constexpr std::size_t kCoordinatePiece = 12 * (std::size_t{1} << 14);

// ReadPointCache's work once `bytes` holds the first bytes of `in`, which announce `header`.
PointCache ReadWhole(InputFile& in, std::string& bytes, const std::optional<CacheHeader>& header,
                     PointCacheFormat format, const std::string& path) {
  if (header) {
    const std::uint64_t total = header->Total();
    if (in.Size() && *in.Size() != total)
      CheckSize(*in.Size(), false, header->header, header->points, header->samples, path);
    RefuseBeyondMemory(*header, total, path);
    in.Read(total + 1 - bytes.size(), bytes);
    if (bytes.size() > total)
      CheckSize(bytes.size(), true, header->header, header->points, header->samples, path);
  }
  return ParsePointCache(AsBytes(bytes), format, path);
}

}  // namespace

PointCache ReadPointCache(const std::string& path) {
  const std::optional<PointCacheFormat> format = PointCacheFormatOf(path);
  if (!format) Fail(path, "not a point cache name (.pc2 or .mdd)");
  // The header first, then exactly what it announces and one byte more: a forged header or an
  // endless stream costs no more than the cache it claims to be.
  InputFile in(path);
  std::string bytes;
  in.Read(HeaderStart(*format), bytes);
  return ReadWhole(in, bytes, AnnouncedHeader(AsBytes(bytes), *format), *format, path);
}

PointCacheSamples::PointCacheSamples(const std::string& path, std::stop_token stop) : path_(path) {
  const std::optional<PointCacheFormat> format = PointCacheFormatOf(path);
  if (!format) Fail(path, "not a point cache name (.pc2 or .mdd)");
  std::optional<CacheHeader> header;
  {
    InputFile in(path);
    std::string bytes;
    in.Read(HeaderStart(*format), bytes);
    header = AnnouncedHeader(AsBytes(bytes), *format);
    // What is not a whole file of the size its header gives is read as ever, to be refused (or
    // held, from a pipe).
    if (!header || !in.Size() || *in.Size() != header->Total()) {
      timing_ = ReadWhole(in, bytes, header, *format, path);
      samples_ = timing_.SampleCount();
      return;
    }
    RefuseBeyondMemory(*header, header->Total(), path);
    in.Read(header->header - bytes.size(), bytes);
    const auto [start, samples] = ParseHeader(AsBytes(bytes), *format, path, timing_);
    CheckSize(*in.Size(), false, start, timing_.pointCount, samples, path);
    // Every coordinate is checked before the first sample is handed out.
    const std::uint64_t count = header->Total() - start;
    std::vector<Float32> piece;
    for (std::uint64_t done = 0; done < count;) {
      if (stop.stop_requested()) Fail(path, "opening stopped");
      bytes.clear();
      const std::uint64_t want = std::min<std::uint64_t>(kCoordinatePiece, count - done);
      if (in.Read(want, bytes) != want) Fail(path, "cannot read: the file ended early");
      piece.resize(static_cast<std::size_t>(want / 4));
      LoadCoordinates(reinterpret_cast<const std::byte*>(bytes.data()), done / 4, piece,
                      timing_.pointCount, *format == PointCacheFormat::kMdd, path);
      done += want;
    }
    samples_ = samples;
  }
  in_ = std::make_unique<InputFile>(path);
  start_ = header->header;
  std::string skipped;
  in_->Read(header->header, skipped);
}

PointCacheSamples::~PointCacheSamples() = default;

void PointCacheSamples::Read(Int64 s, std::vector<Vector3>& points) {
  if (!in_) {
    points = timing_.Sample(s);
    return;
  }
  const std::size_t count = static_cast<std::size_t>(timing_.pointCount);
  if (s != next_ && !in_->Seek(start_ + static_cast<std::uint64_t>(s) * count * 12))
    Fail(path_, "cannot read: the file cannot be sought in");
  points.resize(count);
  std::string bytes;
  std::vector<Float32> piece;
  const bool big = timing_.format == PointCacheFormat::kMdd;
  for (std::size_t done = 0; done < count;) {
    const std::size_t want = std::min(kCoordinatePiece / 12, count - done);
    bytes.clear();
    if (in_->Read(want * 12, bytes) != want * 12)
      Fail(path_, "cannot read: the file is shorter than when it was opened");
    piece.resize(want * 3);
    LoadCoordinates(reinterpret_cast<const std::byte*>(bytes.data()),
                    (static_cast<std::uint64_t>(s) * count + done) * 3, piece, timing_.pointCount,
                    big, path_);
    for (std::size_t i = 0; i < want; ++i)
      points[done + i] = {piece[3 * i], piece[3 * i + 1], piece[3 * i + 2]};
    done += want;
  }
  next_ = s + 1;
}

namespace {

// The bytes before the coordinates.
std::vector<std::byte> HeaderBytes(const PointCache& cache, Int64 samples, std::size_t capacity) {
  std::vector<std::byte> out;
  out.reserve(capacity);
  if (cache.format == PointCacheFormat::kMdd) {
    Store32(out, static_cast<std::uint32_t>(samples), true);
    Store32(out, static_cast<std::uint32_t>(cache.pointCount), true);
    for (Float32 t : cache.times) StoreFloat(out, t, true);
  } else {
    for (char c : kPc2Signature) out.push_back(static_cast<std::byte>(c));
    Store32(out, 1, false);
    Store32(out, static_cast<std::uint32_t>(cache.pointCount), false);
    StoreFloat(out, cache.startFrame, false);
    StoreFloat(out, cache.sampleRate, false);
    Store32(out, static_cast<std::uint32_t>(samples), false);
  }
  return out;
}

}  // namespace

std::vector<std::byte> PointCacheBytes(const PointCache& cache) {
  std::vector<std::byte> out =
      HeaderBytes(cache, cache.SampleCount(),
                  kPc2Header + 4 * static_cast<std::size_t>(cache.SampleCount()) +
                      4 * cache.coordinates.size());
  const bool big = cache.format == PointCacheFormat::kMdd;
  StoreFloats(cache.coordinates, out, big);
  return out;
}

void WritePointCache(const std::string& path, const PointCache& cache) {
  // A MiB at a time: the cache is not held a second time as bytes.
  constexpr std::size_t kPiece = std::size_t{1} << 20;
  OutputFile file(path);
  const auto write = [&](const std::vector<std::byte>& bytes) {
    file.Write(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
  };
  write(HeaderBytes(cache, cache.SampleCount(), kPc2Header));
  const bool big = cache.format == PointCacheFormat::kMdd;
  const std::span<const Float32> coordinates(cache.coordinates);
  std::vector<std::byte> piece;
  piece.reserve(kPiece);
  for (std::size_t done = 0; done < coordinates.size(); done += kPiece / 4) {
    piece.clear();
    StoreFloats(coordinates.subspan(done, std::min(kPiece / 4, coordinates.size() - done)), piece,
                big);
    write(piece);
  }
  file.Commit();
}

namespace {

// Throws unless `points` may be sample `sample` of a cache of `pointCount` points (0: the first
// sample, which sets it).
void CheckSamplePoints(std::span<const Vector3> points, Int32 pointCount, Int64 sample) {
  if (sample == 0) {
    if (points.size() > static_cast<std::size_t>(std::numeric_limits<Int32>::max()))
      throw std::invalid_argument("too many points for a point cache");
  } else if (points.size() != static_cast<std::size_t>(pointCount)) {
    throw std::invalid_argument("a sample of " + std::to_string(points.size()) +
                                " points for a cache of " + std::to_string(pointCount));
  }
}

// Points [first, first + out.size() / 3) narrowed to float32 into `out`; throws naming the
// sample and the point whose coordinate does not fit.
void Narrow(std::span<const Vector3> points, std::size_t first, Int64 sample,
            std::span<Float32> out) {
  for (std::size_t k = 0; k < out.size() / 3; ++k) {
    const Vector3& p = points[first + k];
    out[3 * k] = static_cast<Float32>(p.x);
    out[3 * k + 1] = static_cast<Float32>(p.y);
    out[3 * k + 2] = static_cast<Float32>(p.z);
  }
  for (std::size_t k = 0; k < out.size(); ++k)
    if (!std::isfinite(out[k])) {
      const std::size_t i = first + k / 3;
      const Float v = k % 3 == 0 ? points[i].x : k % 3 == 1 ? points[i].y : points[i].z;
      throw std::invalid_argument("sample " + std::to_string(sample) + ", point " +
                                  std::to_string(i) + ": the coordinate " + ShortestNumber(v) +
                                  " does not fit in the float32 numbers a point cache holds");
    }
}

}  // namespace

void AppendSample(PointCache& cache, std::span<const Vector3> points) {
  const Int64 sample = cache.coordinates.empty() ? 0 : cache.SampleCount();
  CheckSamplePoints(points, cache.pointCount, sample);
  if (sample == 0) cache.pointCount = static_cast<Int32>(points.size());
  const std::size_t start = cache.coordinates.size();
  cache.coordinates.resize(start + 3 * points.size());
  try {
    Narrow(points, 0, sample, std::span<Float32>(cache.coordinates).subspan(start));
  } catch (...) {
    cache.coordinates.resize(start);
    throw;
  }
}

PointCacheWriter::PointCacheWriter(std::string path, PointCache timing, Int64 samples)
    : path_(std::move(path)), timing_(std::move(timing)), samples_(samples) {
  timing_.coordinates.clear();
}

PointCacheWriter::~PointCacheWriter() = default;

void PointCacheWriter::Append(std::span<const Vector3> points) {
  CheckSamplePoints(points, timing_.pointCount, written_);
  if (written_ == 0) timing_.pointCount = static_cast<Int32>(points.size());
  Open();
  // A piece at a time; a sample that does not fit leaves the file unfinished, never committed.
  const bool big = timing_.format == PointCacheFormat::kMdd;
  std::vector<Float32> narrow;
  std::vector<std::byte> piece;
  piece.reserve(kCoordinatePiece);
  for (std::size_t done = 0; done < points.size();) {
    const std::size_t count = std::min(kCoordinatePiece / 12, points.size() - done);
    narrow.resize(3 * count);
    Narrow(points, done, written_, narrow);
    piece.clear();
    StoreFloats(narrow, piece, big);
    file_->Write(std::string_view(reinterpret_cast<const char*>(piece.data()), piece.size()));
    done += count;
  }
  ++written_;
}

void PointCacheWriter::Open() {
  if (file_) return;
  file_ = std::make_unique<OutputFile>(path_);
  const std::vector<std::byte> header = HeaderBytes(timing_, samples_, kPc2Header);
  file_->Write(std::string_view(reinterpret_cast<const char*>(header.data()), header.size()));
}

void PointCacheWriter::Commit() {
  if (written_ != samples_)
    throw std::logic_error(path_ + ": " + std::to_string(written_) + " samples written of " +
                           std::to_string(samples_));
  Open();  // a cache of no sample is its header alone
  file_->Commit();
}

void SetCacheTiming(PointCache& cache, Int64 count, const std::function<Float(Int64)>& frame,
                    Float fps) {
  if (count <= 0) return;
  const auto refuse = [&](Int64 s, const std::string& why) {
    throw std::invalid_argument("sample " + std::to_string(s) + " at frame " +
                                ShortestNumber(frame(s)) + ": " + why);
  };
  if (cache.format == PointCacheFormat::kMdd) {
    cache.times.clear();
    for (Int64 s = 0; s < count; ++s) {
      const Float seconds = frame(s) / fps;
      const Float32 time = static_cast<Float32>(seconds);
      if (!std::isfinite(time))
        refuse(s, "its time, " + ShortestNumber(seconds) +
                      " s, does not fit in the float32 numbers an MDD holds");
      if (s > 0 && !(time > cache.times.back()))
        refuse(s, "its time in float32 (" + ShortestNumber(time) +
                      " s) is not after the one before; an MDD cannot tell the two apart");
      cache.times.push_back(time);
    }
    return;
  }
  const Float first = frame(0);
  const Float rate = count == 1 ? 1.0 : (frame(count - 1) - first) / static_cast<Float>(count - 1);
  const Float32 start32 = static_cast<Float32>(first);
  const Float32 rate32 = static_cast<Float32>(rate);
  if (!std::isfinite(start32) || !std::isfinite(rate32) || !(rate32 > 0.0f))
    refuse(count - 1, "a PC2 from frame " + ShortestNumber(first) +
                          " needs a start and rate beyond the float32 numbers it holds");
  for (Int64 s = 0; s < count; ++s) {
    const Float at = frame(s);
    const Float even = first + static_cast<Float>(s) * rate;
    if (!(std::fabs(at - even) <= kFrameTolerance))
      refuse(s, "a PC2 holds samples at even steps only, here frame " + ShortestNumber(even) +
                    " (every " + ShortestNumber(rate) + " frames from " + ShortestNumber(first) +
                    "); write an MDD, which keeps each time");
    const Float held = Float{start32} + static_cast<Float>(s) * Float{rate32};
    if (!(std::fabs(at - held) <= kFrameTolerance))
      refuse(s, "a PC2's float32 start and rate (" + ShortestNumber(start32) + ", " +
                    ShortestNumber(rate32) + ") would put it at frame " + ShortestNumber(held));
  }
  cache.startFrame = start32;
  cache.sampleRate = rate32;
}

void SetWholeFrameTiming(PointCache& cache, Int64 first, Int64 count, Float fps) {
  // One apart from an exact start, every later frame is exact too: two samples tell.
  const Int64 checked = cache.format == PointCacheFormat::kPc2 ? std::min<Int64>(count, 2) : count;
  SetCacheTiming(
      cache, checked, [first](Int64 s) { return static_cast<Float>(first + s); }, fps);
}

PointCache MakePointCache(PointCacheFormat format, const std::vector<std::vector<Vector3>>& samples,
                          Float firstFrame, Float fps) {
  PointCache cache;
  cache.format = format;
  SetCacheTiming(
      cache, static_cast<Int64>(samples.size()),
      [&](Int64 s) { return firstFrame + static_cast<Float>(s); }, fps);
  for (const std::vector<Vector3>& sample : samples) AppendSample(cache, sample);
  return cache;
}

}  // namespace headless
