#include "headless/entries/framework.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

#include "headless/entries/entries_state.h"
#include "headless/entries/entry_guard.h"

namespace headless {

// ---------------------------------------------------------------------------------------------
// Allocator: every block carries a 16-byte header with its size, so that the bytes in use and
// the peak can be reported exactly.

namespace {

// Every block carries a 16-byte header: the size asked for, then the capacity of the block.
constexpr Int64 kHeader = 16;
// Blocks of at least this capacity are kept on free and handed out again, the way a host's
// allocator keeps its pages: a scene evaluated again takes no fresh pages. Capacities are whole
// multiples of kCacheGrain so that the same request finds the same block.
constexpr Int64 kCacheMin = 64 * 1024;
constexpr Int64 kCacheGrain = 64 * 1024;
// A kept block serves a request up to this much larger than the request's own capacity.
constexpr Int64 kCacheSlackDivisor = 8;
constexpr Int64 kCacheLimit = Int64{8} << 30;

// Sanitizers see reuse of freed memory only when it goes back to the system allocator. gcc says
// it builds with one by a macro, clang by __has_feature.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define TESSAMIRE_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define TESSAMIRE_SANITIZED 1
#endif
#endif
#ifdef TESSAMIRE_SANITIZED
constexpr bool kCacheEnabled = false;
#else
constexpr bool kCacheEnabled = true;
#endif

// The allocator's books live in the entries' state.
EntriesState::Allocator& Books() {
  return TheEntriesState().allocator;
}

bool NextAttemptFails() {
  EntriesState& state = TheEntriesState();
  const Int64 attempt = state.allocator.attempts.fetch_add(1) + 1;
  Int64 target = state.failingAllocation.load();
  return target != 0 && attempt == target &&
         state.failingAllocation.compare_exchange_strong(target, 0);
}

void CountIn(Int64 size) {
  EntriesState::Allocator& books = Books();
  books.allocations.fetch_add(1);
  books.blocksInUse.fetch_add(1);
  const Int64 now = books.bytesInUse.fetch_add(size) + size;
  Int64 peak = books.peakBytes.load();
  while (now > peak && !books.peakBytes.compare_exchange_weak(peak, now)) {
  }
}

void CountOut(Int64 size) {
  EntriesState::Allocator& books = Books();
  books.blocksInUse.fetch_sub(1);
  books.bytesInUse.fetch_sub(size);
}

void WriteHeader(char* raw, Int64 size, Int64 capacity) {
  std::memcpy(raw, &size, sizeof size);
  std::memcpy(raw + 8, &capacity, sizeof capacity);
}

char* RawBlock(void* block) {
  return static_cast<char*>(block) - kHeader;
}

Int64 BlockSize(void* block) {
  Int64 size;
  std::memcpy(&size, RawBlock(block), sizeof size);
  return size;
}

Int64 BlockCapacity(void* block) {
  Int64 capacity;
  std::memcpy(&capacity, RawBlock(block) + 8, sizeof capacity);
  return capacity;
}

// A raw block of at least `capacity` bytes from the cache, or null.
char* TakeCached(Int64 capacity, Int64& actual) {
  EntriesState::Allocator& books = Books();
  std::lock_guard<std::mutex> lock(books.cacheMutex);
  auto it = books.cache.lower_bound(capacity);
  if (it == books.cache.end() || it->first > capacity + capacity / kCacheSlackDivisor)
    return nullptr;
  char* raw = it->second;
  actual = it->first;
  books.cachedBytes -= it->first;
  books.cache.erase(it);
  return raw;
}

// Keeps a raw block for reuse; false when the cache is full or cannot take another entry (the
// caller frees it).
bool KeepCached(char* raw, Int64 capacity) noexcept {
  EntriesState::Allocator& books = Books();
  std::lock_guard<std::mutex> lock(books.cacheMutex);
  if (books.cachedBytes + capacity > kCacheLimit) return false;
  try {
    books.cache.emplace(capacity, raw);
  } catch (const std::bad_alloc&) {
    return false;
  }
  books.cachedBytes += capacity;
  return true;
}

}  // namespace

AllocationStats GetAllocationStats() {
  EntriesState::Allocator& books = Books();
  Int64 cached = 0;
  {
    std::lock_guard<std::mutex> lock(books.cacheMutex);
    cached = books.cachedBytes;
  }
  return {books.allocations.load(), books.bytesInUse.load(), books.peakBytes.load(),
          books.blocksInUse.load(), cached};
}

void ResetPeakBytes() {
  EntriesState::Allocator& books = Books();
  books.peakBytes.store(books.bytesInUse.load());
}

void FailNthAllocation(Int64 n) {
  EntriesState& state = TheEntriesState();
  state.failingAllocation.store(n <= 0 ? 0 : state.allocator.attempts.load() + n);
}

Int64 AllocationAttempts() {
  return Books().attempts.load();
}

void ReleaseCachedMemory() {
  EntriesState::Allocator& books = Books();
  std::lock_guard<std::mutex> lock(books.cacheMutex);
  for (auto& [capacity, raw] : books.cache) std::free(raw);
  books.cache.clear();
  books.cachedBytes = 0;
}

void* Allocate(Int64 size, Bool clear, const char*, Int32) {
  if (NextAttemptFails() || size < 0 || size > INT64_MAX - kHeader - kCacheGrain) return nullptr;
  Int64 capacity = size + kHeader;
  char* raw = nullptr;
  if (kCacheEnabled && capacity >= kCacheMin) {
    capacity = (capacity + kCacheGrain - 1) / kCacheGrain * kCacheGrain;
    raw = TakeCached(capacity, capacity);
    if (raw != nullptr && clear) std::memset(raw + kHeader, 0, static_cast<size_t>(size));
  }
  if (raw == nullptr) {
    raw = static_cast<char*>(clear ? std::calloc(1, static_cast<size_t>(capacity))
                                   : std::malloc(static_cast<size_t>(capacity)));
    if (raw == nullptr) return nullptr;
  }
  WriteHeader(raw, size, capacity);
  CountIn(size);
  return raw + kHeader;
}

void* Reallocate(void* block, Int64 size, const char* file, Int32 line) {
  if (block == nullptr) return Allocate(size, false, file, line);
  if (size < 0) return nullptr;
  const Int64 old = BlockSize(block);
  if (size + kHeader <= BlockCapacity(block)) {
    // Fits in place; only the attempt counts, so that failure injection still reaches it.
    if (NextAttemptFails()) return nullptr;
    WriteHeader(RawBlock(block), size, BlockCapacity(block));
    CountOut(old);
    CountIn(size);
    return block;
  }
  void* grown = Allocate(size, false, file, line);
  if (grown == nullptr) return nullptr;
  std::memcpy(grown, block, static_cast<size_t>(std::min(old, size)));
  Free(block);
  return grown;
}

void Free(void* block) {
  if (block == nullptr) return;
  CountOut(BlockSize(block));
  const Int64 capacity = BlockCapacity(block);
  char* raw = RawBlock(block);
  if (kCacheEnabled && capacity >= kCacheMin && KeepCached(raw, capacity)) return;
  std::free(raw);
}

// ---------------------------------------------------------------------------------------------
// Worker pool. One loop runs on it at a time, the calling thread working as worker 0; a loop
// whose caller finds the pool running another thread's loop runs on its caller alone rather than
// wait, so that evaluations on several threads go on side by side. A loop started from inside a
// loop body runs on the calling worker alone.

namespace {

struct alignas(64) SubRange {
  std::atomic<Int64> next{0};
  Int64 end = 0;
  Int64 chunk = 16;  // min(granularity, sub-range length)
};

struct Job {
  void* context = nullptr;
  LoopBody body = nullptr;
  Int32 rangeCount = 0;
  std::unique_ptr<SubRange[]> ranges;
};

thread_local bool t_insideLoop = false;

// The sums GetWorkerTimes reports, in nanoseconds; each worker adds to its own slot only.
struct TimeBooks {
  std::atomic<Int64> loopNs{0};
  std::atomic<Int64> loops{0};
  std::atomic<Int32> widest{0};
  std::atomic<Int64> busyNs[kTimedWorkers] = {};
};
TimeBooks& Times() {
  static TimeBooks books;
  return books;
}

Int64 NanosecondsSince(std::chrono::steady_clock::time_point from) {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now() -
                                                              from)
      .count();
}

void CountBusy(Int32 worker, std::chrono::steady_clock::time_point from) {
  if (worker < kTimedWorkers)
    Times().busyNs[worker].fetch_add(NanosecondsSince(from), std::memory_order_relaxed);
}

void CountLoop(Int32 workers, std::chrono::steady_clock::time_point from) {
  TimeBooks& books = Times();
  books.loopNs.fetch_add(NanosecondsSince(from), std::memory_order_relaxed);
  books.loops.fetch_add(1, std::memory_order_relaxed);
  Int32 widest = books.widest.load(std::memory_order_relaxed);
  while (workers > widest &&
         !books.widest.compare_exchange_weak(widest, workers, std::memory_order_relaxed)) {
  }
}

// Claims chunks from sub-range `first` and then from every other sub-range in turn, as worker
// `worker`.
void Work(Job& job, Int32 first, Int32 worker) {
  const auto start = std::chrono::steady_clock::now();
  t_insideLoop = true;
  for (Int32 k = 0; k < job.rangeCount; ++k) {
    SubRange& range = job.ranges[(first + k) % job.rangeCount];
    for (;;) {
      const Int64 begin = range.next.fetch_add(range.chunk, std::memory_order_relaxed);
      if (begin >= range.end) break;
      job.body(job.context, begin, std::min(begin + range.chunk, range.end));
    }
  }
  t_insideLoop = false;
  CountBusy(worker, start);
}

class Pool {
 public:
  explicit Pool(Int32 workers) { Start(workers); }
  ~Pool() { Stop(); }

