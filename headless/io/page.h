// The page `tessamire view` writes: one self-contained HTML file holding the viewer (web/, built
// into the program and handed in here as the page's template) and the data of its inputs, so
// that any browser opens it from a file with nothing fetched.
//
// The data is one JSON object in the template's "/*tessamire:data*/" marker:
// - `topologies`: per distinct polygon list, its point count and its polygons as base64 of
//   little-endian int32, four per polygon (a triangle repeats its third index), shared by the
//   inputs that have the same list;
// - `inputs`: per input its name, topology, group (inputs of one group share a panel), the frame
//   numbers of its frames (ascending; one frame for a still mesh) and per frame its positions,
//   quantised within the frame's own bounds: per axis `min` and `step` = (max - min) / 65535, and
//   every coordinate as the 16-bit code round((x - min) / step), base64 of little-endian uint16, x
//   y z per point. The page reads back min + code * step, within step / 2 of the written coordinate
//   (plus float64 rounding), a precision of 1 / 131070 of the frame's extent along that axis; a
//   flat axis (step 0) is exact. Normals are not stored: the page computes them. Optionally per
//   frame the detail kept per point as 8-bit codes over 0 .. 1.5 (base64), and per point weights as
//   float32 (base64);
// - `scales`: the colour scales (headless/picture/colour_scale.h) with their legends' text;
// - `up` ("y" or "z"), `fps` (playback), `title`, an optional `focus` box to frame first, an
//   optional `view` direction towards the camera, and the input the distance mode compares with
//   (`distanceReference`).
// Text in the JSON escapes '<', '>' and '&', so the data can never end its <script> element.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "host/abi/types.h"

namespace headless {

// One frame's positions as the page stores them.
struct QuantisedPoints {
  Vector3 min;
  Vector3 step;                      // per axis, (max - min) / 65535
  std::vector<std::uint16_t> codes;  // x, y, z per point
};

// Quantises `points` within their bounds. Throws std::invalid_argument for a coordinate that is
// not finite. No points give min and step 0 and no codes.
QuantisedPoints QuantisePoints(std::span<const Vector3> points);
// The positions the page reads back: min + code * step per axis.
std::vector<Vector3> DecodePoints(const QuantisedPoints& quantised);

// Past this many bytes of data a page would not open: browsers hold the data as one string, and
// cap a string's length at about half a gigabyte.
inline constexpr Int64 kMaxPageDataBytes = 400'000'000;

// The page's data, gathered input by input and frame by frame; each frame is encoded as it comes,
// so only the encoded form (about 8 bytes per point and frame) is kept. AddFrame throws
// std::runtime_error once the data passes kMaxPageDataBytes.
class PageBuilder {
 public:
  explicit PageBuilder(std::string title);

  // A new input over `pointCount` points and `polygons` (indices checked); answers its index.
  // Inputs of one `group` (the meshes of one character) are drawn together in one panel; a
  // negative group gives the input a panel of its own. Throws std::invalid_argument for an index
  // outside the points or no points.
  Int32 AddInput(std::string name, Int64 pointCount, std::span<const CPolygon> polygons,
                 Int32 group = -1);
  // Adds a frame to `input`: `frame` after its last frame's, one point per point, and the detail
  // kept per point either for every frame of the input or for none. Throws std::invalid_argument
  // naming the input and the fault.
  void AddFrame(Int32 input, Float frame, std::span<const Vector3> points,
                std::span<const Float> kept = {});
  // Per-point weights of `input` (one per point).
  void SetWeights(Int32 input, std::span<const Float32> weights);

  // Which axis is up at first ('y' or 'z').
  void SetUp(char axis);
  // The box to frame at first, in the meshes' coordinates (default: every input).
  void SetFocus(const Vector3& min, const Vector3& max);
  // Where the camera looks from at first: a direction from the meshes towards the camera, in
  // the meshes' coordinates (default: the pictures' three-quarter view).
  void SetViewDirection(const Vector3& towardsCamera);
  void SetDistanceReference(Int32 input);
  void SetFps(Float fps);
  // The legend's title of the detail kept (e.g. "detail kept against rest.obj").
  void SetKeptTitle(std::string title);

  Int32 InputCount() const { return static_cast<Int32>(inputs_.size()); }
  // The page: `pageTemplate` with the data in its marker. Throws std::invalid_argument when the
  // template has no marker or an input has no frame.
  std::string Text(std::string_view pageTemplate) const;
  // Writes the page to `path` atomically.
  void Write(const std::string& path, std::string_view pageTemplate) const;

 private:
  struct Input {
    std::string name;
    Int32 topology = 0;
    Int32 group = 0;
    Int64 pointCount = 0;
    std::vector<Float> frames;
    std::vector<std::string> positions;  // JSON of each frame's quantised points
    std::vector<std::string> kept;       // base64 per frame
    std::string weights;                 // base64
  };
  struct Topology {
    Int64 pointCount = 0;
    std::vector<CPolygon> polygons;
  };

  std::string Json() const;
  Input& At(Int32 input);

  std::string title_;
  char up_ = 'y';
  std::optional<std::pair<Vector3, Vector3>> focus_;
  std::optional<Vector3> viewDirection_;
  Int32 distanceReference_ = 0;
  Float fps_ = 24.0;
  std::string keptTitle_ = "detail kept";
  std::vector<Topology> topologies_;
  std::vector<Input> inputs_;
  Int64 bytes_ = 0;  // of the encoded frames and weights so far
};

// Base64 (RFC 4648, with padding) of `bytes`.
std::string Base64(std::span<const std::uint8_t> bytes);
// `text` as a JSON string, quotes included, with '<', '>' and '&' escaped too.
std::string JsonString(std::string_view text);

}  // namespace headless
