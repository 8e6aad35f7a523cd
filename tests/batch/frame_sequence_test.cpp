// Numbered sequences: a pattern names every frame padded as asked, "%%" follows printf, and a
// sequence's range is whole, ascending and capped.
#include "headless/batch/frame_sequence.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

namespace {

TEST(FrameSequence, PatternsNameEveryFramePaddedAsAsked) {
  EXPECT_TRUE(headless::IsFramePattern("shots/walk.####.obj"));
  EXPECT_TRUE(headless::IsFramePattern("walk.%04d.obj"));
  EXPECT_TRUE(headless::IsFramePattern("walk.%d.obj"));
  EXPECT_FALSE(headless::IsFramePattern("take#2/walk.obj"));  // only the file name counts
  EXPECT_FALSE(headless::IsFramePattern("50%off.obj"));
  EXPECT_FALSE(headless::IsFramePattern("walk.%4d.obj"));
  EXPECT_EQ(headless::FramePath("shots/walk.####.obj", 7), "shots/walk.0007.obj");
  EXPECT_EQ(headless::FramePath("walk.##.obj", 123), "walk.123.obj");
  EXPECT_EQ(headless::FramePath("walk.%04d.obj", -3), "walk.-0003.obj");
  EXPECT_EQ(headless::FramePath("walk.%d.obj", 12), "walk.12.obj");
  EXPECT_EQ(headless::PaddedFrame(42), "0042");
  EXPECT_THROW(headless::IsFramePattern("a.##.%02d.obj"), std::invalid_argument);
}

// "%%" is one '%' in a name with a printf field, as printf writes it; a '#' pattern keeps it.
TEST(FrameSequence, PercentSignsFollowPrintf) {
  EXPECT_EQ(headless::FramePath("shots/100%%.%04d.obj", 7), "shots/100%.0007.obj");
  EXPECT_EQ(headless::FramePath("a%%%d.obj", 5), "a%5.obj");
  EXPECT_FALSE(headless::IsFramePattern("100%%d.obj"));  // printf writes "100%d.obj"
  EXPECT_FALSE(headless::IsFramePattern("a%%04d.obj"));
  EXPECT_EQ(headless::FramePath("50%%.##.obj", 7), "50%%.07.obj");
}

TEST(FrameSequence, ExpandingNumbersEveryFileAndRefusesRangesWithoutPatternsOrBounds) {
  std::vector<Int64> frames;
  EXPECT_EQ(headless::ExpandSequence({"a.obj", "w.#.obj"}, true, 9, 10, frames),
            (std::vector<std::string>{"a.obj", "w.9.obj", "w.10.obj"}));
  EXPECT_EQ(frames, (std::vector<Int64>{0, 9, 10}));
  EXPECT_EQ(headless::ExpandSequence({"b.obj", "a.obj"}, false, 0, 0, frames),
            (std::vector<std::string>{"b.obj", "a.obj"}));
  EXPECT_EQ(frames, (std::vector<Int64>{0, 1}));
  EXPECT_THROW(headless::ExpandSequence({"w.#.obj"}, false, 0, 0, frames), std::invalid_argument);
  EXPECT_THROW(headless::ExpandSequence({"w.obj"}, true, 0, 1, frames), std::invalid_argument);
  // A range of the most frames a sequence has, and one beyond; one running backwards.
  const Int32 most = static_cast<Int32>(headless::kMaxSequenceFrames);
  EXPECT_EQ(headless::ExpandSequence({"w.#.obj"}, true, 1, most, frames).size(),
            headless::kMaxSequenceFrames);
  EXPECT_THROW(headless::ExpandSequence({"w.#.obj"}, true, 0, most, frames), std::invalid_argument);
  EXPECT_THROW(headless::ExpandSequence({"w.#.obj"}, true, -2147483647 - 1, 2147483647, frames),
               std::invalid_argument);
  EXPECT_THROW(headless::ExpandSequence({"w.#.obj"}, true, 3, 2, frames), std::invalid_argument);
}

}  // namespace
