#include "source/otessamire/object_topologies.h"

#include <new>

KeptTopology* ObjectTopologies::Take(const BaseObject* object, KeptTopology* offered) {
  KeptTopology* kept = nullptr;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    ++calls_;
    for (Int64 i = 0; i < entries_.GetCount(); ++i) {
      if (entries_[i].object != object) continue;
      kept = entries_[i].kept;
      entries_.RemoveUnordered(i);
      break;
    }
  }
  if (offered == nullptr) return kept != nullptr ? kept : new (std::nothrow) KeptTopology;
  delete kept;
  return offered;
}

void ObjectTopologies::Return(const BaseObject* object, KeptTopology* kept) {
  if (kept == nullptr) return;
  KeptTopology* stale[8];
  Int64 staleCount = 0;
  Bool stored = false;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    // At most a few stale entries are dropped per call, freed once the lock is released.
    for (Int64 i = 0; i < entries_.GetCount() && staleCount < 8;) {
      if (calls_ - entries_[i].lastUse > entries_.GetCount() + 1) {
        stale[staleCount++] = entries_[i].kept;
        entries_.RemoveUnordered(i);
      } else {
        ++i;
      }
    }
    stored = entries_.Append({object, kept, calls_});
  }
  for (Int64 i = 0; i < staleCount; ++i) delete stale[i];
  if (!stored) delete kept;
}

void ObjectTopologies::Clear() {
  std::lock_guard<std::mutex> lock(mutex_);
  for (const Entry& entry : entries_.Span()) delete entry.kept;
  entries_.Release();
}

Int64 ObjectTopologies::Count() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return entries_.GetCount();
}
