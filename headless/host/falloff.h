// The headless host's falloff evaluator (host library 1019541), the table entries `falloff*`.
//
// Shapes, chosen by container entry FALLOFF_MODE (5105) of the deformer that owns the
// evaluator:
// - infinite (FALLOFF_MODE_DEFAULT, also when the entry is absent): pre-sampling answers false,
//   so the deformer takes every weight as 1; no handle.
// - sphere: centred on the deformer's position, which is the origin (the headless host models no
//   transforms). At distance d from the centre (the point taken through the object's global
//   matrix) the weight is 1 for d <= inner radius, 0 for d >= radius, and falls linearly in
//   between; with inner radius >= radius the edge is hard. One handle, on +X at the radius;
//   moving it sets the radius to the handle's distance from the centre.
//
// The evaluator reads its shape and radii from the container at initialisation (the deformer's
// PrepareExecution initialises it before each deform pass) and samples with those values.
// Sampling only reads what pre-sampling stored, so it is safe from many threads at once.
//
// The dirty count starts at 0 and goes up by one each time the dirty query finds the
// container's falloff parameters different from the ones it saw last (the first initialisation
// gives the first values seen), so a deformer that compares counts learns of every change.
//
// The set-mode operation accepts the two shapes above and answers false for any other value;
// the description step adds the three parameters (shape, radius, inner radius) once. The bool
// option and the weight passed to a sample are not used by these shapes.
#pragma once

#include "headless/host/scene.h"
#include "host/table.h"

namespace headless {

inline constexpr Int32 kFalloffShape = FALLOFF_MODE;
inline constexpr Int32 kFalloffShapeInfinite = FALLOFF_MODE_DEFAULT;
inline constexpr Int32 kFalloffShapeSphere = 1099010;
inline constexpr Int32 kFalloffRadius = 1099011;       // float64
inline constexpr Int32 kFalloffInnerRadius = 1099012;  // float64
inline constexpr Float kFalloffDefaultRadius = 100.0;
inline constexpr Float kFalloffDefaultInnerRadius = 0.0;

struct FalloffParameters {
  Int32 shape = kFalloffShapeInfinite;
  Float radius = kFalloffDefaultRadius;
  Float innerRadius = kFalloffDefaultInnerRadius;
  bool operator==(const FalloffParameters&) const = default;
};

// The falloff parameters a container holds, defaults for absent entries.
FalloffParameters ReadFalloffParameters(const Container& container);

// The sphere's weight at distance `distance` from its centre (see above).
Float SphereWeight(const FalloffParameters& parameters, Float distance);

// Evaluators allocated through the table and not yet freed.
Int64 LiveFalloffs();

// While withheld, the library supplies no evaluator: allocation answers null (tests use it to
// reach the deformer's paths without one). Resetting the host state (host_state.h) ends it.
void WithholdFalloffLibrary(bool withheld);

// Puts the falloff entries into the host table.
void InstallFalloffEntries(HostTable& table);

}  // namespace headless
