// Results into one point cache: the frames' own cache's timing kept when the format is the same,
// else the frames' numbers, refused before anything is written when the format cannot hold them;
// a result beyond float32 names its frame, and nothing reaches the target but a whole cache.
#include "headless/batch/cache_results.h"

#include <gtest/gtest.h>

#include <limits>
#include <stdexcept>

#include "headless/batch/cache_frames.h"
#include "headless/batch/obj_frames.h"
#include "headless/io/obj_read.h"
#include "tests/batch/grid_files.h"
#include "tests/support/thrown.h"

namespace {

namespace fs = std::filesystem;

TEST(CacheResults, TimingComesFromTheFramesCacheOrTheirNumbers) {
  const GridFiles files(3);
  const headless::ObjFile rest = headless::ReadObjFile(files.rest);
  const std::string mdd = files.Path("walk.mdd");
  headless::WritePointCache(
      mdd, headless::MakePointCache(headless::PointCacheFormat::kMdd, files.points, 2.0, 24.0));
  headless::CacheFrames samples(mdd, std::make_unique<headless::PointCacheSamples>(mdd), "rest",
                                files.grid.points.size(), 24.0);
  headless::ObjFrames objs(files.frames, {4, 6, 8}, rest);
  struct Run {
    const headless::FrameSource* frames;
    std::string out;
  };
  for (const Run& run : {Run{&samples, files.Path("same.mdd")}, Run{&samples, files.Path("a.pc2")},
                         Run{&objs, files.Path("b.mdd")}, Run{&objs, files.Path("c.pc2")}}) {
    SCOPED_TRACE(run.out);
    headless::CacheResults sink(run.out, *run.frames, 24.0);
    for (size_t i = 0; i < 3; ++i) sink.Write(i, {}, files.points[i]);
    EXPECT_FALSE(fs::exists(run.out)) << "not before the commit";
    sink.Commit(3);
    const headless::PointCache written = headless::ReadPointCache(run.out);
    ASSERT_EQ(written.SampleCount(), 3);
    for (Int64 s = 0; s < 3; ++s)
      EXPECT_EQ(written.SampleFrame(s, 24.0), run.frames->Number(static_cast<size_t>(s)));
  }
  EXPECT_EQ(headless::ReadPointCache(files.Path("same.mdd")).times,
            headless::ReadPointCache(mdd).times)
      << "the times as the input cache has them";
}

TEST(CacheResults, WhatTheCacheCannotHoldIsRefusedNamingIt) {
  const GridFiles files(3);
  const headless::ObjFile rest = headless::ReadObjFile(files.rest);
  // PC2 holds only even steps.
  headless::ObjFrames uneven(files.frames, {1, 2, 4}, rest);
  const std::string out = files.Path("out.pc2");
  const std::string message =
      ThrownMessage<std::runtime_error>([&] { headless::CacheResults(out, uneven, 30.0); });
  EXPECT_EQ(message.rfind(out + ": ", 0), 0u) << message;
  EXPECT_FALSE(fs::exists(out));

  headless::ObjFrames frames(files.frames, files.numbers, rest);
  headless::CacheResults sink(out, frames, 30.0);
  sink.Write(0, {}, files.points[0]);
  std::vector<Vector3> far = files.points[1];
  far[3].y = std::numeric_limits<Float>::max();
  const std::string tooFar = ThrownMessage<std::runtime_error>([&] { sink.Write(1, {}, far); });
  EXPECT_EQ(tooFar.rfind(out + ": ", 0), 0u) << tooFar;
  EXPECT_NE(tooFar.find("(the result of " + files.frames[1] + ")"), std::string::npos) << tooFar;
  sink.Abandon(1, false);
  EXPECT_FALSE(fs::exists(out));
}

}  // namespace
