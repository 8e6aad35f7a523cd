// The frames tune poses to pick the most deformed from: every frame of a short range, an even
// spread of a long one that keeps its ends and never repeats a frame.
#include "headless/job/tune_character.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <vector>

namespace {

headless::CorrectionSettings Given(std::optional<Int32> iterations, std::optional<Int32> weighting,
                                   std::optional<Int32> pin, std::optional<Float> strength) {
  headless::CorrectionSettings s;
  s.iterations = iterations;
  s.weighting = weighting;
  s.pinBorder = pin;
  s.strength = strength;
  return s;
}

TEST(TuneCharacter, ScanFramesTakesAShortRangeWholeAndSpreadsALongOne) {
  struct Case {
    headless::FrameRange range;
    size_t most;
    std::vector<Float> expected;  // empty: only the shape is checked
    size_t count;
  };
  const Case cases[] = {
      {{0, 0}, 120, {0.0}, 1},
      {{-2, 2}, 120, {-2.0, -1.0, 0.0, 1.0, 2.0}, 5},
      {{0, 9}, 4, {0.0, 3.0, 6.0, 9.0}, 4},
      {{10, 20}, 3, {10.0, 15.0, 20.0}, 3},
      {{0, 9}, 1, {0.0}, 1},
      {{0, 9}, 0, {}, 0},
      {{5, 4}, 10, {}, 0},
      {{0, 99999}, 120, {}, 120},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.range.first) + ":" + std::to_string(c.range.last) + " most " +
                 std::to_string(c.most));
    const std::vector<Float> frames = headless::ScanFrames(c.range, c.most);
    ASSERT_EQ(frames.size(), c.count);
    if (!c.expected.empty()) {
      EXPECT_EQ(frames, c.expected);
    }
    EXPECT_TRUE(std::adjacent_find(frames.begin(), frames.end(), std::greater_equal<Float>()) ==
                frames.end());
    if (c.count > 1) {
      EXPECT_EQ(frames.front(), c.range.first);
      EXPECT_EQ(frames.back(), c.range.last);
    }
  }
}

TEST(TuneCharacter, AutoSettingsKeepWhatIsGivenAndFillTheRestFromTheRecommendation) {
  headless::TuneResult result;
  result.scores = {{{0, 1, 0}}, {{8, 0, 1}}};
  result.recommended = 1;
  const std::optional<Int32> none;
  struct Case {
    headless::CorrectionSettings given;
    Int32 rounds, weighting, pin;
  };
  const Case cases[] = {{Given(none, none, none, 0.5), 8, 0, 1},
                        {Given(3, none, none, {}), 3, 0, 1},
                        {Given(none, 1, 0, {}), 8, 1, 0},
                        {Given(2, 1, 0, 0.25), 2, 1, 0}};
  for (const Case& c : cases) {
    const headless::CorrectionSettings s = headless::AutoSettings(result, c.given);
    EXPECT_EQ(s.iterations, c.rounds);
    EXPECT_EQ(s.weighting, c.weighting);
    EXPECT_EQ(s.pinBorder, c.pin);
    EXPECT_EQ(s.strength, c.given.strength);
  }
  EXPECT_EQ(headless::AutoSettingsLine("arm", Given(8, 0, 1, {})),
            "settings auto: arm: 8 rounds, weighting 0, pin 1");
}

}  // namespace
