// The host state's one reset: every switch a test or a plug-in can turn, and every record the
// host keeps for observers, back as the host starts.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <thread>

#include "headless/host/falloff_entries.h"
#include "headless/host/framework.h"
#include "headless/host/host_table.h"
#include "headless/platform/platform.h"
#include "headless/scene/host_state.h"
#include "headless/scene/registry.h"
#include "headless/scene/scene.h"
#include "headless/scene/selection.h"

namespace {

TEST(HostState, ResetPutsEverySwitchAndRecordBack) {
  const HostTable& host = headless::HostTableInstance();
  constexpr Int32 kRefused = 424299;
  constexpr Int32 kDescribed = 424298;
  auto doc = headless::NewDocument();
  const Int32 hardware = std::max(1, static_cast<Int32>(std::thread::hardware_concurrency()));

  headless::FailNthAllocation(1);
  headless::platform::FailNthFlush(1);
  headless::g_enableParallelFor = false;
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

  headless::TheHostState().Reset();

  void* block = headless::Allocate(8, false, __FILE__, __LINE__);
  EXPECT_NE(block, nullptr) << "no allocation is armed to fail";
  headless::Free(block);
  std::FILE* file = std::tmpfile();
  ASSERT_NE(file, nullptr);
  std::string error;
  EXPECT_TRUE(headless::platform::FlushToDisk(file, error))
      << "no flush is armed to fail: " << error;
  std::fclose(file);
  EXPECT_TRUE(headless::g_enableParallelFor);
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

  headless::TheHostState().Reset();
}

}  // namespace