  Int32 Workers() const { return static_cast<Int32>(threads_.size()) + 1; }

  // Runs `job` on `workers` workers (the caller included), resizing the pool first when needed.
  // False, with nothing run, while another thread's loop has the pool.
  bool TryRun(Job& job, Int32 workers) {
    std::unique_lock<std::mutex> submit(submit_, std::try_to_lock);
    if (!submit.owns_lock()) return false;
    if (workers != Workers()) {
      Stop();
      Start(workers);
    }
    // Before the job is published: a worker already awake may start on it at once, and its busy
    // time must lie within the loop's.
    const auto start = std::chrono::steady_clock::now();
    {
      std::lock_guard<std::mutex> lock(mutex_);
      job_ = &job;
      busy_ = static_cast<Int32>(threads_.size());
      ++generation_;
    }
    wake_.notify_all();
    Work(job, 0, 0);
    std::unique_lock<std::mutex> lock(mutex_);
    done_.wait(lock, [this] { return busy_ == 0; });
    job_ = nullptr;
    CountLoop(workers, start);
    return true;
  }

 private:
  void Start(Int32 workers) {
    stop_ = false;
    // A worker must know the generation before any loop is posted, or it can miss the first one.
    const UInt64 seen = generation_;
    try {
      for (Int32 i = 1; i < workers; ++i) threads_.emplace_back([this, i, seen] { Loop(i, seen); });
    } catch (...) {
      // Threads the system would not give: those started end at once, so that they hold no
      // resources the next loops (or the plug-in's own threads) need; the pool is then empty and
      // the next loop starts it afresh.
      Stop();
      throw;
    }
  }

