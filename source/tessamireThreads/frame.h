// The local frame of one point: the host's matrix layout, offset first, then the three axes.
#pragma once

#include <cmath>

#include "source/tessamireThreads/vector_ops.h"

// Applying a frame F to p gives origin + axis1 * p.x + axis2 * p.y + axis3 * p.z. One frame per
// point is the output of every controller run; frames travel as one contiguous block.
struct Frame {
  Vector3 origin;
  Vector3 axis1;
  Vector3 axis2;
  Vector3 axis3;
};
static_assert(sizeof(Frame) == 96, "a frame is four Vector3, the host's matrix layout");

// axis1 . (axis2 x axis3): exactly 0 for a singular frame.
inline Float FrameDeterminant(const Frame& frame) {
  return vmath::Dot(frame.axis1, vmath::Cross(frame.axis2, frame.axis3));
}

// The inverse used to encode: with R the matrix of columns axis1, axis2, axis3 and
// det = axis1 . (axis2 x axis3): when det is exactly 0 the identity axes with the origin
// negated, so a point becomes its offset from the frame's origin; otherwise (NaN included) the
// general affine inverse: 1/det formed once, the rows of R⁻¹ are
// (axis2 x axis3), (axis3 x axis1), (axis1 x axis2) with every cofactor times 1/det; the
// inverse's axes are the columns of R⁻¹, and its origin is -(((o.x axis1' + o.y axis2') +
// o.z axis3')) with o the frame's origin and axisN' the inverse's axes.
inline Frame InverseFrame(const Frame& frame) {
  const Vector3& a1 = frame.axis1;
  const Vector3& a2 = frame.axis2;
  const Vector3& a3 = frame.axis3;
  const Float det = FrameDeterminant(frame);
  Frame inverse;
  if (det == 0.0) {
    inverse.origin = {-frame.origin.x, -frame.origin.y, -frame.origin.z};
    inverse.axis1 = {1.0, 0.0, 0.0};
    inverse.axis2 = {0.0, 1.0, 0.0};
    inverse.axis3 = {0.0, 0.0, 1.0};
    return inverse;
  }
  const Float invDet = 1.0 / det;
  // Rows of R⁻¹ before the scale: the cofactors of R, which has the axes as its columns.
  const Vector3 row1 = vmath::Cross(a2, a3);
  const Vector3 row2 = vmath::Cross(a3, a1);
  const Vector3 row3 = vmath::Cross(a1, a2);
  inverse.axis1 = {row1.x * invDet, row2.x * invDet, row3.x * invDet};
  inverse.axis2 = {row1.y * invDet, row2.y * invDet, row3.y * invDet};
  inverse.axis3 = {row1.z * invDet, row2.z * invDet, row3.z * invDet};
  const Vector3& o = frame.origin;
  inverse.origin = {-((o.x * inverse.axis1.x + o.y * inverse.axis2.x) + o.z * inverse.axis3.x),
                    -((o.x * inverse.axis1.y + o.y * inverse.axis2.y) + o.z * inverse.axis3.y),
                    -((o.x * inverse.axis1.z + o.y * inverse.axis2.z) + o.z * inverse.axis3.z)};
  return inverse;
}

// Applies a frame: component c is ((p.x axis1.c + origin.c) + p.y axis2.c) + p.z axis3.c.
inline Vector3 ApplyFrame(const Frame& f, const Vector3& p) {
  return {((p.x * f.axis1.x + f.origin.x) + p.y * f.axis2.x) + p.z * f.axis3.x,
          ((p.x * f.axis1.y + f.origin.y) + p.y * f.axis2.y) + p.z * f.axis3.y,
          ((p.x * f.axis1.z + f.origin.z) + p.y * f.axis2.z) + p.z * f.axis3.z};
}

// The difference of a rest point in its frame: ApplyFrame(InverseFrame(frame), point). A
// singular frame (det exactly 0) has no coordinates to give, so the point is stored as its offset
// from the frame's origin (its smoothed position): once its frame is regular again it lands that
// far from its smoothed position, never a rotated copy of where it stood in space. Evaluation
// reads both forms alike, so differences stored as the rest position itself keep their results.
inline Vector3 EncodeDifference(const Frame& frame, const Vector3& point) {
  return ApplyFrame(InverseFrame(frame), point);
}

// The point a stored difference gives in a new frame: ApplyFrame(frame, difference).
inline Vector3 DecodeDifference(const Frame& frame, const Vector3& difference) {
  return ApplyFrame(frame, difference);
}

inline Bool Finite(const Vector3& v) {
  return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z);
}

// w*T + (1-w)*P per component: T where w is 1, P where it is 0.
inline Vector3 BlendPoint(Float w, const Vector3& t, const Vector3& p) {
  return {w * t.x + (1.0 - w) * p.x, w * t.y + (1.0 - w) * p.y, w * t.z + (1.0 - w) * p.z};
}

// The plain apply of one point, without weights: P' = BlendPoint(1, T, P) with
// T = DecodeDifference(frame, difference). A singular frame (determinant exactly 0) keeps P and
// answers false; a P' with a component that is not finite keeps P and answers true.
inline Bool DecodeInPlace(const Frame& frame, const Vector3& difference, Vector3& point) {
  if (FrameDeterminant(frame) == 0.0) return false;
  const Vector3 out = BlendPoint(1.0, DecodeDifference(frame, difference), point);
  if (!Finite(out)) return true;
  point = out;
  return false;
}
