// Frames taken through read, correct and write: each stage in frame order, the same work as one
// frame after another, and a failure of any stage at frame k leaving every earlier frame whole
// and nothing of k or later written.
#include "headless/batch/frame_pipeline.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace {

struct Log {
  std::mutex mutex;
  std::vector<std::string> read, corrected, written, reported;
  void Add(std::vector<std::string>& to, size_t frame) {
    std::lock_guard<std::mutex> lock(mutex);
    to.push_back(std::to_string(frame));
  }
};

// Stages that log each frame and fail in `failStage` at frame `failAt`.
headless::FrameStages Logging(Log& log, const std::string& failStage, size_t failAt) {
  const auto stage = [&log, failStage, failAt](std::vector<std::string> Log::*to,
                                               const std::string& name) {
    return [&log, to, name, failStage, failAt](size_t frame) {
      if (name == failStage && frame == failAt) throw std::runtime_error(name + " failed");
      log.Add(log.*to, frame);
    };
  };
  headless::FrameStages stages;
  stages.read = stage(&Log::read, "read");
  stages.correct = stage(&Log::corrected, "correct");
  stages.write = stage(&Log::written, "write");
  stages.written = [&log](size_t frame) { log.reported.push_back(std::to_string(frame)); };
  return stages;
}

std::vector<std::string> Frames(size_t count) {
  std::vector<std::string> out;
  for (size_t i = 0; i < count; ++i) out.push_back(std::to_string(i));
  return out;
}

TEST(FramePipeline, EveryStageSeesEveryFrameInOrder) {
  for (const bool pipelined : {true, false}) {
    for (const size_t count : {size_t{0}, size_t{1}, size_t{2}, size_t{7}}) {
      Log log;
      headless::RunFrames(count, Logging(log, "", 0), pipelined);
      EXPECT_EQ(log.read, Frames(count));
      EXPECT_EQ(log.corrected, Frames(count));
      EXPECT_EQ(log.written, Frames(count));
      EXPECT_EQ(log.reported, Frames(count));
    }
  }
}

TEST(FramePipeline, AFailingFrameStopsTheRunAfterEveryEarlierFrameIsWritten) {
  for (const std::string stage : {"read", "correct", "write"}) {
    for (const size_t failAt : {size_t{0}, size_t{3}, size_t{6}}) {
      SCOPED_TRACE(stage + " fails at frame " + std::to_string(failAt));
      Log log;
      try {
        headless::RunFrames(7, Logging(log, stage, failAt));
        ADD_FAILURE() << "no failure";
      } catch (const std::runtime_error& e) {
        EXPECT_EQ(std::string(e.what()), stage + " failed");
      }
      EXPECT_EQ(log.written, Frames(failAt));
      EXPECT_EQ(log.reported, Frames(failAt));
      // Work past the failing frame is at most what one step holds: two frames read, one
      // corrected.
      EXPECT_LE(log.read.size(), failAt + 3);
      EXPECT_LE(log.corrected.size(), failAt + 2);
    }
  }
}

TEST(FramePipeline, OnceEveryFrameIsReadTheFramesWrittenBeforeAStepAreHandedOn) {
  // The steps after the last read: each hands on the frames written in the steps before it.
  const std::vector<std::pair<size_t, std::vector<size_t>>> runs = {
      {1, {}}, {2, {1}}, {3, {1, 2}}, {7, {5, 6}}};
  for (const auto& run : runs) {
    // Not a structured binding: clang before 16 refuses a lambda capturing one.
    const size_t count = run.first;
    const std::vector<size_t>& handedOn = run.second;
    Log log;
    std::vector<size_t> calls;
    headless::FrameStages stages = Logging(log, "", 0);
    stages.onceAllRead = [&](size_t writtenBefore) {
      std::lock_guard<std::mutex> lock(log.mutex);
      EXPECT_EQ(log.read.size(), count);
      EXPECT_GE(log.written.size(), writtenBefore);
      calls.push_back(writtenBefore);
    };
    headless::RunFrames(count, stages);
    EXPECT_EQ(calls, handedOn) << count << " frames";
  }
  // Never after a failed read; and its own failure stops the run as the failure of the frame
  // its step writes.
  for (const std::string stage : {"read", "onceAllRead"}) {
    Log log;
    size_t calls = 0;
    headless::FrameStages stages = Logging(log, stage, 6);
    stages.onceAllRead = [&](size_t writtenBefore) {
      ++calls;
      if (stage == "onceAllRead" && writtenBefore == 5)
        throw std::runtime_error("handing on failed");
    };
    EXPECT_THROW(headless::RunFrames(7, stages), std::runtime_error);
    EXPECT_EQ(calls, stage == "read" ? 0u : 1u);
    EXPECT_EQ(log.reported, Frames(stage == "read" ? 6 : 5)) << stage;
  }
}

