#include "host/binding/thread.h"

#include "host/abi/barrier.h"

namespace {
// What the host thread calls, each through the barrier: a routine that throws has simply ended,
// a break test that throws asks nothing, a name that throws is empty.
void RunMain(void* user) {
  Barrier([&] { static_cast<C4DThread*>(user)->Main(); });
}
Bool RunTestBreak(void* user) {
  return Barrier(false, [&] { return static_cast<C4DThread*>(user)->TestDBreak(); });
}
const char* RunName(void* user) {
  return Barrier<const char*>("", [&] { return static_cast<C4DThread*>(user)->GetThreadName(); });
}
}  // namespace

C4DThread::C4DThread() : thread_(Host().threadAlloc(this, RunMain, RunTestBreak, RunName)) {}

C4DThread::~C4DThread() {
  if (thread_ != nullptr) Host().threadFree(thread_);
}

Bool C4DThread::Start(Int32 mode, Int32 priority) {
  return thread_ != nullptr && Host().threadStart(thread_, mode, priority);
}

void C4DThread::Wait(Bool checkEvents) {
  if (thread_ != nullptr) Host().threadWait(thread_, checkEvents);
}
