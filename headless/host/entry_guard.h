// How an entry of the host table keeps host-side exceptions (a failed std allocation, a stream
// error) from crossing into the plug-in: the entry answers a failure value instead.
#pragma once

namespace headless {

template <typename R, typename Body>
R NoThrow(R failure, Body body) {
  try {
    return body();
  } catch (...) {
    return failure;
  }
}

}  // namespace headless
