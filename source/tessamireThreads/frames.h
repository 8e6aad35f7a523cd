// Local frames of the smoothed mesh and the encoding of points as differences in them.
#pragma once

#include "host/binding/services.h"
#include "source/tessamireThreads/frame.h"

// Normal of one polygon from the positions P: quad (c != d) normalise((P[b] - P[d]) x
// (P[c] - P[a])), the diagonals b-d first; triangle (c == d) normalise((P[b] - P[a]) x
// (P[c] - P[a])). A vanishing cross product gives the zero vector.
Vector3 FaceNormal(const Vector3* positions, const CPolygon& polygon);

// Pass 1, parallel over points: frames[i].origin = smoothed[i]. Writes only the origins.
void ComputeOrigins(const Vector3* smoothed, Int32 pointCount, Frame* frames);

// Pass 2, parallel over polygons: normals[j] = FaceNormal(smoothed, polygons[j]).
void ComputeFaceNormals(const Vector3* smoothed, const CPolygon* polygons, Int32 polygonCount,
                        Vector3* normals);

// Frame axes of point i, from the smoothed positions (the frames' origins), the face normals and
// the polygons around i as the adjacency lists them (count n):
//  axis3 = normalise((sum of the face normals in list order, from zero) * (1 / n, or 1 when
//  n = 0)); with the first polygon's PolygonCorners (o1, o2), both >= 0:
//  t = normalise((P[i] - P[o2]) + (P[o1] - P[i])), axis1 = normalise(axis3 x t),
//  axis2 = axis3 x axis1. A point without a corner pair (no polygon, or a triangle naming it
//  twice) gets zero axis1 and axis2, so its frame is singular, the same at bind and evaluation.
//  Finally axis1, axis2, axis3 are each normalised again, in that order.
// Writes only axis1..axis3 of frames[i].
void ComputeVertexFrame(const Vector3* smoothed, const CPolygon* polygons, const Vector3* normals,
                        const Neighbor& adjacency, Int64 i, Frame* frames);

// Pass 3, parallel over points: ComputeVertexFrame for every point of [0, pointCount).
void ComputeVertexFrames(const Vector3* smoothed, const CPolygon* polygons, Int32 pointCount,
                         const Vector3* normals, const Neighbor& adjacency, Frame* frames);

// Where frames built in blocks go. `consume` is called once per block, concurrently for
// different blocks, with the frames of points [begin, end) (frames[k] is point begin + k's); the
// blocks cover [0, pointCount) once. The frames live only for the call.
struct FrameSink {
  void* context = nullptr;
  void (*consume)(void* context, Int64 begin, Int64 end, const Frame* frames) = nullptr;
};

// The sink that copies every block into `frames` (pointCount entries) at its own place.
FrameSink FrameBufferSink(Frame* frames);

// Passes 1 and 3 together, parallel over chunks of kFrameChunk points, each cut into blocks of at
// most kFrameBlock: each block's origins and axes (bit for bit those of ComputeOrigins and
// ComputeVertexFrames) are built in a small array on the worker's stack and handed to `sink`, so
// no frame buffer of the whole mesh is ever stored. The block stays small so that the stack of
// a fresh thread needs no new pages for it.
inline constexpr Int64 kFrameBlock = 32;
inline constexpr Int64 kFrameChunk = 512;
void BuildFrameBlocks(const Vector3* smoothed, const CPolygon* polygons, Int32 pointCount,
                      const Vector3* normals, const Neighbor& adjacency, FrameSink sink);
