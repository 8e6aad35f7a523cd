// A scene's frames evaluated and written below the program: the range its point caches span, the
// note on samples closer than whole frames, what the run tells its observers and in which order,
// and the refusals that come before anything is written.
#include "headless/batch/evaluate_scene.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "headless/deformers/cache_deformer.h"
#include "headless/geometry/file_vertices.h"
#include "headless/scene/scene.h"
#include "tests/support/thrown.h"

namespace {

namespace fs = std::filesystem;

// A triangle whose point cache lifts it by 1 per frame, sampled at `frames`.
headless::Node* CachedTriangle(headless::Document& doc, const std::vector<Float>& frames,
                               const std::string& name = "tri") {
  headless::Node* object =
      doc.AddPolygonObject(name, {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}}, {{0, 1, 2, 2}});
  headless::Node* cache = doc.AddObject(headless::kPointCacheType, name + " cache", object);
  std::vector<Vector3> points;
  for (Float f : frames)
    for (const Vector3& p : {Vector3{0, 0, 0}, Vector3{1, 0, 0}, Vector3{0, 1, 0}})
      points.push_back({p.x, p.y, p.z + f});
  headless::LoadPointCacheSamples(cache, 3, frames, points);
  return object;
}

// Every call an observer receives, in order, as text.
class Recorder final : public headless::ProgressObserver {
 public:
  void Begin(const std::string& unit, Int64 total) override {
    calls.push_back("begin " + unit + " " + std::to_string(total));
  }
  void Step(const std::string& detail) override { calls.push_back("step " + detail); }
  void Finish() override { calls.push_back("finish"); }

  headless::EvalObserver Observer() {
    return {[this](const std::string& line) { calls.push_back(line); }, this};
  }

  std::vector<std::string> calls;
};

class EvaluateSceneTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    dir = fs::path(::testing::TempDir()) / ("tessamire_eval_" + std::string(info->name()));
    fs::remove_all(dir);
    fs::create_directories(dir);
  }
  void TearDown() override { fs::remove_all(dir); }

  headless::EvalRequest Request(const std::string& format = "obj") const {
    headless::EvalRequest request;
    request.source = (dir / "scene.tsm").string();
    request.dir = (dir / "out").string();
    request.format = format;
    return request;
  }

  fs::path dir;
};

TEST(KeyedRange, SpansTheWholeFramesOfEveryCache) {
  auto doc = headless::NewDocument();
  EXPECT_EQ(headless::KeyedRange(*doc).first, 0);  // nothing keyed: frame 0 alone
  EXPECT_EQ(headless::KeyedRange(*doc).last, 0);
  CachedTriangle(*doc, {-1.5, 2.25}, "a");
  CachedTriangle(*doc, {3.0, 7.5}, "b");
  const headless::FrameRange range = headless::KeyedRange(*doc);
  EXPECT_EQ(range.first, -1);
  EXPECT_EQ(range.last, 7);

  auto between = headless::NewDocument();
  CachedTriangle(*between, {0.2, 0.8});
  EXPECT_THROW(headless::KeyedRange(*between), std::runtime_error);
  auto beyond = headless::NewDocument();
  CachedTriangle(*beyond, {0.0, 3e9});
  EXPECT_THROW(headless::KeyedRange(*beyond), std::runtime_error);
}

TEST(KeyedRange, NotesSamplesCloserThanWholeFrames) {
  EXPECT_EQ(headless::SampleSpacingNote({0.0, 0.5, 1.0}),
            "3 samples from frame 0 to 1 hold 2 whole frames; a scene plays whole frames only, "
            "so the samples between them are not shown on their own");
  EXPECT_EQ(headless::SampleSpacingNote({0.0, 1.0, 2.0}), "");
  EXPECT_EQ(
      headless::SampleSpacingNote({0.0, 0.4}).rfind("2 samples from frame 0 to 0.4 hold 1", 0), 0u);
  EXPECT_EQ(headless::SampleSpacingNote({4.0}), "");

  auto doc = headless::NewDocument();
  CachedTriangle(*doc, {0.0, 1.0}, "steady");
  CachedTriangle(*doc, {0.0, 0.5, 1.0}, "dense");
  const std::vector<std::string> notes = headless::SampleSpacingNotes(*doc);
  ASSERT_EQ(notes.size(), 1u);
  EXPECT_EQ(notes[0].rfind("point cache 'dense cache': 3 samples", 0), 0u) << notes[0];
}

TEST_F(EvaluateSceneTest, WritesEachFrameAndTellsTheObserversInOrder) {
  auto doc = headless::NewDocument();
  CachedTriangle(*doc, {0.0, 0.25, 0.5, 2.0});
  headless::EvalRequest request = Request();
  request.command = "tessamire test";
  Recorder recorder;
  const headless::EvalResult result = headless::EvaluateScene(*doc, request, recorder.Observer());
  EXPECT_EQ(result.written, "3 meshes");
  EXPECT_EQ(result.pointsKept, 0);
  ASSERT_EQ(recorder.calls.size(), 6u);
  EXPECT_EQ(
      recorder.calls[0].rfind(
          "tessamire test: note: " + request.source + ": point cache 'tri cache': 4 samples", 0),
      0u)
      << recorder.calls[0];
  EXPECT_EQ(recorder.calls[1], "begin frame 3");
  EXPECT_EQ(recorder.calls[2], "step at frame 0");
  EXPECT_EQ(recorder.calls[4], "step at frame 2");
  EXPECT_EQ(recorder.calls[5], "finish");
  // Frame 1 lies between the samples at 0.5 and 2: lifted by 1.
  std::ifstream frame1(dir / "out" / "tri.0001.obj");
  std::stringstream text;
  text << frame1.rdbuf();
  EXPECT_NE(text.str().find("v 1 0 1\n"), std::string::npos) << text.str();
}

