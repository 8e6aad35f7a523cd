#include "headless/job/limb.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <stdexcept>
#include <string>

#include "headless/geometry/primitives.h"

namespace headless {
namespace {

constexpr Float kPi = 3.14159265358979323846;
constexpr Float kTwoPi = 2.0 * kPi;

struct Bump {
  Float y;
  Float angle;
  Float sigma;
  Float height;  // fraction of the detail amplitude
};

struct Profile {
  Float length;
  Float radius;
  Float elbowY;
  Float ridgeWavelength;  // along the axis, in length units
  Int64 grooveCount;      // grooves around the tube
};

// Radius of the smooth tube at height y: thicker at the shoulder, a slight bulge at the elbow.
Float BaseRadius(const Profile& p, Float y) {
  const Float t = y / p.length;
  const Float e = (y - p.elbowY) / (0.12 * p.length);
  return p.radius * (1.08 - 0.22 * t) * (1.0 + 0.08 * std::exp(-e * e));
}

Float SmoothStep(Float edge0, Float edge1, Float x) {
  const Float s = std::clamp((x - edge0) / (edge1 - edge0), 0.0, 1.0);
  return s * s * (3.0 - 2.0 * s);
}

Float WrapAngle(Float a) {
  a = std::fmod(a, kTwoPi);
  if (a > kPi) a -= kTwoPi;
  if (a < -kPi) a += kTwoPi;
  return a;
}

// Detail height (before scaling by the amplitude) at ring height y and angle `angle`. Ring ridges
// dominate: they run across the bend, where skinning crushes them.
Float Detail(const Profile& p, const std::vector<Bump>& bumps, Float y, Float angle) {
  const Float grooves = std::cos(static_cast<Float>(p.grooveCount) * angle);
  const Float ridges = std::cos(kTwoPi * y / p.ridgeWavelength);
  Float h = 0.25 * grooves + 0.4 * ridges;
  const Float r = BaseRadius(p, y);
  for (const Bump& b : bumps) {
    const Float dy = y - b.y;
    if (std::fabs(dy) > 4.0 * b.sigma) continue;
    const Float arc = r * WrapAngle(angle - b.angle);
    const Float d2 = dy * dy + arc * arc;
    h += b.height * std::exp(-d2 / (2.0 * b.sigma * b.sigma));
  }
  return h;
}

void CheckOptions(const LimbOptions& o) {
  auto fail = [](const std::string& what) { throw std::invalid_argument("MakeLimb: " + what); };
  if (!(o.length > 0.0) || !std::isfinite(o.length))
    fail("length must be positive and finite, got " + std::to_string(o.length));
  if (!(o.radius > 0.0) || !std::isfinite(o.radius))
    fail("radius must be positive and finite, got " + std::to_string(o.radius));
  if (o.jointCount != 2 && o.jointCount != 3)
    fail("joint count must be 2 or 3, got " + std::to_string(o.jointCount));
  const Float maxHalfWidth = o.jointCount == 3 ? o.length / 8.0 : o.length / 2.0;
  if (!(o.blendHalfWidth > 0.0) || !(o.blendHalfWidth <= maxHalfWidth))
    fail("blend half-width must be in (0, " + std::to_string(maxHalfWidth) + "], got " +
         std::to_string(o.blendHalfWidth));
  if (!(o.detailAmplitude >= 0.0) || !std::isfinite(o.detailAmplitude))
    fail("detail amplitude must be >= 0, got " + std::to_string(o.detailAmplitude));
  if (!(o.detailWavelength >= 2.0) || !std::isfinite(o.detailWavelength))
    fail("detail wavelength must be at least 2 edges, got " + std::to_string(o.detailWavelength));
  if (o.bumpCount < 0) fail("bump count must be >= 0, got " + std::to_string(o.bumpCount));
  if (o.rings == 0 && o.segments == 0) {
    if (o.approximatePoints < 8)
      fail("approximate point count must be at least 8, got " +
           std::to_string(o.approximatePoints));
  } else {
    if (o.rings < 2) fail("rings must be at least 2, got " + std::to_string(o.rings));
    if (o.segments < 3) fail("segments must be at least 3, got " + std::to_string(o.segments));
  }
}

}  // namespace

LimbMesh MakeLimb(const LimbOptions& o) {
  CheckOptions(o);
  LimbMesh mesh;
  Int64 rings = o.rings;
  Int64 segments = o.segments;
  if (rings == 0) {
    // Square quads: the segment arc (around a mean radius) matches the ring spacing.
    const Float aspect = kTwoPi * 0.9 * o.radius / o.length;  // segments per ring
    const Float body = static_cast<Float>(o.approximatePoints - 2);
    rings = std::max<Int64>(2, std::llround(std::sqrt(body / aspect)));
    segments = std::max<Int64>(3, std::llround(body / static_cast<Float>(rings)));
  }
  const Int64 pointCount = rings * segments + 2;
  const Int64 polyCount = (rings - 1) * segments + 2 * segments;
  if (pointCount > std::numeric_limits<Int32>::max() ||
      polyCount > std::numeric_limits<Int32>::max())
    throw std::invalid_argument("MakeLimb: " + std::to_string(pointCount) +
                                " points do not fit 32-bit indices");
  mesh.rings = static_cast<Int32>(rings);
  mesh.segments = static_cast<Int32>(segments);

  // The detail's scale follows the edges, so it stays fine and resolvable at any point count.
  const Float ringSpacing = o.length / static_cast<Float>(rings - 1);
  const Profile profile{
      o.length, o.radius, 0.5 * o.length, o.detailWavelength * ringSpacing,
      std::max<Int64>(1, std::llround(static_cast<Float>(segments) / o.detailWavelength))};
  const Float amplitude = o.detailAmplitude * o.radius;

  std::vector<Bump> bumps(static_cast<size_t>(o.bumpCount));
  SplitMix64 rng{o.seed};
  for (Bump& b : bumps) {
    b.y = o.length * (0.05 + 0.9 * rng.Unit());
    b.angle = kTwoPi * rng.Unit();
    b.sigma = profile.ridgeWavelength * (0.15 + 0.1 * rng.Unit());
    b.height = 0.5 + 0.5 * rng.Unit();
  }

  mesh.points.resize(static_cast<size_t>(pointCount));
  const Float dy = o.length * 1e-4;
  for (Int64 i = 0; i < rings; ++i) {
    const Float y = o.length * static_cast<Float>(i) / static_cast<Float>(rings - 1);
    const Float r = BaseRadius(profile, y);
    const Float slope = (BaseRadius(profile, y + dy) - BaseRadius(profile, y - dy)) / (2.0 * dy);
    const Float inv = 1.0 / std::sqrt(1.0 + slope * slope);
    for (Int64 j = 0; j < segments; ++j) {
      const Float angle = kTwoPi * static_cast<Float>(j) / static_cast<Float>(segments);
      const Float c = std::cos(angle);
      const Float s = std::sin(angle);
      const Float h = amplitude == 0.0 ? 0.0 : amplitude * Detail(profile, bumps, y, angle);
      mesh.points[static_cast<size_t>(i * segments + j)] = {
          r * c + h * c * inv, y - h * slope * inv, r * s + h * s * inv};
    }
  }
  const Int32 shoulderPole = static_cast<Int32>(rings * segments);
  const Int32 farPole = shoulderPole + 1;
  mesh.points[static_cast<size_t>(shoulderPole)] = {0.0, -0.35 * BaseRadius(profile, 0.0), 0.0};
  mesh.points[static_cast<size_t>(farPole)] = {0.0, o.length + 0.35 * BaseRadius(profile, o.length),
                                               0.0};

  auto at = [segments](Int64 i, Int64 j) {
    return static_cast<Int32>(i * segments + j % segments);
  };
  mesh.polygons = TubeQuads(mesh.rings, mesh.segments, false);
  mesh.polygons.reserve(static_cast<size_t>(polyCount));
  for (Int64 j = 0; j < segments; ++j)
    mesh.polygons.push_back({at(0, j), at(0, j + 1), shoulderPole, shoulderPole});
  for (Int64 j = 0; j < segments; ++j)
    mesh.polygons.push_back({at(rings - 1, j + 1), at(rings - 1, j), farPole, farPole});

  std::vector<Float> jointY{0.0, 0.5 * o.length};
  if (o.jointCount == 3) jointY.push_back(0.875 * o.length);
  for (Float y : jointY) mesh.jointPositions.push_back({0.0, y, 0.0});

  // Joint k >= 1 takes over through s_k(y); joint k keeps s_k - s_(k+1), so the weights
  // telescope to 1 and stay >= 0 because s_k >= s_(k+1) for joints in ascending y.
  const size_t joints = jointY.size();
  mesh.weights.assign(joints, std::vector<Float32>(static_cast<size_t>(pointCount)));
  const Float hw = o.blendHalfWidth;
  for (Int64 p = 0; p < pointCount; ++p) {
    // The height before the detail displacement, so that the same tube with and without detail
    // carries the same weights.
    const Float y = p < shoulderPole ? o.length * static_cast<Float>(p / segments) /
                                           static_cast<Float>(rings - 1)
                                     : mesh.points[static_cast<size_t>(p)].y;
    Float previous = 1.0;
    for (size_t k = 0; k < joints; ++k) {
      const Float next =
          k + 1 < joints ? SmoothStep(jointY[k + 1] - hw, jointY[k + 1] + hw, y) : 0.0;
      mesh.weights[k][static_cast<size_t>(p)] = static_cast<Float32>(previous - next);
      previous = next;
    }
  }
  return mesh;
}

}  // namespace headless
