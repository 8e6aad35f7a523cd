#include "headless/files/interruption.h"

#include "headless/platform/interrupts.h"

namespace headless {

void StopIfInterrupted() {
  if (platform::InterruptRequested()) throw Interrupted();
}

}  // namespace headless
