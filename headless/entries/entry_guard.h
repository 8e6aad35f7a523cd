// The one guard every entry of the host's tables passes through: Entry<Function> is a noexcept
// function of Function's signature that runs it and, should it throw, records the fault in the
// host diagnostics (HostErrors(), registry.h) and answers the entry's failure value instead.
//
// The tables' entry types are noexcept (host/abi/table.h), so a plain function does not fit into
// them: every Install...Entries writes `t.entry = Entry<Function>;` (or
// `Entry<Function, failure>` when the failure value is not the value-initialised result: null,
// false, 0).
#pragma once

#include <new>
#include <stdexcept>
#include <type_traits>

#include "headless/scene/registry.h"

namespace headless {

// Records why an entry failed; never throws (a record that cannot be kept is dropped).
inline void RecordEntryFault(const char* what) noexcept {
  try {
    ReportHostError(what);
  } catch (...) {
  }
}

template <auto Function, auto... Failure>
struct EntryGuard;

template <typename R, typename... Args, R (*Function)(Args...), auto... Failure>
struct EntryGuard<Function, Failure...> {
  static_assert(sizeof...(Failure) <= 1, "one failure value at most");
  static_assert(std::is_void_v<R> || std::is_default_constructible_v<R>);

  static R Call(Args... args) noexcept {
    try {
      return Function(args...);
    } catch (const std::bad_alloc&) {
      RecordEntryFault("a host entry ran out of memory");
    } catch (const std::exception& e) {
      RecordEntryFault(e.what());
    } catch (...) {
      RecordEntryFault("a host entry failed with an unknown exception");
    }
    if constexpr (!std::is_void_v<R>) return R{Failure...};
  }
};

template <auto Function, auto... Failure>
inline constexpr auto Entry = &EntryGuard<Function, Failure...>::Call;

}  // namespace headless
