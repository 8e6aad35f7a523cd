// The core's loops run several points at once in float64 lanes: two in a 128-bit register (pairs),
// four in 256 bits or eight in 512 bits. Each width is one table of kernel functions, built in a
// unit of its own for its instruction set (lanes_128.cpp, lanes_256.cpp, lanes_512.cpp, the
// shared body in lane_formula.h and lane_steps.h), and the widest the build carries and the
// processor runs is chosen once per process. Every kernel performs the one-point rules'
// correctly rounded IEEE operations in their order, so every lane's bits equal the one-point
// result whichever width runs: the width changes the time only.
#pragma once

#include <cstdint>

#include "source/tessamireThreads/frame_lanes.h"

// The lanes the core's loops use, by the float64 values in one register.
enum class LaneWidth : Int32 { kPairs = 2, kWide = 4, kWide512 = 8 };

// What the smoothing step of a point reads (see SmoothPoint): positions, the neighbour lists as
// offsets and indices, the vertex map's weights or null, and the strength; and whether the
// destination bypasses the cache (only where a group's first point lies on the table's
// groupAlignment).
struct LengthStepArrays {
  const Vector3* source;
  Vector3* destination;
  const Int64* start;
  const Int32* index;
  const Float32* weights;
  Float strength;
  bool stream;
};

// One width's kernels. A null entry: the width has no kernel for it, and the loop takes the
// narrower table's, or goes point by point.
struct LaneKernels {
  LaneWidth width;
  // Points (or polygons) per call of frameAxes, decodedAxes and faceNormals, and per lengthSteps.
  Int32 framePoints;
  Int32 stepPoints;
  // Where the destination bypasses the cache, a group of length steps starts only on a multiple
  // of this many bytes, so that its stores fill whole lines.
  std::uintptr_t groupAlignment;
  // Whether this width's smoothing stores may bypass the cache (see StreamsStores).
  bool streams;
  // The axes of framePoints points; bit for bit FrameAxesOf on each.
  void (*frameAxes)(const FrameInput* in, FrameAxes* out);
  // The axes of framePoints points, each decoding its point's difference in place as
  // DecodeInPlace does (bit for bit); answers how many results were not finite.
  Int32 (*decodedAxes)(const FrameInput* in, Vector3* points, const Vector3* differences);
  // The normals of framePoints polygons; bit for bit FaceNormal on each.
  void (*faceNormals)(const Vector3* positions, const CPolygon* polygons, Vector3* normals);
  // The length-weighted steps of points i .. i + stepPoints - 1, each with at least one neighbour
  // and not pinned; bit for bit SmoothPoint on each.
  void (*lengthSteps)(const LengthStepArrays& arrays, Int64 i);
  // The uniform steps of points [begin, end), those whose `pinned` flag is 1 keeping their place
  // (`pinned` null: none); bit for bit SmoothPoint on each.
  void (*uniformSteps)(const LengthStepArrays& arrays, const std::uint8_t* pinned, Int64 begin,
                       Int64 end);
  // Makes the stores that bypassed the cache visible before anything this thread writes after it;
  // every loop body that streamed calls it before it returns, so the loop's join publishes them.
  void (*fence)();
  // The table whose groups take what is left before single points: 512 -> 256 -> 128.
  const LaneKernels* narrower;
};

// Each width's table; null where the build does not carry the width (the pairs always exist).
// Only to be called through where the processor runs the width (LaneWidthAvailable).
const LaneKernels& Lanes128();
const LaneKernels* Lanes256();
const LaneKernels* Lanes512();

// True when this build carries the width's code (the pairs always; the wider ones on x86-64
// builds with gcc or clang, but not Windows).
Bool BuildCarriesLaneWidth(LaneWidth width);
// True when the processor runs the width's instructions and the system saves their registers.
Bool ProcessorHasLaneWidth(LaneWidth width);
// Both: the width may be chosen.
Bool LaneWidthAvailable(LaneWidth width);
// The table of a width, or null when it is not available.
const LaneKernels* KernelsOf(LaneWidth width);

// The table in use: the widest available, chosen at the first call, or the forced one.
const LaneKernels& ActiveLanes();
inline LaneWidth ActiveLaneWidth() {
  return ActiveLanes().width;
}
// Forces a width for the whole process (tests and benchmarks compare the widths; nothing else
// calls it): where it is not available the widest available below it is used. Answers the width
// now in use.
LaneWidth ForceLaneWidth(LaneWidth width);
// Lets the processor decide again: the widest available.
LaneWidth UnforceLaneWidth();

// Smoothed points the wide lanes write into an array of at least this many bytes go out with
// stores that bypass the cache: such an array outgrows the cache along with what the pass reads,
// and an ordinary store reads every line in before it overwrites it. A smaller array is read back
// from the cache by the next pass, so it is stored as usual. (The face normals stay in the cache:
// the frames read them straight after, and bypassing it there measured slower.)
inline constexpr Int64 kStreamingBytes = Int64{8} << 20;
// The chunk a loop that streams its stores hands each worker: every chunk ends with a fence, so it
// must be long enough for the fence to cost nothing much.
inline constexpr Int64 kStreamingChunk = 4096;

// Whether an array of `count` Vector3 written with `lanes` bypasses the cache.
inline bool StreamsStores(const LaneKernels& lanes, Int64 count) {
  return lanes.streams && count * Int64{sizeof(Vector3)} >= kStreamingBytes;
}
