// TessamireController driven on a host thread over polygon objects of the in-process host:
// configuration, determinism across runs and worker counts, and runs that must fail cleanly.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "headless/scene/registry.h"
#include "headless/scene/scene.h"
#include "tests/support/core_fixture.h"

namespace {

// A byte pattern that no run writes, to see whether the frame buffer was touched.
constexpr unsigned char kUntouched = 0xA5;

class ControllerTest : public CoreTest {
 protected:
  void SetUp() override {
    CoreTest::SetUp();
    document_ = headless::NewDocument();
  }

  headless::Node* AddMesh(const headless::Mesh& mesh) {
    return document_->AddPolygonObject("mesh", mesh.points, mesh.polygons);
  }

  // One run into a fresh buffer filled with kUntouched, one frame longer than the points;
  // answers whether it succeeded.
  bool Run(headless::Node* object, const SmoothingSettings& settings, std::vector<Frame>& frames) {
    frames.assign(object->points.size() + 1, Frame{});
    std::memset(static_cast<void*>(frames.data()), kUntouched, frames.size() * sizeof(Frame));
    TessamireController controller;
    EXPECT_TRUE(controller.Configure(headless::ToObject(object),
                                     std::span<Frame>(frames).first(object->points.size()),
                                     settings));
    return RunController(controller);
  }

  static bool Untouched(const std::vector<Frame>& frames) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(frames.data());
    return std::all_of(bytes, bytes + frames.size() * sizeof(Frame),
                       [](unsigned char b) { return b == kUntouched; });
  }

  static bool SameBits(const std::vector<Frame>& a, const std::vector<Frame>& b) {
    return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(Frame)) == 0;
  }

  std::unique_ptr<headless::Document> document_;
};

TEST_F(ControllerTest, ConfigureAcceptsOnlyPolygonObjectsWithOneFramePerPoint) {
  TessamireController controller;
  std::vector<Frame> frames(6);
  headless::Node* null = document_->AddObject(headless::kNullObjectType, "null");
  EXPECT_FALSE(controller.Configure(headless::ToObject(null), frames, SmoothingSettings{}));
  EXPECT_FALSE(controller.Configure(nullptr, frames, SmoothingSettings{}));
  headless::Node* mesh = AddMesh(headless::Grid(2, 1));
  for (size_t wrong : {size_t{0}, size_t{5}})
    EXPECT_FALSE(controller.Configure(headless::ToObject(mesh),
                                      std::span<Frame>(frames).first(wrong), SmoothingSettings{}))
        << wrong << " frames for 6 points";
  EXPECT_EQ(controller.GetPointCount(), 0) << "nothing stored";
  EXPECT_TRUE(controller.Configure(headless::ToObject(mesh), frames, SmoothingSettings{}));
  EXPECT_EQ(controller.GetPointCount(), 6);
  EXPECT_EQ(controller.GetPolygonCount(), 2);
}

TEST_F(ControllerTest, RunFillsOneFramePerPointOnTheHostThread) {
  const headless::Mesh torus = headless::Torus(12, 8);
  headless::Node* object = AddMesh(torus);
  std::vector<Frame> frames;
  ASSERT_TRUE(Run(object, SmoothingSettings{}, frames));
  const std::vector<std::string> names = headless::ThreadNames();
  EXPECT_NE(std::find(names.begin(), names.end(), "Tessamire Controller"), names.end());

  SmoothingSettings options;
  options.iterations = 2;
  options.weighting = kWeightingLength;
  std::vector<Frame> direct = RunFrames(torus, options);
  direct.push_back(frames.back());
  EXPECT_TRUE(SameBits(frames, direct)) << "the controller runs the core on the object's points";
  const auto* tail = reinterpret_cast<const unsigned char*>(&frames.back());
  EXPECT_TRUE(std::all_of(tail, tail + sizeof(Frame), [](unsigned char b) {
    return b == kUntouched;
  })) << "nothing written past pointCount frames";
  EXPECT_EQ(object->points[0].x, torus.points[0].x) << "the object's points are only read";

  // Zero passes: the origins are the points themselves.
  SmoothingSettings none;
  none.iterations = 0;
  ASSERT_TRUE(Run(object, none, frames));
  for (size_t i = 0; i < torus.points.size(); ++i) {
    EXPECT_EQ(std::memcmp(&frames[i].origin, &torus.points[i], sizeof(Vector3)), 0) << i;
  }
}

TEST_F(ControllerTest, RunsAreBitIdenticalAcrossRunsAndWorkerCounts) {
  headless::Mesh mesh = headless::Torus(37, 23);
  for (size_t i = 0; i < mesh.points.size(); i += 5) mesh.points[i].z += 0.01 * (i % 7);
  headless::Node* object = AddMesh(mesh);
  std::vector<Float32> weights(mesh.points.size());
  for (size_t i = 0; i < weights.size(); ++i) weights[i] = static_cast<Float32>(i % 11) / 10.0f;
  SmoothingSettings settings;
  settings.vertexMap = headless::ToTag(document_->AddVertexMap(object, weights));
  settings.strength = 0.7f;

  for (Int32 weighting : {kWeightingUniform, kWeightingLength}) {
    settings.weighting = weighting;
    std::vector<Frame> first;
    std::vector<Frame> second;
    headless::SetWorkerCount(4);
    ASSERT_TRUE(Run(object, settings, first));
    ASSERT_TRUE(Run(object, settings, second));
    EXPECT_TRUE(SameBits(first, second)) << "two runs";

    std::vector<Frame> serial;
    headless::EnableParallelFor(false);
    ASSERT_TRUE(Run(object, settings, serial));
    headless::EnableParallelFor(true);
    EXPECT_TRUE(SameBits(first, serial)) << "parallel loops switched off";

    std::vector<Frame> one;
    headless::SetWorkerCount(1);
    ASSERT_TRUE(Run(object, settings, one));
    EXPECT_TRUE(SameBits(first, one)) << "one worker";
  }
}

