// Scene files holding the plug-in's nodes: round trips, damaged files, plug-in state chunks, the
// bounds the reader keeps and the values it refuses. The typed stream is tested in
// tests/entries/stream_test.cpp, the `tessamire scene` commands in
// tests/cli/scene_commands_test.cpp.

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
#include <random>
#include <type_traits>

#include "headless/deformers/cache_deformer.h"
#include "headless/deformers/skin.h"
#include "headless/entries/framework.h"
#include "headless/entries/stream.h"
#include "headless/files/checksum.h"
#include "headless/io/obj.h"
#include "headless/io/scene_file.h"
#include "headless/scene/evaluate.h"
#include "headless/scene/parameters.h"
#include "host/abi/plugin_base.h"
#include "tests/support/bind_tag_fixture.h"
#include "tests/support/program_runner.h"

namespace {

namespace fs = std::filesystem;
using namespace bind_tag;
using headless::MemoryStream;
using headless::Node;

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
    bound = doc->AddTag(object, ID_TTESSAMIRE);
    bound->params.SetLink(TTESSAMIRE_VERTEXMAP, map->serial);
    live = doc->AddTag(object, ID_TTESSAMIRE);
    live->params.SetFloat(TTESSAMIRE_STRENGTH, 0.1);
    ASSERT_TRUE(headless::PressButton(bound, TTESSAMIRE_BIND));
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
  EXPECT_EQ(tags[1]->params.GetLink(TTESSAMIRE_VERTEXMAP)->target, tags[0]->serial);
  // The bound tag: bit for bit, with its status and settings (what the plug-in makes of it in
  // memory is in tests/plugin/bind_tag_test.cpp).
  const StoredBind boundBind = StoredBindOf(bound);
  ASSERT_TRUE(boundBind.bound);
  EXPECT_EQ(boundBind.differences.size(), 72u);
  EXPECT_TRUE(StoredBindOf(tags[1]).bound);
  EXPECT_TRUE(SameBits(StoredBindOf(tags[1]).differences, boundBind.differences));
  EXPECT_EQ(Status(tags[1]), Status(bound));
  EXPECT_EQ(tags[1]->params.Entries().size(), bound->params.Entries().size());
  // The live tag comes back live; evaluating leaves the bound one as it was.
  EXPECT_FALSE(StoredBindOf(tags[2]).bound);
  EXPECT_EQ(tags[2]->params.GetFloat(TTESSAMIRE_STRENGTH), 0.1);
  headless::EvaluateDocument(*loaded);
  EXPECT_TRUE(SameBits(StoredBindOf(tags[1]).differences, boundBind.differences));

  // Saving what was loaded gives the same file.
  EXPECT_EQ(headless::SerializeDocument(*loaded), headless::SerializeDocument(*doc));
}

TEST_F(SceneFiles, DamagedFilesFailWithAClearErrorAndLeaveTheOpenDocumentAlone) {
  BuildRichScene();
  const std::vector<std::uint8_t> image = headless::SerializeDocument(*doc);
  const std::string path = Path("damaged.scene");
  headless::Document* const open = doc.get();
  const auto openBits = StoredBindOf(bound).differences;

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
    EXPECT_TRUE(SameBits(StoredBindOf(bound).differences, openBits));
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
  newer[8] = static_cast<std::uint8_t>(headless::kSceneFormatVersion + 1);
  expectRefused(newer, "version " + std::to_string(headless::kSceneFormatVersion + 1));

  fs::remove(path);
  EXPECT_THROW(headless::LoadSceneInto(path, doc), std::runtime_error);
  EXPECT_EQ(doc.get(), open);

  // A good file does replace it.
  headless::SaveScene(*doc, path);
  headless::LoadSceneInto(path, doc);
  EXPECT_NE(doc.get(), open);
}

