// Each evaluation stage beside its own floors: the arithmetic its code does per point (square
// roots, divisions, multiplies and adds, counted from the kernels) at the throughput a small kernel
// measures in the same run for the lane width in use, and the bytes its arrays move per point (a
// model) at the bandwidth of a streaming triad measured in the same run.
#pragma once

#include <string>

#include "host/abi/types.h"

namespace bench {

// What the stage models need of a mesh: its points, and per point its neighbour-list entries,
// polygons, and corners (entries of the point-polygon lists).
struct MeshShape {
  double points = 0.0;
  double neighbours = 0.0;
  double polygons = 0.0;
  double corners = 0.0;
};
// Recorded by the stage benchmark of the mesh as "shape:<mesh>:..." figures; zeros when it did not
// run.
void RecordShape(const std::string& mesh, const MeshShape& shape);
MeshShape ShapeOf(const std::string& mesh);

// The operations and bytes one point of a stage costs, from its code (see stage_floors.cpp).
struct StageCost {
  double sqrts = 0.0, divisions = 0.0, multiplies = 0.0, adds = 0.0;
  double bytes = 0.0;
};
// The stage's cost per point: "compare", "pass1", "pass2", "normals" or "frames+apply" (the
// passes length-weighted without a vertex map, as the stage benchmark runs them).
StageCost CostOf(const std::string& stage, const MeshShape& shape);

// The group that measures, on one worker in the lanes in use, the seconds per float64 result of
// each operation, and on every worker the triad's bandwidth ("lanes:sqrt", "lanes:div",
// "lanes:mul", "lanes:add", "lanes:triad" bytes per second).
void RegisterFloorBenchmarks();

// The seconds per point of a stage's arithmetic on `workers` workers: the divider (square roots
// and divisions) and the multiply-add units work side by side, so the larger of the two.
double ArithmeticFloor(const StageCost& cost, Int32 workers);
// The seconds per point of its bytes at the triad's bandwidth.
double BytesFloor(const StageCost& cost);

// Prints the kernels' figures: seconds per result of each operation, and the triad's bandwidth.
void PrintLaneKernels();
// Prints per stage of the mesh: time, both floors and bytes per point,
// the ratio to the larger floor; and the evaluation against the sum of the stages' floors.
void PrintStageFloors(const std::string& mesh, Int32 workers);

}  // namespace bench
