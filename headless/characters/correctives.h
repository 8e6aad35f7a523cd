// The correction as morph targets in bind space: per vertex, what must be added to the written
// rest position (and normal) so that linear blend skinning of the glTF, with the weights and
// joint matrices it holds, lands on the corrected point. Free routines over plain arrays.
//
// Vertex v with written influences (j_i, w_i) and joint matrices J (float64 from the file's
// float32 numbers) has the blended matrix B = sum_i w_i J_{j_i}; its target is
// B^-1 x (the corrected point in world space) - (its written rest position), so
// B x (rest + target) is the corrected point up to the float32 rounding of the target. Normals:
// the target turns the rest normal into normalise(B3^T x N), N the corrected normal in world
// space, which a player transforming normals by the inverse transpose of B (or by B where B is
// a rotation and a uniform scale) shows as N.
//
// Where B's axes are singular (|det| at most 1e-12 of the product of their lengths, or not
// finite) no target can reach the corrected point: the vertex's target is 0 and it is counted.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "headless/scene/rig.h"
#include "host/abi/types.h"

namespace headless {

// Per vertex `slots` (4 or 8) joints and weights as written: the largest influences (the
// earlier on ties; a joint named twice weighs the sum, one of weight 0 is dropped), renormalised
// to sum 1 in float64 and narrowed; empty slots joint 0 weight 0.
// A vertex without influence (or with weights summing to 0) gets joint 0 with weight 1 and is
// counted in `unweighted`; its target takes it to its corrected point all the same.
struct WrittenInfluences {
  int slots = 4;
  std::vector<std::uint16_t> joints;  // slots per vertex
  std::vector<Float32> weights;       // slots per vertex
  Int64 unweighted = 0;
  Int64 dropped = 0;  // vertices that had more influences than slots
};
// Throws std::invalid_argument when `slots` is not 4 or 8, the skin has more than 65535 joints,
// or an influence names no joint or has a weight that is negative or not finite.
WrittenInfluences WriteInfluences(const RigSkin& skin, int slots);

struct CorrectiveTargets {
  std::vector<Float32> positions;  // x, y, z per vertex
  std::vector<Float32> normals;    // x, y, z per vertex; empty without normals
  Int64 singular = 0;              // vertices whose blended matrix is singular (target 0)
};

// Targets of every vertex. `influences` null: every vertex has the one matrix joints[0] (a mesh
// that is not skinned). `base` and `baseNormals` are the written rest (x, y, z per vertex);
// `world` and `worldNormals` the corrected points and normals in world space (normals may be
// empty when `baseNormals` is). Throws std::invalid_argument when a target does not fit in
// float32 (naming the vertex).
CorrectiveTargets Correctives(const WrittenInfluences* influences, std::span<const Matrix> joints,
                              std::span<const Float32> base, std::span<const Float32> baseNormals,
                              std::span<const Vector3> world,
                              std::span<const Vector3> worldNormals);

// Half a float32 step at the mesh's extent (its largest |coordinate|): a position target below
// it in every coordinate changes nothing a float32 reader can tell.
Float32 OmissionTolerance(std::span<const Float32> base);
// The vertices, in order, whose position target reaches `tolerance` in a coordinate or whose
// normal target reaches half a float32 step at 1 (2^-25) in one.
std::vector<std::uint32_t> KeptVertices(const CorrectiveTargets& targets, Float32 tolerance);

// The largest |value| of either array (1 where every value is 0): the scale of int16 targets.
Float32 QuantisationScale(std::span<const Float32> a, std::span<const Float32> b);
// round(value / scale x top) per value, clamped to +-top: normalised int16 (top 32767) or int8
// (top 127) as glTF reads them back.
std::vector<std::int32_t> Quantise(std::span<const Float32> values, Float32 scale, int top);

}  // namespace headless
