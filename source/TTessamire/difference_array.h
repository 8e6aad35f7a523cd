// The tag's differences: one Vector3 per point of the carrying object, in point order, in one
// block from the framework allocator, sized exactly (capacity never exceeds what was asked).
#pragma once

#include "host/binding/memory.h"

class DifferenceArray {
 public:
  DifferenceArray() = default;
  DifferenceArray(const DifferenceArray&) = delete;
  DifferenceArray& operator=(const DifferenceArray&) = delete;
  ~DifferenceArray() { Release(); }

  Int64 GetCount() const { return count_; }
  Int64 GetCapacity() const { return capacity_; }
  Vector3* GetData() { return data_; }
  const Vector3* GetData() const { return data_; }

  // Frees the block; count and capacity 0.
  void Release();
  // Count becomes n; a smaller capacity grows to exactly n; new elements are zero vectors.
  // False, with the array unchanged, for a negative n or when memory cannot be had.
  Bool Resize(Int64 n);
  // Count 0, capacity kept.
  void Clear() { count_ = 0; }

 private:
  Vector3* data_ = nullptr;
  Int64 count_ = 0;
  Int64 capacity_ = 0;
};
