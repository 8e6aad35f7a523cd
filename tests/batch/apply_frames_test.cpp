// The batch engine through the real plug-in: every frame read, corrected and written as a
// correction of it alone gives it, pipelined or not, observed in order; a frame at fault leaves
// nothing written, a result that cannot be written keeps those before it; the rest readied before
// the bind still serves every frame and a cache's results written like it.
#include "headless/batch/apply_frames.h"

#include <gtest/gtest.h>

#include <stdexcept>

#include "headless/batch/cache_frames.h"
#include "headless/batch/obj_frames.h"
#include "headless/batch/obj_results.h"
#include "headless/batch/observers.h"
#include "headless/io/obj_read.h"
#include "headless/io/obj_write.h"
#include "tests/batch/grid_files.h"
#include "tests/support/loaded_plugin.h"

namespace {

namespace fs = std::filesystem;

class ApplyFramesTest : public LoadedPluginTest {
 protected:
  headless::CorrectionSettings Settings() const {
    headless::CorrectionSettings settings;
    settings.iterations = 3;
    return settings;
  }
  // Each frame corrected alone, by a correction of its own.
  std::vector<std::vector<Vector3>> Alone(const GridFiles& files) {
    headless::Correction correction("rest", files.Bent(0), files.grid.polygons, Settings());
    std::vector<std::vector<Vector3>> results;
    for (const std::vector<Vector3>& points : files.points) {
      correction.Correct(points, "frame");
      results.push_back(correction.Result());
    }
    return results;
  }
};

// What observers are told, in order.
struct Log final : headless::FrameObserver {
  size_t wantsEvery = 0;  // looks at the input of frames 0, N, 2N ...; 0 at none
  std::vector<std::string> events;
  std::vector<std::vector<Vector3>> inputs, results;
  bool WantsPoints() const override { return wantsEvery > 0; }
  bool WantsPointsOf(size_t index) const override {
    return wantsEvery > 0 && index % wantsEvery == 0;
  }
  void Begin() override { events.push_back("begin"); }
  void Written(const headless::WrittenFrame& frame) override {
    events.push_back(std::to_string(frame.index) + (frame.Last() ? " last" : "") + " " +
                     fs::path(frame.name).filename().string() + " -> " +
                     fs::path(frame.target).filename().string());
    inputs.push_back(frame.input);
    results.push_back(frame.result);
  }
  void End() override { events.push_back("end"); }
};

struct Steps final : headless::ProgressObserver {
  std::vector<std::string> steps;
  bool finished = false;
  void Begin(const std::string&, Int64) override {}
  void Step(const std::string& detail) override { steps.push_back(detail); }
  void Finish() override { finished = true; }
};

std::vector<fs::path> Outputs(const GridFiles& files, const std::string& folder) {
  fs::create_directories(files.folder.path / folder);
  std::vector<fs::path> outputs;
  for (const std::string& frame : files.frames)
    outputs.push_back(files.folder.path / folder / fs::path(frame).filename());
  return outputs;
}

TEST_F(ApplyFramesTest, EveryFrameIsCorrectedAsAloneAndObservedInOrder) {
  const GridFiles files(5);
  // A frame whose faces' text is not the rest's (its lines end in CR LF) is checked against the
  // rest's faces, which the rest keeps for it.
  std::string text = headless::PlainObjText(files.points[3], files.grid.polygons);
  for (size_t at = text.find('\n'); at != std::string::npos; at = text.find('\n', at + 2))
    text.insert(at, "\r");
  files.folder.Write(fs::path(files.frames[3]).filename().string(), text);
  const std::vector<std::vector<Vector3>> alone = Alone(files);
  for (const bool pipelined : {true, false}) {
    // The input looked at on every frame, on every other (the rest taken by the correction), or
    // on none.
    for (const size_t wantsEvery : {size_t{1}, size_t{2}, size_t{0}}) {
      SCOPED_TRACE(std::string(pipelined ? "pipelined" : "one by one") + ", the input of every " +
                   std::to_string(wantsEvery) + " frames looked at");
      headless::ObjFile rest = headless::ReadObjFile(files.rest);
      headless::ObjFrames frames(files.frames, files.numbers, rest);
      const std::vector<fs::path> outputs = Outputs(files, pipelined ? "p" : "o");
      headless::ObjResults results(outputs, nullptr);
      headless::ReadBeforeBind(rest, frames, results);
      headless::Correction correction("rest", std::move(rest.mesh.points),
                                      std::move(rest.mesh.polygons), Settings());
      Log log;
      log.wantsEvery = wantsEvery;
      Steps steps;
      headless::ProgressSteps progress(steps);
      headless::FrameObserver* observers[] = {&log, &progress};
      headless::ApplyFrames(frames, results, correction, observers, {.pipelined = pipelined});
      EXPECT_EQ(log.events,
                (std::vector<std::string>{
                    "begin", "0 walk.0001.obj -> walk.0001.obj", "1 walk.0002.obj -> walk.0002.obj",
                    "2 walk.0003.obj -> walk.0003.obj", "3 walk.0004.obj -> walk.0004.obj",
                    "4 last walk.0005.obj -> walk.0005.obj", "end"}));
      ASSERT_EQ(steps.steps.size(), 5u);
      EXPECT_EQ(steps.steps[1], files.frames[1] + " -> " + outputs[1].string());
      EXPECT_TRUE(steps.finished);
      for (size_t i = 0; i < 5; ++i) {
        EXPECT_TRUE(SameBits(log.results[i], alone[i])) << "frame " << i;
        if (wantsEvery > 0 && i % wantsEvery == 0) {
          EXPECT_TRUE(SameBits(log.inputs[i], files.points[i])) << "frame " << i;
        }
        EXPECT_TRUE(SameBits(headless::ReadObj(outputs[i].string()).points, alone[i]))
            << "frame " << i;
      }
    }
  }
}

TEST_F(ApplyFramesTest, AFrameAtFaultLeavesNothingWrittenAFailedWritingKeepsWhatCameBefore) {
  const GridFiles files(5);
  for (const bool faultyFrame : {true, false}) {
    SCOPED_TRACE(faultyFrame ? "frame 3 at fault" : "result 3 cannot be written");
    headless::ObjFile rest = headless::ReadObjFile(files.rest);
    const std::vector<fs::path> outputs = Outputs(files, faultyFrame ? "fault" : "write");
    std::vector<std::string> inputs = files.frames;
    if (faultyFrame) {
      inputs[3] = files.Path("short.obj");
      files.folder.Write("short.obj", "v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\n");
    } else {
      fs::create_directories(outputs[3] / "taken");
    }
    headless::ObjFrames frames(inputs, files.numbers, rest);
    headless::ObjResults results(outputs, nullptr);
    headless::ReadBeforeBind(rest, frames, results);
    headless::Correction correction("rest", rest.mesh.points, rest.mesh.polygons, Settings());
    Log log;
    headless::FrameObserver* observers[] = {&log};
    EXPECT_THROW(headless::ApplyFrames(frames, results, correction, observers), std::exception);
    EXPECT_EQ(log.events.size(), 4u) << "frames 0 .. 2 observed, no end";
    for (size_t i = 0; i < 3; ++i) EXPECT_EQ(fs::exists(outputs[i]), !faultyFrame) << i;
    EXPECT_FALSE(fs::is_regular_file(outputs[3]));
    EXPECT_FALSE(fs::exists(outputs[4]));
  }
}

// The rest lets go of its text before the bind unless the results are written like it: a cache's
// samples written as OBJ files still are.
TEST_F(ApplyFramesTest, ACachesSamplesAreWrittenLikeTheRest) {
  const GridFiles files(3);
  files.folder.Write("rest_named.obj",
                     "o named\n" + headless::PlainObjText(files.Bent(0), files.grid.polygons));
  const std::string pc2 = files.Path("walk.pc2");
  headless::WritePointCache(
      pc2, headless::MakePointCache(headless::PointCacheFormat::kPc2, files.points, 1.0, 30.0));
  headless::ObjFile rest = headless::ReadObjFile(files.Path("rest_named.obj"));
  headless::CacheFrames frames(pc2, std::make_unique<headless::PointCacheSamples>(pc2), rest.name,
                               rest.mesh.points.size(), 30.0);
  const std::vector<fs::path> outputs = Outputs(files, "samples");
  headless::ObjResults results(outputs, &rest);
  headless::ReadBeforeBind(rest, frames, results);
  headless::Correction correction("rest", rest.mesh.points, rest.mesh.polygons, Settings());
  headless::ApplyFrames(frames, results, correction, {});
  for (const fs::path& output : outputs) {
    const headless::ObjFile written = headless::ReadObjFile(output.string());
    EXPECT_EQ(written.objectName, "named") << output;
    EXPECT_EQ(written.mesh.points.size(), files.grid.points.size());
  }
}

}  // namespace
