// The typed stream, scene files (round trips, damaged files, plug-in state chunks) and the
// `tessamire scene` commands.

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <limits>
#include <random>

#include "headless/host/evaluate.h"
#include "headless/host/parameters.h"
#include "headless/host/stream.h"
#include "headless/io/checksum.h"
#include "headless/io/obj.h"
#include "headless/io/scene_file.h"
#include "tests/support/bind_tag_fixture.h"
#include "tests/support/cli_runner.h"

namespace {

namespace fs = std::filesystem;
using namespace bind_tag;
using headless::MemoryStream;
using headless::Node;

// ---------------------------------------------------------------------------------------------
// The typed stream

TEST(TypedStream, ValuesComeBackBitForBitInOrder) {
  const Vector3 awkward{-0.0, std::numeric_limits<Float>::denorm_min(),
                        std::numeric_limits<Float>::quiet_NaN()};
  MemoryStream out;
  EXPECT_TRUE(out.WriteBool(true));
  EXPECT_TRUE(out.WriteInt32(std::numeric_limits<Int32>::min()));
  EXPECT_TRUE(out.WriteVector(awkward));
  EXPECT_TRUE(out.WriteBool(false));
  EXPECT_TRUE(out.WriteInt32(-2));
  EXPECT_EQ(out.Bytes().size(), 2u + 5u + 25u + 2u + 5u);
  // Little-endian payloads behind their markers.
  EXPECT_EQ(out.Bytes()[2], headless::kStreamInt32);
  EXPECT_EQ(out.Bytes()[6], 0x80);

  MemoryStream in = MemoryStream::ForReading(out.Bytes());
  bool b = false;
  Int32 i = 0;
  Vector3 v;
  ASSERT_TRUE(in.ReadBool(b));
  EXPECT_TRUE(b);
  ASSERT_TRUE(in.ReadInt32(i));
  EXPECT_EQ(i, std::numeric_limits<Int32>::min());
  ASSERT_TRUE(in.ReadVector(v));
  EXPECT_TRUE(SameBits({v}, {awkward}));
  ASSERT_TRUE(in.ReadBool(b));
  EXPECT_FALSE(b);
  ASSERT_TRUE(in.ReadInt32(i));
  EXPECT_EQ(i, -2);
  EXPECT_TRUE(in.AtEnd());
  EXPECT_FALSE(in.Failed());
}

TEST(TypedStream, WrongTypesEndsAndCorruptValuesFailForGood) {
  MemoryStream out;
  out.WriteInt32(7);
  out.WriteBool(true);

  MemoryStream wrongType = MemoryStream::ForReading(out.Bytes());
  bool b = false;
  EXPECT_FALSE(wrongType.ReadBool(b));
  Int32 i = 99;
  EXPECT_FALSE(wrongType.ReadInt32(i));  // sticky, though an int32 comes next
  EXPECT_EQ(i, 99);

  MemoryStream pastEnd = MemoryStream::ForReading(out.Bytes());
  ASSERT_TRUE(pastEnd.ReadInt32(i));
  ASSERT_TRUE(pastEnd.ReadBool(b));
  EXPECT_FALSE(pastEnd.ReadBool(b));
  EXPECT_TRUE(pastEnd.Failed());

  std::vector<std::uint8_t> bytes = out.Bytes();
  bytes.pop_back();  // a cut payload
  MemoryStream cut = MemoryStream::ForReading(bytes);
  ASSERT_TRUE(cut.ReadInt32(i));
  EXPECT_FALSE(cut.ReadBool(b));

  bytes = out.Bytes();
  bytes.back() = 2;  // a bool that is neither 0 nor 1
  MemoryStream corrupt = MemoryStream::ForReading(bytes);
  ASSERT_TRUE(corrupt.ReadInt32(i));
  b = false;
  EXPECT_FALSE(corrupt.ReadBool(b));
  EXPECT_FALSE(b);

  MemoryStream reading = MemoryStream::ForReading(out.Bytes());
  EXPECT_FALSE(reading.WriteBool(true));
  MemoryStream writing;
  EXPECT_FALSE(writing.ReadBool(b));
  EXPECT_FALSE(writing.WriteBool(true));
}

// ---------------------------------------------------------------------------------------------
// Scene files

class SceneFiles : public BindTagFixture {
 protected:
  void SetUp() override {
    BindTagFixture::SetUp();
    dir = fs::temp_directory_path() /
          ("tessamire_scene_" +
           std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
    fs::remove_all(dir);
    fs::create_directories(dir);
  }
  void TearDown() override {
    fs::remove_all(dir);
    BindTagFixture::TearDown();
  }

  // A document with hierarchy, every value type, a vertex map, a bound and a live tag.
  void BuildRichScene() {
    Node* group = doc->AddObject(headless::kNullObjectType, "group");
    group->flags = BIT_ACTIVE;
    object = AddGrid(9, 8, "body");
    doc->Remove(object);
    doc->InsertLast(object, group);
    Mesh small = Grid(3, 3);
    small.polygons.push_back({0, 4, 8, 8});
    Node* child = doc->AddPolygonObject("child", small.points, small.polygons, object);
    child->deformMode = false;
    doc->AddObject(headless::kNullObjectType, "second top");
    map = doc->AddVertexMap(object, std::vector<Float32>(72, 0.25f), "weights");
    map->weights[5] = -0.0f;
    bound = doc->AddTag(object, kTagId);
    bound->params.SetLink(kVertexMapLink, map->serial);
    live = doc->AddTag(object, kTagId);
    live->params.SetFloat(kStrength, 0.1);
    ASSERT_TRUE(headless::PressButton(bound, kBindButton));
    headless::EvaluateDocument(*doc);

    group->params.SetString(7, "text with \"quotes\" and ümlauts");
    group->params.SetInExclude(8, {child->serial, bound->serial, outsider.serial()});
    group->params.SetLink(9, outsider.serial());  // outside the document: saved empty
    group->params.SetLink(10, 0);
    group->params.SetFloat(11, -std::numeric_limits<Float>::denorm_min());
    group->params.SetInt32(12, std::numeric_limits<Int32>::min());
  }

  std::string Path(const std::string& name) const { return (dir / name).string(); }

  // A node outside every document, for links that leave the document.
  struct Outsider {
    Node* node = headless::NewNode(headless::kNullObjectType, false);
    ~Outsider() { headless::DestroyNode(node); }
    UInt64 serial() const { return node->serial; }
  } outsider;

  fs::path dir;
  Node* object = nullptr;
  Node* map = nullptr;
  Node* bound = nullptr;
  Node* live = nullptr;
};

// Rewrites the header's size and the check value after the content was edited.
void Reseal(std::vector<std::uint8_t>& image) {
  const std::uint64_t size = image.size() - 20 - 8;
  for (int k = 0; k < 8; ++k) image[12 + k] = static_cast<std::uint8_t>(size >> (8 * k));
  const std::uint64_t check = headless::Fnv1a64(image.data(), image.size() - 8);
  for (int k = 0; k < 8; ++k)
    image[image.size() - 8 + k] = static_cast<std::uint8_t>(check >> (8 * k));
}

// Where a node's state chunk (its u64 size followed by the bytes) starts in a file image.
size_t FindChunk(const std::vector<std::uint8_t>& image, const std::vector<std::uint8_t>& state) {
  std::vector<std::uint8_t> needle(8);
  for (int k = 0; k < 8; ++k) needle[k] = static_cast<std::uint8_t>(state.size() >> (8 * k));
  needle.insert(needle.end(), state.begin(), state.end());
  const auto it = std::search(image.begin(), image.end(), needle.begin(), needle.end());
  EXPECT_NE(it, image.end());
  return static_cast<size_t>(it - image.begin());
}

std::string LoadError(const std::vector<std::uint8_t>& image) {
  try {
    headless::DeserializeDocument(image, "image");
  } catch (const std::runtime_error& e) {
    return e.what();
  }
  return "";
}

TEST_F(SceneFiles, ASavedAndReloadedSceneHoldsTheSameNodesValuesAndBindData) {
  BuildRichScene();
  const std::string path = Path("rich.scene");
  headless::SaveScene(*doc, path);
  EXPECT_FALSE(fs::exists(path + ".partial"));
  std::unique_ptr<headless::Document> loaded = headless::LoadScene(path);

  const auto before = doc->Objects();
  const auto after = loaded->Objects();
  ASSERT_EQ(after.size(), before.size());
  for (size_t i = 0; i < before.size(); ++i) {
    EXPECT_EQ(after[i]->name, before[i]->name);
    EXPECT_EQ(after[i]->type, before[i]->type);
    EXPECT_EQ(after[i]->flags, before[i]->flags);
    EXPECT_EQ(after[i]->deformMode, before[i]->deformMode);
    EXPECT_EQ(after[i]->up == nullptr, before[i]->up == nullptr);
    if (before[i]->up != nullptr) {
      EXPECT_EQ(after[i]->up->name, before[i]->up->name);
    }
    EXPECT_TRUE(SameBits(after[i]->points, before[i]->points));
    ASSERT_EQ(after[i]->polygons.size(), before[i]->polygons.size());
    for (size_t k = 0; k < before[i]->polygons.size(); ++k) {
      EXPECT_EQ(std::memcmp(&after[i]->polygons[k], &before[i]->polygons[k], sizeof(CPolygon)), 0);
    }
    EXPECT_EQ(headless::Document::Tags(after[i]).size(),
              headless::Document::Tags(before[i]).size());
  }

  Node* group = loaded->FindObject("group");
  EXPECT_EQ(group->params.GetString(7), "text with \"quotes\" and ümlauts");
  Node* body = loaded->FindObject("body");
  const auto tags = headless::Document::Tags(body);
  ASSERT_EQ(tags.size(), 3u);
  const auto* list = group->params.GetInExclude(8);
  ASSERT_NE(list, nullptr);
  EXPECT_EQ(list->targets,
            (std::vector<UInt64>{loaded->FindObject("child")->serial, tags[1]->serial}));
  EXPECT_EQ(group->params.GetLink(9)->target, 0u);
  EXPECT_EQ(group->params.GetLink(10)->target, 0u);
  EXPECT_EQ(group->params.GetInt32(12), std::numeric_limits<Int32>::min());
  EXPECT_TRUE(std::signbit(*group->params.GetFloat(11)));

  EXPECT_EQ(tags[0]->weights, map->weights);
  EXPECT_TRUE(std::signbit(tags[0]->weights[5]));
  EXPECT_EQ(tags[1]->params.GetLink(kVertexMapLink)->target, tags[0]->serial);
  // The bound tag: bit for bit, with its status and settings.
  EXPECT_TRUE(Record(tags[1]).bound);
  EXPECT_TRUE(SameBits(Differences(tags[1]), Differences(bound)));
  EXPECT_EQ(Record(tags[1]).differences.GetCapacity(), 72);
  EXPECT_EQ(Status(tags[1]), Status(bound));
  EXPECT_EQ(tags[1]->params.Entries().size(), bound->params.Entries().size());
  // The live tag comes back empty and live, and its first evaluation recomputes it.
  EXPECT_FALSE(Record(tags[2]).bound);
  EXPECT_EQ(Record(tags[2]).differences.GetCount(), 0);
  EXPECT_EQ(tags[2]->params.GetFloat(kStrength), 0.1);
  headless::EvaluateDocument(*loaded);
  EXPECT_TRUE(SameBits(Differences(tags[2]), Differences(live)));
  EXPECT_TRUE(SameBits(Differences(tags[1]), Differences(bound)));

  // Saving what was loaded gives the same file.
  EXPECT_EQ(headless::SerializeDocument(*loaded), headless::SerializeDocument(*doc));
}

TEST_F(SceneFiles, DamagedFilesFailWithAClearErrorAndLeaveTheOpenDocumentAlone) {
  BuildRichScene();
  const std::vector<std::uint8_t> image = headless::SerializeDocument(*doc);
  const std::string path = Path("damaged.scene");
  headless::Document* const open = doc.get();
  const auto openBits = Differences(bound);

  const auto expectRefused = [&](const std::vector<std::uint8_t>& bytes, const std::string& what) {
    {
      std::ofstream(path, std::ios::binary)
          .write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    }
    try {
      headless::LoadSceneInto(path, doc);
      ADD_FAILURE() << "loaded: " << what;
    } catch (const std::runtime_error& e) {
      const std::string message = e.what();
      EXPECT_EQ(message.rfind(path + ": ", 0), 0u) << message;
      EXPECT_NE(message.find(what), std::string::npos) << message;
    }
    EXPECT_EQ(doc.get(), open);
    EXPECT_EQ(doc->Objects().size(), 4u);
    EXPECT_TRUE(SameBits(Differences(bound), openBits));
  };

  for (size_t keep : {size_t{0}, size_t{5}, size_t{27}, image.size() / 2, image.size() - 1})
    expectRefused(std::vector<std::uint8_t>(image.begin(), image.begin() + keep),
                  keep < 8 ? "not a scene file" : "truncated");
  for (size_t at : {size_t{25}, image.size() / 3, image.size() - 100, image.size() - 3}) {
    std::vector<std::uint8_t> flipped = image;
    flipped[at] ^= 0x10;
    expectRefused(flipped, "check value");
  }
  std::vector<std::uint8_t> longer = image;
  longer.push_back(0);
  expectRefused(longer, "corrupt");
  std::vector<std::uint8_t> newer = image;
  newer[8] = 2;
  expectRefused(newer, "version 2");

  fs::remove(path);
  EXPECT_THROW(headless::LoadSceneInto(path, doc), std::runtime_error);
  EXPECT_EQ(doc.get(), open);

  // A good file does replace it.
  headless::SaveScene(*doc, path);
  headless::LoadSceneInto(path, doc);
  EXPECT_NE(doc.get(), open);
}

TEST_F(SceneFiles, TheStoredLevelIsHandedBackToReadState) {
  Node* tag = doc->AddTag(AddGrid(5, 5), kTagId);
  ASSERT_TRUE(headless::PressButton(tag, kBindButton));
  std::vector<std::uint8_t> image = headless::SerializeDocument(*doc);
  const size_t chunk = FindChunk(image, headless::WriteNodeState(tag));
  // The chunk is preceded by the plug-in id and the level (0, as registered).
  EXPECT_EQ(image[chunk - 4], 0);
  EXPECT_EQ(image[chunk - 8], kTagId & 0xff);
  image[chunk - 4] = 1;
  Reseal(image);
  std::unique_ptr<headless::Document> loaded = headless::DeserializeDocument(image, "level 1");
  Node* loadedTag = loaded->FirstObject()->firstTag;
  EXPECT_FALSE(Record(loadedTag).bound);
  EXPECT_EQ(Record(loadedTag).differences.GetCount(), 0);
}

TEST_F(SceneFiles, AStateThatReadStateRefusesFailsTheLoad) {
  Node* tag = doc->AddTag(AddGrid(5, 5), kTagId);
  ASSERT_TRUE(headless::PressButton(tag, kBindButton));
  std::vector<std::uint8_t> image = headless::SerializeDocument(*doc);
  const std::vector<std::uint8_t> state = headless::WriteNodeState(tag);
  const size_t chunk = FindChunk(image, state);
  // Drop the last difference: the count promises one more than the chunk holds.
  image.erase(image.begin() + chunk + 8 + state.size() - 25,
              image.begin() + chunk + 8 + state.size());
  const std::uint64_t shorter = state.size() - 25;
  for (int k = 0; k < 8; ++k) image[chunk + k] = static_cast<std::uint8_t>(shorter >> (8 * k));
  Reseal(image);
  const std::string message = LoadError(image);
  EXPECT_NE(message.find("could not read the state"), std::string::npos) << message;
  EXPECT_NE(message.find(std::to_string(kTagId)), std::string::npos) << message;
}

TEST_F(SceneFiles, ASceneWhosePlugInIsNotRegisteredIsRefusedByName) {
  Node* tag = doc->AddTag(AddGrid(4, 4), kTagId);
  ASSERT_TRUE(headless::PressButton(tag, kBindButton));
  const std::vector<std::uint8_t> image = headless::SerializeDocument(*doc);
  doc.reset();
  plugin.Close();
  const std::string message = LoadError(image);
  EXPECT_NE(message.find("plug-in " + std::to_string(kTagId) + " is not registered"),
            std::string::npos)
      << message;
}

// ---------------------------------------------------------------------------------------------
// `tessamire scene import` and `tessamire scene info`

std::string Checksum(const std::vector<Vector3>& differences) {
  // Three little-endian float64 per difference; this machine stores them so.
  const std::uint64_t hash = headless::Fnv1a64(differences.data(), differences.size() * 24);
  char text[24];
  std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(hash));
  return text;
}

using SceneCommands = SceneFiles;

TEST_F(SceneCommands, ImportWithABoundTagShowsTheSameChecksumAfterReload) {
  const Mesh mesh = Grid(17, 11);
  const std::string obj = Path("plate.obj");
  headless::WriteObj(obj, mesh.points, mesh.polygons);
  const std::string scene = Path("plate.scene");
  const CliRun imported =
      RunInProcess("scene import '" + obj + "' --out '" + scene + "' --tag --bind");
  ASSERT_EQ(imported.status, 0) << imported.err;

  // The same bind in this process: the differences are deterministic.
  Node* object = doc->AddPolygonObject("plate", mesh.points, mesh.polygons);
  Node* tag = doc->AddTag(object, kTagId);
  ASSERT_TRUE(headless::PressButton(tag, kBindButton));
  const std::string expected = Checksum(Differences(tag));

  const CliRun info = RunInProcess("scene info '" + scene + "'");
  ASSERT_EQ(info.status, 0) << info.err;
  EXPECT_NE(info.out.find("object polygon \"plate\" points=187 polygons=160"), std::string::npos)
      << info.out;
  EXPECT_NE(info.out.find("bind: bound=yes differences=187 checksum=" + expected),
            std::string::npos)
      << info.out;
  EXPECT_NE(info.out.find("1004 TTESSAMIRE_ITERATIONS \"Iterations\" = 2 (disabled)"),
            std::string::npos)
      << info.out;
  EXPECT_NE(info.out.find("1002 TTESSAMIRE_BINDINFO \"Status\" = \"" + ResourceString(1002) +
                          "4488\" (enabled)"),
            std::string::npos)
      << info.out;

  // And what the file holds loads here with the same bits.
  std::unique_ptr<headless::Document> loaded = headless::LoadScene(scene);
  EXPECT_TRUE(SameBits(Differences(loaded->FirstObject()->firstTag), Differences(tag)));
}

TEST_F(SceneCommands, ImportWithATagOnlyStoresItUnbound) {
  const Mesh mesh = Grid(4, 3);
  const std::string obj = Path("small.obj");
  headless::WriteObj(obj, mesh.points, mesh.polygons);
  const std::string scene = Path("small.scene");
  ASSERT_EQ(RunInProcess("scene import '" + obj + "' --out '" + scene + "' --tag").status, 0);
  const CliRun info = RunInProcess("scene info '" + scene + "'");
  ASSERT_EQ(info.status, 0) << info.err;
  EXPECT_NE(info.out.find("bind: bound=no differences=0"), std::string::npos) << info.out;
  EXPECT_NE(info.out.find("1004 TTESSAMIRE_ITERATIONS \"Iterations\" = 2 (enabled)"),
            std::string::npos)
      << info.out;
}

TEST_F(SceneCommands, ErrorsNameTheFileExitWithOneAndWriteNothing) {
  const std::string scene = Path("out.scene");
  const CliRun missing =
      RunInProcess("scene import '" + Path("missing.obj") + "' --out '" + scene + "' --bind");
  EXPECT_EQ(missing.status, 1);
  EXPECT_NE(missing.err.find(Path("missing.obj")), std::string::npos) << missing.err;
  EXPECT_FALSE(fs::exists(scene));

  const std::string bad = Path("bad.obj");
  std::ofstream(bad) << "v 0 0 0\nv 1 0 0\nf 1 2 3\n";
  const CliRun broken = RunInProcess("scene import '" + bad + "' --out '" + scene + "'");
  EXPECT_EQ(broken.status, 1);
  EXPECT_NE(broken.err.find(bad + ":3:"), std::string::npos) << broken.err;
  EXPECT_FALSE(fs::exists(scene));

  std::ofstream(scene) << "not a scene";
  const CliRun corrupt = RunInProcess("scene info '" + scene + "'");
  EXPECT_EQ(corrupt.status, 1);
  EXPECT_NE(corrupt.err.find(scene + ": not a scene file"), std::string::npos) << corrupt.err;
  EXPECT_TRUE(corrupt.out.empty());

  EXPECT_EQ(RunInProcess("scene frobnicate").status, 2);
  EXPECT_EQ(RunInProcess("scene import '" + bad + "'").status, 2);
}

}  // namespace
