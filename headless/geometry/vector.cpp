#include "headless/geometry/vector.h"

#include <cmath>

namespace headless {

Vector3 Rotated(const Vector3& v, const Vector3& from, const Vector3& to) {
  const Vector3 f = Normalized(from), t = Normalized(to);
  // No direction: zero, or so long that normalising it gives no number.
  if (!(Dot(f, f) > 0.5) || !(Dot(t, t) > 0.5)) return v;
  if (f.x == t.x && f.y == t.y && f.z == t.z) return v;
  const Float d = Dot(f, t);
  // Nearly opposite: 1 + d loses every digit, so turn half round an axis perpendicular to f.
  constexpr Float kOpposite = 1e-9;
  if (1.0 + d < kOpposite) {
    const Float ax = std::fabs(f.x), ay = std::fabs(f.y), az = std::fabs(f.z);
    const Vector3 least = ax <= ay && ax <= az ? Vector3{1.0, 0.0, 0.0}
                          : ay <= az           ? Vector3{0.0, 1.0, 0.0}
                                               : Vector3{0.0, 0.0, 1.0};
    const Vector3 axis = Normalized(Cross(f, least));
    return Sub(Scale(axis, 2.0 * Dot(axis, v)), v);
  }
  const Vector3 c = Cross(f, t);
  return Add(Add(Scale(v, d), Cross(c, v)), Scale(c, Dot(c, v) / (1.0 + d)));
}

}  // namespace headless
