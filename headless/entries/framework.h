// The host framework that the headless host hands to plug-ins (p3 of the first system start):
// a counting allocator with failure injection, and ParallelFor over a persistent worker pool.
#pragma once

#include <cstdint>
#include <new>
#include <utility>
#include <vector>

#include "host/abi/table.h"

namespace headless {

// The framework table bound to this process's allocator and worker pool.
const FrameworkTable& FrameworkTableInstance();

// --- allocator ---
struct AllocationStats {
  Int64 allocations = 0;  // successful allocations so far
  Int64 bytesInUse = 0;
  Int64 peakBytes = 0;
  Int64 blocksInUse = 0;
  Int64 cachedBytes = 0;  // freed blocks kept for reuse
};
AllocationStats GetAllocationStats();
void ResetPeakBytes();
// Makes the n-th allocation from now on (1 = the next) fail, and only that one; 0 disarms, as
// does ResetHostState (entries_state.h).
void FailNthAllocation(Int64 n);
// Number of allocations attempted through the framework since the last ResetHostState.
Int64 AllocationAttempts();

// Returns the blocks kept for reuse to the system.
void ReleaseCachedMemory();

void* Allocate(Int64 size, Bool clear, const char* file, Int32 line);
void* Reallocate(void* block, Int64 size, const char* file, Int32 line);
void Free(void* block);

// A record the host makes for a plug-in (a container, a bitmap, a thread, ...): taken from the
// allocator above, so that failure injection reaches it; null when the allocation fails.
template <typename T, typename... Args>
T* NewHostRecord(Args&&... args) {
  void* memory = Allocate(sizeof(T), false, __FILE__, __LINE__);
  return memory == nullptr ? nullptr : new (memory) T(std::forward<Args>(args)...);
}

// Destroys a record from NewHostRecord; null is ignored.
template <typename T>
void DeleteHostRecord(T* record) {
  if (record == nullptr) return;
  record->~T();
  Free(record);
}

// --- parallel loops ---
// The switch "enable parallel execution of all ParallelFor loops"; off forces one worker. On
// again after ResetHostState (entries_state.h).
void EnableParallelFor(bool enabled);
bool ParallelForEnabled();
// Number of workers a loop uses (the pool's threads plus the caller).
Int32 WorkerCount();
// Sets the number of workers the next loops use; 0 (and ResetHostState) picks the
// number of hardware threads. The pool resizes before its next loop.
void SetWorkerCount(Int32 workers);
// While it lives, loops started on the constructing thread use `workers` workers (0: the number
// SetWorkerCount set), whatever other threads use: each evaluation keeps its own count. Restores
// the thread's previous count when destroyed.
class ThreadWorkers {
 public:
  explicit ThreadWorkers(Int32 workers);
  ~ThreadWorkers();
  ThreadWorkers(const ThreadWorkers&) = delete;
  ThreadWorkers& operator=(const ThreadWorkers&) = delete;

 private:
  Int32 previous_;
};
// The count a ThreadWorkers on this thread set (0: none), for threads started on its behalf.
Int32 ThreadOwnWorkers();
// A switch for tests of evaluations on several threads: the first loop that each of the next
// `callers` threads starts (not one inside a loop body) waits until all `callers` threads have
// started one, so they are inside their evaluations at once; then LoopsMet() answers true. When
// `timeoutSeconds` pass first, the waiting loops go on and LoopsMet() stays false. A `callers` of
// 0 or 1 disarms it.
void MeetAtLoops(Int32 callers, Float timeoutSeconds);
bool LoopsMet();
// A loop's chunk callback: runs the indices [begin, end). Never throws: the loop cannot stop its
// other workers halfway, so a body keeps its faults to itself (in its context).
using LoopBody = void (*)(void* context, Int64 begin, Int64 end) noexcept;
// The framework's ParallelFor: even split into one sub-range per worker (the last takes the
// remainder; with fewer indices than workers one index each), chunks of at most `granularity`
// consecutive indices claimed through atomic counters, stealing from other sub-ranges. With one
// worker, inside another loop's body, or when the pool cannot be had (no memory, no thread), the
// caller runs the chunks in order. One loop runs on the pool at a time: a loop whose caller finds
// another thread's loop on it runs its chunks in order on its caller too, rather than wait.
void ParallelFor(Int64 count, Int64 granularity, void* context, LoopBody body);

// Where the workers' time went, summed over the loops since ResetWorkerTimes: each loop's wall
// time (from its start to its last chunk's end), and each worker's time inside its chunks (busy).
// A worker's loop time less its busy time is time it waited: to be woken, or for the others to
// finish. Workers past kTimedWorkers are not counted.
inline constexpr Int32 kTimedWorkers = 64;
struct WorkerTimes {
  double loopSeconds = 0.0;
  Int64 loops = 0;
  std::vector<double> busySeconds;  // one per worker of the widest loop since the reset
};
void ResetWorkerTimes();
WorkerTimes GetWorkerTimes();

}  // namespace headless
