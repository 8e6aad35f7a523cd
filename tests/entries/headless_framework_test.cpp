// The framework services the headless host hands to plug-ins: ParallelFor and the allocator with
// failure injection.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <memory>
#include <mutex>
#include <set>
#include <thread>
#include <utility>
#include <vector>

#include "headless/entries/entries_state.h"
#include "headless/entries/framework.h"
#include "headless/entries/host_table.h"
#include "headless/scene/scene.h"

namespace {

using Chunk = std::pair<Int64, Int64>;

// Everything one loop did: how often each index ran, the chunks, and the threads.
struct LoopRecord {
  explicit LoopRecord(Int64 count) : hits(static_cast<size_t>(count)) {}
  std::vector<std::atomic<Int32>> hits;
  std::mutex mutex;
  std::vector<Chunk> chunks;
  std::set<std::thread::id> threads;
};

void RecordChunk(void* context, Int64 begin, Int64 end) noexcept {
  auto& record = *static_cast<LoopRecord*>(context);
  for (Int64 i = begin; i < end; ++i) record.hits[static_cast<size_t>(i)].fetch_add(1);
  std::lock_guard<std::mutex> lock(record.mutex);
  record.chunks.emplace_back(begin, end);
  record.threads.insert(std::this_thread::get_id());
}

std::unique_ptr<LoopRecord> RunLoop(Int64 count) {
  auto record = std::make_unique<LoopRecord>(count);
  headless::FrameworkTableInstance().parallelFor(count, 16, record.get(), RecordChunk);
  std::sort(record->chunks.begin(), record->chunks.end());
  return record;
}

// The chunks of the even split: one sub-range per worker (the last takes the remainder, one
// index each when there are fewer indices than workers), cut into chunks of at most 16.
std::vector<Chunk> ExpectedChunks(Int64 count, Int64 workers) {
  std::vector<Chunk> chunks;
  const Int64 ranges = std::min(workers, count);
  const Int64 share = count / ranges;
  for (Int64 r = 0; r < ranges; ++r) {
    const Int64 end = r + 1 == ranges ? count : (r + 1) * share;
    for (Int64 b = r * share; b < end; b += 16) chunks.emplace_back(b, std::min(b + 16, end));
  }
  return chunks;
}

class ParallelForTest : public ::testing::TestWithParam<Int32> {
 protected:
  void SetUp() override {
    headless::ResetHostState();
    headless::SetWorkerCount(GetParam());
  }
  void TearDown() override { headless::ResetHostState(); }
};

TEST_P(ParallelForTest, EveryIndexRunsOnceInChunksOfAtMostSixteen) {
  for (const Int64 count : {0, 1, 15, 16, 17, 100, 1000, 100003}) {
    const auto record = RunLoop(count);
    for (Int64 i = 0; i < count; ++i)
      ASSERT_EQ(record->hits[static_cast<size_t>(i)].load(), 1) << "count " << count << " i " << i;
    Int64 covered = 0;
    for (const auto& [begin, end] : record->chunks) {
      EXPECT_EQ(begin, covered) << "chunks tile the range without gaps or overlaps";
      EXPECT_GT(end, begin);
      EXPECT_LE(end - begin, 16);
      covered = end;
    }
    EXPECT_EQ(covered, count);
  }
}

// The chunk boundaries follow from the even split alone, whichever worker claims them: each
// sub-range is cut into chunks of min(16, its length), so a short last sub-range is one chunk.
TEST_P(ParallelForTest, ChunksFollowTheEvenSplit) {
  const Int64 workers = headless::WorkerCount();
  for (const Int64 count :
       {Int64{3}, Int64{17}, 16 * workers, 16 * workers + 5, Int64{1000}, Int64{4099}}) {
    EXPECT_EQ(RunLoop(count)->chunks, ExpectedChunks(count, workers)) << "count " << count;
  }
}

TEST_P(ParallelForTest, SwitchOffRunsOnTheCallingThreadAlone) {
  headless::EnableParallelFor(false);
  EXPECT_EQ(headless::WorkerCount(), 1);
  const auto record = RunLoop(5000);
  EXPECT_EQ(record->threads, std::set<std::thread::id>{std::this_thread::get_id()});
  EXPECT_EQ(record->chunks, ExpectedChunks(5000, 1));
}

// Loops asked for from two threads at once (two corrections evaluating side by side) run side by
// side, one on the pool and the other on its caller, or one after the other: each index of each
// loop once.
TEST_P(ParallelForTest, LoopsFromTwoThreadsAtOnceEachRunWhole) {
  std::unique_ptr<LoopRecord> records[2];
  std::thread other([&] { records[1] = RunLoop(20011); });
  records[0] = RunLoop(30011);
  other.join();
  for (const auto& record : records)
    for (const auto& hits : record->hits) ASSERT_EQ(hits.load(), 1);
}

// Every chunk keeps its worker 200 us by the steady clock (a sleep that short may return at once,
// as under wine) and runs a loop of its own inside (which runs on its worker alone).
void BusyChunk(void*, Int64, Int64) noexcept {
  const auto start = std::chrono::steady_clock::now();
  while (std::chrono::steady_clock::now() - start < std::chrono::microseconds(200)) {
  }
  headless::ParallelFor(4, 1, nullptr, [](void*, Int64, Int64) noexcept {});
}

// The workers' time books: one loop counted (not the loops inside its chunks), one busy time per
// worker, none longer than the loop, together at least the chunks' sleeps; a reset empties them.
TEST_P(ParallelForTest, WorkerTimesAccountForEachWorkersChunks) {
  const Int32 workers = headless::WorkerCount();
  headless::ResetWorkerTimes();
  constexpr Int64 kChunks = 40;
  headless::ParallelFor(kChunks, 1, nullptr, BusyChunk);
  const headless::WorkerTimes times = headless::GetWorkerTimes();
  EXPECT_EQ(times.loops, 1);
  ASSERT_EQ(static_cast<Int32>(times.busySeconds.size()), workers);
  double busy = 0.0;
  for (double seconds : times.busySeconds) {
    EXPECT_LE(seconds, times.loopSeconds);
    busy += seconds;
  }
  EXPECT_GE(busy, kChunks * 200e-6);
  headless::ResetWorkerTimes();
  const headless::WorkerTimes none = headless::GetWorkerTimes();
  EXPECT_EQ(none.loops, 0);
  EXPECT_EQ(none.loopSeconds, 0.0);
  EXPECT_TRUE(none.busySeconds.empty());
}

INSTANTIATE_TEST_SUITE_P(Workers, ParallelForTest, ::testing::Values(1, 2, 3, 8));

class LoopsOnSeveralThreads : public ::testing::Test {
 protected:
  void SetUp() override { headless::ResetHostState(); }
  void TearDown() override {
    headless::MeetAtLoops(0, 0.0);
    headless::ResetHostState();
  }
};

// Two callers whose loops are both under way at once (the meeting holds the first until the
// second has started): each loop still runs every index once, in the split of its own caller's
// worker count when it got the pool, in order on its caller when the other loop had it.
TEST_F(LoopsOnSeveralThreads, TwoCallersLoopAtOnceEachWithItsOwnWorkers) {
  headless::SetWorkerCount(1);
  headless::MeetAtLoops(2, 60.0);
  constexpr Int64 kCount = 100003;
  std::unique_ptr<LoopRecord> records[2];
  std::thread callers[2];
  for (Int32 c = 0; c < 2; ++c)
    callers[c] = std::thread([&records, c] {
      const headless::ThreadWorkers workers(2 + c);
      EXPECT_EQ(headless::WorkerCount(), 2 + c);
      records[c] = RunLoop(kCount);
    });
  for (std::thread& caller : callers) caller.join();
  EXPECT_TRUE(headless::LoopsMet());
  for (Int32 c = 0; c < 2; ++c) {
    for (Int64 i = 0; i < kCount; ++i)
      ASSERT_EQ(records[c]->hits[static_cast<size_t>(i)].load(), 1) << "caller " << c;
    const auto& chunks = records[c]->chunks;
    EXPECT_TRUE(chunks == ExpectedChunks(kCount, 2 + c) || chunks == ExpectedChunks(kCount, 1))
        << "caller " << c;
  }
  EXPECT_EQ(headless::WorkerCount(), 1) << "a thread's own count stays with that thread";
}

TEST_F(LoopsOnSeveralThreads, ThreadWorkersRestoreTheCountBefore) {
  headless::SetWorkerCount(3);
  {
    const headless::ThreadWorkers outer(2);
    {
      const headless::ThreadWorkers inner(5);
      EXPECT_EQ(headless::WorkerCount(), 5);
    }
    EXPECT_EQ(headless::WorkerCount(), 2);
    headless::EnableParallelFor(false);
    EXPECT_EQ(headless::WorkerCount(), 1) << "the switch still forces one worker";
    headless::EnableParallelFor(true);
  }
  EXPECT_EQ(headless::WorkerCount(), 3);
}

// A meeting nobody else comes to is called off when its time is up: the loop runs, and the
// callers are not reported as having met.
TEST_F(LoopsOnSeveralThreads, AMeetingNobodyElseReachesIsCalledOff) {
  headless::MeetAtLoops(2, 0.01);
  EXPECT_EQ(RunLoop(1000)->chunks, ExpectedChunks(1000, headless::WorkerCount()));
  EXPECT_FALSE(headless::LoopsMet());
}

TEST(Allocator, FailsExactlyTheNthAllocationOnce) {
  const auto before = headless::GetAllocationStats();
  headless::FailNthAllocation(3);
  void* a = headless::Allocate(10, false, __FILE__, __LINE__);
  void* b = headless::Allocate(20, true, __FILE__, __LINE__);
  void* c = headless::Allocate(30, false, __FILE__, __LINE__);
  void* d = headless::Allocate(40, false, __FILE__, __LINE__);
  EXPECT_NE(a, nullptr);
  EXPECT_NE(b, nullptr);
  EXPECT_EQ(c, nullptr);
  EXPECT_NE(d, nullptr);
  EXPECT_EQ(headless::GetAllocationStats().bytesInUse, before.bytesInUse + 70);
  EXPECT_EQ(headless::GetAllocationStats().blocksInUse, before.blocksInUse + 3);
  const char zeros[20] = {};
  EXPECT_EQ(std::memcmp(b, zeros, sizeof zeros), 0) << "cleared on request";
  headless::Free(a);
  headless::Free(b);
  headless::Free(d);
  headless::Free(nullptr);
  EXPECT_EQ(headless::GetAllocationStats().bytesInUse, before.bytesInUse);
  EXPECT_EQ(headless::GetAllocationStats().blocksInUse, before.blocksInUse);

  headless::FailNthAllocation(1);
  headless::FailNthAllocation(0);
  void* e = headless::Allocate(8, false, __FILE__, __LINE__);
  EXPECT_NE(e, nullptr) << "0 disarms";
  headless::Free(e);
}

TEST(Allocator, ReallocateKeepsContentsAndCountsBytes) {
  const auto before = headless::GetAllocationStats();
  auto* block = static_cast<char*>(headless::Allocate(4, false, __FILE__, __LINE__));
  std::memcpy(block, "abc", 4);
  headless::FailNthAllocation(1);
  EXPECT_EQ(headless::Reallocate(block, 400, __FILE__, __LINE__), nullptr);
  EXPECT_STREQ(block, "abc") << "a failed grow keeps the block";
  block = static_cast<char*>(headless::Reallocate(block, 400, __FILE__, __LINE__));
  ASSERT_NE(block, nullptr);
  EXPECT_STREQ(block, "abc");
  EXPECT_EQ(headless::GetAllocationStats().bytesInUse, before.bytesInUse + 400);
  headless::Free(block);
  EXPECT_EQ(headless::GetAllocationStats().bytesInUse, before.bytesInUse);
}

// The allocator's books stay exact while two threads allocate and free at once.
TEST(Allocator, BooksStayExactUnderTwoThreads) {
  const auto before = headless::GetAllocationStats();
  auto churn = [] {
    for (int i = 0; i < 2000; ++i) {
      void* small = headless::Allocate(24 + i % 7, false, __FILE__, __LINE__);
      void* large = headless::Allocate(Int64{1} << 17, true, __FILE__, __LINE__);
      headless::Free(small);
      headless::Free(large);
    }
  };
  std::thread other(churn);
  churn();
  other.join();
  const auto after = headless::GetAllocationStats();
  EXPECT_EQ(after.bytesInUse, before.bytesInUse);
  EXPECT_EQ(after.blocksInUse, before.blocksInUse);
  EXPECT_EQ(after.allocations, before.allocations + 8000);
}

// Allocations a plug-in triggers in the host (nodes, containers, bitmaps, threads) fail under
// injection with a null answer and leave nothing behind.
TEST(Allocator, HostRecordsAPluginTriggersCanFail) {
  const HostTable& host = headless::HostTableInstance();
  const auto before = headless::GetAllocationStats();
  headless::FailNthAllocation(1);
  EXPECT_EQ(host.nodeAlloc(Opolygon), nullptr);
  headless::FailNthAllocation(1);
  EXPECT_EQ(host.containerAlloc(), nullptr);
  headless::FailNthAllocation(1);
  EXPECT_EQ(host.bitmapAlloc(), nullptr);
  headless::FailNthAllocation(1);
  EXPECT_EQ(host.threadAlloc(
                nullptr, [](void*) {}, nullptr, nullptr),
            nullptr);
  EXPECT_EQ(headless::GetAllocationStats().blocksInUse, before.blocksInUse);
}

}  // namespace
