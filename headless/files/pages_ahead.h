// Memory about to be written for the first time, given its pages by a thread of its own ahead of
// the writer. On this kind of machine a first write to a page stops for some 2 µs while the
// system finds one, as long as copying 20 KB: reading a 45 MB file into memory meets 11,000 of
// them. Where one thread fills fresh memory while the other processor waits, the other can take
// those stops on.
#pragma once

#include <cstddef>
#include <span>
#include <thread>
#include <vector>

namespace headless {

// Below this many bytes in all no thread is started: it would cost more than it saves.
inline constexpr std::size_t kPagesAheadFrom = std::size_t{4} << 20;

class PagesAhead {
 public:
  PagesAhead() = default;
  // Gives the pages of `ranges` their memory, in order, on a thread of its own; nothing when
  // there are fewer than kPagesAheadFrom bytes or no thread can be had. The ranges must stay the
  // caller's till this is destroyed. (Should one go before, nothing is harmed: the pages of
  // memory that was let go are given nothing, and memory taken again keeps what it holds.)
  explicit PagesAhead(std::vector<std::span<std::byte>> ranges);
  PagesAhead(const PagesAhead&) = delete;
  PagesAhead& operator=(const PagesAhead&) = delete;
  // Stops at the next piece and waits for the thread.
  ~PagesAhead() = default;

 private:
  std::jthread thread_;
};

// The room of a vector or string beyond its elements: where its next ones will be written.
template <typename Container>
std::span<std::byte> RoomOf(Container& c) {
  using T = typename Container::value_type;
  return std::as_writable_bytes(std::span<T>(c.data() + c.size(), c.capacity() - c.size()));
}

}  // namespace headless
