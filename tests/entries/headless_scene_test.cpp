// The headless scene as the plug-in sees it through the host table: the tree, typed parameters,
// links, include/exclude lists, containers, mesh data, vertex maps, messages and threads. The
// scene's own checks are in tests/scene.
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstddef>
#include <cstring>
#include <new>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "headless/entries/entries_state.h"
#include "headless/entries/framework.h"
#include "headless/entries/host_table.h"
#include "headless/geometry/primitives.h"
#include "headless/scene/deform.h"
#include "headless/scene/native_deformers.h"
#include "headless/scene/registry.h"
#include "headless/scene/scene.h"
#include "host/abi/plugin_base.h"

namespace {

using headless::Document;
using headless::FromHandle;
using headless::Node;
using headless::ToList;
using headless::ToObject;
using headless::ToTag;

const HostTable& H() {
  return headless::HostTableInstance();
}

// Every operation after the version field is filled by one of the units that assemble the table.
TEST(HostTableAssembly, EveryEntryIsFilled) {
  using Entry = void (*)();
  const HostTable& table = H();
  const auto* bytes = reinterpret_cast<const unsigned char*>(&table);
  const size_t first = offsetof(HostTable, nodeGetType);
  ASSERT_EQ((sizeof(HostTable) - first) % sizeof(Entry), 0u);
  for (size_t at = first; at < sizeof(HostTable); at += sizeof(Entry)) {
    Entry entry;
    std::memcpy(&entry, bytes + at, sizeof entry);
    EXPECT_NE(entry, nullptr) << "entry " << (at - first) / sizeof(Entry) << " is not filled";
  }
}

std::vector<Vector3> QuadPoints() {
  return {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}};
}

class SceneTest : public ::testing::Test {
 protected:
  std::unique_ptr<Document> doc = headless::NewDocument();
  Node* mesh = doc->AddPolygonObject("mesh", QuadPoints(), {{0, 1, 2, 3}});
};

TEST_F(SceneTest, ParametersRoundTripByTypeAndRefuseOtherTypes) {
  BaseList2D* node = ToList(mesh);
  Int32 i = -7;
  Float f = -7.0;
  EXPECT_FALSE(H().paramGetInt32(node, 1004, &i, 0)) << "unset";
  EXPECT_EQ(i, -7) << "a failed read leaves the output alone";

  ASSERT_TRUE(H().paramSetInt32(node, 1004, 2, 0));
  ASSERT_TRUE(H().paramSetFloat(node, 1008, 0.1, 0));
  ASSERT_TRUE(H().paramSetString(node, 1002, "Bound: 96", 0));
  EXPECT_TRUE(H().paramGetInt32(node, 1004, &i, 0));
  EXPECT_EQ(i, 2);
  EXPECT_TRUE(H().paramGetFloat(node, 1008, &f, 0));
  EXPECT_EQ(f, 0.1) << "float64 kept exactly";
  EXPECT_EQ(mesh->params.GetString(1002), std::optional<std::string>("Bound: 96"));

  EXPECT_FALSE(H().paramGetFloat(node, 1004, &f, 0)) << "int32 is not read as float";
  EXPECT_FALSE(H().paramGetInt32(node, 1008, &i, 0)) << "float is not read as int32";
  EXPECT_FALSE(H().paramGetInt32(node, 1002, &i, 0));
  const BaseLink* link = nullptr;
  EXPECT_FALSE(H().paramGetLink(node, 1004, &link, 0));
  const InExcludeData* list = nullptr;
  EXPECT_FALSE(H().paramGetInExclude(node, 1004, &list, 0));

  ASSERT_TRUE(H().paramSetFloat(node, 1004, 3.5, 0));
  EXPECT_FALSE(H().paramGetInt32(node, 1004, &i, 0)) << "a write replaces the type";
  EXPECT_FALSE(H().paramSetString(node, 1002, nullptr, 0));
  EXPECT_EQ(mesh->params.GetString(1002), std::optional<std::string>("Bound: 96"));
}

TEST_F(SceneTest, ContainersShowTheNodesParametersAndStandAloneOnes) {
  BaseContainer* bc = H().nodeGetContainer(ToList(mesh));
  H().paramSetInt32(ToList(mesh), 1000, 1, 0);
  EXPECT_EQ(H().containerGetInt32(bc, 1000, 9), 1);
  EXPECT_EQ(H().containerGetInt32(bc, 1001, 9), 9) << "absent id gives the default";
  H().paramSetFloat(ToList(mesh), 1002, 1.0, 0);
  EXPECT_EQ(H().containerGetInt32(bc, 1002, 9), 9) << "another type gives the default";
  H().containerSetInt32(bc, 1003, 4);
  Int32 i = 0;
  EXPECT_TRUE(H().paramGetInt32(ToList(mesh), 1003, &i, 0));
  EXPECT_EQ(i, 4);

  const auto before = headless::GetAllocationStats().blocksInUse;
  BaseContainer* own = H().containerAlloc();
  ASSERT_NE(own, nullptr);
  H().containerSetInt32(own, 5, 6);
  EXPECT_EQ(H().containerGetInt32(own, 5, 0), 6);
  H().containerFree(own);
  EXPECT_EQ(headless::GetAllocationStats().blocksInUse, before);
}

