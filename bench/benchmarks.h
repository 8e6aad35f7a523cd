// The benchmark groups, registered in this order by the bench's main, which then prints the
// closing figures and ratios from what they recorded.
#pragma once

#include <string>

#include "host/abi/types.h"

namespace bench {

// Evaluation stages one by one and the uniform pass beside the peer's (controller_bench.cpp).
void RegisterStageBenchmarks();
// Whole evaluations through the loaded plug-in, the streaming floor, the straightforward
// baseline, peak memory and page faults (evaluation_bench.cpp).
void RegisterEvaluationBenchmarks();
// Our uniform pass on a mesh's rest points on the current workers: the seconds of one pass,
// timed over `passes` passes in one go (controller_bench.cpp).
double UniformPassSeconds(const std::string& mesh, int passes);
// The peer's uniform pass on the same mesh, compiled at the core's optimisation level: the seconds
// of one pass, timed as `passes` passes in one call, so that its per-call set-up is shared as in
// a run of several passes. Negative when the build found no OpenMesh (openmesh_bench.cpp).
double OpenMeshPassSeconds(const std::string& mesh, int passes);
bool HaveOpenMesh();

// Frames per second at rig sizes (rig_bench.cpp): each mesh of kRigSizes, torus and limb, with the
// tag's passes at each of kRigRounds, on one worker and on all.
inline constexpr const char* kRigSizes[] = {"10k", "50k", "200k", "1M"};
inline constexpr Int32 kRigRounds[] = {2, 16};
// Also a rig of kRigMeshes tori of 10,000 points evaluated together ("rigmany:1" and "rigmany:all":
// the seconds of one frame of them all).
inline constexpr int kRigMeshes = 30;
void RegisterRigBenchmarks();
// The name of the figure holding the seconds of each evaluation of one row (workers 1, or 0 for
// all).
std::string RigFigure(const std::string& mesh, Int32 rounds, Int32 workers);

// The bake of the large scan-like character with its report, and the share it recovers
// (bake_bench.cpp).
void RegisterBakeBenchmarks();
void PrintBakeSummary();

// A small glTF character's 30 s and 120 s clips imported and sampled, and their ratio
// (character_bench.cpp).
void RegisterCharacterBenchmarks();
void PrintCharacterSummary();

// The ground-truth cases swept over the settings, and the pose guard's share of a run
// (truth_bench.cpp); the table printed after the run.
void RegisterTruthBenchmarks();
void PrintTruthSummary();

}  // namespace bench