TEST_F(ControllerTest, FailedRunsLeaveTheFrameBufferUntouched) {
  const headless::Mesh grid = headless::Grid(4, 3);
  std::vector<Frame> frames;

  // A polygon index at the point count, and a negative one, in each corner. The core refuses
  // them itself: the host's adjacency, which need not check, never sees them (the headless one
  // would report them).
  headless::Node* bad = AddMesh(grid);
  const std::pair<char, Int32 CPolygon::*> corners[] = {
      {'a', &CPolygon::a}, {'b', &CPolygon::b}, {'c', &CPolygon::c}, {'d', &CPolygon::d}};
  for (const auto& [name, corner] : corners) {
    for (const Int32 index : {static_cast<Int32>(grid.points.size()), -1}) {
      bad->polygons[3] = grid.polygons[3];
      bad->polygons[3].*corner = index;
      EXPECT_FALSE(Run(bad, SmoothingSettings{}, frames)) << name << " = " << index;
      EXPECT_TRUE(Untouched(frames)) << name << " = " << index;
    }
  }
  EXPECT_EQ(headless::HostErrors(), std::vector<std::string>{});

  // A vertex map with fewer weights than points.
  headless::Node* object = AddMesh(grid);
  SmoothingSettings settings;
  settings.vertexMap =
      headless::ToTag(document_->AddVertexMap(object, std::vector<Float32>(5, 1.0f)));
  EXPECT_FALSE(Run(object, settings, frames));
  EXPECT_TRUE(Untouched(frames));

  // The mesh changed between Configure and the run.
  TessamireController controller;
  std::vector<Frame> buffer(grid.points.size());
  ASSERT_TRUE(controller.Configure(headless::ToObject(object), buffer, SmoothingSettings{}));
  object->points.push_back({0, 0, 0});
  EXPECT_FALSE(RunController(controller));
}

TEST_F(ControllerTest, RunsRefuseFramesOrWeightsOfAnotherCount) {
  const headless::Mesh grid = headless::Grid(4, 3);
  const size_t n = grid.points.size();
  std::vector<Frame> frames(n + 1);
  std::memset(static_cast<void*>(frames.data()), kUntouched, frames.size() * sizeof(Frame));
  const std::span<Frame> all(frames);
  PointFramesInput input = InputOf(grid, SmoothingSettings{});
  EXPECT_FALSE(ComputePointFrames(input, all.first(n - 1)));
  EXPECT_FALSE(ComputePointFrames(input, all));
  std::vector<Float32> weights(n + 1, 0.5f);
  for (size_t count : {n - 1, n + 1}) {
    input.weights = std::span<const Float32>(weights).first(count);
    EXPECT_FALSE(ComputePointFrames(input, all.first(n))) << count << " weights for " << n;
  }
  EXPECT_TRUE(Untouched(frames));
  input.weights = std::span<const Float32>(weights).first(n);
  EXPECT_TRUE(ComputePointFrames(input, all.first(n)));
}

TEST_F(ControllerTest, AllocationFailureAtEveryStepFailsCleanly) {
  const headless::Mesh torus = headless::Torus(9, 6);
  headless::Node* object = AddMesh(torus);
  std::vector<Frame> expected;
  ASSERT_TRUE(Run(object, SmoothingSettings{}, expected));

  Int64 failures = 0;
  bool succeeded = false;
  for (Int64 k = 1; !succeeded && k < 100; ++k) {
    std::vector<Frame> frames(torus.points.size());
    std::memset(static_cast<void*>(frames.data()), kUntouched, frames.size() * sizeof(Frame));
    const Int64 before = headless::GetAllocationStats().bytesInUse;
    {
      TessamireController controller;
      ASSERT_TRUE(controller.Configure(headless::ToObject(object), frames, SmoothingSettings{}));
      headless::FailNthAllocation(k);
      succeeded = RunController(controller);
      headless::FailNthAllocation(0);
    }
    EXPECT_EQ(headless::GetAllocationStats().bytesInUse, before) << "leak with failure at " << k;
    if (succeeded) {
      expected.pop_back();
      EXPECT_TRUE(SameBits(frames, expected));
    } else {
      ++failures;
      EXPECT_TRUE(Untouched(frames)) << "failure at " << k;
    }
  }
  EXPECT_TRUE(succeeded);
  EXPECT_GE(failures, 8) << "every allocation of the run was made to fail once";
}

TEST_F(ControllerTest, ObjectWithoutPoints) {
  headless::Node* empty = AddMesh(headless::Mesh{});
  std::vector<Frame> frames;
  EXPECT_TRUE(Run(empty, SmoothingSettings{}, frames));
  EXPECT_TRUE(Untouched(frames));
}

}  // namespace
