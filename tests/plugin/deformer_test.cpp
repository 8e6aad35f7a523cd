// The deformer through the real tessamire.xdl64 in a headless document: the deform pass of the
// host, the failure table of DeformObject, tag gathering and filtering, the apply step's blends,
// drawing and dirty upkeep, and thread-count independence.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "headless/entries/falloff_entries.h"
#include "headless/entries/host_table.h"
#include "headless/scene/draw.h"
#include "host/abi/plugin_base.h"
#include "tests/support/deform_scene.h"

namespace {

using deform_scene::Faces;
using deform_scene::MaxDistance;
using deform_scene::PluginScene;
using deform_scene::SameBits;
using deform_scene::ToRef;
using headless::Node;

// Decoding a frame that turned and moved rounds differently from the rest pose: far below this.
constexpr Float kTolerance = 1e-9;

bool DeformerResult(const headless::DeformReport& report, const Node* deformer) {
  for (const auto& call : report.calls)
    if (call.deformer == deformer->serial) return call.result;
  ADD_FAILURE() << "the deformer did not run";
  return false;
}

bool DeformerRan(const headless::DeformReport& report, const Node* deformer) {
  for (const auto& call : report.calls)
    if (call.deformer == deformer->serial) return true;
  return false;
}

// A sheet with one bound tag, a point cache holding a twisted frame, then the deformer.
class DeformerTest : public PluginScene {
 protected:
  void Build(const reference::Settings& settings, Faces faces = Faces::kQuads) {
    mesh = deform_scene::Sheet(6, 5, faces);
    frame = deform_scene::Twist(mesh.points, 0.15, true, {0.2, -0.1, 0.3});
    object = AddMesh(mesh);
    tag = AddBoundTag(object, settings);
    cache = AddPointCache(object, frame);
    deformer = AddDeformer(object);
    this->settings = settings;
  }

  reference::Mesh Expected(const reference::Settings& s) const {
    return reference::BindAndCorrect(ToRef(mesh.points), ToRef(frame), ToRef(mesh.polygons), s);
  }

  headless::DeformReport Evaluate() {
    object->ClearDeliveredMessages();
    return headless::EvaluateDocument(*doc);
  }

  // The call's answer is `result`, the points are the frame as the point cache left it, and
  // message 5 reached the object only when `update`.
  void ExpectFrameKept(const headless::DeformReport& report, bool result, bool update) {
    EXPECT_EQ(DeformerResult(report, deformer), result);
    EXPECT_TRUE(SameBits(headless::DeformedPoints(object), frame));
    EXPECT_EQ(GotUpdate(object), update);
  }

