// Point caches: PC2 and MDD round trips to the byte, their layouts as other applications write
// them, and damaged caches refused with their numbers.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <stop_token>
#include <string>

#include "headless/io/point_cache.h"

namespace {

namespace fs = std::filesystem;
using headless::PointCacheFormat;

std::vector<std::byte> Bytes(std::initializer_list<unsigned> values) {
  std::vector<std::byte> out;
  for (unsigned v : values) out.push_back(static_cast<std::byte>(v));
  return out;
}

void PutLittle(std::vector<std::byte>& out, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::byte>((v >> (8 * i)) & 0xFF));
}
void PutBig(std::vector<std::byte>& out, std::uint32_t v) {
  for (int i = 3; i >= 0; --i) out.push_back(static_cast<std::byte>((v >> (8 * i)) & 0xFF));
}
std::uint32_t FloatBits(float f) {
  std::uint32_t bits = 0;
  std::memcpy(&bits, &f, 4);
  return bits;
}

// A PC2 file as a 3D application writes it: 2 points, 3 samples from frame 10, every 0.5 frames.
std::vector<std::byte> Pc2File(int samples = 3, int version = 1) {
  std::vector<std::byte> out;
  for (char c : std::string("POINTCACHE2", 12)) out.push_back(static_cast<std::byte>(c));
  PutLittle(out, static_cast<std::uint32_t>(version));
  PutLittle(out, 2);
  PutLittle(out, FloatBits(10.0f));
  PutLittle(out, FloatBits(0.5f));
  PutLittle(out, static_cast<std::uint32_t>(samples));
  for (int s = 0; s < 3; ++s)
    for (int c = 0; c < 6; ++c) PutLittle(out, FloatBits(0.1f * static_cast<float>(s * 6 + c)));
  return out;
}

// An MDD file: 3 frames of 2 points at 0, 1/24 and 2/24 seconds.
std::vector<std::byte> MddFile() {
  std::vector<std::byte> out;
  PutBig(out, 3);
  PutBig(out, 2);
  for (int f = 0; f < 3; ++f) PutBig(out, FloatBits(static_cast<float>(f) / 24.0f));
  for (int s = 0; s < 3; ++s)
    for (int c = 0; c < 6; ++c) PutBig(out, FloatBits(-1.5f * static_cast<float>(s * 6 + c)));
  return out;
}

std::string ErrorOf(const std::vector<std::byte>& bytes, PointCacheFormat format) {
  try {
    headless::ParsePointCache(bytes, format, "cache");
  } catch (const std::runtime_error& e) {
    return e.what();
  }
  return "";
}

TEST(PointCaches, Pc2ReadsWhatOthersWriteAndWritesItBackToTheByte) {
  const std::vector<std::byte> file = Pc2File();
  const headless::PointCache cache = headless::ParsePointCache(file, PointCacheFormat::kPc2, "a");
  EXPECT_EQ(cache.pointCount, 2);
  EXPECT_EQ(cache.SampleCount(), 3);
  EXPECT_EQ(cache.SampleFrame(2, 30.0), 11.0);
  const std::vector<Vector3> second = cache.Sample(1);
  EXPECT_EQ(second[1].x, static_cast<double>(0.1f * 9.0f));
  EXPECT_EQ(headless::PointCacheBytes(cache), file);
}

TEST(PointCaches, MddReadsBigEndianAndWritesItBackToTheByte) {
  const std::vector<std::byte> file = MddFile();
  const headless::PointCache cache = headless::ParsePointCache(file, PointCacheFormat::kMdd, "a");
  EXPECT_EQ(cache.SampleCount(), 3);
  EXPECT_EQ(cache.Sample(2)[0].z, -1.5 * 14.0);
  EXPECT_EQ(cache.SampleFrame(1, 24.0), 1.0);  // 1/24 s in float32, snapped to the frame
  EXPECT_NEAR(cache.SampleFrame(1, 25.0), 25.0 / 24.0, 1e-6);
  EXPECT_EQ(headless::PointCacheBytes(cache), file);
}

