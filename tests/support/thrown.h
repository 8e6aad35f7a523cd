// What a call throws: the message of the exception of type E it throws, or "" when it throws
// none (an exception of another type passes on and fails the test).
#pragma once

#include <exception>
#include <string>

template <typename E = std::exception, typename Call>
std::string ThrownMessage(Call&& call) {
  try {
    call();
  } catch (const E& e) {
    return e.what();
  }
  return "";
}
