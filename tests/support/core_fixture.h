// Shared setup of the core's unit tests: the plug-in code linked into the test binary, bound to
// this process's headless host, and the topology of a mesh built the way a run builds it.
#pragma once

#include <gtest/gtest.h>

#include <vector>

#include "headless/geometry/primitives.h"
#include "headless/scene/host_state.h"
#include "source/tessamireThreads/controller.h"
#include "source/tessamireThreads/neighbourhoods.h"
#include "tests/support/in_process_host.h"

class CoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    headless::TheHostState().Reset();
    BindInProcessHost();
  }
  void TearDown() override { headless::TheHostState().Reset(); }
};

// Adjacency, neighbour lists and border flags of a mesh, as one run builds them.
struct Topology {
  AdjacencyOwner adjacency;
  NeighbourLists lists;
  BorderFlags border;
  Int32 pointCount = 0;

  std::vector<Int32> List(Int32 i) const {
    return std::vector<Int32>(lists.List(i), lists.List(i) + lists.Count(i));
  }
  bool Border(Int32 i) const { return border.flag[i] == 1; }
};

inline bool BuildTopology(Int32 pointCount, const std::vector<CPolygon>& polygons, Topology& out) {
  const Int32 polygonCount = static_cast<Int32>(polygons.size());
  out.pointCount = pointCount;
  return BuildAdjacency(polygons.data(), polygonCount, pointCount, out.adjacency) &&
         BuildNeighbourhoods(polygons.data(), polygonCount, pointCount, *out.adjacency.get(),
                             out.lists, out.border);
}

// The frames of one run over a mesh; empty when the run fails.
inline std::vector<Frame> RunFrames(const headless::Mesh& mesh, const SmoothingSettings& settings) {
  std::vector<Frame> frames(mesh.points.size());
  if (!ComputePointFrames(mesh.points.data(), static_cast<Int32>(mesh.points.size()),
                          mesh.polygons.data(), static_cast<Int32>(mesh.polygons.size()), settings,
                          nullptr, frames.data()))
    frames.clear();
  return frames;
}
