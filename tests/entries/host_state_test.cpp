// The host state's one reset: every switch a test or a plug-in can turn, and every record the
// host keeps for observers, back as the host starts; what still exists (nodes, blocks, the host's
// own deformer types) kept. Node and document deletion take what belongs to them along.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <thread>

#include "headless/entries/entries_state.h"
#include "headless/entries/falloff_entries.h"
#include "headless/entries/framework.h"
#include "headless/entries/host_table.h"
#include "headless/entries/thread_entries.h"
#include "headless/platform/files.h"
#include "headless/scene/native_deformers.h"
#include "headless/scene/registry.h"
#include "headless/scene/scene.h"
#include "headless/scene/selection.h"
#include "tests/support/temp_folder.h"

namespace {

TEST(HostState, ResetPutsEverySwitchAndRecordBack) {
  const HostTable& host = headless::HostTableInstance();
  constexpr Int32 kRefused = 424299;
  constexpr Int32 kDescribed = 424298;
  auto doc = headless::NewDocument();
  const Int32 hardware = std::max(1, static_cast<Int32>(std::thread::hardware_concurrency()));

  headless::FailNthAllocation(1);
  headless::platform::FailNthFlush(1);
  headless::EnableParallelFor(false);
  headless::SetWorkerCount(hardware + 1);
  headless::WithholdFalloffLibrary(true);
  headless::SetKeyboardQualifier(QSHIFT);
  headless::SetInputStateAvailable(false);
  headless::SetActiveDocument(doc.get());
  headless::RefuseRegistration(kRefused);
  ASSERT_TRUE(headless::RegisterDescription(kDescribed, {}));
  host.consolePrint("a line");
  host.eventAdd(0);
  headless::ReportHostError("a fault");
  headless::RecordThreadName("a thread");

  headless::ResetHostState();

  void* block = headless::Allocate(8, false, __FILE__, __LINE__);
  EXPECT_NE(block, nullptr) << "no allocation is armed to fail";
  headless::Free(block);
  // A file of the test's own folder: std::tmpfile makes its file in the drive's root on Windows,
  // which a run under wine cannot always create.
  const TempFolder folder;
  std::FILE* file = std::fopen((folder.path / "flushed").string().c_str(), "wb");
  ASSERT_NE(file, nullptr);
  std::string error;
  EXPECT_TRUE(headless::platform::FlushToDisk(file, error))
      << "no flush is armed to fail: " << error;
  std::fclose(file);
  EXPECT_TRUE(headless::ParallelForEnabled());
  EXPECT_EQ(headless::WorkerCount(), hardware);
  Falloff* falloff = host.falloffAlloc(0);
  EXPECT_NE(falloff, nullptr) << "the falloff library is back";
  host.falloffFree(falloff);
  EXPECT_EQ(headless::KeyboardQualifier(), 0);
  headless::Container input;
  EXPECT_TRUE(
      host.getInputState(BFM_INPUT_KEYBOARD, BFM_INPUT_CHANNEL, headless::ToContainer(&input)));
  EXPECT_EQ(headless::ActiveDocument(), nullptr);
  headless::DescriptionData description;
  EXPECT_FALSE(headless::FindDescription(kDescribed, description)) << "registrations are gone";
  EXPECT_TRUE(headless::RegisterDescription(kRefused, {})) << "refusals are lifted";
  EXPECT_TRUE(headless::ConsoleLines().empty());
  EXPECT_EQ(headless::RefreshRequests(), 0);
  EXPECT_TRUE(headless::HostErrors().empty());
  EXPECT_TRUE(headless::ThreadNames().empty());

  headless::ResetHostState();
}

TEST(HostState, ResetKeepsWhatStillExists) {
  headless::ResetHostState();
  constexpr Int32 kAdded = 424297;
  auto doc = headless::NewDocument();
  headless::Node* kept = doc->AddObject(headless::kNullObjectType, "kept");
  void* block = headless::Allocate(1000, false, __FILE__, __LINE__);
  const headless::NativeDeformer skinRoutine = headless::FindNativeDeformer(Oskin);
  ASSERT_NE(skinRoutine, nullptr);
  headless::RegisterNativeDeformer(kAdded,
                                   [](headless::Node*, headless::Node*, std::vector<Vector3>&) {});
  headless::RegisterNativeDeformer(Oskin,
                                   [](headless::Node*, headless::Node*, std::vector<Vector3>&) {});
  const auto before = headless::GetAllocationStats();
  ASSERT_GT(headless::AllocationAttempts(), 0);

  headless::ResetHostState();

  EXPECT_EQ(headless::FindLiveNode(kept->serial), kept) << "a node a document holds stays";
  EXPECT_GT(doc->AddObject(headless::kNullObjectType, "next")->serial, kept->serial)
      << "serials are not reused";
  EXPECT_EQ(headless::FindNativeDeformer(kAdded), nullptr) << "a type added since goes";
  EXPECT_EQ(headless::FindNativeDeformer(Oskin), skinRoutine) << "the host's own is back";
  const auto after = headless::GetAllocationStats();
  EXPECT_EQ(after.bytesInUse, before.bytesInUse) << "the block is still in use";
  EXPECT_EQ(after.blocksInUse, before.blocksInUse);
  EXPECT_EQ(after.peakBytes, after.bytesInUse);
  EXPECT_EQ(after.allocations, 0);
  EXPECT_EQ(headless::AllocationAttempts(), 0);
  headless::Free(block);
  headless::ResetHostState();
}

TEST(HostState, DeletionTakesAlongWhatBelongsToTheNode) {
  headless::ResetHostState();
  auto doc = headless::NewDocument();
  headless::Node* object = doc->AddObject(headless::kNullObjectType, "object");
  const UInt64 serial = object->serial;
  doc->Delete(object);
  EXPECT_EQ(headless::FindLiveNode(serial), nullptr);

  headless::SetActiveDocument(doc.get());
  doc.reset();
  EXPECT_EQ(headless::ActiveDocument(), nullptr) << "a destroyed document is no longer active";

  // Thread records count while the plug-in holds them.
  const HostTable& host = headless::HostTableInstance();
  const Int64 threads = headless::LiveThreadRecords();
  BaseThread* thread = host.threadAlloc(
      nullptr, [](void*) {}, nullptr, nullptr);
  ASSERT_NE(thread, nullptr);
  EXPECT_EQ(headless::LiveThreadRecords(), threads + 1);
  host.threadFree(thread);
  EXPECT_EQ(headless::LiveThreadRecords(), threads);
  headless::ResetHostState();
}

}  // namespace
