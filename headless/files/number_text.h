// Numbers as a user types them (options, parameter values): the whole text is the number, with
// an optional leading '+'; no NaN, no infinity, nothing around it.
#pragma once

#include <string>

#include "host/abi/types.h"

namespace headless {

// False for anything but a whole number within int64.
bool ParseInteger(const std::string& text, Int64& out);
// False, leaving `out` alone, for anything but a finite number.
bool ParseNumber(const std::string& text, Float& out);

}  // namespace headless
