// A polygon object's mesh as the file it came from holds it, beside the welded points the host
// deforms: one vertex per vertex of the file's mesh (a point is split into several along texture
// and normal seams), in the file's order, with what the file gave each vertex, and the file's
// faces over those vertices. Results leave on these vertices, so that what other programs load
// from the file and what they load from the results line up.
//
// Vertex v sits on the object's point vertexPoint[v]; its position at any moment is that point's.
// Normals turn with the surface (FileVertexNormals); texture coordinates, faces, materials and
// names never change.
#pragma once

#include <span>
#include <string>
#include <vector>

#include "headless/geometry/mesh.h"
#include "host/abi/types.h"

namespace headless {

struct FileVertices {
  std::string object;                  // the file's name of the object holding the mesh
  std::string mesh;                    // the file's name of the mesh
  std::vector<std::string> materials;  // the materials the faces use, by name
  std::vector<Int32> vertexPoint;      // one per vertex: the object's point
  std::vector<Vector3> normals;        // one per vertex, or none when the file gave none
  std::vector<Float32> uvs;            // u, v per vertex (v up), or none when the file gave none
  // Faces in the file's order: face f has the corners faceFirst[f] .. faceFirst[f + 1] - 1.
  std::vector<Int64> faceFirst{0};
  std::vector<Int32> cornerVertex;  // one per corner: its vertex
  std::vector<Int32> faceMaterial;  // one per face: an index into materials, or -1 for none

  Int64 VertexCount() const { return static_cast<Int64>(vertexPoint.size()); }
  Int64 FaceCount() const { return static_cast<Int64>(faceFirst.size()) - 1; }
};

// Throws std::invalid_argument naming the first fault: a vertex on no point of [0, pointCount),
// normals or texture coordinates neither absent nor one per vertex, one that is not finite, face
// offsets that do not run from 0 up to the corner count, a face of fewer than 3 corners, a
// corner on no vertex, or a face material that is not -1 or a material's index.
void CheckFileVertices(const FileVertices& file, Int64 pointCount);

// Each vertex's position: its point's.
std::vector<Vector3> FileVertexPositions(const FileVertices& file, std::span<const Vector3> points);

// How the surface each vertex stands for lies at the given points: the sum of the vector areas of
// the faces naming the vertex (each face once, in face order; a face's area is the fan from its
// first corner), and the edge from the first corner naming the vertex to the next corner of its
// face. A vertex takes its direction from its own faces, not from its point's: where a point is
// shared by faces that face away from each other (two sides welded together), the point's sum
// nearly cancels and flips as the surface moves, but each side's does not. A vertex no face names
// gets a zero frame.
std::vector<SurfaceFrame> FileVertexFrames(const FileVertices& file,
                                           std::span<const Vector3> points);

// Each vertex's normal turned as the surface of its faces turned, from `restFrames` to
// `currentFrames` (one per vertex, FileVertexFrames; see Turned): at rest the file's normals come
// back as they were. Empty when the file gave no normals.
std::vector<Vector3> FileVertexNormals(const FileVertices& file,
                                       std::span<const SurfaceFrame> restFrames,
                                       std::span<const SurfaceFrame> currentFrames);

}  // namespace headless
