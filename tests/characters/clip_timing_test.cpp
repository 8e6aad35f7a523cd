// A clip's timing: the rate found from its keys' spacing, the frames a float32 duration spans,
// each frame at the file's own key time, key times refused; then the same through the import of
// glTF files written here (keys 1/24 s apart, uneven keys, NaN and disorder).
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <limits>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "headless/characters/character.h"
#include "headless/characters/clip_timing.h"
#include "tests/support/timed_gltf.h"

namespace {

namespace fs = std::filesystem;

using timed_gltf::EvenTimes;

// Key times as a glTF file's reach the import: float32 seconds made milliseconds in float32.
std::vector<Float> Milliseconds(const std::vector<float>& seconds) {
  std::vector<Float> ticks;
  for (float s : seconds) ticks.push_back(static_cast<Float>(s * 1000.0f));
  return ticks;
}

std::optional<Float> RateOf(const std::vector<float>& seconds) {
  const std::vector<Float> distinct = headless::DistinctKeyTimes(Milliseconds(seconds), 1000.0);
  return headless::RegularKeyRate(distinct, 1000.0, 240.0);
}

TEST(ClipTiming, TheRateIsTheWholeRateOfTheKeysSpacingOrNone) {
  std::vector<float> gaps = {0.0f, 1.0f / 24, 3.0f / 24, 6.0f / 24};
  std::vector<float> wider = {0.0f, 2.0f / 24, 5.0f / 24};
  std::vector<float> uneven = {0.0f, 0.1f, 0.25f, 0.27f};
  std::vector<float> drifting = EvenTimes(48, 1.0 / 24);
  drifting[20] += 3e-5f;  // further off than float32 explains
  std::vector<float> nudged = EvenTimes(48, 1.0 / 24);
  nudged[47] += 5e-7f;  // within 1e-6 s
  const struct {
    const char* what;
    std::vector<float> seconds;
    std::optional<Float> rate;
  } cases[] = {
      {"48 keys 1/24 s apart", EvenTimes(48, 1.0 / 24), 24.0},
      {"31 keys 1/30 s apart", EvenTimes(31, 1.0 / 30), 30.0},
      {"keys on some steps of 1/24 s only", gaps, 24.0},
      {"a 120 s clip 1/24 s apart, float32 far from 0", EvenTimes(2881, 1.0 / 24), 24.0},
      {"a key nudged by less than 1e-6 s", nudged, 24.0},
      {"keys 1/29.97 s apart, rounded", EvenTimes(30, 1.0 / 29.97), 30.0},
      {"keys 1/4 s apart", EvenTimes(5, 0.25), 4.0},
      {"uneven keys", uneven, std::nullopt},
      {"keys 2/24 s apart and 3/24 s", wider, std::nullopt},
      {"a key off its step by 3e-5 s", drifting, std::nullopt},
      {"one key", {0.5f}, std::nullopt},
      {"keys 1/1000 s apart, past 240 per second", EvenTimes(50, 1.0 / 1000), std::nullopt},
      {"keys 3 s apart, 0 per second rounded", EvenTimes(4, 3.0), std::nullopt},
  };
  for (const auto& c : cases) EXPECT_EQ(RateOf(c.seconds), c.rate) << c.what;
}

TEST(ClipTiming, TheLastFrameRoundsFloat32SlipsAndElseRoundsUp) {
  const struct {
    Float seconds, fps, last;
  } cases[] = {
      {static_cast<float>(47.0 / 24), 24.0, 47.0},      // 1.9583334 x 24 = 47.0000016
      {static_cast<float>(2879.0 / 24), 24.0, 2879.0},  // a 120 s clip in float32
      {static_cast<float>(47.0 / 24) * 1000.0f / 1000.0, 24.0, 47.0},
      {1.0, 30.0, 30.0},
      {1.01, 30.0, 31.0},  // a part of a frame more is a frame more
      {47.0 / 24 + 1e-4, 24.0, 48.0},
      {0.0, 24.0, 0.0},
  };
  for (const auto& c : cases)
    EXPECT_EQ(headless::LastFrameOf(c.seconds, c.fps), c.last) << c.seconds << " at " << c.fps;
}

TEST(ClipTiming, FramesFallOnTheFilesKeyTimesWhereTheyHaveOne) {
  std::vector<float> seconds = EvenTimes(48, 1.0 / 24);
  seconds[47] += 5e-7f;                 // the file's own, not 47 / 24
  seconds.erase(seconds.begin() + 10);  // no key at frame 10
  const std::vector<Float> distinct = headless::DistinctKeyTimes(Milliseconds(seconds), 1000.0);
  const std::vector<Float> ticks = headless::FrameTicks(distinct, 1000.0, 24.0, 47);
  ASSERT_EQ(ticks.size(), 48u);
  EXPECT_EQ(ticks[47], Float{seconds.back() * 1000.0f});
  EXPECT_NE(ticks[47], 47.0 / 24 * 1000.0);
  EXPECT_EQ(ticks[10], 10.0 / 24 * 1000.0);
  EXPECT_EQ(ticks[11], Float{seconds[10] * 1000.0f});
  // At another rate the frames between keys are the rate's own times.
  const std::vector<Float> at30 = headless::FrameTicks(distinct, 1000.0, 30.0, 3);
  EXPECT_EQ(at30[1], 1.0 / 30 * 1000.0);
  EXPECT_EQ(at30[0], distinct[0]);
}

TEST(ClipTiming, KeyTimesThatAreNotFiniteOrDoNotIncreaseAreNamedByKey) {
  const Float nan = std::numeric_limits<Float>::quiet_NaN();
  const Float inf = std::numeric_limits<Float>::infinity();
  const struct {
    std::vector<Float> ticks;
    std::optional<size_t> key;
    const char* says;
  } cases[] = {
      {{0, 40, 80}, std::nullopt, ""},
      {{0, 40, nan, 120}, 2, "not a number"},
      {{nan}, 0, "not a number"},
      {{0, inf}, 1, "infinite"},
      {{0, 80, 40}, 2, "0.04 s, does not come after key 1's, 0.08 s"},
      {{0, 40, 40}, 2, "does not come after key 1's"},
  };
  for (const auto& c : cases) {
    const auto fault = headless::FindKeyTimeFault(c.ticks, 1000.0);
    ASSERT_EQ(fault.has_value(), c.key.has_value()) << c.says;
    if (!fault) continue;
    EXPECT_EQ(fault->key, *c.key) << c.says;
    EXPECT_NE(fault->what.find(c.says), std::string::npos) << fault->what;
  }
}

// ---------------------------------------------------------------------------------------------
// Through the import

class ClipTimingImport : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!headless::CharacterImportAvailable()) GTEST_SKIP() << "built without Assimp";
    dir =
        fs::path(::testing::TempDir()) / ("clip_timing_" + std::to_string(std::random_device{}()));
    fs::create_directories(dir);
  }
  void TearDown() override { fs::remove_all(dir); }

  std::string Write(const std::string& name, const std::string& gltf) {
    const fs::path path = dir / name;
    std::ofstream(path) << gltf;
    return path.string();
  }

  fs::path dir;
};

