// The library entry: the host's numbered actions, and the plug-in's start, end and message
// hooks.
#include <string>

#include "host/abi/barrier.h"
#include "host/binding/binding.h"
#include "host/binding/nodes.h"
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
    case kMessageLoadResources: {
      // Only loading the resources needs the host.
      if (!HostIsBound()) return false;
      ReleaseResources();
      const std::string dir = PluginDirectory();
      if (dir.empty()) return false;
      g_resource = Host().resourceLoad((dir + "/res").c_str());
      return g_resource != nullptr;
    }
    case kMessageQuery:
      return true;
    default:
      return false;
  }
}

Int32 SystemStart(void* p1, void* p3) {
  ++g_startCount;
  if (g_startCount != 1) return kAnswerDone;
  const auto* table = static_cast<const HostTable*>(p1);
  if (table == nullptr || table->version < kMinimumInterfaceVersion || p3 == nullptr) {
    // Not bound: a later start must try again rather than run on a missing host.
    --g_startCount;
    return kAnswerCannotBind;
  }
  HostBind(table, static_cast<const FrameworkTable*>(p3));
  return kAnswerDone;
}

Int32 SystemEnd() {
  if (g_startCount <= 0) return kAnswerDone;
  if (--g_startCount == 0) {
    OnEnd();
    ReleaseResources();
    HostUnbind();
  }
  return kAnswerDone;
}

}  // namespace

const Resource* PluginResources() {
  return g_resource;
}

extern "C" TESSAMIRE_EXPORT Int32 c4d_main(Int32 action, void* p1, void* p2, void* p3) {
  // A start that throws has failed; any other action that throws is refused.
  const Int32 failure = action == kActionStart ? kAnswerStartFailed : kAnswerRefused;
  return Barrier(failure, [&]() -> Int32 {
    switch (action) {
      case kActionSystemStart:
        return SystemStart(p1, p3);
      case kActionStart:
        return HostIsBound() && OnStart() ? kAnswerDone : kAnswerStartFailed;
      case kActionEnd:
        return SystemEnd();
      case kActionFour:
        return kAnswerFour;
      case kActionMessage:
        return OnMessage(static_cast<Int32>(reinterpret_cast<intptr_t>(p1)), p2) ? kAnswerDone
                                                                                 : kAnswerRefused;
      default:
        return kAnswerRefused;
    }
  });
}
