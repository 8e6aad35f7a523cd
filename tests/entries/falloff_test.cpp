// The headless host's falloff evaluator: through the host table as the plug-in calls it, and
// through the real deformer (description, weights applied per point, upkeep).
#include <gtest/gtest.h>

#include <thread>

#include "headless/entries/entries_state.h"
#include "headless/entries/falloff_entries.h"
#include "headless/entries/host_table.h"
#include "headless/entries/resources.h"
#include "headless/geometry/vector.h"
#include "headless/scene/parameters.h"
#include "tests/support/deform_scene.h"

namespace {

using deform_scene::MaxDistance;
using deform_scene::ToRef;
using headless::Container;
using headless::Node;

constexpr Float kTolerance = 1e-9;

const HostTable& Table() {
  return headless::HostTableInstance();
}

BaseContainer* AsHandle(Container& container) {
  return headless::ToContainer(&container);
}

Container Sphere(Float radius, Float inner) {
  Container c;
  c.SetInt32(headless::kFalloffShape, headless::kFalloffShapeSphere);
  c.SetFloat(headless::kFalloffRadius, radius);
  c.SetFloat(headless::kFalloffInnerRadius, inner);
  return c;
}

// One evaluator, freed at the end of the test.
class FalloffTableTest : public ::testing::Test {
 protected:
  void SetUp() override {
    headless::ResetHostState();
    live = headless::LiveFalloffs();
    falloff = Table().falloffAlloc(0);
    ASSERT_NE(falloff, nullptr);
  }
  void TearDown() override {
    Table().falloffFree(falloff);
    EXPECT_EQ(headless::LiveFalloffs(), live);
    headless::ResetHostState();
  }

  bool PreSample(const Matrix& m = Matrix{}) {
    FalloffInput input;
    const Vector3* rows[4] = {&m.off, &m.v1, &m.v2, &m.v3};
    for (int r = 0; r < 4; ++r) {
      input.transform[3 * r] = rows[r]->x;
      input.transform[3 * r + 1] = rows[r]->y;
      input.transform[3 * r + 2] = rows[r]->z;
    }
    return Table().falloffPreSample(falloff, nullptr, nullptr, &input, 0);
  }

  Float Sample(const Vector3& p, Falloff* from = nullptr) const {
    Float out = 1.0;
    const Float answer =
        Table().falloffSample(from ? from : falloff, &p, &out, true, 0.0, nullptr, 0);
    EXPECT_EQ(answer, out);
    return out;
  }

