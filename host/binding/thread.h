// A host thread carrying a plug-in routine. The host thread record is created with the object
// and released with it.
#pragma once

#include "host/binding/memory.h"

class C4DThread {
 public:
  C4DThread();
  C4DThread(const C4DThread&) = delete;
  C4DThread& operator=(const C4DThread&) = delete;
  virtual ~C4DThread();
  // Extra break test the host may poll; true asks the thread to stop.
  virtual Bool TestDBreak() { return false; }
  virtual void Main() = 0;
  virtual const char* GetThreadName() = 0;

  // Starts Main on the host thread; false when there is no host record or it cannot start.
  Bool Start(Int32 mode = THREADMODE_ASYNC, Int32 priority = THREADPRIORITY_NORMAL);
  // Waits for Main to end.
  void Wait(Bool checkEvents = false);
  BaseThread* Get() const { return thread_; }

 private:
  BaseThread* thread_ = nullptr;
};
