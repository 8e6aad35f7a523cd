// The progress unit: a bar redrawn in place only on a terminal, plain lines otherwise, nothing
// when quiet.
#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>
#include <stdexcept>

#include "headless/batch/progress_printer.h"

namespace {

using headless::ChooseProgressStyle;
using headless::Progress;
using headless::ProgressStyle;

TEST(ProgressTest, StyleFollowsTerminalAndQuiet) {
  EXPECT_EQ(ChooseProgressStyle(true, false), ProgressStyle::kBar);
  EXPECT_EQ(ChooseProgressStyle(false, false), ProgressStyle::kLines);
  EXPECT_EQ(ChooseProgressStyle(true, true), ProgressStyle::kQuiet);
  EXPECT_EQ(ChooseProgressStyle(false, true), ProgressStyle::kQuiet);
}

TEST(ProgressTest, BarTextFillsInProportion) {
  EXPECT_EQ(headless::ProgressBarText("job", "frame", 0, 4, "", 8), "job [--------] frame 0/4");
  EXPECT_EQ(headless::ProgressBarText("job", "frame", 1, 4, "a", 8), "job [##------] frame 1/4 a");
  EXPECT_EQ(headless::ProgressBarText("job", "frame", 4, 4, "", 8), "job [########] frame 4/4");
  // Out-of-range counts are clamped rather than overrunning the bar.
  EXPECT_EQ(headless::ProgressBarText("job", "frame", 9, 4, "", 8), "job [########] frame 4/4");
  EXPECT_EQ(headless::ProgressBarText("job", "frame", 0, 0, "", 4), "job [####] frame 0/0");
}

TEST(ProgressTest, TerminalGetsOneBarLineRedrawnInPlace) {
  std::ostringstream os;
  {
    Progress progress(os, ProgressStyle::kBar, "job", "frame", 3);
    progress.Step("longer detail");
    progress.Step("x");
    EXPECT_EQ(os.str().find('\n'), std::string::npos) << "no newline before the end";
    progress.Step("y");
  }
  const std::string text = os.str();
  EXPECT_EQ(std::count(text.begin(), text.end(), '\r'), 3);
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 1) << text;
  EXPECT_EQ(text.back(), '\n');
  EXPECT_NE(text.find("frame 3/3 y"), std::string::npos) << text;
  // The shorter second line is padded to wipe the first one's tail.
  const std::string first = "\r" + headless::ProgressBarText("job", "frame", 1, 3, "longer detail");
  const size_t second = text.find('\r', 1);
  const size_t third = text.find('\r', second + 1);
  EXPECT_EQ(third - second, first.size());
}

TEST(ProgressTest, UnfinishedBarIsEndedByFinishOnce) {
  std::ostringstream os;
  Progress progress(os, ProgressStyle::kBar, "job", "file", 5);
  progress.Step();
  progress.Finish();
  progress.Finish();
  const std::string text = os.str();
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 1);
  EXPECT_EQ(text.back(), '\n');
}

TEST(ProgressTest, PipesGetPlainLinesAndQuietGetsNothing) {
  std::ostringstream lines;
  {
    Progress progress(lines, ProgressStyle::kLines, "tessamire eval", "frame", 2);
    progress.SetLineInterval(std::chrono::seconds(0));
    progress.Step("at frame 7");
    progress.Step();
  }
  EXPECT_EQ(lines.str(), "tessamire eval: frame 1/2: at frame 7\ntessamire eval: frame 2/2\n");

  // A quick run into a log leaves its last line only, however many items it had; a second run
  // of the same progress counts from its own start.
  std::ostringstream log;
  {
    Progress progress(log, ProgressStyle::kLines, "tessamire correct", "frame", 40);
    for (int i = 0; i < 40; ++i) progress.Step("at frame " + std::to_string(i));
    progress.Begin("frame", 2);
    progress.Step();
    progress.Step("at frame 1");
  }
  EXPECT_EQ(log.str(),
            "tessamire correct: frame 40/40: at frame 39\n"
            "tessamire correct: frame 2/2: at frame 1\n");

  std::ostringstream quiet;
  {
    Progress progress(quiet, ProgressStyle::kQuiet, "job", "frame", 2);
    progress.Step("a");
    progress.Step("b");
    progress.Finish();
  }
  EXPECT_TRUE(quiet.str().empty());
}

TEST(ProgressTest, RefusesANegativeTotal) {
  std::ostringstream os;
  EXPECT_THROW(Progress(os, ProgressStyle::kLines, "job", "frame", -1), std::invalid_argument);
}

}  // namespace
