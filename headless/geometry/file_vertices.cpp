#include "headless/geometry/file_vertices.h"

#include <cmath>
#include <stdexcept>

namespace headless {

void CheckFileVertices(const FileVertices& file, Int64 pointCount) {
  const auto fail = [](const std::string& what) { throw std::invalid_argument(what); };
  const Int64 vertices = file.VertexCount();
  for (Int64 v = 0; v < vertices; ++v)
    if (file.vertexPoint[v] < 0 || file.vertexPoint[v] >= pointCount)
      fail("vertex " + std::to_string(v) + " sits on point " + std::to_string(file.vertexPoint[v]) +
           " outside [0, " + std::to_string(pointCount) + ")");
  if (!file.normals.empty() && static_cast<Int64>(file.normals.size()) != vertices)
    fail(std::to_string(file.normals.size()) + " normals for " + std::to_string(vertices) +
         " vertices");
  for (size_t v = 0; v < file.normals.size(); ++v) {
    const Vector3& n = file.normals[v];
    if (!std::isfinite(n.x) || !std::isfinite(n.y) || !std::isfinite(n.z))
      fail("the normal of vertex " + std::to_string(v) + " is not finite");
  }
  if (!file.uvs.empty() && static_cast<Int64>(file.uvs.size()) != 2 * vertices)
    fail(std::to_string(file.uvs.size()) + " texture coordinates for " + std::to_string(vertices) +
         " vertices (two each)");
  for (size_t k = 0; k < file.uvs.size(); ++k)
    if (!std::isfinite(file.uvs[k]))
      fail("the texture coordinates of vertex " + std::to_string(k / 2) + " are not finite");
  if (file.faceFirst.empty() || file.faceFirst.front() != 0)
    fail("the face offsets do not start at 0");
  if (file.faceFirst.back() != static_cast<Int64>(file.cornerVertex.size()))
    fail("the face offsets end at " + std::to_string(file.faceFirst.back()) + ", not at the " +
         std::to_string(file.cornerVertex.size()) + " corners");
  for (Int64 f = 0; f < file.FaceCount(); ++f)
    if (file.faceFirst[f + 1] - file.faceFirst[f] < 3)
      fail("face " + std::to_string(f) + " has fewer than 3 corners");
  for (size_t c = 0; c < file.cornerVertex.size(); ++c)
    if (file.cornerVertex[c] < 0 || file.cornerVertex[c] >= vertices)
      fail("corner " + std::to_string(c) + " names vertex " + std::to_string(file.cornerVertex[c]) +
           " outside [0, " + std::to_string(vertices) + ")");
  if (static_cast<Int64>(file.faceMaterial.size()) != file.FaceCount())
    fail(std::to_string(file.faceMaterial.size()) + " face materials for " +
         std::to_string(file.FaceCount()) + " faces");
  const Int64 materials = static_cast<Int64>(file.materials.size());
  for (size_t f = 0; f < file.faceMaterial.size(); ++f)
    if (file.faceMaterial[f] < -1 || file.faceMaterial[f] >= materials)
      fail("face " + std::to_string(f) + " names material " + std::to_string(file.faceMaterial[f]) +
           " of " + std::to_string(materials));
}

std::vector<Vector3> FileVertexPositions(const FileVertices& file,
                                         std::span<const Vector3> points) {
  std::vector<Vector3> positions(file.vertexPoint.size());
  for (size_t v = 0; v < positions.size(); ++v) positions[v] = points[file.vertexPoint[v]];
  return positions;
}

std::vector<SurfaceFrame> FileVertexFrames(const FileVertices& file,
                                           std::span<const Vector3> points) {
  const auto at = [&](Int64 corner) -> const Vector3& {
    return points[file.vertexPoint[file.cornerVertex[corner]]];
  };
  std::vector<SurfaceFrame> frames(file.vertexPoint.size());
  std::vector<Int64> lastFace(frames.size(), -1);
  for (Int64 f = 0; f < file.FaceCount(); ++f) {
    const Int64 first = file.faceFirst[f], end = file.faceFirst[f + 1];
    Vector3 area;
    for (Int64 c = first + 1; c + 1 < end; ++c)
      area = Add(area, Cross(Sub(at(c), at(first)), Sub(at(c + 1), at(first))));
    for (Int64 c = first; c < end; ++c) {
      const Int32 v = file.cornerVertex[c];
      if (lastFace[v] == f) continue;
      if (lastFace[v] < 0) frames[v].along = Sub(at(c + 1 < end ? c + 1 : first), at(c));
      lastFace[v] = f;
      frames[v].normal = Add(frames[v].normal, area);
    }
  }
  return frames;
}

std::vector<Vector3> FileVertexNormals(const FileVertices& file,
                                       std::span<const SurfaceFrame> restFrames,
                                       std::span<const SurfaceFrame> currentFrames) {
  std::vector<Vector3> normals(file.normals.size());
  for (size_t v = 0; v < normals.size(); ++v)
    normals[v] = Turned(file.normals[v], restFrames[v], currentFrames[v]);
  return normals;
}

}  // namespace headless