  deform_scene::Mesh mesh;
  std::vector<Vector3> frame;
  reference::Settings settings;
  Node* object = nullptr;
  Node* tag = nullptr;
  Node* cache = nullptr;
  Node* deformer = nullptr;
};

// ---------------------------------------------------------------------------------------------
// The host's deform pass

TEST_F(DeformerTest, PassDeformsACopyAndKeepsTheStoredPoints) {
  Build({});
  const auto report = Evaluate();
  EXPECT_TRUE(report.Ok()) << report.errors.front();
  EXPECT_TRUE(SameBits(object->points, mesh.points));
  EXPECT_LT(MaxDistance(headless::DeformedPoints(object), Expected(settings)), kTolerance);
  ASSERT_EQ(report.executionList.entries.size(), 1u);
  EXPECT_EQ(report.executionList.entries[0].node, deformer->serial);
  EXPECT_EQ(report.executionList.entries[0].priority, 1000);
  EXPECT_EQ(report.executionList.entries[0].flags, 0);
  EXPECT_EQ(report.prepareResults, std::vector<Int32>{EXECUTIONRESULT_OK});
  // The point cache ran first, then the deformer.
  ASSERT_EQ(report.calls.size(), 2u);
  EXPECT_EQ(report.calls[0].deformer, cache->serial);
  EXPECT_EQ(report.calls[1].deformer, deformer->serial);
  EXPECT_FALSE(object->useDeformCache);
}

TEST_F(DeformerTest, DeformersRunInTreeOrder) {
  Build({});
  // Moving the point cache behind the deformer makes its frame the final word.
  doc->Remove(cache);
  doc->InsertLast(cache, object);
  const auto report = Evaluate();
  EXPECT_TRUE(report.Ok());
  EXPECT_TRUE(SameBits(headless::DeformedPoints(object), frame));
}

TEST_F(DeformerTest, DeformStateOffKeepsTheDeformerOut) {
  Build({});
  deformer->deformMode = false;
  const auto report = Evaluate();
  EXPECT_FALSE(DeformerRan(report, deformer));
  EXPECT_TRUE(SameBits(headless::DeformedPoints(object), frame));
  EXPECT_FALSE(GotUpdate(object));
}

TEST_F(DeformerTest, PointCacheFrameOfAnotherCountIsAnErrorAndKeepsThePoints) {
  Build({});
  frame.pop_back();
  headless::LoadPointCacheFrame(cache, frame);
  const auto report = Evaluate();
  ASSERT_EQ(report.errors.size(), 1u);
  EXPECT_NE(report.errors[0].find("holds " + std::to_string(frame.size()) + " points"),
            std::string::npos)
      << report.errors[0];
  EXPECT_NE(report.errors[0].find("has " + std::to_string(mesh.points.size())), std::string::npos);
  // The deformer still ran, on the object's own points: the rest pose comes back.
  EXPECT_LT(MaxDistance(headless::DeformedPoints(object), mesh.points), kTolerance);
}

TEST_F(DeformerTest, DeformerOutsideAPolygonObjectDoesNotDeform) {
  mesh = deform_scene::Sheet(3, 3);
  object = AddMesh(mesh);
  Node* group = doc->AddObject(headless::kNullObjectType, "group");
  deformer = AddDeformer(group);
  const auto report = Evaluate();
  EXPECT_FALSE(DeformerRan(report, deformer));
  // It still joined the execution list and was prepared.
  ASSERT_EQ(report.executionList.entries.size(), 1u);
  EXPECT_EQ(report.prepareResults.size(), 1u);
  EXPECT_TRUE(SameBits(headless::DeformedPoints(object), mesh.points));
}

// ---------------------------------------------------------------------------------------------
// Failure table of DeformObject: result, points, message 5

TEST_F(DeformerTest, NotAPolygonObjectAnswersTrueAndChangesNothing) {
  Build({});
  Node* group = doc->AddObject(headless::kNullObjectType, "group");
  auto* data = static_cast<ObjectData*>(deformer->instance);
  EXPECT_TRUE(data->CallDeformObject(headless::ToObject(deformer), headless::ToDocument(doc.get()),
                                     headless::ToObject(group), Matrix{}, Matrix{}, 1.0, 0,
                                     nullptr));
  EXPECT_FALSE(GotUpdate(group));
}

TEST_F(DeformerTest, NoFalloffEvaluatorAnswersTrueAndChangesNothing) {
  headless::WithholdFalloffLibrary(true);
  Build({});
  const auto report = Evaluate();
  ExpectFrameKept(report, true, false);
}

TEST_F(DeformerTest, NoTagsAnswersTrueWithoutMessage) {
  mesh = deform_scene::Sheet(4, 4);
  frame = deform_scene::Twist(mesh.points, 0.2, true);
  object = AddMesh(mesh);
  AddPointCache(object, frame);
  deformer = AddDeformer(object);
  const auto report = Evaluate();
  ExpectFrameKept(report, true, false);
}

TEST_F(DeformerTest, TagsButNoBindTagAnswersTrueWithMessage) {
  mesh = deform_scene::Sheet(4, 4);
  frame = deform_scene::Twist(mesh.points, 0.2, true);
  object = AddMesh(mesh);
  doc->AddVertexMap(object, std::vector<Float32>(mesh.points.size(), 1.0f), "map");
  AddPointCache(object, frame);
  deformer = AddDeformer(object);
  const auto report = Evaluate();
  ExpectFrameKept(report, true, true);
}

TEST_F(DeformerTest, TagWithoutCarryingObjectEndsTheCallAfterEarlierTags) {
  Build({});
  Node* second = AddBoundTag(object, {});
  // The host answers no carrying object for the second tag.
  second->up = nullptr;
  object->ClearDeliveredMessages();
  const auto report = headless::DeformDocument(*doc);
  second->up = object;
  EXPECT_TRUE(DeformerResult(report, deformer));
  EXPECT_LT(MaxDistance(headless::DeformedPoints(object), Expected(settings)), kTolerance);
  EXPECT_FALSE(GotUpdate(object));
}

// A deformer from a scene that holds no list (a fresh one has an empty list).
TEST_F(DeformerTest, IncludeModeWithoutListAnswersTrueWithoutMessage) {
  Build({});
  ASSERT_TRUE(deformer->params.Erase(OTESSAMIRE_OBJECTLIST));
  deformer->params.SetInt32(OTESSAMIRE_FILTERMODE, 0);
  const auto report = Evaluate();
  ExpectFrameKept(report, true, false);
}

TEST_F(DeformerTest, DifferencesOfAnotherCountAnswerTrueWithoutMessage) {
  Build({});
  EXPECT_TRUE(headless::PressButton(tag, TTESSAMIRE_UNBIND));
  // The deform pass alone: an evaluation would let the live tag bind again first.
  object->ClearDeliveredMessages();
  const auto report = headless::DeformDocument(*doc);
  ExpectFrameKept(report, true, false);
}

TEST_F(DeformerTest, VertexMapOfAnotherCountAnswersFalseAfterEarlierTags) {
  Build({});
  Node* second = AddBoundTag(object, {});
  Node* shortMap =
      doc->AddVertexMap(object, std::vector<Float32>(mesh.points.size() - 1, 1.0f), "short");
  // Linked after the bind, as a user could not do on a bound tag, so that only the deformer
  // meets the mismatch.
  second->params.SetLink(TTESSAMIRE_VERTEXMAP, shortMap->serial);
  const auto report = Evaluate();
  EXPECT_FALSE(DeformerResult(report, deformer));
  ASSERT_EQ(report.errors.size(), 1u);
  EXPECT_NE(report.errors[0].find("DeformObject answered false"), std::string::npos);
  EXPECT_LT(MaxDistance(headless::DeformedPoints(object), Expected(settings)), kTolerance);
  EXPECT_FALSE(GotUpdate(object));
}

// A polygon index at the point count or below 0, in any corner: the deformer answers false and
// leaves the points, and its core refused the polygons before the host's adjacency saw them.
TEST_F(DeformerTest, PolygonIndicesOutsideThePointsAnswerFalseAndKeepThePoints) {
  Build({});
  const std::pair<char, Int32 CPolygon::*> corners[] = {
      {'a', &CPolygon::a}, {'b', &CPolygon::b}, {'c', &CPolygon::c}, {'d', &CPolygon::d}};
  for (const auto& [name, corner] : corners) {
    for (const Int32 index : {static_cast<Int32>(mesh.points.size()), -1}) {
      SCOPED_TRACE(std::string(1, name) + " = " + std::to_string(index));
      std::vector<CPolygon> polygons = mesh.polygons;
      polygons[7].*corner = index;
      headless::SetMeshUnvalidated(object, mesh.points, polygons);
      // The deform pass alone, so that only the deformer meets the broken mesh.
      object->ClearDeliveredMessages();
      ExpectFrameKept(headless::DeformDocument(*doc), false, false);
    }
  }
  EXPECT_EQ(headless::HostErrors(), std::vector<std::string>{});
}

TEST_F(DeformerTest, AllocationFailuresLeaveThePointsAndFreeEverything) {
  Build({});
  Evaluate();  // takes the bind's topology, freed with the deformer below: each call builds its own
  const reference::Mesh corrected = Expected(settings);
  bool sawFalse = false;
  bool sawSuccess = false;
  bool sawPlainRun = false;
  for (Int64 n = 1; n < 500 && !sawSuccess; ++n) {
    // A fresh deformer each time, deleted after the call, so that what it keeps between
    // evaluations is freed too and every block and byte of the call is accounted for.
    doc->Delete(deformer);
    const auto before = headless::GetAllocationStats();
    deformer = AddDeformer(object);
    object->ClearDeliveredMessages();
    const Int64 attempts = headless::AllocationAttempts();
    headless::FailNthAllocation(n);
    const auto report = headless::DeformDocument(*doc);
    headless::FailNthAllocation(0);
    const bool fired = headless::AllocationAttempts() - attempts >= n;
    const std::vector<Vector3> points = headless::DeformedPoints(object);
    const bool result = DeformerResult(report, deformer);
    doc->Delete(deformer);
    EXPECT_EQ(headless::GetAllocationStats().blocksInUse, before.blocksInUse) << "allocation " << n;
    EXPECT_EQ(headless::GetAllocationStats().bytesInUse, before.bytesInUse) << "allocation " << n;
    deformer = AddDeformer(object);
    if (!fired) {
      // The failure never fired: the whole call ran.
      sawSuccess = true;
      EXPECT_TRUE(result);
      EXPECT_LT(MaxDistance(points, corrected), kTolerance);
      EXPECT_TRUE(GotUpdate(object));
    } else if (!result) {
      // Frame buffer, controller thread or a buffer of the run.
      sawFalse = true;
      EXPECT_TRUE(SameBits(points, frame)) << "allocation " << n;
      EXPECT_FALSE(GotUpdate(object)) << "allocation " << n;
    } else if (SameBits(points, frame)) {
      // The tag list may fail silently: then no bind tag was gathered.
      EXPECT_TRUE(GotUpdate(object)) << "allocation " << n;
    } else {
      // Or the topology kept between evaluations: the call then runs as a plain one.
      sawPlainRun = true;
      EXPECT_LT(MaxDistance(points, corrected), kTolerance) << "allocation " << n;
      EXPECT_TRUE(GotUpdate(object)) << "allocation " << n;
    }
  }
  EXPECT_TRUE(sawFalse);
  EXPECT_TRUE(sawSuccess);
  EXPECT_TRUE(sawPlainRun);
}

TEST_F(DeformerTest, ObjectWithoutPointsAnswersTrueWithMessage) {
  object = doc->AddPolygonObject("empty", {}, {});
  AddBoundTag(object, {});
  deformer = AddDeformer(object);
  const auto report = Evaluate();
  EXPECT_TRUE(DeformerResult(report, deformer));
  EXPECT_TRUE(headless::DeformedPoints(object).empty());
  EXPECT_TRUE(GotUpdate(object));
}

TEST_F(DeformerTest, AllTagsAppliedAnswersTrueWithMessage) {
  Build({});
  const auto report = Evaluate();
  EXPECT_TRUE(DeformerResult(report, deformer));
  EXPECT_LT(MaxDistance(headless::DeformedPoints(object), Expected(settings)), kTolerance);
  EXPECT_TRUE(GotUpdate(object));
}

// ---------------------------------------------------------------------------------------------
// Gathering and filtering the bind tags

TEST_F(DeformerTest, FreshDeformerAppliesEveryEnabledTagInTagOrder) {
  reference::Settings first;
  first.iterations = 1;
  first.weighting = 0;
  Build(first);
  reference::Settings disabled;
  Node* off = AddBoundTag(object, disabled);
  off->params.SetInt32(TTESSAMIRE_ENABLED, 0);
  reference::Settings third;
  third.iterations = 3;
  third.pinBorder = true;
  third.strength = 0.7f;
  AddBoundTag(object, third);
  EXPECT_EQ(deformer->params.GetInt32(OTESSAMIRE_FILTERMODE), 1);
  const headless::InExcludeValue* list = deformer->params.GetInExclude(OTESSAMIRE_OBJECTLIST);
  ASSERT_NE(list, nullptr) << "the host gives the described list";
  EXPECT_TRUE(list->targets.empty());

  const auto report = Evaluate();
  EXPECT_TRUE(DeformerResult(report, deformer));
  const auto faces = ToRef(mesh.polygons);
  const auto rest = ToRef(mesh.points);
  const auto afterFirst =
      reference::Correct(ToRef(frame), faces, reference::Bind(rest, faces, first), first);
  const auto afterThird =
      reference::Correct(afterFirst, faces, reference::Bind(rest, faces, third), third);
  EXPECT_LT(MaxDistance(headless::DeformedPoints(object), afterThird), kTolerance);
  // The other order gives something else, so the order was really followed.
  const auto swapped = reference::Correct(
      reference::Correct(ToRef(frame), faces, reference::Bind(rest, faces, third), third), faces,
      reference::Bind(rest, faces, first), first);
  EXPECT_GT(MaxDistance(headless::DeformedPoints(object), swapped), 1e-6);
}

TEST_F(DeformerTest, IncludeModeOnAFreshDeformerAppliesNothingButSendsTheMessage) {
  Build({});
  deformer->params.SetInt32(OTESSAMIRE_FILTERMODE, 0);
  const auto report = Evaluate();
  ExpectFrameKept(report, true, true);
}

TEST_F(DeformerTest, ListedObjectIsKeptInIncludeModeAndSkippedInExcludeMode) {
  Build({});
  deformer->params.SetInExclude(OTESSAMIRE_OBJECTLIST, {object->serial});
  deformer->params.SetInt32(OTESSAMIRE_FILTERMODE, 0);
  Evaluate();
  EXPECT_LT(MaxDistance(headless::DeformedPoints(object), Expected(settings)), kTolerance);

  deformer->params.SetInt32(OTESSAMIRE_FILTERMODE, 1);
  const auto report = Evaluate();
  ExpectFrameKept(report, true, true);
}

TEST_F(DeformerTest, ListLookupAnswersTheIndexInTheGivenDocumentOnly) {
  Build({});
  Node* other = AddMesh(deform_scene::Sheet(2, 2));
  headless::Container list;
  list.SetInExclude(OTESSAMIRE_OBJECTLIST, {other->serial, object->serial});
  const auto* entries =
      reinterpret_cast<const InExcludeData*>(list.GetInExclude(OTESSAMIRE_OBJECTLIST));
  const HostTable& host = headless::HostTableInstance();
  BaseDocument* here = headless::ToDocument(doc.get());
  EXPECT_EQ(host.inExcludeIndex(entries, here, headless::ToList(object)), 1);
  EXPECT_EQ(host.inExcludeIndex(entries, here, headless::ToList(other)), 0);
  EXPECT_EQ(host.inExcludeIndex(entries, here, headless::ToList(deformer)), -1);
  const auto elsewhere = headless::NewDocument();
  EXPECT_EQ(
      host.inExcludeIndex(entries, headless::ToDocument(elsewhere.get()), headless::ToList(object)),
      -1);
  // Taken out of the document, the object is no longer found there.
  doc->Remove(other);
  EXPECT_EQ(host.inExcludeIndex(entries, here, headless::ToList(other)), -1);
  headless::DestroyNode(other);
}

TEST_F(DeformerTest, FirstTagWithEmptyDifferencesBlocksTheSecond) {
  Build({});
  AddBoundTag(object, {});
  EXPECT_TRUE(headless::PressButton(tag, TTESSAMIRE_UNBIND));
  object->ClearDeliveredMessages();
  const auto report = headless::DeformDocument(*doc);
  ExpectFrameKept(report, true, false);
}

TEST_F(DeformerTest, DisabledAndZeroIterationTagsArePassedOver) {
  Build({});
  tag->params.SetInt32(TTESSAMIRE_ENABLED, 0);
  reference::Settings none;
  none.iterations = 0;
  AddBoundTag(object, none);
  const auto report = Evaluate();
  ExpectFrameKept(report, true, true);
}

TEST_F(DeformerTest, VertexMapWeightsTheSmoothingAndAnEmptyLinkRunsWithout) {
  mesh = deform_scene::Sheet(6, 5);
  frame = deform_scene::Twist(mesh.points, 0.15, true);
  object = AddMesh(mesh);
  reference::Settings weighted;
  for (size_t i = 0; i < mesh.points.size(); ++i)
    weighted.vertexMap.push_back(static_cast<Float32>(i % 5) / 4.0f);
  Node* map = doc->AddVertexMap(object, weighted.vertexMap, "weights");
  AddBoundTag(object, weighted, map);
  AddPointCache(object, frame);
  deformer = AddDeformer(object);
  Evaluate();
  const auto faces = ToRef(mesh.polygons);
  EXPECT_LT(
      MaxDistance(headless::DeformedPoints(object),
                  reference::BindAndCorrect(ToRef(mesh.points), ToRef(frame), faces, weighted)),
      kTolerance);

  // Use-vertex-map stays on, but nothing is linked: plain smoothing.
  tag = doc->FirstObject()->firstTag->next;
  ASSERT_EQ(tag->type, ID_TTESSAMIRE);
  tag->params.SetLink(TTESSAMIRE_VERTEXMAP, 0);
  EXPECT_TRUE(headless::PressButton(tag, TTESSAMIRE_BIND));
  Evaluate();
  EXPECT_LT(MaxDistance(headless::DeformedPoints(object),
                        reference::BindAndCorrect(ToRef(mesh.points), ToRef(frame), faces, {})),
            kTolerance);
}

// ---------------------------------------------------------------------------------------------
// What the apply step gives

TEST_F(DeformerTest, ShowSmoothedGivesTheSmoothedMesh) {
  reference::Settings smoothed;
  smoothed.showSmoothed = true;
  smoothed.iterations = 3;
  Build(smoothed, Faces::kMixed);
  Evaluate();
  const auto faces = ToRef(mesh.polygons);
  const auto expected =
      reference::Smooth(ToRef(frame), reference::BuildTopology(frame.size(), faces), smoothed);
  EXPECT_LT(MaxDistance(headless::DeformedPoints(object), expected), kTolerance);
}

TEST_F(DeformerTest, RestPoseComesBack) {
  for (const auto& m : {deform_scene::Sheet(5, 4, Faces::kMixed), deform_scene::Ring(12, 8)}) {
    doc = headless::NewDocument();
    object = AddMesh(m);
    AddBoundTag(object, {});
    deformer = AddDeformer(object);
    Evaluate();
    EXPECT_LT(MaxDistance(headless::DeformedPoints(object), m.points), kTolerance);
  }
}

TEST_F(DeformerTest, RigidlyMovedMeshGivesTheMovedRestMesh) {
  for (const auto& m :
       {deform_scene::Sheet(5, 4, Faces::kTriangles), deform_scene::Ring(12, 8, Faces::kMixed)}) {
    doc = headless::NewDocument();
    object = AddMesh(m);
    AddBoundTag(object, {});
    const auto moved = deform_scene::Rigid(m.points, 0.9, {3.0, -2.0, 5.0});
    AddPointCache(object, moved);
    deformer = AddDeformer(object);
    Evaluate();
    EXPECT_LT(MaxDistance(headless::DeformedPoints(object), moved), kTolerance);
  }
}

TEST_F(DeformerTest, RestrictionWeightsZeroAndHalf) {
  Build({});
  reference::Settings restricted = settings;
  for (size_t i = 0; i < mesh.points.size(); ++i)
    restricted.restriction.push_back(i % 2 == 0 ? 0.0f : 0.5f);
  Node* map = doc->AddVertexMap(object, restricted.restriction, "restriction");
  headless::RestrictDeformer(deformer, map);
  const auto report = Evaluate();
  EXPECT_TRUE(report.warnings.empty());
  const std::vector<Vector3>& points = headless::DeformedPoints(object);
  const reference::Mesh full = Expected(settings);
  for (size_t i = 0; i < points.size(); ++i) {
    if (i % 2 == 0) {
      EXPECT_EQ(std::memcmp(&points[i], &frame[i], sizeof(Vector3)), 0) << "point " << i;
    } else {
      EXPECT_NEAR(points[i].x, 0.5 * full[i][0] + 0.5 * frame[i].x, kTolerance);
      EXPECT_NEAR(points[i].y, 0.5 * full[i][1] + 0.5 * frame[i].y, kTolerance);
      EXPECT_NEAR(points[i].z, 0.5 * full[i][2] + 0.5 * frame[i].z, kTolerance);
    }
  }
}

TEST_F(DeformerTest, RestrictionMapOfAnotherSizeIsAWarningAndNoWeights) {
  Build({});
  Node* map =
      doc->AddVertexMap(object, std::vector<Float32>(mesh.points.size() + 2, 0.0f), "restriction");
  headless::RestrictDeformer(deformer, map);
  const auto report = Evaluate();
  ASSERT_EQ(report.warnings.size(), 1u);
  EXPECT_NE(
      report.warnings[0].find("'restriction' holds " + std::to_string(mesh.points.size() + 2)),
      std::string::npos)
      << report.warnings[0];
  EXPECT_LT(MaxDistance(headless::DeformedPoints(object), Expected(settings)), kTolerance);
  EXPECT_THROW(headless::RestrictDeformer(object, map), std::invalid_argument);
  EXPECT_THROW(headless::RestrictDeformer(deformer, tag), std::invalid_argument);
}

TEST_F(DeformerTest, FalloffWeightZeroLeavesEveryPointExactly) {
  Build({});
  deformer->params.SetInt32(headless::kFalloffShape, headless::kFalloffShapeSphere);
  deformer->params.SetFloat(headless::kFalloffRadius, 0.01);
  // The sheet's corner point sits at the origin in the rest mesh, but the frame moved it away.
  const auto report = Evaluate();
  ExpectFrameKept(report, true, true);
}

// ---------------------------------------------------------------------------------------------
// Topology kept between evaluations; points a frame cannot place

TEST_F(DeformerTest, TopologyIsKeptBetweenEvaluationsAndFreedWithTheDeformer) {
  Build({});
  Evaluate();  // takes the bind's topology, freed with the deformer: the next one builds its own
  doc->Delete(deformer);
  const Int64 blocks = headless::GetAllocationStats().blocksInUse;
  deformer = AddDeformer(object);
  Int64 attempts = headless::AllocationAttempts();
  Evaluate();
  const Int64 firstCall = headless::AllocationAttempts() - attempts;
  EXPECT_LT(MaxDistance(headless::DeformedPoints(object), Expected(settings)), kTolerance);

  // The next frame: same polygons, other points; the topology is not built again.
  frame = deform_scene::Twist(mesh.points, -0.2, true, {0.1, 0.3, -0.2});
  headless::LoadPointCacheFrame(cache, frame);
  attempts = headless::AllocationAttempts();
  Evaluate();
  EXPECT_LT(headless::AllocationAttempts() - attempts, firstCall);
  EXPECT_LT(MaxDistance(headless::DeformedPoints(object), Expected(settings)), kTolerance);

  doc->Delete(deformer);
  deformer = nullptr;
  EXPECT_EQ(headless::GetAllocationStats().blocksInUse, blocks);
}

TEST_F(DeformerTest, TheFirstEvaluationAfterABindTakesTheBindsTopologyOnlyForTheSamePolygons) {
  Build({});
  Int64 attempts = headless::AllocationAttempts();
  Evaluate();
  const Int64 firstCall = headless::AllocationAttempts() - attempts;
  EXPECT_LT(MaxDistance(headless::DeformedPoints(object), Expected(settings)), kTolerance);
  attempts = headless::AllocationAttempts();
  Evaluate();
  // Building a topology takes a dozen blocks; the first call only adds the deformer's list entry.
  EXPECT_LE(firstCall, headless::AllocationAttempts() - attempts + 1) << "the bind's is used";

  // The first polygon moved onto the last one's corners after the bind, as many polygons as before:
  // the bind's topology is theirs no more, so the first evaluation builds its own, as a deformer
  // that never met the bind does.
  EXPECT_TRUE(headless::PressButton(tag, TTESSAMIRE_UNBIND));
  ASSERT_TRUE(headless::PressButton(tag, TTESSAMIRE_BIND));
  object->polygons.front() = object->polygons.back();
  Evaluate();
  const std::vector<Vector3> handedOn = headless::DeformedPoints(object);
  doc->Delete(deformer);
  deformer = AddDeformer(object);
  Evaluate();
  EXPECT_TRUE(SameBits(handedOn, headless::DeformedPoints(object)));
  EXPECT_FALSE(SameBits(handedOn, frame)) << "the deformer ran";
}

// Every point on one line: no polygon has a normal, every frame is singular. Each point stays
// where the point cache put it instead of landing on its smoothed position.
TEST_F(DeformerTest, SingularFramesKeepThePointsFromAbove) {
  Build({});
  for (size_t i = 0; i < frame.size(); ++i) frame[i] = {0.01 * Float(i * i), 0.0, 0.0};
  headless::LoadPointCacheFrame(cache, frame);
  const auto smoothed = reference::Smooth(
      ToRef(frame), reference::BuildTopology(frame.size(), ToRef(mesh.polygons)), settings);
  ASSERT_GT(MaxDistance(frame, smoothed), 1e-3) << "the smoothing moves the points";
  const auto report = Evaluate();
  EXPECT_TRUE(DeformerResult(report, deformer));
  EXPECT_TRUE(SameBits(headless::DeformedPoints(object), frame));
  EXPECT_EQ(report.calls.back().pointsKept, 0) << "a singular frame is no fault of the numbers";
}

// Four collinear points around x = 10 bind with singular frames (their triangles have no normal).
// Bent a little, their frames are regular: each point lands within its rest distance of its
// smoothed position, as the reference has it, not at a turned copy of where it stood in space
// (which put them between x = 4 and x = 22).
TEST_F(DeformerTest, PointsBoundWithSingularFramesStayNearTheirSmoothedPosition) {
  mesh.points = {{9.7, 0.0, 0.0}, {9.9, 0.0, 0.0}, {10.1, 0.0, 0.0}, {10.3, 0.0, 0.0}};
  mesh.polygons = {{0, 1, 2, 2}, {1, 2, 3, 3}};
  frame = mesh.points;
  frame[1].y = 0.2;
  frame[2].y = -0.1;
  object = AddMesh(mesh);
  tag = AddBoundTag(object, settings);
  cache = AddPointCache(object, frame);
  deformer = AddDeformer(object);
  const auto report = Evaluate();
  EXPECT_TRUE(DeformerResult(report, deformer));
  const std::vector<Vector3>& points = headless::DeformedPoints(object);
  const reference::Faces faces = ToRef(mesh.polygons);
  const auto topology = reference::BuildTopology(mesh.points.size(), faces);
  const auto restSmoothed = reference::Smooth(ToRef(mesh.points), topology, settings);
  const auto smoothed = reference::Smooth(ToRef(frame), topology, settings);
  const auto distance = [](const Vector3& p, const reference::Vec& q) {
    return std::hypot(p.x - q[0], p.y - q[1], p.z - q[2]);
  };
  for (size_t i = 0; i < points.size(); ++i)
    EXPECT_LE(distance(points[i], smoothed[i]),
              distance(mesh.points[i], restSmoothed[i]) + kTolerance)
        << i;
  EXPECT_LT(MaxDistance(points, Expected(settings)), kTolerance);
}

// A point far out (squares overflow) makes its neighbourhood's results not finite: those points
// keep their input, the others are corrected, and the host hears how many were kept.
TEST_F(DeformerTest, NonFiniteResultsKeepTheirInputAndAreReported) {
  Build({});
  frame[17] = {1e300, 0.0, 0.0};
  headless::LoadPointCacheFrame(cache, frame);
  const auto report = Evaluate();
  EXPECT_TRUE(DeformerResult(report, deformer));
  const std::vector<Vector3>& points = headless::DeformedPoints(object);
  Int64 kept = 0;
  for (size_t i = 0; i < points.size(); ++i) {
    EXPECT_TRUE(std::isfinite(points[i].x) && std::isfinite(points[i].y) &&
                std::isfinite(points[i].z))
        << i;
    if (std::memcmp(&points[i], &frame[i], sizeof(Vector3)) == 0) ++kept;
  }
  EXPECT_GT(kept, 0);
  EXPECT_LT(kept, static_cast<Int64>(points.size())) << "the points far away are corrected";
  EXPECT_EQ(report.calls.back().pointsKept, kept);
  ASSERT_FALSE(report.warnings.empty());
  EXPECT_NE(report.warnings.back().find(std::to_string(kept) + " points"), std::string::npos);
  EXPECT_TRUE(GotUpdate(object));

  // Finite input again: nothing is reported.
  frame[17] = mesh.points[17];
  headless::LoadPointCacheFrame(cache, frame);
  EXPECT_EQ(Evaluate().calls.back().pointsKept, 0);
}

// ---------------------------------------------------------------------------------------------
// Deform state, drawing, dirty upkeep

TEST_F(DeformerTest, MessageTwentyTwoTurnsTheDeformStateOnAndDrawOverlayThenDraws) {
  Build({});
  deformer->params.SetInt32(headless::kFalloffShape, headless::kFalloffShapeSphere);
  const HostTable& host = headless::HostTableInstance();
  host.objectSetDeformMode(headless::ToObject(deformer), false);

  headless::DrawView view;
  EXPECT_EQ(headless::DrawObject(deformer, DRAWPASS_HANDLES, view), DRAWRESULT_SKIP);
  EXPECT_TRUE(view.records.empty());

  EXPECT_TRUE(host.nodeMessage(headless::ToList(deformer), MSG_MENUPREPARE, nullptr));
  EXPECT_TRUE(host.objectGetDeformMode(headless::ToObject(deformer)));
  EXPECT_EQ(headless::DrawObject(deformer, DRAWPASS_HANDLES, view), DRAWRESULT_OK);
  ASSERT_EQ(view.records.size(), 2u);
  EXPECT_EQ(view.records[0].kind, headless::DrawRecord::Kind::kFalloff);
  EXPECT_EQ(view.records[0].shape, headless::kFalloffShapeSphere);
  EXPECT_EQ(view.records[1].kind, headless::DrawRecord::Kind::kHandle);
  EXPECT_EQ(view.records[1].node, deformer->serial);
  EXPECT_EQ(view.records[1].handle.position.x, headless::kFalloffDefaultRadius);

  // Other passes draw the falloff but no handles; without handles the default drawing skips.
  view.records.clear();
  EXPECT_EQ(headless::DrawObject(deformer, DRAWPASS_OBJECT, view), DRAWRESULT_SKIP);
  EXPECT_EQ(view.records.size(), 1u);
  deformer->params.SetInt32(headless::kFalloffShape, headless::kFalloffShapeInfinite);
  EXPECT_EQ(headless::DrawObject(deformer, DRAWPASS_HANDLES, view), DRAWRESULT_SKIP);
}

TEST_F(DeformerTest, RefreshDirtyMarksDirtyOnlyWhenTheFalloffChanges) {
  Build({});
  auto* data = static_cast<ObjectData*>(deformer->instance);
  auto refresh = [&] {
    data->CallRefreshDirty(headless::ToObject(deformer), headless::ToDocument(doc.get()));
  };
  const Int32 before = deformer->dirtyCount.load();
  refresh();
  refresh();
  EXPECT_EQ(deformer->dirtyCount.load(), before);
  deformer->params.SetFloat(headless::kFalloffRadius, 2.5);
  refresh();
  EXPECT_EQ(deformer->dirtyCount.load(), before + 1);
  refresh();
  Evaluate();  // the evaluation's upkeep asks too
  EXPECT_EQ(deformer->dirtyCount.load(), before + 1);
  // Moving the radius handle is a change as well.
  data->CallWriteHandle(headless::ToObject(deformer), 0, {4.0, 0.0, 0.0}, HandleInfo{});
  refresh();
  EXPECT_EQ(deformer->dirtyCount.load(), before + 1);  // infinite shape: no handle to move
  deformer->params.SetInt32(headless::kFalloffShape, headless::kFalloffShapeSphere);
  refresh();
  EXPECT_EQ(deformer->dirtyCount.load(), before + 2);
  data->CallWriteHandle(headless::ToObject(deformer), 0, {4.0, 0.0, 0.0}, HandleInfo{});
  EXPECT_EQ(deformer->params.GetFloat(headless::kFalloffRadius), 4.0);
  refresh();
  EXPECT_EQ(deformer->dirtyCount.load(), before + 3);
}

// ---------------------------------------------------------------------------------------------
// Thread count

TEST_F(DeformerTest, OneWorkerAndManyWorkersGiveTheSameBits) {
  const deform_scene::Mesh m = deform_scene::Ring(40, 24, Faces::kMixed);
  object = AddMesh(m);
  AddBoundTag(object, {});
  const auto twisted = deform_scene::Twist(m.points, 0.3, false, {0.5, 0.0, 0.0});
  AddPointCache(object, twisted);
  deformer = AddDeformer(object);
  deformer->params.SetInt32(headless::kFalloffShape, headless::kFalloffShapeSphere);
  deformer->params.SetFloat(headless::kFalloffRadius, 4.0);
  deformer->params.SetFloat(headless::kFalloffInnerRadius, 2.5);

  headless::SetWorkerCount(1);
  Evaluate();
  const std::vector<Vector3> one = headless::DeformedPoints(object);
  headless::SetWorkerCount(6);
  Evaluate();
  const std::vector<Vector3> many = headless::DeformedPoints(object);
  headless::EnableParallelFor(false);
  Evaluate();
  const std::vector<Vector3> serial = headless::DeformedPoints(object);
  EXPECT_TRUE(SameBits(one, many));
  EXPECT_TRUE(SameBits(one, serial));
  EXPECT_FALSE(SameBits(one, twisted));
}

}  // namespace
