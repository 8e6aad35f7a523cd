#include "headless/job/ground_truth.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <string>

#include "headless/geometry/primitives.h"
#include "headless/geometry/vector.h"
#include "headless/job/limb.h"
#include "headless/job/measures.h"

namespace headless {
namespace {

constexpr Float kPi = 3.14159265358979323846;

Float SmoothStep(Float edge0, Float edge1, Float x) {
  const Float t = std::clamp((x - edge0) / (edge1 - edge0), 0.0, 1.0);
  return t * t * (3.0 - 2.0 * t);
}

// Joint 1's weights as given, joint 0 the rest, one float32 per point each.
std::vector<std::vector<Float32>> TwoJoints(const std::vector<Float>& second) {
  std::vector<std::vector<Float32>> w(2, std::vector<Float32>(second.size()));
  for (size_t i = 0; i < second.size(); ++i) {
    w[1][i] = static_cast<Float32>(second[i]);
    w[0][i] = 1.0f - w[1][i];
  }
  return w;
}

struct Shape {
  TruthCase truth;
  Vector3 pivot, axis;
};

LimbOptions TruthLimbOptions(Int64 points) {
  LimbOptions o;
  o.approximatePoints = points;
  // Wider than the tube (diameter 1): a right-angle bend then turns the inside of the joint
  // gradually instead of folding it.
  o.blendHalfWidth = 0.8;
  return o;
}

Shape LimbShape(const TruthOptions& options) {
  LimbOptions o = TruthLimbOptions(options.approximatePoints);
  o.seed = options.seed;
  LimbMesh limb = MakeLimb(o);
  o.detailAmplitude = 0.0;
  Shape s;
  s.truth.restBase = MakeLimb(o).points;
  s.truth.rest = Mesh{std::move(limb.points), std::move(limb.polygons)};
  s.truth.weights = std::move(limb.weights);
  s.pivot = limb.jointPositions[1];
  s.axis = {1.0, 0.0, 0.0};
  return s;
}

Shape TorusShapeCase(const TruthOptions& options) {
  const Int32 v = std::max<Int32>(
      12, static_cast<Int32>(std::lround(std::sqrt(options.approximatePoints / 3.0))));
  const Int32 u = 3 * v;
  TorusShape shape;                        // major radius 3, minor 1
  shape.bumpHeight = 0.5 * 2.0 * kPi / v;  // half an edge across the tube
  shape.bumpsAround = std::round(u / 6.0);
  shape.bumpsAcross = std::round(v / 6.0);
  Shape s;
  s.truth.rest = Torus(u, v, shape);
  s.truth.restBase = Torus(u, v).points;
  std::vector<Float> second(s.truth.restBase.size());
  // The band is wider than the tube's diameter (2), for the same reason as the limb's.
  for (size_t i = 0; i < second.size(); ++i)
    second[i] = SmoothStep(-1.5, 1.5, s.truth.restBase[i].y);
  s.truth.weights = TwoJoints(second);
  s.pivot = {};
  s.axis = {1.0, 0.0, 0.0};
  return s;
}

Shape SheetShape(const TruthOptions& options) {
  const Int32 n = std::max<Int32>(
      12,
      static_cast<Int32>(std::lround(std::sqrt(static_cast<Float>(options.approximatePoints)))) -
          1);
  const Float spacing = 4.0 / n;
  Shape s;
  s.truth.rest = Grid(n, n, spacing);
  s.truth.restBase = s.truth.rest.points;
  const Float amplitude = 0.5 * spacing;
  std::vector<Float> second(s.truth.restBase.size());
  for (size_t i = 0; i < second.size(); ++i) {
    const Vector3& p = s.truth.restBase[i];
    // Ridges six edges apart across the bend, gentler waves eight edges apart along it.
    s.truth.rest.points[i].z = amplitude * (0.6 * std::sin(2.0 * kPi * p.x / (6.0 * spacing)) +
                                            0.4 * std::cos(2.0 * kPi * p.y / (8.0 * spacing)));
    second[i] = SmoothStep(1.4, 2.6, p.x);
  }
  s.truth.weights = TwoJoints(second);
  s.truth.hasBorders = true;
  s.pivot = {2.0, 0.0, 0.0};
  s.axis = {0.0, 1.0, 0.0};
  return s;
}

Shape ScanShape(const TruthOptions& options) {
  ScanLikeMesh scan = MakeScanLikeMesh(options.approximatePoints, options.seed);
  Shape s;
  s.truth.rest = std::move(scan.detailed);
  s.truth.restBase = std::move(scan.base);
  s.truth.weights = std::move(scan.weights);
  s.pivot = scan.jointPositions[1];
  s.axis = {1.0, 0.0, 0.0};
  return s;
}

// Refuses a bend that folds the joint (see the header).
void CheckRegular(const Shape& s, const std::vector<Vector3>& skinnedBase, Float radians,
                  const std::string& name) {
  for (const CPolygon& p : s.truth.rest.polygons) {
    const Float w = (s.truth.weights[1][static_cast<size_t>(p.a)] +
                     s.truth.weights[1][static_cast<size_t>(p.b)] +
                     s.truth.weights[1][static_cast<size_t>(p.c)] +
                     s.truth.weights[1][static_cast<size_t>(p.d)]) /
                    4.0;
    const Vector3 turned = TransformDirection(RotationAbout({}, s.axis, w * radians),
                                              PolygonNormal(s.truth.restBase, p));
    if (Dot(turned, PolygonNormal(skinnedBase, p)) <= 0.0)
      throw std::invalid_argument("MakeTruthCase: a bend of " +
                                  std::to_string(radians * 180.0 / kPi) + " degrees folds the " +
                                  name + "'s joint");
  }
}

}  // namespace

const char* TruthShapeName(TruthShape shape) {
  switch (shape) {
    case TruthShape::kLimb:
      return "limb";
    case TruthShape::kTorus:
      return "torus";
    case TruthShape::kSheet:
      return "sheet";
    case TruthShape::kScan:
      return "scan";
  }
  return "?";
}

ScanLikeMesh MakeScanLikeMesh(Int64 approximatePoints, UInt64 seed, Int32 jointCount) {
  LimbOptions o = TruthLimbOptions(approximatePoints);
  o.detailAmplitude = 0.0;
  o.bumpCount = 0;
  o.jointCount = jointCount;
  // The wrist's band must fit between the elbow's and the far end.
  if (jointCount == 3) o.blendHalfWidth = 0.45;
  const LimbMesh limb = MakeLimb(o);
  ScanLikeMesh scan;
  scan.rings = limb.rings;
  scan.segments = limb.segments;
  scan.base = limb.points;
  scan.weights = limb.weights;
  scan.jointPositions = limb.jointPositions;
  const std::vector<Vector3> normals = PointNormals(limb.points, limb.polygons);
  const Float edge = o.length / (limb.rings - 1);
  std::vector<Float> height(limb.points.size(), 0.0);
  SplitMix64 random{seed};
  const Float widths[3] = {1.0, 3.0, 8.0};
  const Float heights[3] = {0.15, 0.3, 0.6};  // in edges: broader features stand taller
  for (Int32 k = 0; k < 3; ++k) {
    const Float sigma = widths[k];
    const Int64 bumps =
        std::max<Int64>(4, static_cast<Int64>(limb.rings) * limb.segments / (8.0 * sigma * sigma));
    const Int32 reach = static_cast<Int32>(std::ceil(3.0 * sigma));
    for (Int64 b = 0; b < bumps; ++b) {
      const Float ring = random.Unit() * (limb.rings - 1);
      const Float segment = random.Unit() * limb.segments;
      const Float h =
          heights[k] * edge * (random.Unit() < 0.5 ? -1.0 : 1.0) * (0.5 + 0.5 * random.Unit());
      const Int32 ci = static_cast<Int32>(ring), cj = static_cast<Int32>(segment);
      for (Int32 i = std::max(0, ci - reach); i <= std::min(limb.rings - 1, ci + reach); ++i)
        for (Int32 dj = -reach; dj <= reach; ++dj) {
          const Int32 j = ((cj + dj) % limb.segments + limb.segments) % limb.segments;
          const Float di = i - ring, dd = cj + dj - segment;
          height[static_cast<size_t>(i) * limb.segments + j] +=
              h * std::exp(-(di * di + dd * dd) / (2.0 * sigma * sigma));
        }
    }
  }
  scan.detailed.polygons = limb.polygons;
  scan.detailed.points = limb.points;
  for (size_t i = 0; i < height.size(); ++i)
    scan.detailed.points[i] = Add(limb.points[i], Scale(Normalized(normals[i]), height[i]));
  return scan;
}

TruthCase MakeTruthCase(const TruthOptions& options) {
  if (options.approximatePoints < 200)
    throw std::invalid_argument("MakeTruthCase: at least 200 points, not " +
                                std::to_string(options.approximatePoints));
  if (!(options.bendDegrees > 0.0 && options.bendDegrees <= 120.0))
    throw std::invalid_argument("MakeTruthCase: the bend must be above 0 and at most 120 degrees");
  Shape s = options.shape == TruthShape::kLimb    ? LimbShape(options)
            : options.shape == TruthShape::kTorus ? TorusShapeCase(options)
            : options.shape == TruthShape::kSheet ? SheetShape(options)
                                                  : ScanShape(options);
  TruthCase& t = s.truth;
  t.name = TruthShapeName(options.shape);
  const Float radians = options.bendDegrees * kPi / 180.0;
  t.joints = {JointPose{}, JointPose{Matrix{}, RotationAbout(s.pivot, s.axis, radians)}};
  const Int64 count = static_cast<Int64>(t.rest.points.size());
  const std::vector<const Float32*> weights = {t.weights[0].data(), t.weights[1].data()};
  t.skinned.resize(t.rest.points.size());
  SkinPoints(t.rest.points.data(), count, t.joints, weights, t.skinned.data());
  std::vector<Vector3> skinnedBase(t.rest.points.size());
  SkinPoints(t.restBase.data(), count, t.joints, weights, skinnedBase.data());
  CheckRegular(s, skinnedBase, radians, t.name);

  const std::vector<SurfaceFrame> from = PointFrames(t.restBase, t.rest.polygons);
  const std::vector<SurfaceFrame> to = PointFrames(skinnedBase, t.rest.polygons);
  t.ideal.resize(t.rest.points.size());
  for (size_t i = 0; i < t.ideal.size(); ++i)
    t.ideal[i] = Add(skinnedBase[i], Turned(Sub(t.rest.points[i], t.restBase[i]), from[i], to[i]));
  t.region = BlendRegion(weights, count);
  for (Int32 p : t.region)
    t.detailHeight +=
        Length(Sub(t.rest.points[static_cast<size_t>(p)], t.restBase[static_cast<size_t>(p)]));
  if (!t.region.empty()) t.detailHeight /= static_cast<Float>(t.region.size());
  return std::move(s.truth);
}

TrueError MeasureTrueError(const TruthCase& truth, const std::vector<Vector3>& result) {
  if (result.size() != truth.ideal.size())
    throw std::invalid_argument("MeasureTrueError: " + std::to_string(result.size()) +
                                " points, but the case has " + std::to_string(truth.ideal.size()));
  std::vector<Float> distances;
  distances.reserve(truth.region.size());
  for (Int32 p : truth.region)
    distances.push_back(
        Length(Sub(result[static_cast<size_t>(p)], truth.ideal[static_cast<size_t>(p)])));
  TrueError e;
  if (distances.empty()) return e;
  for (Float d : distances) e.mean += d;
  e.mean /= static_cast<Float>(distances.size());
  const size_t at = (distances.size() * 95 + 99) / 100 - 1;
  std::nth_element(distances.begin(), distances.begin() + static_cast<std::ptrdiff_t>(at),
                   distances.end());
  e.p95 = distances[at];
  if (truth.detailHeight > 0.0) {
    e.meanShare = e.mean / truth.detailHeight;
    e.p95Share = e.p95 / truth.detailHeight;
  }
  return e;
}

}  // namespace headless
