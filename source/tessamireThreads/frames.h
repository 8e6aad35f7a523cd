// Local frames of the smoothed mesh and the encoding of points as differences in them.
#pragma once

#include <atomic>
#include <span>

#include "host/binding/services.h"
#include "source/tessamireThreads/frame.h"

// Arrays travel as spans: `smoothed` holds one position per point, `frames` one frame per point,
// `normals` one normal per polygon; `polygons` index into `smoothed` (checked before a run builds
// anything, see PolygonIndicesInRange).

// Normal of one polygon from the positions P: quad (c != d) normalise((P[b] - P[d]) x
// (P[c] - P[a])), the diagonals b-d first; triangle (c == d) normalise((P[b] - P[a]) x
// (P[c] - P[a])). A vanishing cross product gives the zero vector.
Vector3 FaceNormal(std::span<const Vector3> positions, const CPolygon& polygon);

// Pass 1, parallel over points: frames[i].origin = smoothed[i]. Writes only the origins.
void ComputeOrigins(std::span<const Vector3> smoothed, std::span<Frame> frames);

// Pass 2, parallel over polygons: normals[j] = FaceNormal(smoothed, polygons[j]).
void ComputeFaceNormals(std::span<const Vector3> smoothed, std::span<const CPolygon> polygons,
                        std::span<Vector3> normals);

// Frame axes of point i, from the smoothed positions (the frames' origins), the face normals and
// the polygons around i as the adjacency lists them (count n):
//  axis3 = normalise((sum of the face normals in list order, from zero) * (1 / n, or 1 when
//  n = 0)); with the first polygon's PolygonCorners (o1, o2), both >= 0:
//  t = normalise((P[i] - P[o2]) + (P[o1] - P[i])), axis1 = normalise(axis3 x t),
//  axis2 = axis3 x axis1. A point without a corner pair (no polygon, or a triangle naming it
//  twice) gets zero axis1 and axis2, so its frame is singular, the same at bind and evaluation.
//  Finally axis1, axis2, axis3 are each normalised again, in that order.
// Writes only axis1..axis3 of frames[i].
void ComputeVertexFrame(std::span<const Vector3> smoothed, std::span<const CPolygon> polygons,
                        std::span<const Vector3> normals, const Neighbor& adjacency, Int64 i,
                        std::span<Frame> frames);

// Pass 3, parallel over points: ComputeVertexFrame for every point.
void ComputeVertexFrames(std::span<const Vector3> smoothed, std::span<const CPolygon> polygons,
                         std::span<const Vector3> normals, const Neighbor& adjacency,
                         std::span<Frame> frames);

// Where frames built in blocks go. `consume` is called once per block, concurrently for
// different blocks, with the frames of points [begin, begin + frames.size()) (frames[k] is point
// begin + k's); the blocks cover every point once. The frames live only for the call.
//
// A sink whose whole work per point is DecodeInPlace(frame, differences[i], points[i]) also names
// those arrays and where to add the count of results not finite: the frames are then decoded
// where they are built, in the lanes that build them, and `consume` is called only where the
// adjacency has no whole lists.
struct FrameSink {
  void* context = nullptr;
  void (*consume)(void* context, Int64 begin, std::span<const Frame> frames) = nullptr;
  Vector3* decodePoints = nullptr;
  const Vector3* decodeDifferences = nullptr;
  std::atomic<Int64>* decodeNotFinite = nullptr;  // may be null
};

// The sink that copies every block into `frames` (one per point) at its own place.
FrameSink FrameBufferSink(std::span<Frame> frames);

// Passes 1 and 3 together, parallel over chunks of kFrameChunk points, each cut into blocks of at
// most kFrameBlock: each block's origins and axes (bit for bit those of ComputeOrigins and
// ComputeVertexFrames) are built in a small array on the worker's stack and handed to `sink`, so
// no frame buffer of the whole mesh is ever stored. The block stays small so that the stack of
// a fresh thread needs no new pages for it.
inline constexpr Int64 kFrameBlock = 32;
inline constexpr Int64 kFrameChunk = 512;
void BuildFrameBlocks(std::span<const Vector3> smoothed, std::span<const CPolygon> polygons,
                      std::span<const Vector3> normals, const Neighbor& adjacency, FrameSink sink);
