// The host's own deformers, registered with the deform pass (headless/scene/native_deformers.h):
// the point cache and the skin deformer with its keyed joints. Every program that evaluates
// documents calls InstallNativeDeformers once before (the host layer does when it builds its table;
// so do the tests); later calls do nothing.
#pragma once

namespace headless {

void InstallNativeDeformers();

}  // namespace headless