// The file's own vertices of an imported object: kept, copied with the object, saved and loaded
// as they were; damaged ones refused naming the object; a version 1 file (before they were kept)
// loads without them and says so.
TEST_F(SceneFiles, FileVerticesTravelWithTheirObjectAndDamagedOnesAreRefused) {
  object = AddGrid(3, 3, "character");
  auto file = std::make_shared<headless::FileVertices>();
  file->object = "Body";
  file->mesh = "Body mesh";
  file->materials = {"skin", "eyes"};
  for (Int32 p = 0; p < 9; ++p) file->vertexPoint.push_back(p);
  file->vertexPoint.push_back(4);  // point 4 once more, along a seam
  for (Int32 v = 0; v < 10; ++v) {
    file->normals.push_back({0.0, 0.1 * v, 1.0});
    file->uvs.insert(file->uvs.end(), {0.1f * static_cast<Float32>(v), 0.5f});
  }
  for (const CPolygon& f : object->polygons) {
    file->cornerVertex.insert(file->cornerVertex.end(), {f.a, f.b, f.c, f.d == 4 ? 9 : f.d});
    file->faceFirst.push_back(static_cast<Int64>(file->cornerVertex.size()));
    file->faceMaterial.push_back(static_cast<Int32>(file->faceMaterial.size() % 3) - 1);
  }
  object->fileVertices = file;
  Node* copy = headless::CopyObject(object);
  ASSERT_NE(copy, nullptr);
  EXPECT_EQ(copy->fileVertices, object->fileVertices);
  headless::DestroyNode(copy);

  const std::vector<std::uint8_t> image = headless::SerializeDocument(*doc);
  headless::SceneFileInfo info;
  const std::unique_ptr<headless::Document> loaded =
      headless::DeserializeDocument(image, "kept", &info);
  EXPECT_EQ(info.version, headless::kSceneFormatVersion);
  const Node* back = loaded->FindObject("character");
  ASSERT_NE(back->fileVertices, nullptr);
  const headless::FileVertices& kept = *back->fileVertices;
  EXPECT_EQ(kept.object, file->object);
  EXPECT_EQ(kept.mesh, file->mesh);
  EXPECT_EQ(kept.materials, file->materials);
  EXPECT_EQ(kept.vertexPoint, file->vertexPoint);
  EXPECT_EQ(kept.uvs, file->uvs);
  ASSERT_EQ(kept.normals.size(), 10u);
  EXPECT_EQ(kept.normals[9].y, file->normals[9].y);
  EXPECT_EQ(kept.faceFirst, file->faceFirst);
  EXPECT_EQ(kept.cornerVertex, file->cornerVertex);
  EXPECT_EQ(kept.faceMaterial, file->faceMaterial);
  EXPECT_EQ(headless::SerializeDocument(*loaded), image);

  // The seam vertex's point (4, the last of the vertex list) out of range.
  std::vector<std::uint8_t> damaged = image;
  const std::uint8_t lastTwo[8] = {8, 0, 0, 0, 4, 0, 0, 0};  // the vertex list ends 8, 4
  auto at = std::find_end(damaged.begin(), damaged.end(), std::begin(lastTwo), std::end(lastTwo));
  ASSERT_NE(at, damaged.end());
  at[4] = 9;
  Reseal(damaged);
  try {
    headless::DeserializeDocument(damaged, "damaged");
    ADD_FAILURE() << "damaged file vertices loaded";
  } catch (const std::runtime_error& e) {
    EXPECT_NE(std::string(e.what()).find(
                  "'character': its file vertices: vertex 9 sits on point 9 outside [0, 9)"),
              std::string::npos)
        << e.what();
  }
  // Cut short inside them: refused as well.
  std::vector<std::uint8_t> cut(image.begin(), image.end() - 8 - 20);
  cut.resize(cut.size() + 8);
  Reseal(cut);
  EXPECT_THROW(headless::DeserializeDocument(cut, "cut"), std::runtime_error);

  // Version 1: the same objects, nothing after them.
  object->fileVertices = nullptr;
  std::vector<std::uint8_t> old = headless::SerializeDocument(*doc);
  // No count of objects with file vertices, no frame rate, no rig's byte.
  old.erase(old.end() - 8 - 1 - 8 - 4, old.end() - 8);
  old[8] = 1;
  Reseal(old);
  const std::unique_ptr<headless::Document> first =
      headless::DeserializeDocument(old, "first", &info);
  EXPECT_EQ(info.version, 1u);
  EXPECT_EQ(first->FindObject("character")->fileVertices, nullptr);
}

