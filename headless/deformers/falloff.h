// The headless host's falloff evaluator (host library 1019541): what its table entries
// (headless/entries/falloff_entries.h) do, over plain records.
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

#include <mutex>
#include <optional>

#include "headless/scene/description.h"
#include "headless/scene/draw.h"
#include "headless/scene/scene.h"
#include "host/abi/table.h"

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

// One evaluator (the plug-in's Falloff handle).
struct FalloffEvaluator {
  Int32 type = 0;  // the allocation argument
  Int32 mode = kFalloffShapeInfinite;
  FalloffParameters parameters;  // from the last initialisation
  Vector3 centre;
  Matrix transform;  // the object's global matrix, from the last pre-sampling
  bool sampling = false;

  // The dirty query runs on the host's thread while nothing samples; the lock only keeps two
  // queries from racing.
  mutable std::mutex dirtyMutex;
  mutable std::optional<FalloffParameters> lastSeen;
  mutable Int32 dirtyCount = 0;
};

// Takes the shape and radii from the deformer's container; false for an unknown shape.
bool InitFalloff(FalloffEvaluator& evaluator, const Container& container);
// False for an unknown shape.
bool SetFalloffMode(FalloffEvaluator& evaluator, Int32 mode);
// Adds the shape, radius and inner radius parameters to a description, each once.
void AddFalloffDescription(DescriptionData& description);
// What drawing the falloff records.
DrawRecord FalloffDrawRecord(const Container& container, Int32 drawPass);
void CopyFalloff(const FalloffEvaluator& from, FalloffEvaluator& to);
// The dirty count, counting a change of the container's falloff parameters first (none given:
// no check).
Int32 FalloffDirtyCount(const FalloffEvaluator& evaluator, const Container* container);
// One handle for the sphere, none otherwise.
Int32 FalloffHandleCount(const Container& container);
// Handle `index` (< FalloffHandleCount): on +X at the radius.
HandleInfo FalloffHandle(const FalloffEvaluator& evaluator, const Container& container);
// Moving the handle to `position` sets the radius to its distance from the centre.
void MoveFalloffHandle(const FalloffEvaluator& evaluator, Container& container,
                       const Vector3& position);
// Stores the object's global matrix (the input's transform); answers whether samples follow.
bool PreSampleFalloff(FalloffEvaluator& evaluator, const FalloffInput& input);
// The weight at `position` (1 when not sampling). Only reads the evaluator: safe from many
// threads at once.
Float SampleFalloff(const FalloffEvaluator& evaluator, const Vector3& position);

}  // namespace headless