TEST_F(SceneTest, LinksResolveThroughTheTypeFilterAndDocument) {
  Node* map = doc->AddVertexMap(mesh, {1, 1, 1, 1}, "weights");
  Node* tag = doc->AddTag(mesh, Tvertexmap);
  BaseList2D* owner = ToList(tag);
  const BaseLink* link = nullptr;
  ASSERT_TRUE(H().paramSetLink(owner, 1007, ToList(map), 0));
  ASSERT_TRUE(H().paramGetLink(owner, 1007, &link, 0));
  BaseDocument* d = headless::ToDocument(doc.get());
  EXPECT_EQ(H().linkResolve(link, d, Tvertexmap), ToList(map));
  EXPECT_EQ(H().linkResolve(link, d, 0), ToList(map)) << "no filter";
  EXPECT_EQ(H().linkResolve(link, nullptr, Tvertexmap), ToList(map)) << "no document given";
  EXPECT_EQ(H().linkResolve(link, d, Opolygon), nullptr) << "another type";
  auto other = headless::NewDocument();
  EXPECT_EQ(H().linkResolve(link, headless::ToDocument(other.get()), Tvertexmap), nullptr)
      << "a target outside the document";

  doc->Delete(map);
  EXPECT_EQ(H().linkResolve(link, d, Tvertexmap), nullptr) << "a deleted target";

  ASSERT_TRUE(H().paramSetLink(owner, 1007, nullptr, 0));
  ASSERT_TRUE(H().paramGetLink(owner, 1007, &link, 0));
  EXPECT_EQ(H().linkResolve(link, d, 0), nullptr) << "an empty link";
}

TEST_F(SceneTest, IncludeExcludeListsAnswerTheIndexOfANode) {
  Node* a = doc->AddObject(headless::kNullObjectType, "a");
  Node* b = doc->AddObject(headless::kNullObjectType, "b");
  Node* c = doc->AddObject(headless::kNullObjectType, "c");
  mesh->params.SetInExclude(1001, {a->serial, b->serial});
  const InExcludeData* list = nullptr;
  ASSERT_TRUE(H().paramGetInExclude(ToList(mesh), 1001, &list, 0));
  BaseDocument* d = headless::ToDocument(doc.get());
  EXPECT_EQ(H().inExcludeIndex(list, d, ToList(a)), 0);
  EXPECT_EQ(H().inExcludeIndex(list, d, ToList(b)), 1);
  EXPECT_EQ(H().inExcludeIndex(list, d, ToList(c)), -1);
  EXPECT_EQ(H().inExcludeIndex(list, d, nullptr), -1);

  mesh->params.SetInExclude(1001, {});
  EXPECT_EQ(H().inExcludeIndex(list, d, ToList(a)), -1) << "the handle shows the current list";
}

