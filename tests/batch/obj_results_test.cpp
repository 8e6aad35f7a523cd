// OBJ results wait under temporary names until every frame has been read: a run that fails keeps
// the results before the failure, unless a frame was at fault as input or a result could not be
// renamed; a frame whose file changed while it was corrected is not written.
#include "headless/batch/obj_results.h"
#include "headless/io/obj_read.h"
#include "headless/io/obj_write.h"

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <thread>

#include "tests/batch/grid_files.h"
#include "tests/support/thrown.h"

namespace {

namespace fs = std::filesystem;

// Frame i of `files` as read for writing its result.
headless::InputFrame ReadFrame(const GridFiles& files, size_t i) {
  headless::InputFrame frame;
  const headless::platform::FileVersion version = headless::FrameFileVersion(files.frames[i]);
  frame.obj = headless::ObjFrame{headless::ReadObjFile(files.frames[i]), version};
  frame.obj->SetTextAside();
  return frame;
}

std::vector<fs::path> Outputs(const GridFiles& files, size_t count) {
  std::vector<fs::path> outputs;
  for (size_t i = 0; i < count; ++i)
    outputs.push_back(files.folder.path / "out" / fs::path(files.frames[i]).filename());
  fs::create_directories(files.folder.path / "out");
  return outputs;
}

// Writes frames 0 .. written - 1 of a run of `count` into a fresh sink.
std::unique_ptr<headless::ObjResults> Written(const GridFiles& files,
                                              const std::vector<fs::path>& outputs,
                                              size_t written) {
  auto sink = std::make_unique<headless::ObjResults>(outputs, nullptr);
  for (size_t i = 0; i < written; ++i)
    sink->Write(i, ReadFrame(files, i), files.Bent(static_cast<int>(i) + 10));
  return sink;
}

std::vector<bool> Committed(const std::vector<fs::path>& outputs) {
  std::vector<bool> out;
  for (const fs::path& path : outputs) out.push_back(fs::exists(path));
  return out;
}

TEST(ObjResults, NothingReachesItsTargetBeforeItIsCommitted) {
  const GridFiles files(4);
  const std::vector<fs::path> outputs = Outputs(files, 4);
  const auto sink = Written(files, outputs, 4);
  EXPECT_EQ(Committed(outputs), (std::vector<bool>{false, false, false, false}));
  sink->OnceAllRead(2);
  EXPECT_EQ(Committed(outputs), (std::vector<bool>{true, true, false, false}));
  sink->Commit(4);
  EXPECT_EQ(Committed(outputs), (std::vector<bool>{true, true, true, true}));
  // Written like the frame's file: its points replaced.
  EXPECT_TRUE(SameBits(headless::ReadObj(outputs[2].string()).points, files.Bent(12)));
}

TEST(ObjResults, AFailedRunKeepsTheResultsBeforeItUnlessAFrameWasAtFault) {
  const GridFiles files(4);
  for (const bool faultyFrame : {false, true}) {
    SCOPED_TRACE(faultyFrame ? "a frame at fault" : "a writing or a stop failed");
    const std::vector<fs::path> outputs = Outputs(files, 4);
    for (const fs::path& path : outputs) fs::remove(path);
    // Frames 0 .. 2 written, the run failing after two were reported written.
    const auto sink = Written(files, outputs, 3);
    sink->Abandon(2, faultyFrame);
    const std::vector<bool> kept = {!faultyFrame, !faultyFrame, false, false};
    EXPECT_EQ(Committed(outputs), kept);
  }
}

TEST(ObjResults, AResultThatCannotBeRenamedStopsTheCommitsAfterIt) {
  const GridFiles files(3);
  const std::vector<fs::path> outputs = Outputs(files, 3);
  const auto sink = Written(files, outputs, 3);
  fs::create_directories(outputs[1] / "taken");  // a folder where result 1 goes, since written
  EXPECT_THROW(sink->OnceAllRead(3), std::runtime_error);
  sink->Abandon(3, false);
  EXPECT_TRUE(fs::exists(outputs[0]));
  EXPECT_TRUE(fs::is_directory(outputs[1]));
  EXPECT_FALSE(fs::exists(outputs[2])) << "nothing is committed after a failed commit";
}

// Every way a frame's file changes while it waits is noticed: written to, and put in its place by
// a copy keeping its size and modification time (`cp -p` and `mv`, `rsync -t`), or rewritten in
// place with its modification time set back; each leaves a face the correction never saw.
TEST(ObjResults, AFrameChangedWhileCorrectedIsNotWritten) {
  using Change = void (*)(const GridFiles&);
  const struct {
    const char* name;
    Change change;
  } changes[] = {
      {"written later",
       [](const GridFiles& files) {
         fs::last_write_time(files.frames[0],
                             fs::last_write_time(files.frames[0]) + std::chrono::seconds(5));
       }},
      {"replaced by a copy of the same size and time",
       [](const GridFiles& files) {
         const fs::path copy = files.frames[0] + ".copy";
         fs::copy_file(files.frames[0], copy);
         fs::last_write_time(copy, fs::last_write_time(files.frames[0]));
         fs::rename(copy, files.frames[0]);
       }},
      {"rewritten in place, its time set back",
       [](const GridFiles& files) {
         const fs::file_time_type was = fs::last_write_time(files.frames[0]);
         std::string text;
         {
           std::ifstream in(files.frames[0], std::ios::binary);
           text.assign(std::istreambuf_iterator<char>(in), {});
         }
         std::ofstream(files.frames[0], std::ios::binary | std::ios::trunc) << text;
         fs::last_write_time(files.frames[0], was);
       }},
  };
  for (const auto& change : changes) {
    SCOPED_TRACE(change.name);
    const GridFiles files(1);
    const std::vector<fs::path> outputs = Outputs(files, 1);
    headless::InputFrame frame = ReadFrame(files, 0);
    // The entry's change time counts in the system's clock ticks: let one pass.
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    change.change(files);
    headless::ObjResults sink(outputs, nullptr);
    EXPECT_EQ(ThrownMessage<std::runtime_error>([&] { sink.Write(0, frame, files.points[0]); }),
              files.frames[0] + ": changed while it was being corrected; nothing of it written");
    sink.Commit(1);
    EXPECT_FALSE(fs::exists(outputs[0]));
  }
}

// A cache's samples have no file of their own: their results are written like the rest's.
TEST(ObjResults, FramesWithoutAFileAreWrittenLikeTheRest) {
  const GridFiles files(1);
  files.folder.Write("rest_named.obj",
                     "o named\n" + headless::PlainObjText(files.Bent(0), files.grid.polygons));
  const headless::ObjFile rest = headless::ReadObjFile(files.Path("rest_named.obj"));
  const std::vector<fs::path> outputs = {files.folder.path / "sample.obj"};
  headless::ObjResults sink(outputs, &rest);
  EXPECT_TRUE(sink.WritesLikeRest());
  headless::InputFrame sample;
  sample.sample = files.points[0];
  sink.Write(0, sample, files.points[0]);
  sink.Commit(1);
  const headless::ObjFile written = headless::ReadObjFile(outputs[0].string());
  EXPECT_EQ(written.objectName, "named");
  EXPECT_TRUE(SameBits(written.mesh.points, files.points[0]));
}

}  // namespace
