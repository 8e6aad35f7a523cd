// The benchmark groups, registered in this order by the bench's main, which then prints the
// closing figures and ratios from what they recorded.
#pragma once

namespace bench {

// Controller stages one by one and the uniform pass alone (controller_bench.cpp).
void RegisterStageBenchmarks();
// Whole evaluations through the loaded plug-in, the streaming floor, the straightforward
// baseline, peak memory and page faults (evaluation_bench.cpp).
void RegisterEvaluationBenchmarks();
// OpenMesh's uniform smoothing pass on the same mesh; registers nothing when the build found no
// OpenMesh (openmesh_bench.cpp). False in that case.
bool RegisterOpenMeshBenchmarks();

}  // namespace bench
