#include "headless/files/interruption.h"

#include "headless/platform/platform.h"

namespace headless {

void StopIfInterrupted() {
  if (platform::InterruptRequested()) throw Interrupted();
}

}  // namespace headless