TEST_F(SceneTest, TreeWalksAndInsertionsFollowHostOrder) {
  Node* child1 = doc->AddObject(headless::kNullObjectType, "child1", mesh);
  Node* child2 = doc->AddObject(headless::kNullObjectType, "child2", mesh);
  Node* top = doc->AddObject(headless::kNullObjectType, "top");
  Node* tagA = doc->AddTag(mesh, Tvertexmap);
  Node* tagB = doc->AddTag(mesh, Tvertexmap);

  EXPECT_EQ(H().objectGetUp(ToObject(mesh)), nullptr) << "top level has no parent";
  EXPECT_EQ(H().objectGetDown(ToObject(mesh)), ToObject(child1));
  EXPECT_EQ(H().nodeGetNext(ToList(child1)), ToList(child2));
  EXPECT_EQ(H().nodeGetNext(ToList(child2)), nullptr);
  EXPECT_EQ(H().objectGetUp(ToObject(child2)), ToObject(mesh));
  EXPECT_EQ(H().nodeGetNext(ToList(mesh)), ToList(top));
  EXPECT_EQ(H().objectGetFirstTag(ToObject(mesh)), ToTag(tagA));
  EXPECT_EQ(H().nodeGetNext(ToList(tagA)), ToList(tagB));
  EXPECT_EQ(H().tagGetObject(ToTag(tagB)), ToObject(mesh));
  EXPECT_EQ(H().nodeGetDocument(ToList(tagB)), headless::ToDocument(doc.get()));
  EXPECT_EQ(H().nodeGetType(ToList(mesh)), Opolygon);

  BaseTag* front = reinterpret_cast<BaseTag*>(H().nodeAlloc(Tvertexmap));
  ASSERT_NE(front, nullptr);
  EXPECT_EQ(H().nodeGetDocument(reinterpret_cast<BaseList2D*>(front)), nullptr);
  H().objectInsertTagFirst(ToObject(mesh), front);
  EXPECT_EQ(Document::Tags(mesh), (std::vector<Node*>{FromHandle(front), tagA, tagB}));

  BaseDocument* d = headless::ToDocument(doc.get());
  auto* after = reinterpret_cast<BaseObject*>(H().nodeAlloc(headless::kNullObjectType));
  auto* last = reinterpret_cast<BaseObject*>(H().nodeAlloc(headless::kNullObjectType));
  auto* first = reinterpret_cast<BaseObject*>(H().nodeAlloc(headless::kNullObjectType));
  H().documentInsertObjectAfter(d, after, ToObject(child1));
  H().documentInsertObjectLast(d, last, ToObject(mesh));
  H().documentInsertObjectAfter(d, first, nullptr);
  EXPECT_EQ(doc->Objects(), (std::vector<Node*>{FromHandle(first), mesh, child1, FromHandle(after),
                                                child2, FromHandle(last), top}));

  // A second insertion of an inserted node is refused and reported; the tree stays.
  headless::ClearHostErrors();
  H().documentInsertObjectLast(d, after, nullptr);
  EXPECT_EQ(headless::HostErrors().size(), 1u);
  EXPECT_EQ(H().objectGetUp(after), ToObject(mesh));

  H().nodeFree(reinterpret_cast<BaseList2D*>(after));
  EXPECT_EQ(H().nodeGetNext(ToList(child1)), ToList(child2));
}

TEST_F(SceneTest, MeshDataAndVertexMapsAsThePlugInReadsThem) {
  const BaseObject* op = ToObject(mesh);
  EXPECT_EQ(H().objectDataCount(op, Tpoint), 4);
  EXPECT_EQ(H().objectDataCount(op, Tpolygon), 1);
  EXPECT_EQ(H().objectDataCount(op, Tvertexmap), 0);
  const auto* points = static_cast<const Vector3*>(H().objectDataR(op, Tpoint));
  const auto* polys = static_cast<const CPolygon*>(H().objectDataR(op, Tpolygon));
  ASSERT_NE(points, nullptr);
  ASSERT_NE(polys, nullptr);
  EXPECT_EQ(points[2].x, 1.0);
  EXPECT_EQ(polys[0].d, 3);

  // While the deform cache is in use, reads and writes go to it and the stored points stay.
  mesh->deformCache = mesh->points;
  mesh->useDeformCache = true;
  H().objectPointsW(ToObject(mesh))[0].z = 5.0;
  EXPECT_EQ(mesh->deformCache[0].z, 5.0);
  EXPECT_EQ(mesh->points[0].z, 0.0);
  mesh->useDeformCache = false;

  Node* empty = doc->AddPolygonObject("empty", {}, {});
  EXPECT_EQ(H().objectDataR(ToObject(empty), Tpoint), nullptr);
  EXPECT_EQ(H().objectPointsW(ToObject(empty)), nullptr);
  Node* group = doc->AddObject(headless::kNullObjectType, "group");
  EXPECT_EQ(H().objectDataCount(ToObject(group), Tpoint), 0) << "not a polygon object";

  Node* map = doc->AddVertexMap(mesh, {0.0f, 0.25f, 0.5f}, "short map");
  EXPECT_EQ(H().vertexMapCount(ToTag(map)), 3) << "a map of another size is kept as it is";
  EXPECT_EQ(H().vertexMapDataR(ToTag(map))[1], 0.25f);
  EXPECT_EQ(H().vertexMapCount(reinterpret_cast<const BaseTag*>(mesh)), 0);
}

TEST_F(SceneTest, MessagesAreRecordedAndFlagsAndDirtyKept) {
  EXPECT_TRUE(H().nodeMessage(ToList(mesh), MSG_UPDATE, nullptr));
  EXPECT_EQ(mesh->DeliveredMessages(), std::vector<Int32>{MSG_UPDATE});
  EXPECT_EQ(H().nodeGetFlags(ToList(mesh)) & BIT_ACTIVE, 0);
  mesh->flags |= BIT_ACTIVE;
  EXPECT_NE(H().nodeGetFlags(ToList(mesh)) & BIT_ACTIVE, 0);
  EXPECT_EQ(doc->SelectedObjects(), std::vector<Node*>{mesh});
  H().nodeSetDirty(ToList(mesh), DIRTYFLAGS_DATA);
  EXPECT_EQ(mesh->dirtyCount.load(), 1);
  H().objectSetDeformMode(ToObject(mesh), false);
  EXPECT_FALSE(H().objectGetDeformMode(ToObject(mesh)));
}

