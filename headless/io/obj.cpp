#include "headless/io/obj.h"

namespace headless {

void SpanList::push_back(const TextSpan& span) {
  const Int64 gap = span.begin - lastEnd_, length = span.end - span.begin;
  if (gap >= 0 && gap < kWhole && length >= 0 && length <= kWhole) {
    steps_.push_back({static_cast<UInt32>(gap), static_cast<UInt32>(length)});
  } else {
    steps_.push_back({kWhole, 0});
    whole_.push_back(span);
  }
  lastEnd_ = span.end;
}

void SpanList::clear() {
  steps_.clear();
  whole_.clear();
  lastEnd_ = 0;
}

void SpanList::swap(SpanList& other) noexcept {
  steps_.swap(other.steps_);
  whole_.swap(other.whole_);
  std::swap(lastEnd_, other.lastEnd_);
}

TextSpan SpanList::Reader::Next() {
  const Step step = list_.steps_[step_++];
  const TextSpan span = step.gap == kWhole
                            ? list_.whole_[whole_++]
                            : TextSpan{lastEnd_ + step.gap, lastEnd_ + step.gap + step.length};
  lastEnd_ = span.end;
  return span;
}

}  // namespace headless
