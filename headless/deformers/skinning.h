// Linear blend skinning and the few rigid-transform helpers it needs, over the host's Matrix
// (offset, then the three axes; applying M to p gives off + v1 * p.x + v2 * p.y + v3 * p.z).
#pragma once

#include <vector>

#include "host/abi/types.h"

namespace headless {

// One joint: its transform at bind time and its transform now, both in world space.
struct JointPose {
  Matrix rest;
  Matrix current;
};

// M applied to the point p.
Vector3 TransformPoint(const Matrix& m, const Vector3& p);
// M's axes applied to the direction d (no offset).
Vector3 TransformDirection(const Matrix& m, const Vector3& d);
// The transform that applies b first, then a.
Matrix Multiply(const Matrix& a, const Matrix& b);
// The inverse of m (any invertible affine transform, rigid or not). Throws std::invalid_argument
// when m's axes are singular (determinant 0 or not finite).
Matrix Inverse(const Matrix& m);
// A rotation by `radians` about the line through `pivot` along `axis` (right-handed: positive
// angles turn counter-clockwise looking down the axis towards the pivot). Throws
// std::invalid_argument for a zero-length axis.
Matrix RotationAbout(const Vector3& pivot, const Vector3& axis, Float radians);

// Per point p: out[p] = sum over joints j, in joint order, of w_j[p] * (S_j applied to rest[p]),
// where S_j = current_j x inverse(rest_j) and w_j[p] is widened to float64. `weights` holds one
// array per joint with `count` entries each. Weights are used as given (not renormalised). `out`
// may not alias `rest`. Throws std::invalid_argument, writing nothing, when the joint and weight
// counts differ, an array is null while count > 0, count < 0, or a rest transform is singular.
void SkinPoints(const Vector3* rest, Int64 count, const std::vector<JointPose>& joints,
                const std::vector<const Float32*>& weights, Vector3* out);

}  // namespace headless
