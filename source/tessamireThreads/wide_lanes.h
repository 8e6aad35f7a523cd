// Four float64 lanes in one 256-bit register, for the square roots and divisions of the frame
// axes and of the length-weighted smoothing step. Built for that instruction set in a unit of its
// own and chosen at run time when the processor has it; the paired lanes serve otherwise. The
// operations are the same correctly rounded IEEE ones, so every lane's bits equal the one-point
// rule's whichever path runs.
#pragma once

#include "source/tessamireThreads/frame_lanes.h"

// The lanes the core's loops use.
enum class LaneWidth : Int32 { kPairs = 2, kWide = 4 };

// True when this build carries the wide code and the processor runs it.
Bool WideLanesAvailable();
// The width in use: wide when available, unless forced otherwise.
LaneWidth ActiveLaneWidth();
// Forces a width (tests and benchmarks compare the paths); kWide where it is not available
// leaves the pairs. Answers the width now in use.
LaneWidth ForceLaneWidth(LaneWidth width);

// What the length-weighted step of a point reads (see SmoothPoint): positions, the neighbour
// lists as offsets and indices, the vertex map's weights or null, and the strength.
struct LengthStepArrays {
  const Vector3* source;
  Vector3* destination;
  const Int64* start;
  const Int32* index;
  const Float32* weights;
  Float strength;
};

// The frame axes of four points in one register per component; bit for bit FrameAxesOf on each.
// Only to be called when WideLanesAvailable().
void FrameAxesOfFourWide(const FrameInput in[4], FrameAxes out[4]);
// The length-weighted steps of points i .. i + 3, each with at least one neighbour and not
// pinned; bit for bit SmoothPoint on each. Only to be called when WideLanesAvailable().
void LengthStepsWide(const LengthStepArrays& arrays, Int64 i);
