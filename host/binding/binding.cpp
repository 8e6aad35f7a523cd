#include "host/binding/binding.h"

namespace {
const HostTable* g_hostTable = nullptr;
const FrameworkTable* g_frameworkTable = nullptr;
}  // namespace

void HostBind(const HostTable* host, const FrameworkTable* framework) {
  g_hostTable = host;
  g_frameworkTable = framework;
}

void HostUnbind() {
  g_hostTable = nullptr;
  g_frameworkTable = nullptr;
}

Bool HostIsBound() {
  return g_hostTable != nullptr && g_frameworkTable != nullptr;
}

const HostTable& Host() {
  return *g_hostTable;
}

const FrameworkTable& Framework() {
  return *g_frameworkTable;
}
