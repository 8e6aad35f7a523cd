// Deformer types the host itself implements, by type id: the deform pass (deform.h) runs a node
// of such a type through its native routine instead of a plug-in's DeformObject.
//
// The registry starts with the host's own types, each installed by its unit when the registry is
// first used: the point cache (point_cache.h) and the skin deformer (skin.h). Installing them
// there, rather than from static initialisers in their units, keeps them from depending on the
// order of static initialisation or on the linker keeping an otherwise unreferenced unit of the
// static library. Other types register with RegisterNativeDeformer.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "headless/host/scene.h"

namespace headless {

// Rewrites `points` (the deform cache of `object`, which `deformer` sits under) in place; answers
// false with `error` set, leaving `points` unchanged, when it cannot.
using NativeDeformer = bool (*)(Node* deformer, Node* object, std::vector<Vector3>& points,
                                std::string& error);

// Native routines by deformer type id.
using NativeDeformers = std::map<Int32, NativeDeformer>;

// Registers (or replaces) the native routine of a deformer type. Throws std::invalid_argument
// for a null routine.
void RegisterNativeDeformer(Int32 type, NativeDeformer deform);

// The native routine of `type`, or null when the host implements no deformer of that type.
NativeDeformer FindNativeDeformer(Int32 type);

}  // namespace headless
