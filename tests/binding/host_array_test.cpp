// HostArray, the plug-in's one array: exact sizing, geometric appending, the span view, every
// block from the host's allocator and back to it, and failures that lose nothing.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <span>
#include <utility>

#include "headless/entries/entries_state.h"
#include "headless/entries/framework.h"
#include "host/binding/host_array.h"
#include "tests/support/in_process_host.h"

namespace {

class HostArrayTest : public ::testing::Test {
 protected:
  void SetUp() override {
    headless::ResetHostState();
    BindInProcessHost();
    blocks_ = headless::GetAllocationStats().blocksInUse;
  }
  void TearDown() override {
    EXPECT_EQ(headless::GetAllocationStats().blocksInUse, blocks_) << "every block given back";
    headless::ResetHostState();
  }

  // Allocation attempts that `step` makes.
  template <typename Step>
  static Int64 AttemptsOf(Step step) {
    const Int64 before = headless::AllocationAttempts();
    step();
    return headless::AllocationAttempts() - before;
  }

  static bool Same(const Vector3& a, const Vector3& b) {
    return std::memcmp(&a, &b, sizeof(Vector3)) == 0;
  }

  Int64 blocks_ = 0;
};

TEST_F(HostArrayTest, ResizeGrowsToExactlyTheCountKeepingElementsAndZeroingNewOnes) {
  HostArray<Vector3> a;
  EXPECT_EQ(a.GetData(), nullptr);
  EXPECT_TRUE(a.Span().empty());
  ASSERT_TRUE(a.Resize(3));
  EXPECT_EQ(a.GetCount(), 3);
  EXPECT_EQ(a.GetCapacity(), 3) << "no spare room";
  a[1] = {1.0, 2.0, 3.0};
  ASSERT_TRUE(a.Resize(5));
  EXPECT_EQ(a.GetCapacity(), 5);
  EXPECT_TRUE(Same(a[1], {1.0, 2.0, 3.0})) << "kept through the growth";
  EXPECT_TRUE(Same(a[4], {})) << "new elements are zero";

  // Shrinking and growing back within the block take nothing from the allocator.
  EXPECT_EQ(AttemptsOf([&] { EXPECT_TRUE(a.Resize(2)); }), 0);
  EXPECT_EQ(a.GetCapacity(), 5);
  a[1] = {7.0, 7.0, 7.0};
  EXPECT_EQ(AttemptsOf([&] { EXPECT_TRUE(a.Resize(4)); }), 0);
  EXPECT_TRUE(Same(a[3], {})) << "re-grown elements are zero again";

  const std::span<const Vector3> view = std::as_const(a).Span();
  EXPECT_EQ(view.data(), a.GetData());
  EXPECT_EQ(view.size(), 4u);

  a.Clear();
  EXPECT_EQ(a.GetCount(), 0);
  EXPECT_EQ(a.GetCapacity(), 5) << "Clear keeps the block";
  a.Release();
  EXPECT_EQ(a.GetCapacity(), 0);
  EXPECT_EQ(a.GetData(), nullptr);
  EXPECT_EQ(headless::GetAllocationStats().blocksInUse, blocks_) << "Release gives the block back";
}

TEST_F(HostArrayTest, FailedGrowthLosesNothing) {
  HostArray<Vector3> a;
  ASSERT_TRUE(a.Resize(2));
  a[0] = {1.0, 1.0, 1.0};
  const Vector3* block = a.GetData();

  headless::FailNthAllocation(1);
  EXPECT_FALSE(a.Resize(10));
  headless::FailNthAllocation(0);
  EXPECT_EQ(a.GetCount(), 2);
  EXPECT_EQ(a.GetCapacity(), 2);
  EXPECT_EQ(a.GetData(), block);
  EXPECT_TRUE(Same(a[0], {1.0, 1.0, 1.0}));

  // A negative count, or one whose size in bytes does not fit in 64 bits, is refused without
  // asking the allocator.
  EXPECT_EQ(AttemptsOf([&] {
              EXPECT_FALSE(a.Resize(-1));
              EXPECT_FALSE(a.Resize(INT64_MAX / static_cast<Int64>(sizeof(Vector3)) + 1));
            }),
            0);
  EXPECT_EQ(a.GetCount(), 2);
}

TEST_F(HostArrayTest, AppendGrowsGeometricallyAndFailsWithoutLoss) {
  HostArray<Int64> list;
  Int64 growths = 0;
  for (Int64 i = 0; i < 20; ++i) growths += AttemptsOf([&] { ASSERT_TRUE(list.Append(i)); });
  EXPECT_EQ(growths, 4) << "4, 8, 16, 32 elements";
  EXPECT_EQ(list.GetCapacity(), 32);
  for (Int64 i = 0; i < 20; ++i) EXPECT_EQ(list[i], i);

  list.RemoveUnordered(5);
  EXPECT_EQ(list.GetCount(), 19);
  EXPECT_EQ(list[5], 19) << "the last element takes the removed one's place";

  ASSERT_TRUE(list.Resize(32));
  headless::FailNthAllocation(1);
  EXPECT_FALSE(list.Append(99));
  headless::FailNthAllocation(0);
  EXPECT_EQ(list.GetCount(), 32);
  EXPECT_EQ(list[18], 18);
}

TEST_F(HostArrayTest, AllocateReplacesTheContentsAndAnEmptyRequestTakesNothing) {
  HostArray<std::uint8_t> a;
  ASSERT_TRUE(a.Resize(8));
  ASSERT_TRUE(a.AllocateZeroed(100));
  EXPECT_EQ(a.GetCount(), 100);
  EXPECT_EQ(a.GetCapacity(), 100);
  for (Int64 i = 0; i < 100; ++i) ASSERT_EQ(a[i], 0) << i;
  EXPECT_EQ(headless::GetAllocationStats().blocksInUse, blocks_ + 1) << "the old block is freed";

  EXPECT_EQ(AttemptsOf([&] { EXPECT_TRUE(a.Allocate(0)); }), 0);
  EXPECT_EQ(a.GetCount(), 0);
  EXPECT_EQ(a.GetData(), nullptr);

  ASSERT_TRUE(a.Allocate(16));
  headless::FailNthAllocation(1);
  EXPECT_FALSE(a.Allocate(32));
  headless::FailNthAllocation(0);
  EXPECT_EQ(a.GetCount(), 0) << "a failed replacement leaves the array empty";
  EXPECT_EQ(a.GetData(), nullptr);
}

TEST_F(HostArrayTest, OwnershipMovesAndAdoptedBlocksAreFreed) {
  HostArray<Float32> a;
  auto* block = static_cast<Float32*>(headless::Allocate(3 * sizeof(Float32), true, "", 0));
  ASSERT_NE(block, nullptr);
  a.Adopt(block, 3);
  EXPECT_EQ(a.GetCount(), 3);
  EXPECT_EQ(a.GetData(), block);

  HostArray<Float32> b(std::move(a));
  EXPECT_EQ(a.GetData(), nullptr);
  EXPECT_EQ(a.GetCount(), 0);
  EXPECT_EQ(b.GetData(), block);
  {
    HostArray<Float32> c;
    ASSERT_TRUE(c.Resize(1));
    c = std::move(b);  // c's own block is freed, b's taken over
    EXPECT_EQ(c.GetData(), block);
    EXPECT_EQ(headless::GetAllocationStats().blocksInUse, blocks_ + 1);
  }
  EXPECT_EQ(headless::GetAllocationStats().blocksInUse, blocks_) << "freed with its owner";

  a.Adopt(nullptr, 5);
  EXPECT_EQ(a.GetCount(), 0) << "no block, no elements";
}

}  // namespace