// The deform pass copies the stored points into the cache with the host's copy over its workers:
// a mesh of many blocks arrives whole at the first deformer, on one worker and on all, and the
// stored points stay as they were.
TEST(DeformCache, StartsAsAnExactCopyOfTheStoredPoints) {
  H();  // the host layer installs its copy
  headless::ResetHostState();
  constexpr Int32 kRecord = 1099903;
  static std::vector<Vector3> received;
  headless::RegisterNativeDeformer(kRecord, [](Node*, Node*, std::vector<Vector3>& points) {
    received = points;
    for (Vector3& p : points) p.x = -p.x;
  });
  const headless::Mesh grid = headless::Grid(300, 250);
  std::vector<Vector3> points = grid.points;
  for (size_t i = 0; i < points.size(); ++i) points[i].z = 1e-3 * static_cast<Float>(i % 977);
  std::unique_ptr<Document> doc = headless::NewDocument();
  Node* object = doc->AddPolygonObject("grid", points, grid.polygons);
  doc->AddObject(kRecord, "record", object);
  const auto same = [](const std::vector<Vector3>& a, const std::vector<Vector3>& b) {
    return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(Vector3)) == 0;
  };
  for (bool parallel : {true, false}) {
    headless::EnableParallelFor(parallel);
    received.clear();
    EXPECT_TRUE(headless::DeformDocument(*doc).Ok());
    EXPECT_TRUE(same(received, points)) << "parallel " << parallel;
    EXPECT_TRUE(same(object->points, points));
    EXPECT_EQ(headless::DeformedPoints(object)[7].x, -points[7].x);
  }
  headless::EnableParallelFor(true);
  doc.reset();
  headless::ResetHostState();
}

TEST(HostText, NumbersAndStringsAreCopiedTerminated) {
  char buf[8];
  EXPECT_EQ(H().formatInt64(-1234567890123LL, buf, sizeof buf), 14);
  EXPECT_STREQ(buf, "-123456") << "truncated to the buffer, terminated";
  char big[32];
  H().formatInt64(96, big, sizeof big);
  EXPECT_STREQ(big, "96");
  EXPECT_EQ(H().resourceString(nullptr, 1000, big, sizeof big), 0) << "no resources: empty";
  EXPECT_STREQ(big, "");
}

TEST(HostThreads, RunOnceWithTheirNameRecordedAndJoin) {
  struct Run {
    std::atomic<Int32> calls{0};
  } run;
  headless::ResetHostState();
  BaseThread* thread = H().threadAlloc(
      &run, [](void* user) { static_cast<Run*>(user)->calls.fetch_add(1); }, nullptr,
      [](void*) -> const char* { return "Worker Name"; });
  ASSERT_NE(thread, nullptr);
  EXPECT_TRUE(H().threadStart(thread, THREADMODE_ASYNC, THREADPRIORITY_NORMAL));
  H().threadWait(thread, false);
  EXPECT_EQ(run.calls.load(), 1);
  EXPECT_FALSE(H().threadStart(thread, THREADMODE_ASYNC, THREADPRIORITY_NORMAL))
      << "a thread record runs once";
  H().threadFree(thread);
  EXPECT_EQ(headless::ThreadNames(), std::vector<std::string>{"Worker Name"});
}

// A thread a plug-in starts during an evaluation that asked for its own workers loops with that
// count, not the process's.
TEST(HostThreads, AsyncThreadsTakeTheirCallersWorkers) {
  headless::ResetHostState();
  headless::SetWorkerCount(1);
  std::atomic<Int32> seen{0};
  BaseThread* thread = H().threadAlloc(
      &seen,
      [](void* user) { static_cast<std::atomic<Int32>*>(user)->store(headless::WorkerCount()); },
      nullptr, nullptr);
  ASSERT_NE(thread, nullptr);
  {
    const headless::ThreadWorkers workers(3);
    ASSERT_TRUE(H().threadStart(thread, THREADMODE_ASYNC, THREADPRIORITY_NORMAL));
  }
  H().threadWait(thread, false);
  H().threadFree(thread);
  EXPECT_EQ(seen.load(), 3);
  headless::ResetHostState();
}

}  // namespace
