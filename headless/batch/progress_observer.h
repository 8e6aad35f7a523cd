// How a long run below the program tells whoever watches it how far it is: the program draws a
// bar or a line per item (progress_printer.h), a script may watch nothing. Called on the run's
// calling thread, in order: Begin once, then Step per item done, and Finish when the run ends
// early.
#pragma once

#include <string>

#include "host/abi/types.h"

namespace headless {

class ProgressObserver {
 public:
  virtual ~ProgressObserver() = default;
  // The run takes `total` items, each a `unit` ("frame", "step").
  virtual void Begin(const std::string& unit, Int64 total) = 0;
  // One more item is done; `detail` says which. May throw to stop the run (Interrupted on
  // Ctrl-C, headless/files/interruption.h).
  virtual void Step(const std::string& detail) = 0;
  // The run ended before its last item (a failure): what is drawn is ended so that later output
  // starts on a fresh line. Safe to call twice.
  virtual void Finish() = 0;
};

}  // namespace headless
