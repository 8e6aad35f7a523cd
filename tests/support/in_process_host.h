// Binds the plug-in code linked into the test binary to this process's headless host, so that
// unit tests of the core can call it directly.
#pragma once

#include "headless/entries/framework.h"
#include "headless/entries/host_table.h"
#include "host/binding/binding.h"

inline void BindInProcessHost() {
  HostBind(&headless::HostTableInstance(), &headless::FrameworkTableInstance());
}
