// Data symbols the host framework's build exports from every plug-in library. They hold no
// logic of the plug-in.
#include "source/platform.h"

extern "C" {
TESSAMIRE_EXPORT void* g_CpuYieldDelegate = nullptr;
TESSAMIRE_EXPORT char g_privateBinary[] = "net.tessamire.deformer";
}
