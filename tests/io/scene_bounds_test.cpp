// The scene reader bounds its work before doing it, and refuses values no reader can use: damaged
// headers and counts, deep trees, many nodes, and parameters, weights, keys and plug-in states
// outside what they describe.

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
#include <type_traits>

#include "headless/host/framework.h"
#include "headless/host/parameters.h"
#include "headless/host/point_cache.h"
#include "headless/host/skin.h"
#include "headless/host/stream.h"
#include "headless/io/checksum.h"
#include "headless/io/scene_file.h"
#include "tests/support/bind_tag_fixture.h"
#include "tests/support/cli_runner.h"

namespace {

namespace fs = std::filesystem;
using namespace bind_tag;
using headless::Node;

class SceneBounds : public BindTagFixture {
 protected:
  void SetUp() override {
    BindTagFixture::SetUp();
    dir = fs::temp_directory_path() /
          ("tessamire_bounds_" +
           std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
    fs::remove_all(dir);
    fs::create_directories(dir);
  }
  void TearDown() override {
    fs::remove_all(dir);
    BindTagFixture::TearDown();
  }

  // The message loading `image` fails with; empty when it loads.
  static std::string LoadError(const std::vector<std::uint8_t>& image) {
    try {
      headless::DeserializeDocument(image, "image");
    } catch (const std::runtime_error& e) {
      return e.what();
    }
    return "";
  }

  // The message loading the saved `doc` fails with.
  std::string SavedLoadError() { return LoadError(headless::SerializeDocument(*doc)); }

  std::string Write(const std::string& name, const std::vector<std::uint8_t>& bytes) const {
    const std::string path = (dir / name).string();
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
    return path;
  }

  fs::path dir;
};

void Little(std::vector<std::uint8_t>& out, std::uint64_t v, int bytes) {
  for (int k = 0; k < bytes; ++k) out.push_back(static_cast<std::uint8_t>(v >> (8 * k)));
}

// A file image around `content`, with a correct size and check value.
std::vector<std::uint8_t> Sealed(const std::vector<std::uint8_t>& content) {
  std::vector<std::uint8_t> image = {'T', 'S', 'M', 'S', 'C', 'E', 'N', 'E'};
  Little(image, headless::kSceneFormatVersion, 4);
  Little(image, content.size(), 8);
  image.insert(image.end(), content.begin(), content.end());
  Little(image, headless::Fnv1a64(image.data(), image.size()), 8);
  return image;
}

// An empty body: no name, flags, parameters, mesh, weights or plug-in state.
void EmptyBody(std::vector<std::uint8_t>& content) {
  Little(content, 0, 4);                              // name
  Little(content, 0, 4);                              // flags
  content.push_back(1);                               // deform mode
  for (int k = 0; k < 4; ++k) Little(content, 0, 4);  // parameters, points, polygons, weights
  content.push_back(0);                               // no plug-in state
}

// `count` null objects, each the child of the one before (`nested`) or all at the top level;
// the last carries `tags` empty vertex maps.
std::vector<std::uint8_t> NullObjects(std::uint32_t count, bool nested, std::uint32_t tags = 0) {
  std::vector<std::uint8_t> content;
  Little(content, count, 4);
  for (std::uint32_t i = 0; i < count; ++i) {
    Little(content, headless::kNullObjectType, 4);
    Little(content, i == 0 || !nested ? 0xffffffffu : i - 1, 4);
    EmptyBody(content);
    const std::uint32_t own = i + 1 == count ? tags : 0;
    Little(content, own, 4);
    for (std::uint32_t k = 0; k < own; ++k) {
      Little(content, Tvertexmap, 4);
      EmptyBody(content);
    }
  }
  return Sealed(content);
}

std::vector<std::uint8_t> NestedNulls(std::uint32_t count) {
  return NullObjects(count, true);
}

TEST_F(SceneBounds, HeadersAreCheckedAgainstTheFileBeforeItsContentIsRead) {
  // An endless input that is no scene is refused at its first bytes.
  const CliRun zero = RunCli("scene info /dev/zero");
  EXPECT_EQ(zero.status, 1);
  EXPECT_NE(zero.err.find("/dev/zero: not a scene file"), std::string::npos) << zero.err;

  // A header announcing far more than the file holds, with the file's size or on a pipe.
  std::vector<std::uint8_t> image = NestedNulls(1);
  for (int k = 0; k < 8; ++k) image[12 + k] = k == 5 ? 1 : 0;  // 2^40 content bytes
  const std::string path = Write("huge.scene", image);
  const CliRun file = RunCli("scene info " + Quoted(path));
  EXPECT_EQ(file.status, 1);
  EXPECT_NE(file.err.find("1099511627776 content bytes announced"), std::string::npos) << file.err;
  const CliRun piped = RunCli("scene info -", {.input = path, .environment = {}});
  EXPECT_EQ(piped.status, 1);
  EXPECT_NE(piped.err.find("-: truncated scene file"), std::string::npos) << piped.err;

  // Data after the announced end, on a pipe too.
  std::vector<std::uint8_t> longer = NestedNulls(2);
  longer.push_back(7);
  const CliRun trailing =
      RunCli("scene info -", {.input = Write("longer.scene", longer), .environment = {}});
  EXPECT_EQ(trailing.status, 1);
  EXPECT_NE(trailing.err.find("data after the check value"), std::string::npos) << trailing.err;
  const CliRun good =
      RunCli("scene info -", {.input = Write("good.scene", NestedNulls(2)), .environment = {}});
  EXPECT_EQ(good.status, 0) << good.err;
}

TEST_F(SceneBounds, ABindRecordClaimingMoreDifferencesThanItHoldsClaimsNoMemoryForThem) {
  Node* tag = doc->AddTag(AddGrid(3, 3), kTagId);
  headless::MemoryStream claim;
  claim.WriteBool(true);
  claim.WriteInt32(300000000);
  claim.WriteVector({1.0, 2.0, 3.0});
  headless::MemoryStream stream = headless::MemoryStream::ForReading(claim.Bytes());
  headless::ResetPeakBytes();
  const Int64 before = headless::GetAllocationStats().bytesInUse;
  EXPECT_FALSE(
      tag->instance->CallReadState(headless::ToList(tag), headless::ToHyperFile(&stream), 0));
  // 300 million differences would take 7.2 GB; what was there takes one block of a few.
  EXPECT_LT(headless::GetAllocationStats().peakBytes - before, Int64{1} << 20);
  EXPECT_FALSE(Record(tag).bound);
  EXPECT_EQ(Record(tag).differences.GetCount(), 0);

  // Many differences that are there still read back whole, across the growth steps.
  Node* big = doc->AddTag(AddGrid(150, 100, "big"), kTagId);
  ASSERT_TRUE(headless::PressButton(big, kBindButton));
  const std::vector<Vector3> bound = Differences(big);
  std::unique_ptr<headless::Document> loaded =
      headless::DeserializeDocument(headless::SerializeDocument(*doc), "big");
  EXPECT_TRUE(SameBits(Differences(loaded->Objects().back()->firstTag), bound));
}

TEST_F(SceneBounds, DeepTreesAreRefusedAtTheLimitAndEveryWalkCopesBelowIt) {
  const std::string deep = LoadError(NestedNulls(120000));
  EXPECT_NE(deep.find("object 1000 lies deeper than 1000 levels"), std::string::npos) << deep;

  const std::string path = Write("deepest.scene", NestedNulls(headless::kMaxSceneDepth));
  const CliRun info = RunCli("scene info " + Quoted(path));
  EXPECT_EQ(info.status, 0) << info.err;
  EXPECT_EQ(std::count(info.out.begin(), info.out.end(), '\n'), 1 + 1000);

  // A tree deeper than any file may hold, built in memory: listed, saved and freed without
  // running out of stack.
  Node* parent = nullptr;
  for (int i = 0; i < 120000; ++i) parent = doc->AddObject(headless::kNullObjectType, "", parent);
  EXPECT_EQ(doc->Objects().size(), 120000u);
  headless::SaveScene(*doc, (dir / "deep.scene").string());
  Node* top = doc->FirstObject();
  doc->Remove(top);
  headless::DestroyNode(top);
  EXPECT_EQ(doc->FirstObject(), nullptr);
}

TEST_F(SceneBounds, LoadingTakesTimeInProportionToObjectsAndTags) {
  const std::vector<std::uint8_t> image = NullObjects(100000, false, 20000);
  const auto start = std::chrono::steady_clock::now();
  std::unique_ptr<headless::Document> loaded = headless::DeserializeDocument(image, "many");
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  EXPECT_EQ(loaded->Objects().size(), 100000u);
  EXPECT_EQ(headless::Document::Tags(loaded->Objects().back()).size(), 20000u);
  // Quadratic placing took 18 s for 100,000 objects; in proportion it is well under a second.
  EXPECT_LT(seconds, 5.0);
}

TEST_F(SceneBounds, DescribedParametersOutsideTheirRangeAreRefusedByNodeAndParameter) {
  Node* object = AddGrid(3, 3, "sleeve");
  Node* tag = doc->AddTag(object, kTagId);
  tag->name = "bind";
  const auto expectRefused = [&](Int32 id, auto value, const std::string& what) {
    headless::Container saved = tag->params;
    if constexpr (std::is_floating_point_v<decltype(value)>) {
      tag->params.SetFloat(id, value);
    } else {
      tag->params.SetInt32(id, value);
    }
    const std::string message = SavedLoadError();
    EXPECT_NE(message.find("tag of type " + std::to_string(kTagId) + " 'bind'"), std::string::npos)
        << message;
    EXPECT_NE(message.find(what), std::string::npos) << message;
    tag->params = saved;
  };
  const Float nan = std::numeric_limits<Float>::quiet_NaN();
  expectRefused(kStrength, nan,
                "parameter 1008 TTESSAMIRE_STRENGTH \"Strength\" is nan, not a finite");
  expectRefused(kStrength, 1e39, "TTESSAMIRE_STRENGTH \"Strength\" is 1e+39, outside its range");
  expectRefused(kStrength, -0.5, "is -0.5, outside its range 0 to 1");
  expectRefused(kIterations, std::numeric_limits<Int32>::max(),
                "TTESSAMIRE_ITERATIONS \"Iterations\" is 2147483647, outside its range 0 to 1000");
  expectRefused(kIterations, -1, "ITERATIONS \"Iterations\" is -1");
  expectRefused(kWeighting, 7, "TTESSAMIRE_WEIGHTING \"Weighting\" is 7, none of its choices");
  // Any float a node holds, described or not.
  Node* group = doc->AddObject(headless::kNullObjectType, "group");
  group->params.SetFloat(77, std::numeric_limits<Float>::infinity());
  EXPECT_NE(SavedLoadError().find("object of type 5140 'group': parameter 77 is inf"),
            std::string::npos);
  group->params.Clear();

  // What is in range loads.
  tag->params.SetInt32(kIterations, 1000);
  tag->params.SetFloat(kStrength, 0.0);
  EXPECT_EQ(SavedLoadError(), "");
}

TEST_F(SceneBounds, WeightsKeysFramesAndStoredVectorsThatAreNotSoundAreRefused) {
  Node* object = AddGrid(2, 2, "arm");
  Node* map = doc->AddVertexMap(object, {0.0f, 0.5f, 1.0f, 1.0f}, "shoulder weights");
  for (const Float32 bad : {-1.0f, 3e38f, std::numeric_limits<Float32>::quiet_NaN()}) {
    map->weights[2] = bad;
    const std::string message = SavedLoadError();
    EXPECT_NE(message.find("tag of type 5682 'shoulder weights': weight 2 is"), std::string::npos)
        << message;
    EXPECT_NE(message.find("not a number from 0 to 1"), std::string::npos) << message;
  }
  map->weights[2] = 1.0f;
  EXPECT_EQ(SavedLoadError(), "");

  Node* joint = headless::AddJoint(*doc, "elbow", Matrix{});
  headless::SetRotationKeys(joint, {}, {0, 0, 1}, {{0.0, 0.0}, {10.0, 45.0}});
  joint->params.SetFloat(headless::kJointKeys + headless::kJointKeyStride, 0.0);  // out of order
  EXPECT_NE(SavedLoadError().find("'elbow'"), std::string::npos) << SavedLoadError();
  headless::ClearJointKeys(joint);
  joint->params.SetFloat(headless::kJointCurrent, std::numeric_limits<Float>::quiet_NaN());
  EXPECT_NE(SavedLoadError().find("'elbow': parameter 2120 is nan"), std::string::npos);
  headless::SetJointCurrent(joint, Matrix{});

  Node* cache = doc->AddObject(headless::kPointCacheType, "walk", object);
  headless::LoadPointCacheSamples(cache, 4, {1.0, 2.0}, std::vector<Vector3>(8));
  cache->params.SetFloat(headless::kPointCacheFrames + 1, 1.0);
  EXPECT_NE(SavedLoadError().find("point cache 'walk': the frame of sample 1"), std::string::npos)
      << SavedLoadError();
  cache->params.SetFloat(headless::kPointCacheFrames + 1, 2.0);
  EXPECT_EQ(SavedLoadError(), "");

  // A difference that is not finite in a bind record.
  Node* tag = doc->AddTag(object, kTagId);
  ASSERT_TRUE(headless::PressButton(tag, kBindButton));
  std::vector<std::uint8_t> image = headless::SerializeDocument(*doc);
  const std::vector<std::uint8_t> state = headless::WriteNodeState(tag);
  std::vector<std::uint8_t> needle(state.begin(), state.end());
  auto at = std::search(image.begin(), image.end(), needle.begin(), needle.end());
  ASSERT_NE(at, image.end());
  // The third vector's x: bool (2 bytes), count (5), two vectors (50), marker (1).
  const Float nan = std::numeric_limits<Float>::quiet_NaN();
  std::memcpy(&*(at + 2 + 5 + 50 + 1), &nan, sizeof nan);
  image.resize(image.size() - 8);
  Little(image, headless::Fnv1a64(image.data(), image.size()), 8);
  const std::string message = LoadError(image);
  EXPECT_NE(message.find("vector 2 of its stored plug-in state is not finite"), std::string::npos)
      << message;
}

}  // namespace