bool AnyNoteHas(const headless::CharacterImport& imported, const std::string& part) {
  for (const std::string& note : imported.notes)
    if (note.find(part) != std::string::npos) return true;
  return false;
}

TEST_F(ClipTimingImport, KeysEvenlySpacedGiveTheirRateAndFramesEndOnTheLastKey) {
  std::vector<float> nudged = EvenTimes(48, 1.0 / 24);
  nudged[47] += 5e-7f;
  const struct {
    const char* what;
    std::vector<float> tip, root;
    Float fps;  // given; 0: found
    Float rate;
    Int32 lastFrame;
    const char* note;
  } cases[] = {
      {"48 keys 1/24 s apart", EvenTimes(48, 1.0 / 24), {}, 0.0, 24.0, 47, "1/24 s apart"},
      {"the same at --fps 24", EvenTimes(48, 1.0 / 24), {}, 24.0, 24.0, 47, nullptr},
      {"the last key the file's own", nudged, {}, 0.0, 24.0, 47, "1/24 s apart"},
      // Each channel alone is 1/12 s apart; both together 1/24.
      {"two channels between each other's keys",
       EvenTimes(24, 2.0 / 24),
       {1.0f / 24, 3.0f / 24, 45.0f / 24},
       0.0,
       24.0,
       46,
       "1/24 s apart"},
      {"uneven keys", {0.0f, 0.1f, 0.25f, 0.27f, 1.0f}, {}, 0.0, 30.0, 30, "not evenly spaced"},
      {"two keys a second apart", {0.0f, 1.0f}, {}, 0.0, 30.0, 30, "too few a second"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string path = Write("clip.gltf", timed_gltf::TimedGltf(c.tip, c.root));
    auto doc = headless::NewDocument();
    const headless::CharacterImport imported =
        headless::ImportCharacter(path, *doc, {.fps = c.fps, .clip = ""});
    EXPECT_EQ(imported.fps, c.rate);
    EXPECT_EQ(doc->FrameRate(), c.rate);
    EXPECT_EQ(imported.lastFrame, c.lastFrame);
    ASSERT_EQ(imported.frameSeconds.size(), static_cast<size_t>(c.lastFrame) + 1);
    if (c.note != nullptr) {
      EXPECT_TRUE(AnyNoteHas(imported, c.note)) << imported.notes.size();
    }
    if (c.rate == 24.0) {
      // The last frame is the file's last key, as float32 seconds.
      const float last = std::max(c.tip.back(), c.root.empty() ? 0.0f : c.root.back());
      EXPECT_EQ(static_cast<Float32>(imported.frameSeconds.back()), last);
    }
    const headless::CharacterListing listing =
        headless::ListCharacter(path, {.fps = c.fps, .clip = ""});
    ASSERT_EQ(listing.clips.size(), 1u);
    EXPECT_EQ(listing.clips[0].frames, c.lastFrame + 1);
    EXPECT_EQ(listing.clips[0].keyRate, c.fps == 0.0 && c.rate != 30.0);
  }
}

TEST_F(ClipTimingImport, KeyTimesThatAreNotANumberOrOutOfOrderAreRefusedNamingTheKey) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const struct {
    const char* what;
    std::vector<float> tip, root;
    const char* says;
  } cases[] = {
      {"NaN",
       {0.0f, 0.5f, nan, 1.0f},
       {},
       "channel of node 'tip', rotation key 2: its time is "
       "not a number"},
      {"unsorted", {0.0f, 0.5f, 0.25f, 1.0f}, {}, "channel of node 'tip', rotation key 2"},
      {"a repeated time in the other channel",
       EvenTimes(4, 0.25),
       {0.0f, 0.5f, 0.5f},
       "channel of node 'root', position key 2"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string path = Write("bad.gltf", timed_gltf::TimedGltf(c.tip, c.root));
    for (const bool list : {false, true}) {
      auto doc = headless::NewDocument();
      try {
        if (list)
          headless::ListCharacter(path);
        else
          headless::ImportCharacter(path, *doc);
        ADD_FAILURE() << "taken";
      } catch (const std::runtime_error& e) {
        const std::string message = e.what();
        EXPECT_NE(message.find(path + ": animation 'Bend'"), std::string::npos) << message;
        EXPECT_NE(message.find(c.says), std::string::npos) << message;
      }
      EXPECT_TRUE(doc->Objects().empty());
    }
  }
}

}  // namespace
