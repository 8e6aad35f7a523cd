// The plug-in's one array: a block from the host framework's allocator with its element count,
// viewed as a span, sized and grown through the allocator, and freed on every path.
#pragma once

#include <cstring>
#include <span>
#include <type_traits>
#include <utility>

#include "host/binding/memory.h"

// Elements are plain records: moved with one block copy, never constructed or destroyed one by
// one. Every allocation is labelled with the caller's source location. Sizing is exact (Resize,
// Allocate: the block holds exactly what was asked) except for Append, which grows a list of
// unknown length geometrically. Whatever fails answers false and loses nothing the array held,
// except that Allocate, which replaces the contents, leaves the array empty.
template <typename T>
class HostArray {
  static_assert(std::is_trivially_copyable_v<T> && std::is_trivially_destructible_v<T>,
                "a HostArray holds plain records");

 public:
  HostArray() = default;
  HostArray(const HostArray&) = delete;
  HostArray& operator=(const HostArray&) = delete;
  HostArray(HostArray&& other) noexcept
      : data_(std::exchange(other.data_, nullptr)),
        count_(std::exchange(other.count_, 0)),
        capacity_(std::exchange(other.capacity_, 0)) {}
  HostArray& operator=(HostArray&& other) noexcept {
    if (this != &other) {
      Release();
      data_ = std::exchange(other.data_, nullptr);
      count_ = std::exchange(other.count_, 0);
      capacity_ = std::exchange(other.capacity_, 0);
    }
    return *this;
  }
  ~HostArray() { Release(); }

  Int64 GetCount() const { return count_; }
  Int64 GetCapacity() const { return capacity_; }
  Bool IsEmpty() const { return count_ == 0; }
  T* GetData() { return data_; }
  const T* GetData() const { return data_; }
  T& operator[](Int64 i) { return data_[i]; }
  const T& operator[](Int64 i) const { return data_[i]; }
  std::span<T> Span() { return {data_, static_cast<size_t>(count_)}; }
  std::span<const T> Span() const { return {data_, static_cast<size_t>(count_)}; }

  // Count n. A smaller capacity grows to exactly n, the elements held copied over; new elements
  // are zero. False, with the array unchanged, for a negative n or when memory cannot be had.
  Bool Resize(Int64 n, const char* file = __builtin_FILE(), Int32 line = __builtin_LINE()) {
    if (n < 0) return false;
    if (n > capacity_ && !Grow(n, file, line)) return false;
    for (Int64 i = count_; i < n; ++i) data_[i] = T{};
    count_ = n;
    return true;
  }

  // Replaces the contents by n uncleared elements (zero with AllocateZeroed) in a block of
  // exactly n, for working buffers: what was held is freed first, and an empty request takes
  // nothing from the allocator, so an empty mesh never depends on how the host answers a request
  // for no bytes. False, with the array empty, for a negative n or when memory cannot be had.
  Bool Allocate(Int64 n, const char* file = __builtin_FILE(), Int32 line = __builtin_LINE()) {
    return Replace(n, false, file, line);
  }
  Bool AllocateZeroed(Int64 n, const char* file = __builtin_FILE(), Int32 line = __builtin_LINE()) {
    return Replace(n, true, file, line);
  }

  // Appends one element; a full block grows to 4 elements, then to twice its capacity. False,
  // with the array unchanged, when memory cannot be had.
  Bool Append(const T& value, const char* file = __builtin_FILE(), Int32 line = __builtin_LINE()) {
    if (count_ == capacity_ && !Grow(capacity_ == 0 ? 4 : 2 * capacity_, file, line)) return false;
    data_[count_++] = value;
    return true;
  }

  // Takes over `block`, which the host allocated with `count` elements (null: none), after
  // freeing what was held.
  void Adopt(T* block, Int64 count) {
    Release();
    if (block == nullptr) return;
    data_ = block;
    count_ = count;
    capacity_ = count;
  }

  // Removes element i, moving the last element into its place (the order is not kept).
  void RemoveUnordered(Int64 i) { data_[i] = data_[--count_]; }
  // Count 0, the block kept.
  void Clear() { count_ = 0; }
  // Frees the block; count and capacity 0.
  void Release() {
    DeleteMemory(data_);
    data_ = nullptr;
    count_ = 0;
    capacity_ = 0;
  }

 private:
  // A block of exactly `capacity` elements holding the current ones; false, unchanged, when it
  // cannot be had.
  Bool Grow(Int64 capacity, const char* file, Int32 line) {
    T* grown = NewMemory<T>(capacity, false, file, line);
    if (grown == nullptr) return false;
    if (count_ > 0) std::memcpy(grown, data_, static_cast<size_t>(count_) * sizeof(T));
    DeleteMemory(data_);
    data_ = grown;
    capacity_ = capacity;
    return true;
  }

  Bool Replace(Int64 n, Bool zeroed, const char* file, Int32 line) {
    Release();
    if (n <= 0) return n == 0;
    data_ = NewMemory<T>(n, zeroed, file, line);
    if (data_ == nullptr) return false;
    count_ = n;
    capacity_ = n;
    return true;
  }

  T* data_ = nullptr;
  Int64 count_ = 0;     // elements in use
  Int64 capacity_ = 0;  // elements the block holds
};