TEST(PointCaches, FilesRoundTripThroughTheDiskAndSamplesKeepTheirPoints) {
  const fs::path dir = fs::path(::testing::TempDir()) / "point_cache_round_trip";
  fs::create_directories(dir);
  const std::vector<std::vector<Vector3>> samples = {{{0.1, 2.0, -3.0}, {1e-3, 1e5, 0.0}},
                                                     {{0.2, 2.5, -3.5}, {2e-3, -1e5, 1.0}}};
  for (PointCacheFormat format : {PointCacheFormat::kPc2, PointCacheFormat::kMdd}) {
    const bool pc2 = format == PointCacheFormat::kPc2;
    const std::string path = (dir / (pc2 ? "c.PC2" : "c.mdd")).string();
    ASSERT_EQ(headless::PointCacheFormatOf(path), format);
    const headless::PointCache made = headless::MakePointCache(format, samples, 4.0, 25.0);
    headless::WritePointCache(path, made);
    const headless::PointCache read = headless::ReadPointCache(path);
    EXPECT_EQ(headless::PointCacheBytes(read), headless::PointCacheBytes(made));
    EXPECT_EQ(fs::file_size(path), (pc2 ? 32u : 8u + 2 * 4u) + 2 * 2 * 12u);
    EXPECT_EQ(read.SampleFrame(1, 25.0), 5.0);
    EXPECT_EQ(read.Sample(1)[1].y, static_cast<double>(static_cast<float>(-1e5)));
  }
  EXPECT_FALSE(headless::PointCacheFormatOf("x.obj").has_value());
  EXPECT_THROW(headless::MakePointCache(PointCacheFormat::kPc2, {{{1e300, 0, 0}}}, 0, 30),
               std::invalid_argument);
  fs::remove_all(dir);
}

