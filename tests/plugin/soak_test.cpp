// A long run of evaluations of one scene (a ring with two bind tags, a point cache and the
// deformer) with seeded random parameter changes, rebinds, unbinds and new frames between them:
// the host allocator's bytes in use stay flat and the results are the same bits for the same
// seed, whatever the number of workers. TESSAMIRE_SOAK_EVALUATIONS sets the count (`make soak`
// runs 10,000).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <random>
#include <string>

#include "headless/files/checksum.h"
#include "tests/support/deform_scene.h"

namespace {

using deform_scene::PluginScene;
using headless::Node;
using namespace plugin_ids;

constexpr Int64 kWarmUp = 100;

Int64 SoakEvaluations() {
  const char* count = std::getenv("TESSAMIRE_SOAK_EVALUATIONS");
  return count != nullptr ? std::atoll(count) : 300;
}

class Soak : public PluginScene {
 protected:
  struct Outcome {
    UInt64 hash = headless::kFnv1a64Offset;  // of every evaluation's points, in order
    Int64 rebinds = 0;
    Int64 liveEvaluations = 0;  // evaluations with a tag unbound, bound live by the tag itself
  };

  // Raw draws of the engine only: its sequence is fixed by the standard, unlike distributions'.
  void Run(UInt64 seed, Int64 evaluations, Outcome& outcome) {
    doc = headless::NewDocument();
    const Mesh mesh = deform_scene::Ring(16, 8, deform_scene::Faces::kMixed);
    Node* object = AddMesh(mesh);
    Node* tags[2] = {AddBoundTag(object, {}), AddBoundTag(object, {})};
    Node* cache = AddPointCache(object, deform_scene::Twist(mesh.points, 0.2, false));
    Node* deformer = AddDeformer(object);
    std::mt19937_64 random(seed);
    Int64 flatBytes = -1;
    bool live[2] = {false, false};
    for (Int64 e = 0; e < evaluations; ++e) {
      const UInt64 draw = random();
      Node* tag = tags[draw % 2];
      const UInt64 value = random();
      switch ((draw >> 8) % 7) {
        case 0:
          tag->params.SetInt32(TTESSAMIRE_ITERATIONS, static_cast<Int32>(value % 6));
          break;
        case 1:
          tag->params.SetFloat(TTESSAMIRE_STRENGTH, static_cast<Float>(value % 1001) / 1000.0);
          break;
        case 2:
          tag->params.SetInt32(TTESSAMIRE_WEIGHTING, static_cast<Int32>(value % 2));
          break;
        case 3:
          tag->params.SetInt32(TTESSAMIRE_PINBORDER, static_cast<Int32>(value % 2));
          break;
        case 4:
          ASSERT_TRUE(headless::PressButton(tag, TTESSAMIRE_BIND)) << "evaluation " << e;
          live[draw % 2] = false;
          ++outcome.rebinds;
          break;
        case 5:
          ASSERT_TRUE(headless::PressButton(tag, TTESSAMIRE_UNBIND)) << "evaluation " << e;
          live[draw % 2] = true;
          break;
        default: {
          const Float turn = static_cast<Float>(value % 2001) / 1000.0 - 1.0;
          headless::LoadPointCacheFrame(
              cache, deform_scene::Twist(mesh.points, 0.3 * turn, false, {turn, 0.0, 0.0}));
        }
      }
      const headless::DeformReport report = headless::EvaluateDocument(*doc);
      ASSERT_TRUE(report.errors.empty()) << "evaluation " << e << ": " << report.errors[0];
      ASSERT_EQ(report.calls.size(), 2u) << "the point cache and the deformer";
      ASSERT_TRUE(report.calls.back().result) << "evaluation " << e;
      ASSERT_EQ(report.calls.back().deformer, deformer->serial);
      const std::vector<Vector3>& points = headless::DeformedPoints(object);
      outcome.hash =
          headless::Fnv1a64(points.data(), points.size() * sizeof(Vector3), outcome.hash);
      outcome.liveEvaluations += (live[0] || live[1]) ? 1 : 0;
      // Both tags hold one difference per point after every evaluation, bound or live, and the
      // deformer keeps its topology and buffers between evaluations: after the first hundred
      // (every kind of change met), the bytes in use never pass what they reached by then.
      const Int64 bytes = headless::GetAllocationStats().bytesInUse;
      if (e < kWarmUp) {
        flatBytes = std::max(flatBytes, bytes);
      } else {
        ASSERT_LE(bytes, flatBytes) << "evaluation " << e;
      }
    }
  }
};

TEST_F(Soak, EvaluationsWithRandomChangesKeepMemoryFlatAndRepeatBitForBit) {
  const Int64 evaluations = SoakEvaluations();
  Outcome first, again, other;
  Run(20261208, evaluations, first);
  ASSERT_FALSE(HasFatalFailure());
  // Every kind of change happened.
  EXPECT_GT(first.rebinds, 0);
  EXPECT_GT(first.liveEvaluations, 0);

  headless::SetWorkerCount(1);
  Run(20261208, evaluations, again);
  headless::SetWorkerCount(0);
  ASSERT_FALSE(HasFatalFailure());
  EXPECT_EQ(again.hash, first.hash) << "the same seed on one worker";

  Run(7, evaluations, other);
  ASSERT_FALSE(HasFatalFailure());
  EXPECT_NE(other.hash, first.hash) << "the seed reaches the results";
}

}  // namespace
