// The barrier at the boundary with the host: whatever the plug-in throws while the host calls it
// must not unwind into the host's code, so every call from the host into the plug-in (the entry,
// the plug-in objects' operations, the allocation functions, thread routines) runs through here.
#pragma once

#include <type_traits>

// Runs `operation` and answers its result, or `failure` when it throws.
template <typename Result, typename Operation>
Result Barrier(Result failure, Operation&& operation) noexcept {
  static_assert(std::is_nothrow_copy_constructible_v<Result>);
  try {
    return operation();
  } catch (...) {
    return failure;
  }
}

// Runs an operation without a result; what it throws is dropped.
template <typename Operation>
void Barrier(Operation&& operation) noexcept {
  try {
    operation();
  } catch (...) {
  }
}