  Int64 live = 0;
  Falloff* falloff = nullptr;
};

TEST_F(FalloffTableTest, InfiniteByDefault) {
  Container empty;
  EXPECT_TRUE(Table().falloffInit(falloff, AsHandle(empty), nullptr, nullptr));
  EXPECT_FALSE(PreSample());
  EXPECT_EQ(Sample({1e6, 0.0, 0.0}), 1.0);
  EXPECT_EQ(Table().falloffHandleCount(falloff, AsHandle(empty)), 0);
  EXPECT_TRUE(Table().falloffSetMode(falloff, headless::kFalloffShapeInfinite, AsHandle(empty)));
  EXPECT_TRUE(Table().falloffSetMode(falloff, headless::kFalloffShapeSphere, AsHandle(empty)));
  EXPECT_FALSE(Table().falloffSetMode(falloff, 12345, AsHandle(empty)));
}

TEST_F(FalloffTableTest, SphereIsOneInsideZeroOutsideAndLinearBetween) {
  Container c = Sphere(3.0, 1.0);
  ASSERT_TRUE(Table().falloffInit(falloff, AsHandle(c), nullptr, nullptr));
  ASSERT_TRUE(PreSample());
  EXPECT_EQ(Sample({0.0, 0.0, 0.0}), 1.0);
  EXPECT_EQ(Sample({0.0, 1.0, 0.0}), 1.0);
  EXPECT_DOUBLE_EQ(Sample({0.0, 0.0, 1.5}), 0.75);
  EXPECT_DOUBLE_EQ(Sample({-2.0, 0.0, 0.0}), 0.5);
  EXPECT_EQ(Sample({0.0, 3.0, 0.0}), 0.0);
  EXPECT_EQ(Sample({5.0, 5.0, 5.0}), 0.0);

  // Points are taken through the object's global matrix: the centre stays at the origin.
  Matrix moved;
  moved.off = {2.0, 0.0, 0.0};
  ASSERT_TRUE(PreSample(moved));
  EXPECT_DOUBLE_EQ(Sample({0.0, 0.0, 0.0}), 0.5);
  EXPECT_EQ(Sample({-2.0, 0.0, 0.0}), 1.0);

  // A hard edge when the inner radius reaches the radius.
  c.SetFloat(headless::kFalloffInnerRadius, 3.0);
  ASSERT_TRUE(Table().falloffInit(falloff, AsHandle(c), nullptr, nullptr));
  ASSERT_TRUE(PreSample());
  EXPECT_EQ(Sample({2.999, 0.0, 0.0}), 1.0);
  EXPECT_EQ(Sample({3.001, 0.0, 0.0}), 0.0);
}

TEST_F(FalloffTableTest, InitialisationRefusesAnUnknownShape) {
  Container c;
  c.SetInt32(headless::kFalloffShape, 777);
  EXPECT_FALSE(Table().falloffInit(falloff, AsHandle(c), nullptr, nullptr));
  EXPECT_FALSE(Table().falloffInit(falloff, nullptr, nullptr, nullptr));
}

TEST_F(FalloffTableTest, DirtyCountChangesOnlyWithTheParameters) {
  Container c = Sphere(3.0, 1.0);
  ASSERT_TRUE(Table().falloffInit(falloff, AsHandle(c), nullptr, nullptr));
  const Int32 first = Table().falloffDirty(falloff, nullptr, AsHandle(c));
  EXPECT_EQ(Table().falloffDirty(falloff, nullptr, AsHandle(c)), first);
  c.SetFloat(headless::kFalloffRadius, 4.0);
  const Int32 second = Table().falloffDirty(falloff, nullptr, AsHandle(c));
  EXPECT_NE(second, first);
  EXPECT_EQ(Table().falloffDirty(falloff, nullptr, AsHandle(c)), second);
  // Initialising again with the new values does not hide the next change.
  c.SetFloat(headless::kFalloffInnerRadius, 0.5);
  ASSERT_TRUE(Table().falloffInit(falloff, AsHandle(c), nullptr, nullptr));
  EXPECT_NE(Table().falloffDirty(falloff, nullptr, AsHandle(c)), second);
}

TEST_F(FalloffTableTest, OneRadiusHandleForTheSphere) {
  Container c = Sphere(3.0, 1.0);
  ASSERT_TRUE(Table().falloffInit(falloff, AsHandle(c), nullptr, nullptr));
  ASSERT_EQ(Table().falloffHandleCount(falloff, AsHandle(c)), 1);
  HandleInfo info;
  Table().falloffGetHandle(falloff, 0, AsHandle(c), &info);
  EXPECT_EQ(info.position.x, 3.0);
  EXPECT_EQ(info.position.y, 0.0);
  Table().falloffSetHandle(falloff, 0, {0.0, 3.0, 4.0}, AsHandle(c), &info);
  EXPECT_EQ(c.GetFloat(headless::kFalloffRadius), 5.0);
  // There is no second handle.
  Table().falloffSetHandle(falloff, 1, {0.0, 0.0, 9.0}, AsHandle(c), &info);
  EXPECT_EQ(c.GetFloat(headless::kFalloffRadius), 5.0);
}

TEST_F(FalloffTableTest, CopyCarriesTheState) {
  Container c = Sphere(2.0, 0.0);
  ASSERT_TRUE(Table().falloffInit(falloff, AsHandle(c), nullptr, nullptr));
  ASSERT_TRUE(PreSample());
  c.SetFloat(headless::kFalloffRadius, 2.5);
  const Int32 dirty = Table().falloffDirty(falloff, nullptr, AsHandle(c));
  Falloff* copy = Table().falloffAlloc(0);
  ASSERT_NE(copy, nullptr);
  EXPECT_TRUE(Table().falloffCopyTo(falloff, copy));
  EXPECT_EQ(Sample({1.0, 0.0, 0.0}, copy), 0.5);
  EXPECT_EQ(Table().falloffDirty(copy, nullptr, AsHandle(c)), dirty);
  EXPECT_FALSE(Table().falloffCopyTo(falloff, nullptr));
  Table().falloffFree(copy);
}

TEST_F(FalloffTableTest, SamplingFromManyThreadsGivesTheSerialAnswers) {
  Container c = Sphere(10.0, 2.0);
  ASSERT_TRUE(Table().falloffInit(falloff, AsHandle(c), nullptr, nullptr));
  ASSERT_TRUE(PreSample());
  std::vector<Vector3> points;
  for (int i = 0; i < 4000; ++i) points.push_back({0.003 * i, 0.001 * i, -0.002 * i});
  std::vector<Float> serial;
  for (const Vector3& p : points) serial.push_back(Sample(p));
  std::vector<std::vector<Float>> results(6, std::vector<Float>(points.size()));
  std::vector<std::thread> threads;
  for (size_t t = 0; t < results.size(); ++t) {
    threads.emplace_back([&, t] {
      for (size_t i = 0; i < points.size(); ++i) {
        Float w = 1.0;
        Table().falloffSample(falloff, &points[i], &w, true, 0.0, nullptr, static_cast<Int32>(i));
        results[t][i] = w;
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  for (const auto& result : results) EXPECT_EQ(result, serial);
}

TEST_F(FalloffTableTest, WithheldLibrarySuppliesNone) {
  headless::WithholdFalloffLibrary(true);
  EXPECT_EQ(Table().falloffAlloc(0), nullptr);
}

// ---------------------------------------------------------------------------------------------
// Through the deformer

using FalloffDeformerTest = deform_scene::PluginScene;

std::vector<Int32> DescribedIds(Node* node) {
  headless::DescriptionData description;
  EXPECT_TRUE(headless::DescribeNode(node, description));
  std::vector<Int32> ids;
  for (const auto& p : description.parameters) ids.push_back(p.id);
  return ids;
}

TEST_F(FalloffDeformerTest, DescriptionListsTheFalloffParameters) {
  Node* deformer = doc->AddObject(ID_OTESSAMIRE, "deformer");
  EXPECT_EQ(
      DescribedIds(deformer),
      (std::vector<Int32>{OTESSAMIRE_FILTERMODE, OTESSAMIRE_OBJECTLIST, headless::kFalloffShape,
                          headless::kFalloffRadius, headless::kFalloffInnerRadius}));

  headless::WithholdFalloffLibrary(true);
  const Int64 live = headless::LiveFalloffs();
  Node* bare = doc->AddObject(ID_OTESSAMIRE, "bare");
  EXPECT_EQ(headless::LiveFalloffs(), live);
  EXPECT_EQ(DescribedIds(bare), (std::vector<Int32>{OTESSAMIRE_FILTERMODE, OTESSAMIRE_OBJECTLIST}));
}

TEST_F(FalloffDeformerTest, DeformerFreesItsEvaluator) {
  const Int64 live = headless::LiveFalloffs();
  Node* deformer = doc->AddObject(ID_OTESSAMIRE, "deformer");
  EXPECT_EQ(headless::LiveFalloffs(), live + 1);
  doc->Delete(deformer);
  EXPECT_EQ(headless::LiveFalloffs(), live);
}

TEST_F(FalloffDeformerTest, EachPointIsBlendedByItsSphereWeight) {
  const deform_scene::Mesh mesh = deform_scene::Ring(18, 8);
  const auto frame = deform_scene::Twist(mesh.points, 0.25, false, {0.4, 0.0, 0.0});
  Node* object = AddMesh(mesh);
  AddBoundTag(object, {});
  AddPointCache(object, frame);
  Node* deformer = AddDeformer(object);
  deformer->params.SetInt32(headless::kFalloffShape, headless::kFalloffShapeSphere);
  deformer->params.SetFloat(headless::kFalloffRadius, 3.8);
  deformer->params.SetFloat(headless::kFalloffInnerRadius, 2.6);
  const auto report = headless::EvaluateDocument(*doc);
  ASSERT_TRUE(report.Ok());

  headless::FalloffParameters sphere;
  sphere.shape = headless::kFalloffShapeSphere;
  sphere.radius = 3.8;
  sphere.innerRadius = 2.6;
  std::vector<double> weights;
  int partial = 0;
  for (const Vector3& p : frame) {
    weights.push_back(headless::SphereWeight(sphere, headless::Length(p)));
    if (weights.back() > 0.0 && weights.back() < 1.0) ++partial;
  }
  EXPECT_GT(partial, 10);  // the test means something only with weights between 0 and 1
  const auto faces = ToRef(mesh.polygons);
  const auto expected = reference::Correct(
      ToRef(frame), faces, reference::Bind(ToRef(mesh.points), faces, {}), {}, weights);
  EXPECT_LT(MaxDistance(headless::DeformedPoints(object), expected), kTolerance);
}

TEST_F(FalloffDeformerTest, UnknownShapeFailsThePreparationAndKeepsTheDeformerOut) {
  const deform_scene::Mesh mesh = deform_scene::Sheet(3, 3);
  Node* object = AddMesh(mesh);
  AddBoundTag(object, {});
  Node* deformer = AddDeformer(object);
  deformer->params.SetInt32(headless::kFalloffShape, 4242);
  const auto report = headless::EvaluateDocument(*doc);
  EXPECT_EQ(report.prepareResults, std::vector<Int32>{EXECUTIONRESULT_OUTOFMEMORY});
  ASSERT_EQ(report.errors.size(), 1u);
  EXPECT_NE(report.errors[0].find("PrepareExecution answered 2"), std::string::npos);
  EXPECT_TRUE(report.calls.empty());
}

}  // namespace