  void Stop() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stop_ = true;
    }
    wake_.notify_all();
    for (std::thread& t : threads_) t.join();
    threads_.clear();
  }

  void Loop(Int32 index, UInt64 seen) {
    for (;;) {
      Job* job = nullptr;
      {
        std::unique_lock<std::mutex> lock(mutex_);
        wake_.wait(lock, [&] { return stop_ || generation_ != seen; });
        if (stop_) return;
        seen = generation_;
        job = job_;
      }
      Work(*job, index % job->rangeCount, index);
      std::lock_guard<std::mutex> lock(mutex_);
      if (--busy_ == 0) done_.notify_one();
    }
  }

  std::mutex submit_;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::condition_variable done_;
  std::vector<std::thread> threads_;
  Job* job_ = nullptr;
  Int32 busy_ = 0;
  UInt64 generation_ = 0;
  bool stop_ = false;
};

Int32 HardwareWorkers() {
  const unsigned n = std::thread::hardware_concurrency();
  return n == 0 ? 1 : static_cast<Int32>(n);
}

Pool& ThePool() {
  static Pool pool(HardwareWorkers());
  return pool;
}

// The workers loops started on this thread use (0: the process-wide count).
thread_local Int32 t_threadWorkers = 0;

// The test switch MeetAtLoops: callers still expected at the meeting and those arrived.
struct Meeting {
  std::mutex mutex;
  std::condition_variable everyoneArrived;
  Int32 expected = 0;  // 0: not armed
  std::set<std::thread::id> arrived;
  std::chrono::steady_clock::duration timeout{};
  bool met = false;
};

Meeting& TheMeeting() {
  static Meeting* const meeting = new Meeting;
  return *meeting;
}

// While a meeting is armed, holds each new caller's first loop until every expected caller has
// reached one, or the meeting's time is up (it is then called off).
void AttendMeeting() {
  Meeting& meeting = TheMeeting();
  std::unique_lock<std::mutex> lock(meeting.mutex);
  if (meeting.expected == 0 || !meeting.arrived.insert(std::this_thread::get_id()).second) return;
  if (static_cast<Int32>(meeting.arrived.size()) == meeting.expected) {
    meeting.met = true;
    meeting.expected = 0;
    meeting.everyoneArrived.notify_all();
    return;
  }
  if (!meeting.everyoneArrived.wait_for(lock, meeting.timeout,
                                        [&] { return meeting.expected == 0; }))
    meeting.expected = 0;
}

}  // namespace

