#include "headless/files/pages_ahead.h"

#include <algorithm>
#include <system_error>
#include <utility>

#include "headless/platform/memory.h"

namespace headless {

namespace {

// A piece at a time, so that a writer that stops early is not kept waiting.
constexpr std::size_t kPiece = std::size_t{2} << 20;

}  // namespace

PagesAhead::PagesAhead(std::vector<std::span<std::byte>> ranges) {
  std::size_t bytes = 0;
  for (const std::span<std::byte> range : ranges) bytes += range.size();
  if (bytes < kPagesAheadFrom) return;
  try {
    thread_ = std::jthread([ranges = std::move(ranges)](std::stop_token stop) {
      for (const std::span<std::byte> range : ranges)
        for (std::size_t at = 0; at < range.size() && !stop.stop_requested(); at += kPiece)
          if (!platform::FillInPages(range.data() + at, std::min(kPiece, range.size() - at)))
            return;  // the system has no such call
    });
  } catch (const std::system_error&) {
  }
}

}  // namespace headless