// glTF of a scene with a character's rig comes skinned unless the frames form is asked for; the
// skinned form without a rig is refused before anything is written.
TEST_F(EvaluateSceneTest, WritesGltfSkinnedWhereTheSceneHasARig) {
  struct Case {
    bool rig;
    const char* form;
    const char* holds;  // in the JSON; empty: refused
    const char* lacks;
  };
  const Case cases[] = {{true, "", "\"name\":\"lift\"", "\"name\":\"frames\""},
                        {true, "skin", "\"translation\":[0,0,2]", "\"name\":\"frames\""},
                        {true, "frames", "\"name\":\"frames\"", "\"name\":\"lift\""},
                        {false, "", "\"name\":\"frames\"", "\"translation\""},
                        {false, "skin", "", ""}};
  for (const Case& c : cases) {
    auto doc = headless::NewDocument();
    headless::Node* object = CachedTriangle(*doc, {0.0, 2.0});
    auto file = std::make_shared<headless::FileVertices>();
    file->object = "tri";
    file->vertexPoint = {0, 1, 2};
    file->cornerVertex = {0, 1, 2};
    file->faceFirst = {0, 3};
    file->faceMaterial = {-1};
    object->fileVertices = file;
    if (c.rig) {
      auto rig = std::make_shared<headless::Rig>();
      Matrix lifted;
      lifted.off = {0, 0, 2};
      rig->nodes = {{"tri node", -1, lifted, 0}};
      rig->clips = {
          {"lift", {{0, headless::RigPath::kScale, {0.0, 1.0}, {1, 1, 1, 2, 2, 2}}}, 0, 2}};
      doc->rig = rig;
    }
    headless::EvalRequest request = Request("glb");
    request.glbForm = c.form;
    const std::string label = std::string(c.rig ? "rig, " : "no rig, ") + c.form;
    if (*c.holds == '\0') {
      EXPECT_NE(ThrownMessage<std::runtime_error>([&] {
                  headless::EvaluateScene(*doc, request, {});
                }).find("needs a character's rig"),
                std::string::npos)
          << label;
      EXPECT_FALSE(fs::exists(dir / "out" / "scene.glb")) << label;
      continue;
    }
    headless::EvaluateScene(*doc, request, {});
    std::string glb;
    {
      // Closed before the folder goes: Windows keeps an open file's folder.
      std::ifstream in(dir / "out" / "scene.glb", std::ios::binary);
      glb.assign(std::istreambuf_iterator<char>(in), {});
    }
    EXPECT_NE(glb.find(c.holds), std::string::npos) << label;
    EXPECT_EQ(glb.find(c.lacks), std::string::npos) << label;
    fs::remove_all(dir / "out");
  }
}

TEST_F(EvaluateSceneTest, RefusesBeforeWritingAnything) {
  auto empty = headless::NewDocument();
  EXPECT_THROW(headless::EvaluateScene(*empty, Request(), {}), std::runtime_error);
  auto doc = headless::NewDocument();
  CachedTriangle(*doc, {0.0, 200000.0});  // more keyed frames than a run takes unasked
  try {
    headless::EvaluateScene(*doc, Request(), {});
    FAIL();
  } catch (const std::runtime_error& e) {
    EXPECT_NE(std::string(e.what()).find("the keys span 200001 frames"), std::string::npos)
        << e.what();
  }
  headless::EvalRequest ply = Request("ply");
  ply.frames = headless::FrameRange{0, 0};
  EXPECT_THROW(headless::EvaluateScene(*doc, ply, {}), std::invalid_argument);
  EXPECT_FALSE(fs::exists(dir / "out"));
  // The scene's own file among the results.
  headless::EvalRequest over = Request();
  over.frames = headless::FrameRange{0, 0};
  over.source = (dir / "out" / "tri.0000.obj").string();
  fs::create_directories(dir / "out");
  EXPECT_THROW(headless::EvaluateScene(*doc, over, {}), std::runtime_error);
  EXPECT_TRUE(fs::is_empty(dir / "out"));
  fs::remove(dir / "out");
  // A range given is taken as it is, however far the keys reach.
  headless::EvalRequest two = Request();
  two.frames = headless::FrameRange{5, 6};
  EXPECT_EQ(headless::EvaluateScene(*doc, two, {}).written, "2 meshes");
}

TEST_F(EvaluateSceneTest, AFailingFrameEndsTheProgress) {
  auto doc = headless::NewDocument();
  headless::Node* object = CachedTriangle(*doc, {0.0, 1.0});
  // Samples of another point count fail the deform pass at the first frame.
  headless::LoadPointCacheSamples(object->down, 2, {0.0, 1.0},
                                  {{0, 0, 0}, {1, 0, 0}, {0, 0, 1}, {1, 0, 1}});
  Recorder recorder;
  EXPECT_THROW(headless::EvaluateScene(*doc, Request(), recorder.Observer()), std::runtime_error);
  ASSERT_FALSE(recorder.calls.empty());
  EXPECT_EQ(recorder.calls.front(), "begin frame 2");
  EXPECT_EQ(recorder.calls.back(), "finish");
}

}  // namespace