// A cache of several MiB goes to the disk in pieces; the file is still its bytes, every one.
TEST(PointCaches, LargeCachesAreWrittenInPiecesToTheByte) {
  const fs::path dir = fs::path(::testing::TempDir()) / "point_cache_pieces";
  fs::create_directories(dir);
  std::vector<std::vector<Vector3>> samples(3, std::vector<Vector3>(100'003));
  for (size_t s = 0; s < samples.size(); ++s)
    for (size_t i = 0; i < samples[s].size(); ++i)
      samples[s][i] = {0.5 * static_cast<double>(i), -1.0 * static_cast<double>(s), 1e-3 * i};
  for (PointCacheFormat format : {PointCacheFormat::kPc2, PointCacheFormat::kMdd}) {
    const std::string path =
        (dir / (format == PointCacheFormat::kPc2 ? "c.pc2" : "c.mdd")).string();
    const headless::PointCache made = headless::MakePointCache(format, samples, 1.0, 24.0);
    headless::WritePointCache(path, made);
    std::ifstream in(path, std::ios::binary);
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const std::vector<std::byte> expected = headless::PointCacheBytes(made);
    ASSERT_EQ(text.size(), expected.size());
    EXPECT_EQ(std::memcmp(text.data(), expected.data(), text.size()), 0);
  }
  fs::remove_all(dir);
}

TEST(PointCaches, DamagedCachesAreRefusedWithTheirNumbers) {
  std::vector<std::byte> truncated = Pc2File();
  truncated.resize(truncated.size() - 5);
  EXPECT_EQ(ErrorOf(truncated, PointCacheFormat::kPc2),
            "cache: the header gives 3 samples of 2 points (32 + 3 x 24 bytes), but the file holds "
            "99 bytes (truncated: 2 whole samples)");
  std::vector<std::byte> longer = Pc2File();
  longer.push_back(std::byte{0});
  EXPECT_NE(ErrorOf(longer, PointCacheFormat::kPc2).find("(trailing bytes)"), std::string::npos);
  EXPECT_NE(ErrorOf(Pc2File(4), PointCacheFormat::kPc2).find("4 samples of 2 points"),
            std::string::npos);
  EXPECT_NE(ErrorOf(Pc2File(-1), PointCacheFormat::kPc2).find("negative count"), std::string::npos);
  EXPECT_NE(ErrorOf(Pc2File(3, 2), PointCacheFormat::kPc2).find("PC2 version 2"),
            std::string::npos);
  EXPECT_NE(ErrorOf(Bytes({'P', 'O', 'I'}), PointCacheFormat::kPc2).find("too short"),
            std::string::npos);
  std::vector<std::byte> unsigned_ = Pc2File();
  unsigned_[0] = std::byte{'X'};
  EXPECT_NE(ErrorOf(unsigned_, PointCacheFormat::kPc2).find("no POINTCACHE2 signature"),
            std::string::npos);
  std::vector<std::byte> nan = Pc2File();
  const std::uint32_t bits = FloatBits(std::numeric_limits<float>::quiet_NaN());
  std::memcpy(nan.data() + 32 + 24 + 16, &bits, 4);  // sample 1, point 1, y
  EXPECT_EQ(ErrorOf(nan, PointCacheFormat::kPc2),
            "cache: sample 1, point 1 has a coordinate that is not finite");

  std::vector<std::byte> mdd = MddFile();
  mdd.resize(10);
  EXPECT_NE(ErrorOf(mdd, PointCacheFormat::kMdd).find("ends within their times"),
            std::string::npos);
  std::vector<std::byte> backwards = MddFile();
  std::swap_ranges(backwards.begin() + 12, backwards.begin() + 16, backwards.begin() + 16);
  EXPECT_NE(ErrorOf(backwards, PointCacheFormat::kMdd).find("the time of frame 2"),
            std::string::npos);
  std::vector<std::byte> mddShort = MddFile();
  mddShort.pop_back();
  EXPECT_NE(ErrorOf(mddShort, PointCacheFormat::kMdd).find("truncated"), std::string::npos);
  EXPECT_NE(ErrorOf(Bytes({0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0}), PointCacheFormat::kMdd)
                .find("holds no points"),
            std::string::npos);
  // A huge count never makes the reader allocate for data that is not there.
  std::vector<std::byte> huge;
  PutBig(huge, 1);
  PutBig(huge, 0x7FFFFFFF);
  PutBig(huge, 0);
  EXPECT_NE(ErrorOf(huge, PointCacheFormat::kMdd).find("truncated: 0 whole samples"),
            std::string::npos);
}

// An MDD's times must rise strictly: a time equal to the one before, or below it, or not finite,
// is refused naming its frame, since two frames at one time cannot be told apart.
TEST(PointCaches, MddTimesThatDoNotRiseAreRefused) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const struct {
    float times[3];
    const char* refusal;  // empty: read
  } cases[] = {
      {{0.0f, 0.5f, 1.0f}, ""},
      {{0.0f, 0.0f, 1.0f}, "cache: the time of frame 1 (0 s) is not after the one before (0 s)"},
      {{0.0f, 0.5f, 0.5f},
       "cache: the time of frame 2 (0.5 s) is not after the one before (0.5 s)"},
      {{-1.0f, -1.0f, 0.0f},
       "cache: the time of frame 1 (-1 s) is not after the one before (-1 s)"},
      {{0.0f, 1.0f, 0.25f},
       "cache: the time of frame 2 (0.25 s) is not after the one before (1 s)"},
      {{0.0f, nan, 1.0f}, "cache: the time of frame 1 is not finite"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.refusal);
    std::vector<std::byte> mdd = MddFile();
    for (int f = 0; f < 3; ++f) {
      const std::uint32_t bits = FloatBits(c.times[f]);
      for (int b = 0; b < 4; ++b) mdd[8 + 4 * f + b] = static_cast<std::byte>(bits >> (24 - 8 * b));
    }
    EXPECT_EQ(ErrorOf(mdd, PointCacheFormat::kMdd), c.refusal);
  }
}

// A file is read as far as its header announces and one byte more: a longer file is refused
// with its size read from the file system, not with what was read of it.
TEST(PointCaches, FilesAreReadNoFurtherThanTheirHeaderAnnounces) {
  const fs::path path = fs::path(::testing::TempDir()) / "longer_than_announced.pc2";
  std::vector<std::byte> bytes = Pc2File();
  bytes.resize(bytes.size() + 1000000, std::byte{0});
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
  try {
    headless::ReadPointCache(path.string());
    ADD_FAILURE() << "a cache with a million trailing bytes was read";
  } catch (const std::runtime_error& e) {
    EXPECT_NE(std::string(e.what()).find("the file holds 1000104 bytes (trailing bytes)"),
              std::string::npos)
        << e.what();
  }
  fs::remove(path);
}

// A cache keeps every sample's time as its format holds it, or the timing is refused naming the
// first sample it would move: a PC2 holds even steps from a float32 start by a float32 rate, an
// MDD float32 times that increase.
TEST(PointCaches, TimingsAreKeptExactlyOrRefusedNamingTheSample) {
  const auto at = [](std::vector<Float> frames) {
    return [frames](Int64 s) { return frames[static_cast<size_t>(s)]; };
  };
  const auto refusal = [&](PointCacheFormat format, std::vector<Float> frames, Float fps) {
    headless::PointCache cache;
    cache.format = format;
    try {
      headless::SetCacheTiming(cache, static_cast<Int64>(frames.size()), at(frames), fps);
    } catch (const std::invalid_argument& e) {
      return std::string(e.what());
    }
    return std::string();
  };
  headless::PointCache pc2;
  headless::SetCacheTiming(pc2, 3, at({10.0, 10.5, 11.0}), 30.0);
  EXPECT_EQ(pc2.startFrame, 10.0f);
  EXPECT_EQ(pc2.sampleRate, 0.5f);
  EXPECT_EQ(
      refusal(PointCacheFormat::kPc2, {0, 1, 10}, 30.0)
          .rfind("sample 1 at frame 1: a PC2 holds samples at even steps only, here frame 5", 0),
      0u);
  EXPECT_EQ(refusal(PointCacheFormat::kPc2, {16777217, 16777218}, 30.0),
            "sample 0 at frame 16777217: a PC2's float32 start and rate (16777216, 1) would put "
            "it at frame 16777216");
  EXPECT_EQ(refusal(PointCacheFormat::kPc2, {20000000, 20000001, 20000002}, 30.0), "");
  EXPECT_EQ(
      refusal(PointCacheFormat::kMdd, {20000000, 20000001}, 30.0)
          .rfind("sample 1 at frame 20000001: its time in float32 (666666.6875 s) is not after", 0),
      0u);
  EXPECT_NE(refusal(PointCacheFormat::kMdd, {0, 1e300}, 30.0).find("does not fit"),
            std::string::npos);
  EXPECT_EQ(refusal(PointCacheFormat::kMdd, {0, 1, 10}, 30.0), "");

  headless::PointCache cache;
  headless::AppendSample(cache, std::vector<Vector3>{{0, 0, 0}, {1, 1, 1}, {2, 2, 2}});
  try {
    headless::AppendSample(cache, std::vector<Vector3>{{0, 0, 0}, {1, 1, 1}, {2, 1e300, 2}});
    ADD_FAILURE() << "a coordinate beyond float32 was taken";
  } catch (const std::invalid_argument& e) {
    EXPECT_EQ(std::string(e.what()),
              "sample 1, point 2: the coordinate 1e+300 does not fit in the float32 numbers a "
              "point cache holds");
  }
  EXPECT_EQ(cache.SampleCount(), 1);
}

// A cache read a sample at a time gives what the whole cache read at once gives, over samples
// spanning several of the pieces it reads, and refuses a damaged file with the same message
// before handing out any sample; a cache written a sample at a time is WritePointCache's file to
// the byte, and nothing at all until every sample is in.
TEST(PointCaches, SamplesReadAndWrittenOneAtATimeAreTheWholeCachesOwn) {
  const fs::path dir = fs::path(::testing::TempDir()) / "point_cache_one_at_a_time";
  fs::remove_all(dir);
  fs::create_directories(dir);
  std::vector<std::vector<Vector3>> samples(3, std::vector<Vector3>(100'003));
  for (size_t s = 0; s < samples.size(); ++s)
    for (size_t i = 0; i < samples[s].size(); ++i)
      samples[s][i] = {0.25 * static_cast<double>(i), -1.0 * static_cast<double>(s), 1e-3 * i};
  const auto errorOf = [](const auto& read) -> std::string {
    try {
      read();
    } catch (const std::runtime_error& e) {
      return e.what();
    }
    return "";
  };
  for (PointCacheFormat format : {PointCacheFormat::kPc2, PointCacheFormat::kMdd}) {
    const bool pc2 = format == PointCacheFormat::kPc2;
    const std::string whole = (dir / (pc2 ? "whole.pc2" : "whole.mdd")).string();
    const std::string parts = (dir / (pc2 ? "parts.pc2" : "parts.mdd")).string();
    const headless::PointCache made = headless::MakePointCache(format, samples, 3.0, 24.0);
    headless::WritePointCache(whole, made);
    const auto files = [&] {
      return std::distance(fs::directory_iterator(dir), fs::directory_iterator());
    };
    const auto before = files();
    {
      headless::PointCacheWriter writer(parts, made, 3);
      writer.Append(samples[0]);
      writer.Append(samples[1]);
      EXPECT_THROW(writer.Commit(), std::logic_error);
      EXPECT_FALSE(fs::exists(parts));
    }
    EXPECT_EQ(files(), before) << "an unfinished cache left a file behind";
    {
      headless::PointCacheWriter writer(parts, made, 3);
      for (const std::vector<Vector3>& sample : samples) writer.Append(sample);
      writer.Commit();
    }
    EXPECT_EQ(headless::PointCacheBytes(headless::ReadPointCache(parts)),
              headless::PointCacheBytes(made));

    // An opening asked to stop goes no further than its first piece.
    std::stop_source stop;
    stop.request_stop();
    EXPECT_NE(errorOf([&] {
                headless::PointCacheSamples(whole, stop.get_token());
              }).find("opening stopped"),
              std::string::npos);

    headless::PointCacheSamples read(whole);
    ASSERT_EQ(read.SampleCount(), 3);
    EXPECT_TRUE(read.Timing().coordinates.empty());
    EXPECT_EQ(read.Timing().pointCount, 100'003);
    EXPECT_EQ(read.Timing().SampleFrame(2, 24.0), 5.0);
    std::vector<Vector3> points;
    // In order, then sought: back, skipping one, and the same twice.
    for (Int64 s : {0, 1, 2, 0, 2, 1, 1}) {
      read.Read(s, points);
      const std::vector<Vector3> expected = made.Sample(s);
      ASSERT_EQ(points.size(), expected.size());
      EXPECT_EQ(std::memcmp(points.data(), expected.data(), points.size() * sizeof(Vector3)), 0)
          << "sample " << s;
    }

    // A coordinate that is not finite in the last piece of the last sample.
    std::vector<std::byte> bytes = headless::PointCacheBytes(made);
    std::vector<std::byte> nan;
    (pc2 ? PutLittle : PutBig)(nan, FloatBits(std::numeric_limits<float>::quiet_NaN()));
    std::copy(nan.begin(), nan.end(), bytes.end() - 8);
    const std::string damaged = (dir / (pc2 ? "nan.pc2" : "nan.mdd")).string();
    std::ofstream(damaged, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
    const std::string refusal = errorOf([&] { headless::ReadPointCache(damaged); });
    EXPECT_EQ(refusal, damaged + ": sample 2, point 100002 has a coordinate that is not finite");
    EXPECT_EQ(errorOf([&] { headless::PointCacheSamples{damaged}; }), refusal);
    fs::resize_file(damaged, bytes.size() - 1);
    EXPECT_NE(errorOf([&] { headless::PointCacheSamples{damaged}; }).find("truncated"),
              std::string::npos);

    // A file cut short after it was opened.
    headless::PointCacheSamples shortened(whole);
    fs::resize_file(whole, fs::file_size(whole) - 12);
    shortened.Read(0, points);
    shortened.Read(1, points);
    EXPECT_NE(errorOf([&] { shortened.Read(2, points); }).find("shorter than when it was opened"),
              std::string::npos);
  }
  // A cache of no sample, as the whole cache writes it.
  {
    const std::string path = (dir / "none.pc2").string();
    headless::PointCache made = headless::MakePointCache(PointCacheFormat::kPc2, {}, 1.0, 24.0);
    made.pointCount = 4;
    {
      headless::PointCacheWriter writer(path, made, 0);
      writer.Commit();
    }
    EXPECT_EQ(headless::PointCacheBytes(headless::ReadPointCache(path)),
              headless::PointCacheBytes(made));
    EXPECT_EQ(headless::PointCacheSamples(path).SampleCount(), 0);
    fs::remove(path);
  }
  {
    // Closed before the folder goes: Windows removes no file that is still open.
    headless::PointCacheWriter wide((dir / "wide.pc2").string(), {}, 1);
    try {
      wide.Append(std::vector<Vector3>{{0, 0, 0}, {1e300, 0, 0}});
      ADD_FAILURE() << "a coordinate beyond float32 was written";
    } catch (const std::invalid_argument& e) {
      EXPECT_STREQ(e.what(),
                   "sample 0, point 1: the coordinate 1e+300 does not fit in the float32 numbers "
                   "a point cache holds");
    }
  }
  // Only the whole, written-in-parts and damaged caches of both formats remain.
  EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 6)
      << "a cache that failed left a file behind";
  fs::remove_all(dir);
}

}  // namespace
