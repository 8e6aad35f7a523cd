// Deformer types the host itself implements, by type id: the deform pass (deform.h) runs a node
// of such a type through its native routine instead of a plug-in's DeformObject.
//
// The host's own types (the point cache and the skin deformer of headless/deformers/) live in the
// layer above and register here when a program starts the host: InstallNativeDeformers
// (headless/deformers/installation.h). Registering explicitly, rather than from static
// initialisers, keeps them from depending on the order of static initialisation or on the linker
// keeping an otherwise unreferenced unit of a static library.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "headless/scene/scene.h"

namespace headless {

// Rewrites `points` (the deform cache of `object`, which `deformer` sits under) in place. Throws
// (std::invalid_argument naming the fault, or whatever the routine's work throws), leaving
// `points` unchanged, when it cannot; the deform pass reports it.
using NativeDeformer = void (*)(Node* deformer, Node* object, std::vector<Vector3>& points);

// Native routines by deformer type id.
using NativeDeformers = std::map<Int32, NativeDeformer>;

// How long a native type stays: the host's own (InstallNativeDeformers) for the process; one
// registered later (a test's) until the scene's state is reset (scene_state.h), where both live.
enum class NativeLifetime { kProcess, kUntilReset };

// Registers (or replaces) the native routine of a deformer type; one registered until a reset
// stands over the host's own of the same type meanwhile. Throws std::invalid_argument for a null
// routine.
void RegisterNativeDeformer(Int32 type, NativeDeformer deform,
                            NativeLifetime lifetime = NativeLifetime::kUntilReset);

// The native routine of `type`, or null when the host implements no deformer of that type.
NativeDeformer FindNativeDeformer(Int32 type);

// What a document holds for a frame besides its deformers' own reading of it (the skin's keyed
// joints): set before the document is evaluated at that frame. Throws std::invalid_argument,
// changing nothing, when the document's animation is damaged.
using FrameAnimation = void (*)(Document& doc, Float frame);
// Registers an animation once (a second registration of the same routine is ignored).
void RegisterFrameAnimation(FrameAnimation animate,
                            NativeLifetime lifetime = NativeLifetime::kUntilReset);
// Runs every registered animation for `frame`, the host's own first, each in registration
// order. Throws
// std::invalid_argument for a frame that is not finite.
void AnimateAtFrame(Document& doc, Float frame);

}  // namespace headless
