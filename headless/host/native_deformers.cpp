#include "headless/host/native_deformers.h"

#include <mutex>
#include <stdexcept>

#include "headless/host/point_cache.h"
#include "headless/host/skin.h"

namespace headless {

namespace {

struct NativeRegistry {
  NativeRegistry() {
    InstallPointCache(routines);
    InstallSkinDeformer(routines);
  }

  std::mutex mutex;
  NativeDeformers routines;
};

NativeRegistry& Natives() {
  static NativeRegistry registry;
  return registry;
}

}  // namespace

void RegisterNativeDeformer(Int32 type, NativeDeformer deform) {
  if (deform == nullptr)
    throw std::invalid_argument("RegisterNativeDeformer: no routine for type " +
                                std::to_string(type));
  NativeRegistry& registry = Natives();
  std::lock_guard<std::mutex> lock(registry.mutex);
  registry.routines[type] = deform;
}

NativeDeformer FindNativeDeformer(Int32 type) {
  NativeRegistry& registry = Natives();
  std::lock_guard<std::mutex> lock(registry.mutex);
  const auto it = registry.routines.find(type);
  return it == registry.routines.end() ? nullptr : it->second;
}

}  // namespace headless
