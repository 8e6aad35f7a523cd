#include "source/otessamire/object_topologies.h"

#include <new>

KeptTopology* ObjectTopologies::Take(const BaseObject* object) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    ++calls_;
    for (Int64 i = 0; i < count_; ++i) {
      if (entries_[i].object != object) continue;
      KeptTopology* kept = entries_[i].kept;
      entries_[i] = entries_[--count_];
      return kept;
    }
  }
  return new (std::nothrow) KeptTopology;
}

void ObjectTopologies::Return(const BaseObject* object, KeptTopology* kept) {
  if (kept == nullptr) return;
  KeptTopology* stale[8];
  Int64 staleCount = 0;
  Bool stored = false;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    // At most a few stale entries are dropped per call, freed once the lock is released.
    for (Int64 i = 0; i < count_ && staleCount < 8;) {
      if (calls_ - entries_[i].lastUse > count_ + 1) {
        stale[staleCount++] = entries_[i].kept;
        entries_[i] = entries_[--count_];
      } else {
        ++i;
      }
    }
    if (count_ == capacity_) {
      const Int64 grown = capacity_ == 0 ? 4 : capacity_ * 2;
      void* block = Framework().memRealloc(entries_, grown * static_cast<Int64>(sizeof(Entry)),
                                           __FILE__, __LINE__);
      if (block != nullptr) {
        entries_ = static_cast<Entry*>(block);
        capacity_ = grown;
      }
    }
    if (count_ < capacity_) {
      entries_[count_++] = {object, kept, calls_};
      stored = true;
    }
  }
  for (Int64 i = 0; i < staleCount; ++i) delete stale[i];
  if (!stored) delete kept;
}

void ObjectTopologies::Clear() {
  std::lock_guard<std::mutex> lock(mutex_);
  for (Int64 i = 0; i < count_; ++i) delete entries_[i].kept;
  DeleteMemory(entries_);
  entries_ = nullptr;
  count_ = 0;
  capacity_ = 0;
}

Int64 ObjectTopologies::Count() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return count_;
}
