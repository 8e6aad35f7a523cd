#include "source/TTessamire/difference_array.h"

#include <cstring>

void DifferenceArray::Release() {
  DeleteMemory(data_);
  data_ = nullptr;
  count_ = 0;
  capacity_ = 0;
}

Bool DifferenceArray::Resize(Int64 n) {
  if (n < 0) return false;
  if (n > capacity_) {
    Vector3* grown = NewMem(Vector3, n);
    if (grown == nullptr) return false;
    if (count_ > 0) std::memcpy(grown, data_, static_cast<size_t>(count_) * sizeof(Vector3));
    DeleteMemory(data_);
    data_ = grown;
    capacity_ = n;
  }
  for (Int64 i = count_; i < n; ++i) data_[i] = Vector3{};
  count_ = n;
  return true;
}
