#include "headless/scene/native_deformers.h"

#include <algorithm>
#include <cmath>
#include <mutex>
#include <stdexcept>

namespace headless {

namespace {

struct NativeRegistry {
  std::mutex mutex;
  NativeDeformers routines;
  std::vector<FrameAnimation> animations;
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

void RegisterFrameAnimation(FrameAnimation animate) {
  if (animate == nullptr) throw std::invalid_argument("RegisterFrameAnimation: no routine");
  NativeRegistry& registry = Natives();
  std::lock_guard<std::mutex> lock(registry.mutex);
  if (std::find(registry.animations.begin(), registry.animations.end(), animate) ==
      registry.animations.end())
    registry.animations.push_back(animate);
}

void AnimateAtFrame(Document& doc, Float frame) {
  if (!std::isfinite(frame)) throw std::invalid_argument("the frame is not finite");
  std::vector<FrameAnimation> animations;
  {
    NativeRegistry& registry = Natives();
    std::lock_guard<std::mutex> lock(registry.mutex);
    animations = registry.animations;
  }
  for (const FrameAnimation animate : animations) animate(doc, frame);
}

}  // namespace headless
