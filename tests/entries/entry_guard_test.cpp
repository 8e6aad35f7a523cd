// The one guard of the host's table entries: whatever an entry's work throws, the plug-in gets
// the entry's failure value and the host diagnostics say why.
#include "headless/entries/entry_guard.h"

#include <gtest/gtest.h>

#include <new>
#include <stdexcept>
#include <string>
#include <type_traits>
#include <vector>

#include "headless/entries/entries_state.h"
#include "headless/scene/registry.h"

namespace {

enum Fault { kNone, kOutOfMemory, kInvalid, kForeign };

Int32 Work(Int32 fault) {
  if (fault == kOutOfMemory) throw std::bad_alloc();
  if (fault == kInvalid) throw std::invalid_argument("work: refused");
  if (fault == kForeign) throw 7;
  return 42;
}

const char* Text(Int32 fault) {
  Work(fault);
  return "done";
}

void Act(Int32 fault) {
  Work(fault);
}

TEST(EntryGuard, AnswersTheFailureValueAndRecordsWhy) {
  headless::ResetHostState();
  static_assert(std::is_nothrow_invocable_v<decltype(headless::Entry<Work>), Int32>);
  EXPECT_EQ(headless::Entry<Work>(kNone), 42);
  EXPECT_TRUE(headless::HostErrors().empty()) << "a clean call records nothing";

  EXPECT_EQ(headless::Entry<Work>(kOutOfMemory), 0);
  EXPECT_EQ((headless::Entry<Work, -1>(kInvalid)), -1) << "a failure value of the entry's own";
  EXPECT_EQ(headless::Entry<Text>(kForeign), nullptr);
  headless::Entry<Act>(kInvalid);
  const std::vector<std::string> errors = headless::HostErrors();
  ASSERT_EQ(errors.size(), 4u);
  EXPECT_NE(errors[0].find("out of memory"), std::string::npos) << errors[0];
  EXPECT_EQ(errors[1], "work: refused");
  EXPECT_NE(errors[2].find("unknown exception"), std::string::npos) << errors[2];
  EXPECT_EQ(errors[3], "work: refused");
  headless::ResetHostState();
}

}  // namespace