TEST_F(SceneFiles, TheStoredLevelIsHandedBackToReadState) {
  Node* tag = doc->AddTag(AddGrid(5, 5), ID_TTESSAMIRE);
  ASSERT_TRUE(headless::PressButton(tag, TTESSAMIRE_BIND));
  std::vector<std::uint8_t> image = headless::SerializeDocument(*doc);
  const size_t chunk = FindChunk(image, headless::WriteNodeState(tag));
  // The chunk is preceded by the plug-in id and the level (0, as registered).
  EXPECT_EQ(image[chunk - 4], 0);
  EXPECT_EQ(image[chunk - 8], ID_TTESSAMIRE & 0xff);
  image[chunk - 4] = 1;
  Reseal(image);
  std::unique_ptr<headless::Document> loaded = headless::DeserializeDocument(image, "level 1");
  Node* loadedTag = loaded->FirstObject()->firstTag;
  EXPECT_FALSE(StoredBindOf(loadedTag).bound);
}

TEST_F(SceneFiles, AStateThatReadStateRefusesFailsTheLoad) {
  Node* tag = doc->AddTag(AddGrid(5, 5), ID_TTESSAMIRE);
  ASSERT_TRUE(headless::PressButton(tag, TTESSAMIRE_BIND));
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
  EXPECT_NE(message.find(std::to_string(ID_TTESSAMIRE)), std::string::npos) << message;
}

TEST_F(SceneFiles, ASceneWhosePlugInIsNotRegisteredIsRefusedByName) {
  Node* tag = doc->AddTag(AddGrid(4, 4), ID_TTESSAMIRE);
  ASSERT_TRUE(headless::PressButton(tag, TTESSAMIRE_BIND));
  const std::vector<std::uint8_t> image = headless::SerializeDocument(*doc);
  doc.reset();
  plugin.Close();
  const std::string message = LoadError(image);
  EXPECT_NE(message.find("plug-in " + std::to_string(ID_TTESSAMIRE) + " is not registered"),
            std::string::npos)
      << message;
}

// ---------------------------------------------------------------------------------------------
// Bounds: the reader checks before it works, and refuses values no reader can use

class SceneBounds : public SceneFiles {
 protected:
  // The message loading the saved `doc` fails with.
  std::string SavedLoadError() { return LoadError(headless::SerializeDocument(*doc)); }

  std::string Write(const std::string& name, const std::vector<std::uint8_t>& bytes) const {
    const std::string path = Path(name);
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
    return path;
  }
};

void Little(std::vector<std::uint8_t>& out, std::uint64_t v, int bytes) {
  for (int k = 0; k < bytes; ++k) out.push_back(static_cast<std::uint8_t>(v >> (8 * k)));
}

void LittleFloat(std::vector<std::uint8_t>& out, Float v) {
  std::uint64_t bits = 0;
  std::memcpy(&bits, &v, sizeof bits);
  Little(out, bits, 8);
}

