// Shared setup of the core's unit tests: the plug-in code linked into the test binary, bound to
// this process's headless host, and the topology of a mesh built the way a run builds it.
#pragma once

#include <gtest/gtest.h>

#include <span>
#include <vector>

#include "headless/entries/entries_state.h"
#include "headless/geometry/primitives.h"
#include "source/tessamireThreads/controller.h"
#include "source/tessamireThreads/neighbourhoods.h"
#include "tests/support/in_process_host.h"

class CoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    headless::ResetHostState();
    BindInProcessHost();
  }
  void TearDown() override { headless::ResetHostState(); }
};

// Adjacency, neighbour lists and border flags of a mesh, as one run builds them.
struct Topology {
  AdjacencyOwner adjacency;
  NeighbourLists lists;
  BorderFlags border;
  Int32 pointCount = 0;

  std::vector<Int32> List(Int32 i) const {
    const std::span<const Int32> list = lists.List(i);
    return std::vector<Int32>(list.begin(), list.end());
  }
  bool Border(Int32 i) const { return border.flag[i] == 1; }
};

inline bool BuildTopology(Int32 pointCount, const std::vector<CPolygon>& polygons, Topology& out) {
  out.pointCount = pointCount;
  return BuildAdjacency(polygons, pointCount, out.adjacency) &&
         BuildNeighbourhoods(polygons, pointCount, *out.adjacency.get(), out.lists, out.border);
}

// The input of a run over a mesh, without vertex-map weights.
inline PointFramesInput InputOf(const headless::Mesh& mesh, const SmoothingSettings& settings) {
  PointFramesInput input;
  input.points = mesh.points;
  input.polygons = mesh.polygons;
  input.settings = settings;
  return input;
}

// The frames of one run over a mesh; empty when the run fails.
inline std::vector<Frame> RunFrames(const headless::Mesh& mesh, const SmoothingSettings& settings) {
  std::vector<Frame> frames(mesh.points.size());
  if (!ComputePointFrames(InputOf(mesh, settings), frames)) frames.clear();
  return frames;
}
