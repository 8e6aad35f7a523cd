// Pages given their memory ahead of their writer: what they hold stays, and the writer meets no
// fault.
#include <gtest/gtest.h>

#include <cstdint>
#include <numeric>
#include <span>
#include <vector>

#include "headless/files/pages_ahead.h"
#include "headless/platform/memory.h"
#include "tests/support/sanitized.h"

namespace {

using headless::PagesAhead;
using headless::RoomOf;
namespace platform = headless::platform;

TEST(PagesAhead, PagesFilledInKeepWhatTheyHoldAndSpareTheirWriterItsFaults) {
  // Numbers in every page, a range that does not start or end on a page's edge, and the room
  // beyond them; the thread stops once the range's owner is done with it.
  std::vector<std::uint64_t> held(std::size_t{3} << 20);
  std::iota(held.begin(), held.end(), std::uint64_t{7});
  held.reserve(held.size() + (std::size_t{1} << 20));
  {
    const PagesAhead ahead({std::as_writable_bytes(std::span(held)).subspan(3), RoomOf(held)});
    platform::FillInPages(reinterpret_cast<std::byte*>(held.data()) + 5, held.size() * 8 - 9);
  }
  for (std::size_t i = 0; i < held.size(); ++i) ASSERT_EQ(held[i], i + 7) << i;

#ifdef TESSAMIRE_TESTS_SANITIZED
  GTEST_SKIP() << "the sanitizers' shadow memory has pages of its own to fill in";
#endif
  // More than the C library ever takes from its own heap: fresh pages from the system.
  constexpr std::size_t kBytes = std::size_t{64} << 20;
  const auto faultsWriting = [&](bool filledIn) {
    std::vector<char> block;
    block.reserve(kBytes);
    if (filledIn && !platform::FillInPages(block.data(), block.capacity())) return -1LL;
    const long long before = platform::ProcessPageFaults();
    block.resize(kBytes, 1);
    return platform::ProcessPageFaults() - before;
  };
  const long long pages = static_cast<long long>(kBytes / 4096);
  const long long plain = faultsWriting(false);
  if (plain < pages / 2) GTEST_SKIP() << "fresh memory comes in larger pages here: " << plain;
  const long long filledIn = faultsWriting(true);
  if (filledIn < 0) GTEST_SKIP() << "this system cannot give pages their memory ahead";
  EXPECT_LT(filledIn, pages / 16) << "against " << plain << " when written plainly";
}

}  // namespace