// A file image of `version` (by default 1: objects only) around `content`, with a correct size
// and check value.
std::vector<std::uint8_t> Sealed(const std::vector<std::uint8_t>& content,
                                 std::uint32_t version = 1) {
  std::vector<std::uint8_t> image = {'T', 'S', 'M', 'S', 'C', 'E', 'N', 'E'};
  Little(image, version, 4);
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
#ifndef _WIN32
  const CliRun zero = RunCli("scene info /dev/zero");
  EXPECT_EQ(zero.status, 1);
  EXPECT_NE(zero.err.find("/dev/zero: not a scene file"), std::string::npos) << zero.err;
#endif

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

// The frame rate travels with the scene; a file written before it was kept (versions 1 and 2)
// reads at 30 frames per second, the rate times in seconds were reckoned at then; a rate no clock
// runs at is refused.
TEST_F(SceneBounds, TheFrameRateTravelsWithTheSceneAndOlderFilesReadAtThirty) {
  doc->SetFrameRate(25.0);
  const std::string path = Path("rate.scene");
  headless::SaveScene(*doc, path);
  EXPECT_EQ(headless::LoadScene(path)->FrameRate(), 25.0);

  std::vector<std::uint8_t> old;
  Little(old, 1, 4);  // one null object at the top level, without tags
  Little(old, headless::kNullObjectType, 4);
  Little(old, 0xffffffffu, 4);
  EmptyBody(old);
  Little(old, 0, 4);
  for (std::uint32_t version = 1; version < headless::kSceneFormatWithFrameRate; ++version) {
    if (version == headless::kSceneFormatWithFileVertices) Little(old, 0, 4);
    const std::unique_ptr<headless::Document> loaded =
        headless::LoadScene(Write("old.scene", Sealed(old, version)));
    EXPECT_EQ(loaded->FrameRate(), headless::kDefaultFrameRate) << version;
    EXPECT_EQ(loaded->Objects().size(), 1u) << version;
  }

  for (Float rate : {0.0, -24.0, std::numeric_limits<Float>::infinity(),
                     std::numeric_limits<Float>::quiet_NaN()}) {
    std::vector<std::uint8_t> content;
    Little(content, 0, 4);  // no objects
    Little(content, 0, 4);  // none with file vertices
    LittleFloat(content, rate);
    EXPECT_NE(LoadError(Sealed(content, headless::kSceneFormatWithFrameRate))
                  .find("is not a finite number above 0"),
              std::string::npos)
        << rate;
  }
  EXPECT_THROW(doc->SetFrameRate(0.0), std::invalid_argument);
  EXPECT_EQ(doc->FrameRate(), 25.0);
}

TEST_F(SceneBounds, ABindRecordClaimingMoreDifferencesThanItHoldsClaimsNoMemoryForThem) {
  Node* tag = doc->AddTag(AddGrid(3, 3), ID_TTESSAMIRE);
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
  EXPECT_FALSE(StoredBindOf(tag).bound);

  // Many differences that are there still read back whole, across the growth steps.
  Node* big = doc->AddTag(AddGrid(150, 100, "big"), ID_TTESSAMIRE);
  ASSERT_TRUE(headless::PressButton(big, TTESSAMIRE_BIND));
  const std::vector<Vector3> bound = StoredBindOf(big).differences;
  ASSERT_EQ(bound.size(), 15000u);
  std::unique_ptr<headless::Document> loaded =
      headless::DeserializeDocument(headless::SerializeDocument(*doc), "big");
  EXPECT_TRUE(SameBits(StoredBindOf(loaded->Objects().back()->firstTag).differences, bound));
}

TEST_F(SceneBounds, DeepTreesAreRefusedAtTheLimitAndEveryWalkCopesBelowIt) {
  const std::string deep = LoadError(NestedNulls(120000));
  EXPECT_NE(deep.find("object 1000 lies deeper than 1000 levels"), std::string::npos) << deep;

  const std::string path = Write("deepest.scene", NestedNulls(headless::kMaxSceneDepth));
  const CliRun info = RunCli("scene info " + Quoted(path));
  EXPECT_EQ(info.status, 0) << info.err;
  EXPECT_EQ(std::count(info.out.begin(), info.out.end(), '\n'), 1 + 1000);
  const std::string again = Path("again.scene");
  headless::SaveScene(*headless::LoadScene(path), again);
  EXPECT_EQ(headless::LoadScene(again)->Objects().size(), 1000u);

  // A tree deeper than any file may hold, built in memory: listed and freed without running out
  // of stack.
  Node* parent = nullptr;
  for (int i = 0; i < 120000; ++i) parent = doc->AddObject(headless::kNullObjectType, "", parent);
  EXPECT_EQ(doc->Objects().size(), 120000u);
  // Too deep to be loaded again, so it is not saved either.
  EXPECT_THROW(headless::SaveScene(*doc, (dir / "deep.scene").string()), std::runtime_error);
  EXPECT_FALSE(fs::exists(dir / "deep.scene"));
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
  Node* tag = doc->AddTag(object, ID_TTESSAMIRE);
  tag->name = "bind";
  const auto expectRefused = [&](Int32 id, auto value, const std::string& what) {
    headless::Container saved = tag->params;
    if constexpr (std::is_floating_point_v<decltype(value)>) {
      tag->params.SetFloat(id, value);
    } else {
      tag->params.SetInt32(id, value);
    }
    const std::string message = SavedLoadError();
    EXPECT_NE(message.find("tag of type " + std::to_string(ID_TTESSAMIRE) + " 'bind'"),
              std::string::npos)
        << message;
    EXPECT_NE(message.find(what), std::string::npos) << message;
    tag->params = saved;
  };
  const Float nan = std::numeric_limits<Float>::quiet_NaN();
  expectRefused(TTESSAMIRE_STRENGTH, nan,
                "parameter 1008 TTESSAMIRE_STRENGTH \"Strength\" is nan, not a finite");
  expectRefused(TTESSAMIRE_STRENGTH, 1e39,
                "TTESSAMIRE_STRENGTH \"Strength\" is 1e+39, outside its range");
  expectRefused(TTESSAMIRE_STRENGTH, -0.5, "is -0.5, outside its range 0 to 1");
  expectRefused(TTESSAMIRE_ITERATIONS, std::numeric_limits<Int32>::max(),
                "TTESSAMIRE_ITERATIONS \"Iterations\" is 2147483647, outside its range 0 to 1000");
  expectRefused(TTESSAMIRE_ITERATIONS, -1, "ITERATIONS \"Iterations\" is -1");
  expectRefused(TTESSAMIRE_WEIGHTING, 7,
                "TTESSAMIRE_WEIGHTING \"Weighting\" is 7, none of its choices");
  // Any float a node holds, described or not.
  Node* group = doc->AddObject(headless::kNullObjectType, "group");
  group->params.SetFloat(77, std::numeric_limits<Float>::infinity());
  EXPECT_NE(SavedLoadError().find("object of type 5140 'group': parameter 77 is inf"),
            std::string::npos);
  group->params.Clear();

  // What is in range loads.
  tag->params.SetInt32(TTESSAMIRE_ITERATIONS, 1000);
  tag->params.SetFloat(TTESSAMIRE_STRENGTH, 0.0);
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
  Node* tag = doc->AddTag(object, ID_TTESSAMIRE);
  ASSERT_TRUE(headless::PressButton(tag, TTESSAMIRE_BIND));
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

TEST_F(SceneBounds, LinksToNodesTheFileDoesNotHoldAreRefusedAndNothingLoads) {
  constexpr Int32 kLink = 9;
  constexpr Int32 kList = 10;
  Node* first = doc->AddObject(headless::kNullObjectType, "first");
  Node* second = doc->AddObject(headless::kNullObjectType, "second");
  first->params.SetLink(kLink, second->serial);
  first->params.SetInExclude(kList, {second->serial});
  const std::vector<std::uint8_t> image = headless::SerializeDocument(*doc);
  ASSERT_EQ(LoadError(image), "");
  headless::Document* const open = doc.get();
  const std::string path = Path("links.scene");

  for (const Int32 id : {kLink, kList}) {
    // The stored parameter: its id, its value type, the entry count of a list, then the index of
    // the second node, 1.
    std::vector<std::uint8_t> stored;
    Little(stored, static_cast<std::uint32_t>(id), 4);
    if (id == kLink) {
      stored.push_back(static_cast<std::uint8_t>(headless::ValueType::kLink));
    } else {
      stored.push_back(static_cast<std::uint8_t>(headless::ValueType::kInExclude));
      Little(stored, 1, 4);
    }
    Little(stored, 1, 8);
    const auto at = std::search(image.begin(), image.end(), stored.begin(), stored.end());
    ASSERT_NE(at, image.end());
    const size_t target = static_cast<size_t>(at - image.begin()) + stored.size() - 8;

    for (const Int64 index : {Int64{2}, Int64{-2}, std::numeric_limits<Int64>::max()}) {
      std::vector<std::uint8_t> bad = image;
      for (int k = 0; k < 8; ++k)
        bad[target + k] = static_cast<std::uint8_t>(static_cast<std::uint64_t>(index) >> (8 * k));
      Reseal(bad);
      Write("links.scene", bad);
      try {
        headless::LoadSceneInto(path, doc);
        ADD_FAILURE() << "parameter " << id << " linking node " << index << " loaded";
      } catch (const std::runtime_error& e) {
        const std::string message = e.what();
        EXPECT_EQ(
            message.rfind(path + ": a link refers to node " + std::to_string(index) + " of 2", 0),
            0u)
            << message;
      }
      EXPECT_EQ(doc.get(), open);
      EXPECT_EQ(doc->Objects().size(), 2u);
    }
  }
}

}  // namespace
