#include "headless/scene/native_deformers.h"

#include <algorithm>
#include <cmath>
#include <mutex>
#include <stdexcept>

#include "headless/scene/scene_state.h"

namespace headless {

namespace {

SceneState::NativeTypes& Natives(SceneState& state, NativeLifetime lifetime) {
  return lifetime == NativeLifetime::kProcess ? state.hostNatives : state.addedNatives;
}

}  // namespace

void RegisterNativeDeformer(Int32 type, NativeDeformer deform, NativeLifetime lifetime) {
  if (deform == nullptr)
    throw std::invalid_argument("RegisterNativeDeformer: no routine for type " +
                                std::to_string(type));
  SceneState& state = TheSceneState();
  std::lock_guard<std::mutex> lock(state.nativeMutex);
  Natives(state, lifetime).routines[type] = deform;
}

NativeDeformer FindNativeDeformer(Int32 type) {
  SceneState& state = TheSceneState();
  std::lock_guard<std::mutex> lock(state.nativeMutex);
  for (const SceneState::NativeTypes* natives : {&state.addedNatives, &state.hostNatives}) {
    const auto it = natives->routines.find(type);
    if (it != natives->routines.end()) return it->second;
  }
  return nullptr;
}

void RegisterFrameAnimation(FrameAnimation animate, NativeLifetime lifetime) {
  if (animate == nullptr) throw std::invalid_argument("RegisterFrameAnimation: no routine");
  SceneState& state = TheSceneState();
  std::lock_guard<std::mutex> lock(state.nativeMutex);
  std::vector<FrameAnimation>& animations = Natives(state, lifetime).animations;
  if (std::find(animations.begin(), animations.end(), animate) == animations.end())
    animations.push_back(animate);
}

void AnimateAtFrame(Document& doc, Float frame) {
  if (!std::isfinite(frame)) throw std::invalid_argument("the frame is not finite");
  std::vector<FrameAnimation> animations;
  {
    SceneState& state = TheSceneState();
    std::lock_guard<std::mutex> lock(state.nativeMutex);
    animations = state.hostNatives.animations;
    for (const FrameAnimation animate : state.addedNatives.animations)
      if (std::find(animations.begin(), animations.end(), animate) == animations.end())
        animations.push_back(animate);
  }
  for (const FrameAnimation animate : animations) animate(doc, frame);
}

}  // namespace headless
