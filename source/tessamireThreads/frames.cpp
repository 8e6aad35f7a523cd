#include "source/tessamireThreads/frames.h"

#include "host/parallel.h"
#include "source/tessamireThreads/neighbourhoods.h"
#include "source/tessamireThreads/vector_ops.h"

Vector3 FaceNormal(const Vector3* positions, const CPolygon& polygon) {
  const Vector3& a = positions[polygon.a];
  const Vector3& b = positions[polygon.b];
  const Vector3& c = positions[polygon.c];
  if (polygon.c != polygon.d) {
    const Vector3& d = positions[polygon.d];
    return vmath::Normalized(vmath::Cross(vmath::Sub(b, d), vmath::Sub(c, a)));
  }
  return vmath::Normalized(vmath::Cross(vmath::Sub(b, a), vmath::Sub(c, a)));
}

void ComputeOrigins(const Vector3* smoothed, Int32 pointCount, Frame* frames) {
  ParallelFor(pointCount, [&](Int64 i) { frames[i].origin = smoothed[i]; });
}

void ComputeFaceNormals(const Vector3* smoothed, const CPolygon* polygons, Int32 polygonCount,
                        Vector3* normals) {
  ParallelFor(polygonCount, [&](Int64 j) { normals[j] = FaceNormal(smoothed, polygons[j]); });
}

void ComputeVertexFrame(const Vector3* smoothed, const CPolygon* polygons, const Vector3* normals,
                        const Neighbor& adjacency, Int64 i, Frame* frames) {
  const Int32 point = static_cast<Int32>(i);
  Int32 n = 0;
  const Int32* around = adjacency.GetPointPolys(point, n);
  if (around == nullptr) n = 0;
  Vector3 sum{0.0, 0.0, 0.0};
  for (Int32 k = 0; k < n; ++k) sum = vmath::Add(sum, normals[around[k]]);
  Vector3 axis3 = vmath::Normalized(vmath::Scale(sum, n > 0 ? 1.0 / static_cast<Float>(n) : 1.0));
  Vector3 axis1{0.0, 0.0, 0.0};
  Vector3 axis2{0.0, 0.0, 0.0};
  if (n > 0) {
    const CornerPair pair = PolygonCorners(point, polygons[around[0]]);
    if (pair.first >= 0 && pair.second >= 0) {
      const Vector3& here = smoothed[i];
      const Vector3 tangent = vmath::Normalized(vmath::Add(vmath::Sub(here, smoothed[pair.second]),
                                                           vmath::Sub(smoothed[pair.first], here)));
      axis1 = vmath::Normalized(vmath::Cross(axis3, tangent));
      axis2 = vmath::Cross(axis3, axis1);
    }
  }
  axis1 = vmath::Normalized(axis1);
  axis2 = vmath::Normalized(axis2);
  axis3 = vmath::Normalized(axis3);
  Frame& frame = frames[i];
  frame.axis1 = axis1;
  frame.axis2 = axis2;
  frame.axis3 = axis3;
}

void ComputeVertexFrames(const Vector3* smoothed, const CPolygon* polygons, Int32 pointCount,
                         const Vector3* normals, const Neighbor& adjacency, Frame* frames) {
  ParallelFor(pointCount, [&](Int64 i) {
    ComputeVertexFrame(smoothed, polygons, normals, adjacency, i, frames);
  });
}