TEST(FramePipeline, FramesWrittenApartEndWithTheLastTwoWrittenAtOnce) {
  for (const size_t count : {size_t{1}, size_t{2}, size_t{7}}) {
    Log log;
    headless::FrameStages stages = Logging(log, "", 0);
    stages.writesApart = true;
    // The frame before the last is written only once the last one's writing has started.
    std::atomic<bool> lastStarted{false};
    bool met = count < 2;
    const auto write = stages.write;
    stages.write = [&](size_t frame) {
      if (frame + 1 == count) lastStarted.store(true);
      if (frame + 2 == count) {
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (!lastStarted.load() && std::chrono::steady_clock::now() < until)
          std::this_thread::yield();
        met = lastStarted.load();
      }
      write(frame);
    };
    headless::RunFrames(count, stages);
    EXPECT_TRUE(met) << count << " frames";
    std::sort(log.written.begin(), log.written.end());
    EXPECT_EQ(log.written, Frames(count));
    EXPECT_EQ(log.reported, Frames(count));
  }
  // Either of the two failing: nothing of a later frame is reported written.
  for (const size_t failAt : {size_t{5}, size_t{6}}) {
    Log log;
    headless::FrameStages stages = Logging(log, "write", failAt);
    stages.writesApart = true;
    EXPECT_THROW(headless::RunFrames(7, stages), std::runtime_error);
    EXPECT_EQ(log.reported, Frames(failAt));
  }
}

TEST(FramePipeline, InPairsTheFirstFailingFrameIsTheOneNamed) {
  for (const size_t count : {size_t{1}, size_t{6}, size_t{7}}) {
    Log log;
    headless::RunInPairs(count, [&log](size_t frame) { log.Add(log.read, frame); });
    std::sort(log.read.begin(), log.read.end());
    EXPECT_EQ(log.read, Frames(count));
  }
  // Frames 4 and 5, checked at once, both fail: 4 is named, and every frame before it ran.
  Log log;
  try {
    headless::RunInPairs(7, [&log](size_t frame) {
      if (frame == 4 || frame == 5) throw std::runtime_error("frame " + std::to_string(frame));
      log.Add(log.read, frame);
    });
    ADD_FAILURE() << "no failure";
  } catch (const std::runtime_error& e) {
    EXPECT_EQ(std::string(e.what()), "frame 4");
  }
  std::sort(log.read.begin(), log.read.end());
  EXPECT_EQ(log.read, Frames(4));
}

TEST(FramePipeline, StagesOfOneStepRunAtOnce) {
  // Reading frame 1 waits for the correction of frame 0 to start: they can only meet when the
  // stages of a step overlap (one frame after another would wait forever, so it is not run).
  std::atomic<bool> correcting{false};
  headless::FrameStages stages;
  stages.read = [&](size_t frame) {
    if (frame == 1)
      while (!correcting.load()) std::this_thread::yield();
  };
  stages.correct = [&](size_t) { correcting.store(true); };
  stages.write = [](size_t) {};
  headless::RunFrames(3, stages);
  EXPECT_TRUE(correcting.load());
}

}  // namespace
