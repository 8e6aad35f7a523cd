// The deformer's kept topologies: one entry per object, each found again by its object, dropped
// once its object has gone unused for longer than every object's turn, none without memory.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "headless/geometry/primitives.h"
#include "headless/entries/framework.h"
#include "source/otessamire/object_topologies.h"
#include "source/tessamireThreads/kept_topology.h"
#include "tests/support/core_fixture.h"

namespace {

// One run over `mesh` that fills `kept`; false when it fails.
bool RunOnce(const headless::Mesh& mesh, KeptTopology* kept) {
  std::vector<Frame> frames(mesh.points.size());
  return ComputePointFrames(InputOf(mesh, SmoothingSettings{}), FrameBufferSink(frames), kept);
}

class ObjectTopologiesTest : public CoreTest {
 protected:
  headless::Mesh mesh_ = headless::Torus(24, 16);
};

// Addresses standing for objects: the list compares them and never follows them.
const BaseObject* FakeObject(std::uintptr_t n) {
  return reinterpret_cast<const BaseObject*>(n * 64);
}

TEST_F(ObjectTopologiesTest, TheDeformerKeepsOneEntryPerObjectAndDropsObjectsGone) {
  const Int64 blocks = headless::GetAllocationStats().blocksInUse;
  {
    ObjectTopologies list;
    KeptTopology* first = list.Take(FakeObject(1));
    ASSERT_NE(first, nullptr);
    ASSERT_TRUE(RunOnce(mesh_, first));
    list.Return(FakeObject(1), first);
    KeptTopology* second = list.Take(FakeObject(2));
    ASSERT_NE(second, first) << "a second object gets its own entry";
    list.Return(FakeObject(2), second);
    EXPECT_EQ(list.Count(), 2);
    EXPECT_EQ(list.Take(FakeObject(1)), first) << "and each finds its own again";
    list.Return(FakeObject(1), first);

    // Object 2 is deformed no more: its entry goes once it has gone unused for longer than
    // every object's turn.
    for (int call = 0; call < 4; ++call) list.Return(FakeObject(1), list.Take(FakeObject(1)));
    EXPECT_EQ(list.Count(), 1);
    EXPECT_EQ(list.Take(FakeObject(1)), first);
    list.Return(FakeObject(1), first);

    // Without memory for a new entry the call runs without one.
    headless::FailNthAllocation(1);
    EXPECT_EQ(list.Take(FakeObject(3)), nullptr);
    headless::FailNthAllocation(0);
    list.Return(FakeObject(3), nullptr);
    EXPECT_EQ(list.Count(), 1);
  }
  EXPECT_EQ(headless::GetAllocationStats().blocksInUse, blocks) << "freed with the deformer";
}

}  // namespace
