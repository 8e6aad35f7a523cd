// Ctrl-C as an exception: a long run checks for it between items and throws, so that unwinding
// removes the temporary files of outputs not yet complete (output_file) and the program exits
// with 130.
#pragma once

#include <stdexcept>

namespace headless {

struct Interrupted : std::runtime_error {
  Interrupted() : std::runtime_error("interrupted") {}
};

// Throws Interrupted when Ctrl-C was pressed (headless::platform::InterruptRequested).
void StopIfInterrupted();

}  // namespace headless
