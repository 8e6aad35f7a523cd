// Batch work at disk speed (batch_bench.cpp): OBJ reading beside the peer's and writing, and
// `tessamire apply` over OBJ sequences and point caches of grids, pipelined and frame after frame.
#pragma once

#include <cstddef>
#include <string>

namespace bench {

void RegisterBatchBenchmarks();
// The batch figures and ratios, after the run.
void PrintBatchSummary();

// The peer's reading of the OBJ at `path`, positions and faces only: answers the points read
// (0 when it failed or the build found no tinyobjloader) (tinyobj_peer.cpp).
size_t TinyObjRead(const std::string& path);
bool HaveTinyObjLoader();

}  // namespace bench
