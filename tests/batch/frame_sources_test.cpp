// Where a run's frames come from: OBJ files checked against the rest, the first read ahead, a
// frame at fault named and noted as such; a cache's samples numbered by its timing, a cache of
// another point count or of no sample refused, and a cache's opening failing only where it is
// taken.
#include <gtest/gtest.h>

#include <fstream>
#include <stdexcept>

#include "headless/batch/cache_frames.h"
#include "headless/batch/obj_frames.h"
#include "headless/io/obj_read.h"
#include "headless/io/obj_write.h"
#include "tests/batch/grid_files.h"
#include "tests/support/thrown.h"

namespace {

namespace fs = std::filesystem;

// Frame 2 of four with its first face's corners in another order.
void SpoilFaces(const GridFiles& files) {
  std::ofstream(files.frames[2], std::ios::binary)
      << headless::PlainObjText(files.points[2], files.grid.polygons).insert(0, "f 2 1 14\n");
}

TEST(ObjFrames, EveryFrameIsReadCheckedAgainstTheRest) {
  const GridFiles files(4);
  const headless::ObjFile rest = headless::ReadObjFile(files.rest);
  headless::ObjFrames frames(files.frames, files.numbers, rest);
  ASSERT_EQ(frames.Count(), 4u);
  EXPECT_EQ(frames.Name(3), files.frames[3]);
  EXPECT_EQ(frames.Number(3), 4.0);
  frames.KeepFromRest();
  frames.ReadAhead();
  headless::FrameRooms rooms;
  for (size_t i = 0; i < frames.Count(); ++i) {
    headless::InputFrame frame;
    frames.Read(i, frame, rooms);
    ASSERT_TRUE(frame.obj);
    EXPECT_TRUE(SameBits(frame.Points(), files.points[i])) << "frame " << i;
    EXPECT_LT(frame.obj->file.text.size(), static_cast<size_t>(frame.obj->file.textBytes))
        << "its text is let go: writing reads it again";
  }
  EXPECT_FALSE(frames.FoundFaultyFrame());
}

TEST(ObjFrames, AFrameAtFaultIsNamedWhereverItIsRead) {
  const GridFiles files(4);
  SpoilFaces(files);
  const headless::ObjFile rest = headless::ReadObjFile(files.rest);
  headless::FrameRooms rooms;
  headless::InputFrame frame;
  {
    headless::ObjFrames frames(files.frames, files.numbers, rest);
    frames.KeepFromRest();
    frames.ReadAhead();
    frames.Read(0, frame, rooms);
    frames.Read(1, frame, rooms);
    const std::string message = ThrownMessage([&] { frames.Read(2, frame, rooms); });
    EXPECT_EQ(message.rfind(files.frames[2] + ":", 0), 0u) << message;
    EXPECT_TRUE(frames.FoundFaultyFrame()) << "nothing is to be written";
  }
  // Read ahead, before the bind, the same fault is named.
  const std::vector<std::string> first = {files.frames[2], files.frames[0]};
  headless::ObjFrames frames(first, {1, 2}, rest);
  const std::string message = ThrownMessage([&] { frames.ReadAhead(); });
  EXPECT_EQ(message.rfind(files.frames[2] + ":", 0), 0u) << message;
}

TEST(ObjFrames, ACacheIsNotAFrameAmongOthers) {
  const GridFiles files(1);
  const headless::ObjFile rest = headless::ReadObjFile(files.rest);
  const std::string cache = files.Path("walk.pc2");
  EXPECT_EQ(ThrownMessage<std::invalid_argument>([&] {
              headless::ObjFrames({files.frames[0], cache}, {0, 1}, rest);
            }),
            cache + ": a point cache is corrected on its own, not among other frames");
}

TEST(CacheFrames, SamplesAreFramesAtTheirCachesTimes) {
  const GridFiles files(3);
  const std::string pc2 = files.Path("walk.pc2"), mdd = files.Path("walk.mdd");
  headless::WritePointCache(
      pc2, headless::MakePointCache(headless::PointCacheFormat::kPc2, files.points, 5.0, 24.0));
  headless::WritePointCache(
      mdd, headless::MakePointCache(headless::PointCacheFormat::kMdd, files.points, 5.0, 24.0));
  const size_t points = files.grid.points.size();
  headless::CacheFrames fromPc2(pc2, std::make_unique<headless::PointCacheSamples>(pc2), "rest",
                                points, 30.0);
  headless::CacheFrames fromMdd(mdd, std::make_unique<headless::PointCacheSamples>(mdd), "rest",
                                points, 24.0);
  for (const headless::CacheFrames* frames : {&fromPc2, &fromMdd}) {
    ASSERT_EQ(frames->Count(), 3u);
    EXPECT_EQ(frames->Number(2), 7.0);
    EXPECT_EQ(frames->Name(2), frames->Path() + " sample 2");
    ASSERT_NE(frames->CacheTiming(), nullptr);
  }
  headless::FrameRooms rooms;
  headless::InputFrame frame;
  fromMdd.Read(0, frame, rooms);
  fromMdd.Read(1, frame, rooms);
  ASSERT_EQ(frame.Points().size(), points);
  EXPECT_FALSE(frame.obj);
  // float32 in the file
  EXPECT_NEAR(frame.Points()[7].z, files.points[1][7].z, 1e-6);

  EXPECT_EQ(ThrownMessage([&] {
              headless::CacheFrames(pc2, std::make_unique<headless::PointCacheSamples>(pc2),
                                    "rest.obj", points + 1, 30.0);
            }),
            pc2 + ": " + std::to_string(points) +
                " points per sample, but the rest mesh rest.obj has " + std::to_string(points + 1));
  const std::string empty = files.Path("empty.pc2");
  headless::PointCache none =
      headless::MakePointCache(headless::PointCacheFormat::kPc2, {files.points[0]}, 1.0, 30.0);
  none.coordinates.clear();
  headless::WritePointCache(empty, none);
  EXPECT_EQ(ThrownMessage([&] {
              headless::CacheFrames(empty, std::make_unique<headless::PointCacheSamples>(empty),
                                    "rest.obj", points, 30.0);
            }),
            empty + ": the cache holds no sample");
}

TEST(CacheOpening, ItsFailureComesWhereTheCacheIsTaken) {
  const GridFiles files(1);
  const std::string missing = files.Path("missing.pc2");
  headless::CacheOpening opening(missing);
  const std::string direct = ThrownMessage([&] { headless::PointCacheSamples samples(missing); });
  ASSERT_FALSE(direct.empty());
  EXPECT_EQ(ThrownMessage([&] { opening.Take(missing); }), direct);
  // Not started: opened where it is taken.
  headless::CacheOpening none("");
  EXPECT_EQ(ThrownMessage([&] { none.Take(missing); }), direct);
}

}  // namespace
