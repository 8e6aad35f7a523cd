// The frames tune poses to pick the most deformed from: every frame of a short range, an even
// spread of a long one that keeps its ends and never repeats a frame; the recommendation over the
// settings given; and tune on a batch run's frames, read one at a time, sampling as tune does on
// them all.
#include "headless/job/tune_character.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "headless/job/ground_truth.h"
#include "tests/support/loaded_plugin.h"

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

// Frames held in memory as a batch run's source.
class HeldFrames final : public headless::FrameSource {
 public:
  explicit HeldFrames(std::vector<std::vector<Vector3>> frames) : frames_(std::move(frames)) {}
  size_t Count() const override { return frames_.size(); }
  std::string Name(size_t i) const override { return "f" + std::to_string(i); }
  Float Number(size_t i) const override { return static_cast<Float>(i); }
  void Read(size_t i, headless::InputFrame& into, headless::FrameRooms&) override {
    into.sample = frames_[i];
  }
  std::vector<Vector3> PointsApart(size_t i) override {
    read.push_back(i);
    return frames_[i];
  }
  std::vector<size_t> read;

 private:
  std::vector<std::vector<Vector3>> frames_;
};

class TuneSourceTest : public LoadedPluginTest {};

// Only the most deformed few are held while the frames are read; ties keep the earlier frame, as
// choosing among all frames held at once does.
TEST_F(TuneSourceTest, SamplesTheFramesTuneWouldChooseAmongThemAll) {
  struct Case {
    std::vector<Float> bends;  // one frame each, the limb bent so far
    size_t sample, most;
  };
  const Case cases[] = {{{20, 45, 90, 45}, 2, 120},
                        {{45, 45, 90}, 2, 120},
                        {{45, 90, 45, 20}, 2, 120},
                        {{30}, 3, 120},
                        {{10, 80, 50, 70, 90, 85, 60}, 3, 4}};
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.bends) + " sample " + std::to_string(c.sample));
    std::vector<std::vector<Vector3>> frames;
    headless::Mesh rest;
    for (const Float bend : c.bends) {
      headless::TruthCase truth =
          headless::MakeTruthCase({headless::TruthShape::kLimb, 200, bend, 1});
      frames.push_back(std::move(truth.skinned));
      rest = std::move(truth.rest);
    }
    std::vector<size_t> scanned;
    std::vector<std::vector<Vector3>> scannedFrames;
    for (const Float f : headless::ScanFrames({0, static_cast<Int32>(frames.size() - 1)}, c.most)) {
      scanned.push_back(static_cast<size_t>(f));
      scannedFrames.push_back(frames[scanned.back()]);
    }
    std::vector<std::string> expected;
    for (const size_t k : headless::MostDeformedFrames(headless::PreparePairReference(rest, {}),
                                                       scannedFrames, c.sample))
      expected.push_back("f" + std::to_string(scanned[k]));

    HeldFrames source(frames);
    const headless::TuneResult result = headless::TuneSource(
        "limb", rest, source, headless::kDefaultPoseThreshold, c.sample, c.most);
    EXPECT_EQ(result.frameNames, expected);
    EXPECT_EQ(source.read, scanned);
    EXPECT_LT(result.recommended, result.scores.size());
  }
  HeldFrames none({});
  EXPECT_THROW(headless::TuneSource("limb", {}, none, headless::kDefaultPoseThreshold),
               std::invalid_argument);
}

}  // namespace
