#include "headless/io/page.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <stdexcept>

#include "headless/files/output_file.h"
#include "headless/picture/colour_scale.h"

namespace headless {
namespace {

constexpr std::string_view kDataMarker = "/*tessamire:data*/";
constexpr Float kCodeMax = 65535.0;
// Detail kept travels as 8-bit codes over 0 .. the kept scale's top.
constexpr Float kKeptCodeMax = 255.0;

// Little-endian bytes of plain values.
template <typename T>
std::string Base64Of(std::span<const T> values) {
  std::vector<std::uint8_t> bytes(values.size() * sizeof(T));
  for (size_t i = 0; i < values.size(); ++i) {
    std::uint8_t raw[sizeof(T)];
    std::memcpy(raw, &values[i], sizeof(T));
    // The page reads little-endian; every target of this build is little-endian, which the
    // static_assert below keeps true.
    std::copy(raw, raw + sizeof(T), bytes.begin() + static_cast<std::ptrdiff_t>(i * sizeof(T)));
  }
  return Base64(bytes);
}
static_assert(std::endian::native == std::endian::little, "the page's arrays are little-endian");

std::string Number(Float value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.17g", value);
  return text;
}

std::string Triple(const Vector3& v) {
  return "[" + Number(v.x) + "," + Number(v.y) + "," + Number(v.z) + "]";
}

std::string ScaleJson(const ColourScale& scale, const std::string& title) {
  std::string json = "{\"stops\":[";
  for (size_t i = 0; i < scale.stops.size(); ++i) {
    const ColourStop& s = scale.stops[i];
    json += (i ? ",[" : "[") + Number(s.at) + "," + std::to_string(s.rgb.r) + "," +
            std::to_string(s.rgb.g) + "," + std::to_string(s.rgb.b) + "]";
  }
  json += "],\"ticks\":[";
  for (size_t i = 0; i < scale.ticks.size(); ++i)
    json += (i ? ",[" : "[") + Number(scale.ticks[i].first) + "," +
            JsonString(scale.ticks[i].second) + "]";
  return json + "],\"title\":" + JsonString(title) + ",\"note\":" + JsonString(scale.note);
}

}  // namespace

std::string Base64(std::span<const std::uint8_t> bytes) {
  static const char kDigits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  out.reserve((bytes.size() + 2) / 3 * 4);
  size_t i = 0;
  for (; i + 3 <= bytes.size(); i += 3) {
    const std::uint32_t v =
        (std::uint32_t{bytes[i]} << 16) | (std::uint32_t{bytes[i + 1]} << 8) | bytes[i + 2];
    for (int shift : {18, 12, 6, 0}) out += kDigits[(v >> shift) & 63];
  }
  if (i < bytes.size()) {
    const bool two = i + 1 < bytes.size();
    const std::uint32_t v =
        (std::uint32_t{bytes[i]} << 16) | (two ? std::uint32_t{bytes[i + 1]} << 8 : 0);
    out += kDigits[(v >> 18) & 63];
    out += kDigits[(v >> 12) & 63];
    out += two ? kDigits[(v >> 6) & 63] : '=';
    out += '=';
  }
  return out;
}

std::string JsonString(std::string_view text) {
  std::string out = "\"";
  for (const char c : text) {
    const auto u = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (u < 0x20 || c == '<' || c == '>' || c == '&') {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", u);
      out += escaped;
    } else {
      out += c;
    }
  }
  return out + "\"";
}

QuantisedPoints QuantisePoints(std::span<const Vector3> points) {
  QuantisedPoints q;
  if (points.empty()) return q;
  Vector3 lo = points.front(), hi = lo;
  for (const Vector3& p : points) {
    if (!std::isfinite(p.x) || !std::isfinite(p.y) || !std::isfinite(p.z))
      throw std::invalid_argument("a point of the page is not finite");
    lo = {std::min(lo.x, p.x), std::min(lo.y, p.y), std::min(lo.z, p.z)};
    hi = {std::max(hi.x, p.x), std::max(hi.y, p.y), std::max(hi.z, p.z)};
  }
  q.min = lo;
  q.step = {(hi.x - lo.x) / kCodeMax, (hi.y - lo.y) / kCodeMax, (hi.z - lo.z) / kCodeMax};
  auto code = [](Float x, Float min, Float step) {
    if (!(step > 0.0)) return std::uint16_t{0};
    return static_cast<std::uint16_t>(std::clamp(std::round((x - min) / step), 0.0, kCodeMax));
  };
  q.codes.resize(points.size() * 3);
  for (size_t i = 0; i < points.size(); ++i) {
    q.codes[3 * i] = code(points[i].x, lo.x, q.step.x);
    q.codes[3 * i + 1] = code(points[i].y, lo.y, q.step.y);
    q.codes[3 * i + 2] = code(points[i].z, lo.z, q.step.z);
  }
  return q;
}

std::vector<Vector3> DecodePoints(const QuantisedPoints& q) {
  std::vector<Vector3> points(q.codes.size() / 3);
  for (size_t i = 0; i < points.size(); ++i)
    points[i] = {q.min.x + q.codes[3 * i] * q.step.x, q.min.y + q.codes[3 * i + 1] * q.step.y,
                 q.min.z + q.codes[3 * i + 2] * q.step.z};
  return points;
}

PageBuilder::PageBuilder(std::string title) : title_(std::move(title)) {}

PageBuilder::Input& PageBuilder::At(Int32 input) {
  if (input < 0 || input >= InputCount())
    throw std::invalid_argument("the page has no input " + std::to_string(input));
  return inputs_[static_cast<size_t>(input)];
}

Int32 PageBuilder::AddInput(std::string name, Int64 pointCount, std::span<const CPolygon> polygons,
                            Int32 group) {
  if (pointCount <= 0) throw std::invalid_argument(name + ": no points to show");
  for (const CPolygon& p : polygons)
    for (Int32 index : {p.a, p.b, p.c, p.d})
      if (index < 0 || index >= pointCount)
        throw std::invalid_argument(name + ": a polygon names point " + std::to_string(index) +
                                    " of " + std::to_string(pointCount));
  Input input;
  input.name = std::move(name);
  input.group = group >= 0 ? group : InputCount();
  input.pointCount = pointCount;
  auto same = [&](const Topology& t) {
    return t.pointCount == pointCount &&
           std::equal(t.polygons.begin(), t.polygons.end(), polygons.begin(), polygons.end(),
                      [](const CPolygon& u, const CPolygon& v) {
                        return u.a == v.a && u.b == v.b && u.c == v.c && u.d == v.d;
                      });
  };
  const auto found = std::find_if(topologies_.begin(), topologies_.end(), same);
  input.topology = static_cast<Int32>(found - topologies_.begin());
  if (found == topologies_.end())
    topologies_.push_back({pointCount, std::vector<CPolygon>(polygons.begin(), polygons.end())});
  inputs_.push_back(std::move(input));
  return InputCount() - 1;
}

void PageBuilder::AddFrame(Int32 index, Float frame, std::span<const Vector3> points,
                           std::span<const Float> kept) {
  Input& input = At(index);
  if (static_cast<Int64>(points.size()) != input.pointCount)
    throw std::invalid_argument(input.name + ": a frame of " + std::to_string(points.size()) +
                                " points for a mesh of " + std::to_string(input.pointCount));
  if (!std::isfinite(frame) || (!input.frames.empty() && !(frame > input.frames.back())))
    throw std::invalid_argument(input.name + ": frame " + Number(frame) +
                                " does not follow the frames before it");
  if (!kept.empty() && kept.size() != points.size())
    throw std::invalid_argument(input.name + ": " + std::to_string(kept.size()) +
                                " detail values for " + std::to_string(points.size()) + " points");
  if (!input.frames.empty() && kept.empty() != input.kept.empty())
    throw std::invalid_argument(input.name + ": the detail kept is given for some frames only");
  const QuantisedPoints q = QuantisePoints(points);
  input.positions.push_back("{\"min\":" + Triple(q.min) + ",\"step\":" + Triple(q.step) +
                            ",\"data\":\"" + Base64Of<std::uint16_t>(q.codes) + "\"}");
  if (!kept.empty()) {
    const Float top = KeptScale().stops.back().at;
    std::vector<std::uint8_t> codes(kept.size());
    for (size_t i = 0; i < kept.size(); ++i)
      codes[i] = std::isfinite(kept[i]) ? static_cast<std::uint8_t>(std::round(
                                              std::clamp(kept[i], 0.0, top) / top * kKeptCodeMax))
                                        : static_cast<std::uint8_t>(kKeptCodeMax);
    input.kept.push_back(Base64(codes));
  }
  input.frames.push_back(frame);
  bytes_ += static_cast<Int64>(input.positions.back().size()) +
            (input.kept.empty() ? 0 : static_cast<Int64>(input.kept.back().size()));
  if (bytes_ > kMaxPageDataBytes)
    throw std::runtime_error("the page's data passes " +
                             std::to_string(kMaxPageDataBytes / 1000000) + " MB at " + input.name +
                             " frame " + Number(frame) +
                             ", more than a browser opens: show fewer frames or inputs");
}

void PageBuilder::SetWeights(Int32 index, std::span<const Float32> weights) {
  Input& input = At(index);
  if (static_cast<Int64>(weights.size()) != input.pointCount)
    throw std::invalid_argument(input.name + ": " + std::to_string(weights.size()) +
                                " weights for " + std::to_string(input.pointCount) + " points");
  input.weights = Base64Of<Float32>(weights);
}

void PageBuilder::SetUp(char axis) {
  if (axis != 'y' && axis != 'z') throw std::invalid_argument("the up axis is y or z");
  up_ = axis;
}

void PageBuilder::SetFocus(const Vector3& min, const Vector3& max) {
  focus_ = {{min, max}};
}

void PageBuilder::SetViewDirection(const Vector3& towardsCamera) {
  if (!(std::fabs(towardsCamera.x) + std::fabs(towardsCamera.y) + std::fabs(towardsCamera.z) > 0.0))
    throw std::invalid_argument("a view direction cannot be 0");
  viewDirection_ = towardsCamera;
}

void PageBuilder::SetDistanceReference(Int32 input) {
  At(input);
  distanceReference_ = input;
}

void PageBuilder::SetFps(Float fps) {
  if (!(fps > 0.0) || !std::isfinite(fps)) throw std::invalid_argument("fps must be above 0");
  fps_ = fps;
}

void PageBuilder::SetKeptTitle(std::string title) {
  keptTitle_ = std::move(title);
}

std::string PageBuilder::Json() const {
  std::string json = "{\"format\":\"tessamire-view 1\",\"title\":" + JsonString(title_) +
                     ",\"up\":\"" + up_ + "\",\"fps\":" + Number(fps_) +
                     ",\"distanceReference\":" + std::to_string(distanceReference_);
  if (focus_)
    json +=
        ",\"focus\":{\"min\":" + Triple(focus_->first) + ",\"max\":" + Triple(focus_->second) + "}";
  if (viewDirection_) json += ",\"view\":" + Triple(*viewDirection_);
  json += ",\"scales\":{\"kept\":" + ScaleJson(KeptScale(), keptTitle_) +
          ",\"max\":" + Number(KeptScale().stops.back().at) +
          ",\"codeMax\":" + Number(kKeptCodeMax) +
          "},\"distance\":" + ScaleJson(DistanceScale(), "distance to") +
          "},\"weights\":" + ScaleJson(WeightScale(), "weights") + "}}";
  json += ",\"topologies\":[";
  for (size_t t = 0; t < topologies_.size(); ++t) {
    std::vector<Int32> indices;
    indices.reserve(topologies_[t].polygons.size() * 4);
    for (const CPolygon& p : topologies_[t].polygons)
      indices.insert(indices.end(), {p.a, p.b, p.c, p.d});
    json += std::string(t ? "," : "") + "{\"points\":" + std::to_string(topologies_[t].pointCount) +
            ",\"polygons\":\"" + Base64Of<Int32>(indices) + "\"}";
  }
  json += "],\"inputs\":[";
  for (size_t i = 0; i < inputs_.size(); ++i) {
    const Input& input = inputs_[i];
    if (input.frames.empty()) throw std::invalid_argument(input.name + ": no frame to show");
    json += std::string(i ? "," : "") + "{\"name\":" + JsonString(input.name) +
            ",\"topology\":" + std::to_string(input.topology) + ",\"frames\":[";
    for (size_t f = 0; f < input.frames.size(); ++f)
      json += (f ? "," : "") + Number(input.frames[f]);
    json += "],\"group\":" + std::to_string(input.group) + ",\"positions\":[";
    for (size_t f = 0; f < input.positions.size(); ++f)
      json += (f ? ",\n" : "\n") + input.positions[f];
    json += "]";
    if (!input.kept.empty()) {
      json += ",\"kept\":[";
      for (size_t f = 0; f < input.kept.size(); ++f)
        json += (f ? ",\"" : "\"") + input.kept[f] + "\"";
      json += "]";
    }
    if (!input.weights.empty()) json += ",\"weights\":\"" + input.weights + "\"";
    json += "}";
  }
  return json + "]}";
}

std::string PageBuilder::Text(std::string_view pageTemplate) const {
  const size_t at = pageTemplate.find(kDataMarker);
  if (at == std::string_view::npos ||
      pageTemplate.find(kDataMarker, at + 1) != std::string_view::npos)
    throw std::invalid_argument("the page template needs its data marker exactly once");
  if (inputs_.empty()) throw std::invalid_argument("a page needs an input");
  std::string page(pageTemplate.substr(0, at));
  page += Json();
  page += pageTemplate.substr(at + kDataMarker.size());
  return page;
}

void PageBuilder::Write(const std::string& path, std::string_view pageTemplate) const {
  WriteFileAtomically(path, Text(pageTemplate));
}

}  // namespace headless
