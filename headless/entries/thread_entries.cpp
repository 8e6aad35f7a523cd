#include "headless/entries/thread_entries.h"

#include <stdexcept>
#include <thread>

#include "headless/entries/entries_state.h"
#include "headless/entries/entry_guard.h"
#include "headless/entries/framework.h"
#include "headless/scene/registry.h"

namespace headless {

namespace {

struct HostThread {
  void* user = nullptr;
  void (*main)(void*) = nullptr;
  Bool (*testBreak)(void*) = nullptr;
  const char* (*name)(void*) = nullptr;
  std::thread thread;
  bool started = false;
};

HostThread* AsThread(BaseThread* thread) {
  return reinterpret_cast<HostThread*>(thread);
}

BaseThread* ThreadAlloc(void* user, void (*main)(void*), Bool (*testBreak)(void*),
                        const char* (*name)(void*)) {
  if (main == nullptr) return nullptr;
  HostThread* t = NewHostRecord<HostThread>();
  if (t == nullptr) return nullptr;
  t->user = user;
  t->main = main;
  t->testBreak = testBreak;
  t->name = name;
  TheEntriesState().liveThreads.fetch_add(1);
  return reinterpret_cast<BaseThread*>(t);
}

void ThreadWait(BaseThread* thread, Bool) {
  HostThread* t = AsThread(thread);
  if (t != nullptr && t->thread.joinable()) t->thread.join();
}

void ThreadFree(BaseThread* thread) {
  if (thread == nullptr) return;
  ThreadWait(thread, false);
  DeleteHostRecord(AsThread(thread));
  TheEntriesState().liveThreads.fetch_sub(1);
}

Bool ThreadStart(BaseThread* thread, Int32 mode, Int32) {
  HostThread* t = AsThread(thread);
  if (t == nullptr || t->started) return false;  // one run per thread record
  const char* name = t->name != nullptr ? t->name(t->user) : nullptr;
  RecordThreadName(name != nullptr ? name : "");
  t->started = true;
  if (mode != THREADMODE_ASYNC) {
    t->main(t->user);
    return true;
  }
  try {
    // A thread a plug-in starts within an evaluation loops with its caller's workers.
    t->thread = std::thread(
        [t](Int32 workers) {
          const ThreadWorkers own(workers);
          t->main(t->user);
        },
        ThreadOwnWorkers());
  } catch (const std::exception&) {
    t->started = false;
    return false;
  }
  return true;
}

}  // namespace

Int64 LiveThreadRecords() {
  return TheEntriesState().liveThreads.load();
}

void InstallThreadEntries(HostTable& t) {
  t.threadAlloc = Entry<ThreadAlloc>;
  t.threadFree = Entry<ThreadFree>;
  t.threadStart = Entry<ThreadStart>;
  t.threadWait = Entry<ThreadWait>;
}

}  // namespace headless
