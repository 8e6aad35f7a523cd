// The library entry: the host's numbered actions, and the plug-in's start, end and message
// hooks.
#include <string>

#include "host/binding.h"
#include "host/nodes.h"
#include "source/platform.h"
#include "source/registration.h"
#include "source/resources.h"

namespace {

// How many times the host has started the library (action 1 minus action 3).
Int32 g_startCount = 0;
// The plug-in's resources, loaded at message 1 and released at the last end.
Resource* g_resource = nullptr;

void ReleaseResources() {
  if (g_resource != nullptr && HostIsBound()) Host().resourceFree(g_resource);
  g_resource = nullptr;
}

Bool OnStart() {
  if (!RegisterPart(SetupCommandRecord(), g_resource)) return false;
  if (!RegisterPart(DeformerRecord(), g_resource)) return false;
  if (!RegisterPart(BindTagRecord(), g_resource)) return false;
  ConsolePrint("---------------");
  ConsolePrint("Tessamire v1.10");
  ConsolePrint("---------------");
  return true;
}

void OnEnd() {}

Bool OnMessage(Int32 id, void*) {
  switch (id) {
    case MSG_PLUGIN_LOAD_RESOURCES: {
      ReleaseResources();
      const std::string dir = PluginDirectory();
      if (dir.empty()) return false;
      g_resource = Host().resourceLoad((dir + "/res").c_str());
      return g_resource != nullptr;
    }
    case MSG_PLUGIN_QUERY:
      return true;
    default:
      return false;
  }
}

Int32 SystemStart(void* p1, void* p3) {
  ++g_startCount;
  if (g_startCount != 1) return 1;
  const auto* table = static_cast<const HostTable*>(p1);
  if (table == nullptr || table->version < kMinimumInterfaceVersion || p3 == nullptr) {
    // Not bound: a later start must try again rather than run on a missing host.
    --g_startCount;
    return -3;
  }
  HostBind(table, static_cast<const FrameworkTable*>(p3));
  return 1;
}

Int32 SystemEnd() {
  if (g_startCount <= 0) return 1;
  if (--g_startCount == 0) {
    OnEnd();
    ReleaseResources();
    HostUnbind();
  }
  return 1;
}

}  // namespace

const Resource* PluginResources() {
  return g_resource;
}

extern "C" TESSAMIRE_EXPORT Int32 c4d_main(Int32 action, void* p1, void* p2, void* p3) {
  try {
    switch (action) {
      case 1:
        return SystemStart(p1, p3);
      case 2:
        return HostIsBound() && OnStart() ? 1 : 0;
      case 3:
        return SystemEnd();
      case 4:
        return 5;
      case 6:
        return HostIsBound() && OnMessage(static_cast<Int32>(reinterpret_cast<intptr_t>(p1)), p2)
                   ? 1
                   : -1;
      default:
        return -1;
    }
  } catch (...) {
    return action == 2 ? 0 : -1;
  }
}
