#include "headless/deformers/skinning.h"

#include <cmath>
#include <stdexcept>
#include <string>

#include "headless/geometry/vector.h"

namespace headless {

Vector3 TransformDirection(const Matrix& m, const Vector3& d) {
  return Add(Add(Scale(m.v1, d.x), Scale(m.v2, d.y)), Scale(m.v3, d.z));
}

Vector3 TransformPoint(const Matrix& m, const Vector3& p) {
  return Add(m.off, TransformDirection(m, p));
}

Matrix Multiply(const Matrix& a, const Matrix& b) {
  Matrix r;
  r.off = TransformPoint(a, b.off);
  r.v1 = TransformDirection(a, b.v1);
  r.v2 = TransformDirection(a, b.v2);
  r.v3 = TransformDirection(a, b.v3);
  return r;
}

Matrix Inverse(const Matrix& m) {
  // The rows of the inverse of [v1 v2 v3] are the cross products of column pairs over det.
  const Vector3 r1 = Cross(m.v2, m.v3);
  const Vector3 r2 = Cross(m.v3, m.v1);
  const Vector3 r3 = Cross(m.v1, m.v2);
  const Float det = Dot(m.v1, r1);
  if (det == 0.0 || !std::isfinite(det))
    throw std::invalid_argument("Inverse: the matrix's axes are singular (determinant " +
                                std::to_string(det) + ")");
  const Float inv = 1.0 / det;
  Matrix r;
  r.v1 = {r1.x * inv, r2.x * inv, r3.x * inv};
  r.v2 = {r1.y * inv, r2.y * inv, r3.y * inv};
  r.v3 = {r1.z * inv, r2.z * inv, r3.z * inv};
  const Vector3 t = TransformDirection(r, m.off);
  r.off = {-t.x, -t.y, -t.z};
  return r;
}

Matrix RotationAbout(const Vector3& pivot, const Vector3& axis, Float radians) {
  const Float len = Length(axis);
  if (!(len > 0.0) || !std::isfinite(len))
    throw std::invalid_argument("RotationAbout: the axis has no direction");
  const Vector3 k = Scale(axis, 1.0 / len);
  const Float c = std::cos(radians);
  const Float s = std::sin(radians);
  // Rodrigues: R e = e c + (k x e) s + k (k . e)(1 - c), for each basis vector e.
  auto column = [&](const Vector3& e) {
    return Add(Add(Scale(e, c), Scale(Cross(k, e), s)), Scale(k, Dot(k, e) * (1.0 - c)));
  };
  Matrix r;
  r.v1 = column({1.0, 0.0, 0.0});
  r.v2 = column({0.0, 1.0, 0.0});
  r.v3 = column({0.0, 0.0, 1.0});
  // Keep the pivot fixed: off = pivot - R pivot.
  const Vector3 rp = TransformDirection(r, pivot);
  r.off = Sub(pivot, rp);
  return r;
}

void SkinPoints(const Vector3* rest, Int64 count, const std::vector<JointPose>& joints,
                const std::vector<const Float32*>& weights, Vector3* out) {
  if (count < 0) throw std::invalid_argument("SkinPoints: negative point count");
  if (joints.size() != weights.size())
    throw std::invalid_argument("SkinPoints: " + std::to_string(joints.size()) + " joints but " +
                                std::to_string(weights.size()) + " weight arrays");
  if (count == 0) return;
  if (rest == nullptr || out == nullptr)
    throw std::invalid_argument("SkinPoints: null point array");
  for (size_t j = 0; j < weights.size(); ++j)
    if (weights[j] == nullptr)
      throw std::invalid_argument("SkinPoints: weight array of joint " + std::to_string(j) +
                                  " is null");
  std::vector<Matrix> skin;
  skin.reserve(joints.size());
  for (const JointPose& joint : joints)
    skin.push_back(Multiply(joint.current, Inverse(joint.rest)));

  for (Int64 p = 0; p < count; ++p) {
    Vector3 sum;
    for (size_t j = 0; j < skin.size(); ++j) {
      const Float w = static_cast<Float>(weights[j][p]);
      if (w == 0.0) continue;  // a zero weight adds nothing to the sum
      sum = Add(sum, Scale(TransformPoint(skin[j], rest[p]), w));
    }
    out[p] = sum;
  }
}

}  // namespace headless
