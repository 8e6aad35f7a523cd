// Four float64 lanes in one 256-bit register, or eight in one 512-bit register, for the square
// roots and divisions of the frame axes and of the length-weighted smoothing step. Each width is
// built for its instruction set in a unit of its own and chosen at run time when the processor
// has it; the paired lanes (128 bits) serve otherwise. The operations are the same correctly
// rounded IEEE ones in the same order, so every lane's bits equal the one-point rule's whichever
// width runs.
#pragma once

#include <cstdint>

#include "source/tessamireThreads/frame_lanes.h"

// The lanes the core's loops use, by the float64 values in one register.
enum class LaneWidth : Int32 { kPairs = 2, kWide = 4, kWide512 = 8 };

// True when this build carries the width's code (the pairs always; the wider ones on x86-64
// builds with gcc or clang, but not Windows).
Bool BuildCarriesLaneWidth(LaneWidth width);
// True when the processor runs the width's instructions and the system saves their registers.
Bool ProcessorHasLaneWidth(LaneWidth width);
// Both: the width may be chosen.
Bool LaneWidthAvailable(LaneWidth width);
// LaneWidthAvailable(LaneWidth::kWide).
Bool WideLanesAvailable();
// The width in use: the widest available, or the forced one (see ForceLaneWidth). At the first
// call, the environment variable TESSAMIRE_LANE_WIDTH (128, 256 or 512 bits) forces a width as
// ForceLaneWidth does, so that a whole program can be run in each width.
LaneWidth ActiveLaneWidth();
// Forces a width (tests and benchmarks compare the paths): where it is not available the widest
// available below it is used. Answers the width now in use.
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

// Whether an array of `count` Vector3 written in `width` bypasses the cache.
inline bool StreamsStores(LaneWidth width, Int64 count) {
  return width != LaneWidth::kPairs && count * Int64{sizeof(Vector3)} >= kStreamingBytes;
}
// Makes the stores that bypassed the cache visible before anything this thread writes after it;
// every loop body that streamed calls it before it returns, so the loop's join publishes them.
void FenceStreamedStores();

// What the smoothing step of a point reads (see SmoothPoint): positions, the neighbour lists as
// offsets and indices, the vertex map's weights or null, and the strength; and whether the
// destination bypasses the cache (only where a group's first point lies on the register's
// alignment: 32 bytes for four lanes, 64 for eight).
struct LengthStepArrays {
  const Vector3* source;
  Vector3* destination;
  const Int64* start;
  const Int32* index;
  const Float32* weights;
  Float strength;
  bool stream;
};

// The frame axes of four points in one register per component; bit for bit FrameAxesOf on each.
// Only to be called when WideLanesAvailable().
void FrameAxesOfFourWide(const FrameInput in[4], FrameAxes out[4]);
// The length-weighted steps of points i .. i + 3, each with at least one neighbour and not
// pinned; bit for bit SmoothPoint on each. Only to be called when WideLanesAvailable().
void LengthStepsWide(const LengthStepArrays& arrays, Int64 i);
// The uniform steps of points [begin, end), those whose `pinned` flag is 1 keeping their place
// (`pinned` null: none); bit for bit SmoothPoint on each. Only to be called when
// WideLanesAvailable().
void UniformStepsWide(const LengthStepArrays& arrays, const std::uint8_t* pinned, Int64 begin,
                      Int64 end);
// The same in 512-bit lanes, eight points (or polygons) where the ones above take four. Only to
// be called when LaneWidthAvailable(LaneWidth::kWide512).
void FrameAxesOfEight512(const FrameInput in[8], FrameAxes out[8]);
void LengthSteps512(const LengthStepArrays& arrays, Int64 i);
void UniformSteps512(const LengthStepArrays& arrays, const std::uint8_t* pinned, Int64 begin,
                     Int64 end);

// The normals of polygons[0 .. 3] (of the 512-bit lanes: [0 .. 7]) from `positions` into
// normals[0 .. 3] (or 7); bit for bit FaceNormal on each. Only to be called where the width is
// available.
void FaceNormalsWide(const Vector3* positions, const CPolygon* polygons, Vector3* normals);
void FaceNormals512(const Vector3* positions, const CPolygon* polygons, Vector3* normals);

// The frames of points 0 .. 3 (of the 512-bit lanes: 0 .. 7) from `in`, each decoding its point's
// difference in place as DecodeInPlace does: bit for bit its results on each. Answers how many
// results were not finite. Only to be called where the width is available.
Int32 DecodedAxesWide(const FrameInput in[4], Vector3* points, const Vector3* differences);
Int32 DecodedAxes512(const FrameInput in[8], Vector3* points, const Vector3* differences);
