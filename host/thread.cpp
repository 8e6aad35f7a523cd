#include "host/thread.h"

namespace {
void RunMain(void* user) {
  static_cast<C4DThread*>(user)->Main();
}
Bool RunTestBreak(void* user) {
  return static_cast<C4DThread*>(user)->TestDBreak();
}
const char* RunName(void* user) {
  return static_cast<C4DThread*>(user)->GetThreadName();
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