void EnableParallelFor(bool enabled) {
  TheEntriesState().parallelForEnabled.store(enabled);
}

bool ParallelForEnabled() {
  return TheEntriesState().parallelForEnabled.load();
}

Int32 WorkerCount() {
  const EntriesState& state = TheEntriesState();
  if (!state.parallelForEnabled.load()) return 1;
  const Int32 workers = t_threadWorkers > 0 ? t_threadWorkers : state.workers.load();
  return workers <= 0 ? HardwareWorkers() : workers;
}

void SetWorkerCount(Int32 workers) {
  TheEntriesState().workers.store(workers);
}

ThreadWorkers::ThreadWorkers(Int32 workers) : previous_(t_threadWorkers) {
  t_threadWorkers = workers;
}

ThreadWorkers::~ThreadWorkers() {
  t_threadWorkers = previous_;
}

Int32 ThreadOwnWorkers() {
  return t_threadWorkers;
}

void MeetAtLoops(Int32 callers, Float timeoutSeconds) {
  Meeting& meeting = TheMeeting();
  std::lock_guard<std::mutex> lock(meeting.mutex);
  meeting.expected = callers > 1 ? callers : 0;
  meeting.arrived.clear();
  meeting.met = false;
  meeting.timeout = std::chrono::duration_cast<std::chrono::steady_clock::duration>(
      std::chrono::duration<Float>(timeoutSeconds > 0.0 ? timeoutSeconds : 0.0));
}

bool LoopsMet() {
  Meeting& meeting = TheMeeting();
  std::lock_guard<std::mutex> lock(meeting.mutex);
  return meeting.met;
}

void ParallelFor(Int64 count, Int64 granularity, void* context, LoopBody body) {
  if (count <= 0) return;
  if (granularity < 1) granularity = 1;
  if (!t_insideLoop) AttendMeeting();
  const Int32 workers = t_insideLoop ? 1 : WorkerCount();
  if (workers > 1) {
    // Should the sub-ranges or a worker thread not be had, the loop runs on the caller alone
    // (nothing has run yet then).
    try {
      Job job;
      job.context = context;
      job.body = body;
      job.rangeCount = static_cast<Int32>(std::min<Int64>(workers, count));
      job.ranges = std::make_unique<SubRange[]>(static_cast<size_t>(job.rangeCount));
      const Int64 share = count / job.rangeCount;
      for (Int32 r = 0; r < job.rangeCount; ++r) {
        job.ranges[r].next.store(r * share, std::memory_order_relaxed);
        job.ranges[r].end = r + 1 == job.rangeCount ? count : (r + 1) * share;
        job.ranges[r].chunk = std::min(granularity, job.ranges[r].end - r * share);
      }
      if (ThePool().TryRun(job, workers)) return;
    } catch (const std::exception&) {
    }
  }
  // One worker, a loop inside a loop body, the pool busy with another thread's loop or not to
  // be had: the same chunks in order, on the caller.
  const bool outer = !t_insideLoop;
  const auto start = std::chrono::steady_clock::now();
  t_insideLoop = true;
  for (Int64 begin = 0; begin < count; begin += granularity)
    body(context, begin, std::min(begin + granularity, count));
  t_insideLoop = !outer;
  // Only a loop of its own counts: one inside a loop body is already in its worker's busy time.
  if (outer) {
    CountBusy(0, start);
    CountLoop(1, start);
  }
}

void ResetWorkerTimes() {
  TimeBooks& books = Times();
  books.loopNs.store(0, std::memory_order_relaxed);
  books.loops.store(0, std::memory_order_relaxed);
  books.widest.store(0, std::memory_order_relaxed);
  for (std::atomic<Int64>& busy : books.busyNs) busy.store(0, std::memory_order_relaxed);
}

WorkerTimes GetWorkerTimes() {
  const TimeBooks& books = Times();
  WorkerTimes times;
  times.loopSeconds = static_cast<double>(books.loopNs.load(std::memory_order_relaxed)) * 1e-9;
  times.loops = books.loops.load(std::memory_order_relaxed);
  const Int32 widest = std::min(books.widest.load(std::memory_order_relaxed), kTimedWorkers);
  for (Int32 w = 0; w < widest; ++w)
    times.busySeconds.push_back(
        static_cast<double>(books.busyNs[w].load(std::memory_order_relaxed)) * 1e-9);
  return times;
}

namespace {

void OutOfMemory(const char*, Int32) {}

}  // namespace

const FrameworkTable& FrameworkTableInstance() {
  static const FrameworkTable table{
      Entry<Allocate>, Entry<Reallocate>, Entry<Free>, Entry<OutOfMemory>, Entry<ParallelFor>,
  };
  return table;
}

}  // namespace headless
