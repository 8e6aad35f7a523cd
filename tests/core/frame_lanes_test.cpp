// Several points' frame axes at once give, lane by lane, the bits of the one-point rule, including
// its zero, singular and not-a-number cases, whichever lane a point sits in and whichever width's
// table runs them.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "source/tessamireThreads/frame_lanes.h"
#include "source/tessamireThreads/lane_kernels.h"

namespace {

bool SameBits(const FrameAxes& a, const FrameAxes& b) {
  return std::memcmp(&a, &b, sizeof a) == 0;
}

FrameInput Input(Vector3 sum, Float inverseCount, Vector3 here, Vector3 first, Vector3 second,
                 Bool hasPair) {
  FrameInput in;
  in.normalSum = sum;
  in.inverseCount = inverseCount;
  in.here = here;
  in.first = first;
  in.second = second;
  in.hasPair = hasPair;
  return in;
}

std::vector<FrameInput> Cases() {
  const Float nan = std::numeric_limits<Float>::quiet_NaN();
  return {
      Input({0.1, 0.2, 3.7}, 0.25, {1, 2, 3}, {1.5, 2.1, 3.0}, {0.4, 1.9, 3.1}, true),
      Input({-0.3, 0.9, 0.05}, 1.0 / 3.0, {0, 0, 0}, {1e-8, 0, 0}, {-1e-8, 2e-9, 0}, true),
      Input({0, 0, 0}, 0.25, {1, 1, 1}, {2, 1, 1}, {0, 1, 1}, true),         // normals cancel
      Input({0, 0, 1}, 0.5, {1, 1, 1}, {1, 1, 1}, {1, 1, 1}, true),          // zero tangent
      Input({0, 0, 2}, 0.5, {0, 0, 0}, {0, 0, 5}, {0, 0, -5}, true),         // tangent along normal
      Input({0.3, -0.4, 0.5}, 1.0, {7, 8, 9}, {7, 8, 9}, {7, 8, 9}, false),  // no corner pair
      Input({0, 0, 0}, 1.0, {0, 0, 0}, {0, 0, 0}, {0, 0, 0}, false),         // no polygon
      Input({nan, 0, 1}, 0.25, {0, 0, 0}, {1, 0, 0}, {-1, 0, 0}, true),
      Input({1e300, 1e300, 1e300}, 0.25, {0, 0, 0}, {1e-300, 0, 0}, {0, 0, 0}, true),
  };
}

TEST(FrameLanes, EachLaneMatchesTheOnePointRuleBitForBit) {
  const std::vector<FrameInput> cases = Cases();
  for (size_t i = 0; i < cases.size(); ++i) {
    for (size_t j = 0; j < cases.size(); ++j) {
      FrameAxes a;
      FrameAxes b;
      FrameAxesOfPair(cases[i], cases[j], a, b);
      EXPECT_TRUE(SameBits(a, FrameAxesOf(cases[i]))) << "low lane, case " << i << " with " << j;
      EXPECT_TRUE(SameBits(b, FrameAxesOf(cases[j]))) << "high lane, case " << j << " with " << i;
    }
  }
}

// Every case in every lane of `four`, beside every other case.
void ExpectEachOfFourLanesMatchesTheOnePointRule(void (*four)(const FrameInput*, FrameAxes*)) {
  const std::vector<FrameInput> cases = Cases();
  const size_t n = cases.size();
  for (size_t i = 0; i < n; ++i) {
    for (size_t step = 1; step < n; ++step) {
      const FrameInput in[4] = {cases[i], cases[(i + step) % n], cases[(i + 2 * step) % n],
                                cases[(i + 3 * step) % n]};
      FrameAxes out[4];
      four(in, out);
      for (int k = 0; k < 4; ++k)
        EXPECT_TRUE(SameBits(out[k], FrameAxesOf(in[k]))) << "lane " << k << ", first case " << i;
    }
  }
}

TEST(FrameLanes, EachOfFourLanesMatchesTheOnePointRule) {
  ExpectEachOfFourLanesMatchesTheOnePointRule(FrameAxesOfFour);
}

// Whether the processor runs a width, asked here rather than of the core, so that a core that
// failed to see the lanes cannot turn the test of them into a skip.
bool ProcessorRuns(LaneWidth width) {
#if (defined(__x86_64__) || defined(__i386__)) && (defined(__GNUC__) || defined(__clang__))
  if (width == LaneWidth::kWide) return __builtin_cpu_supports("avx");
  if (width == LaneWidth::kWide512)
    return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512vl");
#endif
  return width == LaneWidth::kPairs;
}

// Each width's table, forced for the process as the tests and the bench force it: the core then
// runs that width, and its frame kernel gives every case in every lane, beside every other case,
// the one-point rule's bits.
class LaneTable : public ::testing::TestWithParam<LaneWidth> {
 protected:
  void TearDown() override { UnforceLaneWidth(); }
};

TEST_P(LaneTable, ForcedWidthRunsAndEachLaneMatchesTheOnePointRule) {
  const LaneWidth width = GetParam();
  if (!ProcessorRuns(width)) GTEST_SKIP() << "this processor lacks the width: not tested here";
  if (!BuildCarriesLaneWidth(width)) GTEST_SKIP() << "this build carries no such lanes";
  const LaneKernels* lanes = KernelsOf(width);
  ASSERT_NE(lanes, nullptr);
  ASSERT_EQ(ForceLaneWidth(width), width);
  EXPECT_EQ(&ActiveLanes(), lanes);
  EXPECT_EQ(lanes->width, width);
  ASSERT_LE(lanes->framePoints, 8);
  const std::vector<FrameInput> cases = Cases();
  const size_t n = cases.size();
  const size_t lanesPerCall = static_cast<size_t>(lanes->framePoints);
  for (size_t i = 0; i < n; ++i) {
    for (size_t step = 1; step < n; ++step) {
      FrameInput in[8];
      for (size_t k = 0; k < lanesPerCall; ++k) in[k] = cases[(i + k * step) % n];
      FrameAxes out[8];
      lanes->frameAxes(in, out);
      for (size_t k = 0; k < lanesPerCall; ++k)
        EXPECT_TRUE(SameBits(out[k], FrameAxesOf(in[k]))) << "lane " << k << ", first case " << i;
    }
  }
  // Every narrower table is available too, and narrower.
  for (const LaneKernels* less = lanes->narrower; less != nullptr; less = less->narrower) {
    EXPECT_LT(static_cast<Int32>(less->width), static_cast<Int32>(width));
    EXPECT_TRUE(LaneWidthAvailable(less->width));
  }
}

INSTANTIATE_TEST_SUITE_P(Widths, LaneTable,
                         ::testing::Values(LaneWidth::kPairs, LaneWidth::kWide,
                                           LaneWidth::kWide512),
                         [](const ::testing::TestParamInfo<LaneWidth>& info) {
                           return "bits" + std::to_string(64 * static_cast<int>(info.param));
                         });

TEST(FrameLanes, ForcingAWidthChoosesTheWidestAvailableUpToIt) {
  const bool wide = LaneWidthAvailable(LaneWidth::kWide);
  EXPECT_EQ(ForceLaneWidth(LaneWidth::kPairs), LaneWidth::kPairs);
  EXPECT_EQ(ForceLaneWidth(LaneWidth::kWide), wide ? LaneWidth::kWide : LaneWidth::kPairs);
  const LaneWidth widest = LaneWidthAvailable(LaneWidth::kWide512) ? LaneWidth::kWide512
                           : wide                                  ? LaneWidth::kWide
                                                                   : LaneWidth::kPairs;
  EXPECT_EQ(ForceLaneWidth(LaneWidth::kWide512), widest);
  // Unforced, the process runs the widest it has, as a process that never forced one does.
  EXPECT_EQ(UnforceLaneWidth(), widest);
  EXPECT_EQ(ActiveLanes().width, widest);
  EXPECT_TRUE(LaneWidthAvailable(LaneWidth::kPairs));
  EXPECT_EQ(KernelsOf(LaneWidth::kPairs), &Lanes128());
}

TEST(FrameLanes, OnePointRuleGivesAFrameOrZeroAxes) {
  // A regular point: right-handed unit axes, axis1 across the tangent hint.
  const FrameAxes f = FrameAxesOf(Input({0, 0, 4}, 0.25, {0, 0, 0}, {1, 0, 0}, {-1, 0, 0}, true));
  EXPECT_EQ(f.axis3.z, 1.0);
  EXPECT_EQ(f.axis1.y, 1.0);
  EXPECT_EQ(f.axis2.x, -1.0);
  // Without a corner pair the tangent axes stay zero; a zero normal sum gives a zero axis3.
  const FrameAxes none = FrameAxesOf(Input({0, 0, 0}, 1.0, {1, 2, 3}, {4, 5, 6}, {7, 8, 9}, false));
  for (Float v : {none.axis1.x, none.axis1.y, none.axis1.z, none.axis2.x, none.axis2.y,
                  none.axis2.z, none.axis3.x, none.axis3.y, none.axis3.z}) {
    EXPECT_EQ(v, 0.0);
    EXPECT_FALSE(std::signbit(v));
  }
}

}  // namespace
