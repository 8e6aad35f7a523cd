// The bind tag's record, buttons, parameters and execution step, and its stored form, through the
// real library in the headless host.
#include <cmath>
#include <limits>

#include "headless/entries/framework.h"
#include "headless/entries/stream.h"
#include "headless/io/scene_file.h"
#include "headless/scene/evaluate.h"
#include "headless/scene/parameters.h"
#include "host/abi/plugin_base.h"
#include "tests/support/bind_record.h"
#include "tests/support/bind_tag_fixture.h"

namespace {

using namespace bind_tag;
using headless::MemoryStream;
using headless::Node;

constexpr Int64 kVectorBytes = 24;

// ---------------------------------------------------------------------------------------------
// A fresh tag, the bind and unbind buttons

using BindButtons = BindTagFixture;

TEST_F(BindButtons, FreshTagHasItsDefaultsAnEmptyRecordAndTheStatusForZero) {
  Node* tag = doc->AddTag(AddGrid(4, 4), ID_TTESSAMIRE);
  ASSERT_NE(tag, nullptr);
  EXPECT_EQ(tag->params.GetInt32(TTESSAMIRE_ITERATIONS), 2);
  EXPECT_EQ(tag->params.GetInt32(TTESSAMIRE_WEIGHTING), 1);
  EXPECT_EQ(tag->params.GetInt32(TTESSAMIRE_PINBORDER), 0);
  EXPECT_EQ(tag->params.GetFloat(TTESSAMIRE_STRENGTH), 1.0);
  EXPECT_EQ(tag->params.GetInt32(TTESSAMIRE_USEVERTEXMAP), 1);
  EXPECT_EQ(tag->params.Find(TTESSAMIRE_SHOWSMOOTH), nullptr);
  EXPECT_EQ(tag->params.Find(TTESSAMIRE_VERTEXMAP), nullptr);
  EXPECT_EQ(Status(tag), ResourceString(1002) + "0");
  EXPECT_FALSE(Record(tag).bound);
  EXPECT_EQ(Record(tag).differences.GetCount(), 0);
  EXPECT_EQ(Record(tag).differences.GetData(), nullptr);
}

TEST_F(BindButtons, BindOnAThousandPointsSetsBoundAndReportsTheBytes) {
  Node* object = AddGrid(40, 25);
  ASSERT_EQ(object->points.size(), 1000u);
  Node* tag = doc->AddTag(object, ID_TTESSAMIRE);
  const Int64 refreshes = headless::RefreshRequests();
  EXPECT_TRUE(headless::PressButton(tag, TTESSAMIRE_BIND));
  EXPECT_EQ(Status(tag), ResourceString(1002) + "24000");
  EXPECT_TRUE(Record(tag).bound);
  EXPECT_EQ(Record(tag).differences.GetCount(), 1000);
  EXPECT_EQ(Record(tag).differences.GetCapacity(), 1000);
  EXPECT_EQ(headless::RefreshRequests(), refreshes + 1);
  const auto console = headless::ConsoleLines();
  ASSERT_FALSE(console.empty());
  EXPECT_EQ(console.back(), "initial button prout");
}

// The bind builds the frames an evaluation builds and encodes each point as its frame comes: at
// its peak it holds no more than the deformer's first evaluation of the mesh (which builds the
// topology too) and the differences it fills, not a frame of every point (96 bytes each).
TEST_F(BindButtons, TheBindHoldsNoMoreThanAFirstEvaluationAndItsDifferences) {
  Node* object = AddGrid(100, 100);
  Node* tag = doc->AddTag(object, ID_TTESSAMIRE);
  const auto peakOf = [](const auto& run) {
    headless::ResetPeakBytes();
    const Int64 before = headless::GetAllocationStats().bytesInUse;
    run();
    return headless::GetAllocationStats().peakBytes - before;
  };
  const Int64 bind = peakOf([&] { ASSERT_TRUE(headless::PressButton(tag, TTESSAMIRE_BIND)); });
  // The first deformer takes the topology the bind built; the next builds its own.
  Node* first = doc->AddObject(ID_OTESSAMIRE, "deformer", object);
  ASSERT_NE(first, nullptr);
  headless::EvaluateDocument(*doc);
  doc->Delete(first);
  ASSERT_NE(doc->AddObject(ID_OTESSAMIRE, "deformer", object), nullptr);
  const Int64 evaluation = peakOf([&] { headless::EvaluateDocument(*doc); });
  EXPECT_LE(bind, evaluation + 10000 * kVectorBytes);
}

TEST_F(BindButtons, BindOnANonPolygonCarrierFailsAndOnlyResetsTheStatus) {
  Node* carrier = doc->AddObject(headless::kNullObjectType, "null");
  Node* tag = doc->AddTag(carrier, ID_TTESSAMIRE);
  tag->params.SetString(TTESSAMIRE_BINDINFO, "something else");
  EXPECT_FALSE(headless::PressButton(tag, TTESSAMIRE_BIND));
  EXPECT_FALSE(Record(tag).bound);
  EXPECT_EQ(Record(tag).differences.GetCount(), 0);
  EXPECT_EQ(Status(tag), ResourceString(1002) + "0");
  EXPECT_EQ(headless::ConsoleLines().back(), "initial button prout");
}

TEST_F(BindButtons, UnbindReleasesTheMemoryOfTheDifferences) {
  Node* tag = doc->AddTag(AddGrid(40, 25), ID_TTESSAMIRE);
  ASSERT_TRUE(headless::PressButton(tag, TTESSAMIRE_BIND));
  const Int64 before = headless::GetAllocationStats().bytesInUse;
  EXPECT_TRUE(headless::PressButton(tag, TTESSAMIRE_UNBIND));
  const Int64 after = headless::GetAllocationStats().bytesInUse;
  EXPECT_GE(before - after, 1000 * kVectorBytes);
  EXPECT_FALSE(Record(tag).bound);
  EXPECT_EQ(Record(tag).differences.GetCount(), 0);
  EXPECT_EQ(Record(tag).differences.GetCapacity(), 0);
  EXPECT_EQ(Record(tag).differences.GetData(), nullptr);
}

TEST_F(BindButtons, BindingTwiceAndWithOneWorkerGivesTheSameBits) {
  Node* tag = doc->AddTag(AddGrid(23, 17), ID_TTESSAMIRE);
  ASSERT_TRUE(headless::PressButton(tag, TTESSAMIRE_BIND));
  const auto first = Differences(tag);
  ASSERT_TRUE(headless::PressButton(tag, TTESSAMIRE_BIND));
  EXPECT_TRUE(SameBits(first, Differences(tag)));
  headless::EnableParallelFor(false);
  const bool bound = headless::PressButton(tag, TTESSAMIRE_BIND);
  headless::EnableParallelFor(true);
  ASSERT_TRUE(bound);
  EXPECT_TRUE(SameBits(first, Differences(tag)));
}

TEST_F(BindButtons, OtherMessagesAndButtonsChangeNothing) {
  Node* tag = doc->AddTag(AddGrid(5, 5), ID_TTESSAMIRE);
  ASSERT_TRUE(headless::PressButton(tag, TTESSAMIRE_BIND));
  const auto before = Differences(tag);
  DescriptionCommand other;
  other.id = TTESSAMIRE_SHOWSMOOTH;
  EXPECT_TRUE(
      tag->instance->CallHandleMessage(headless::ToList(tag), MSG_DESCRIPTION_COMMAND, &other));
  EXPECT_TRUE(tag->instance->CallHandleMessage(headless::ToList(tag), MSG_UPDATE, nullptr));
  EXPECT_TRUE(Record(tag).bound);
  EXPECT_TRUE(SameBits(before, Differences(tag)));
  EXPECT_THROW(headless::PressButton(tag, TTESSAMIRE_ITERATIONS), std::invalid_argument);
}

// ---------------------------------------------------------------------------------------------
// The execution step

using ExecutionStep = BindTagFixture;

TEST_F(ExecutionStep, LiveTagRecomputesAtEveryEvaluationAndShowsTheLiveText) {
  Node* object = AddGrid(12, 9);
  Node* tag = doc->AddTag(object, ID_TTESSAMIRE);
  headless::EvaluateDocument(*doc);
  EXPECT_FALSE(Record(tag).bound);
  EXPECT_EQ(Status(tag), ResourceString(1003));
  const auto first = Differences(tag);
  ASSERT_EQ(first.size(), object->points.size());

  // The live result is the bind of the current mesh: a second tag bound by its button agrees.
  Node* witness = doc->AddTag(object, ID_TTESSAMIRE);
  ASSERT_TRUE(headless::PressButton(witness, TTESSAMIRE_BIND));
  EXPECT_TRUE(SameBits(first, Differences(witness)));

  object->points[40].z += 0.25;
  headless::EvaluateDocument(*doc);
  EXPECT_FALSE(SameBits(first, Differences(tag)));
  ASSERT_TRUE(headless::PressButton(witness, TTESSAMIRE_BIND));
  EXPECT_TRUE(SameBits(Differences(witness), Differences(tag)));
}

TEST_F(ExecutionStep, ABoundTagStaysFrozenWhileThePointCountHolds) {
  Node* object = AddGrid(8, 8);
  Node* tag = doc->AddTag(object, ID_TTESSAMIRE);
  ASSERT_TRUE(headless::PressButton(tag, TTESSAMIRE_BIND));
  const auto bound = Differences(tag);
  const std::string status = Status(tag);

  object->points[10].x += 0.5;                 // moved points
  object->polygons.back() = {62, 63, 55, 55};  // and different polygons, same point count
  object->polygons.push_back({54, 55, 63, 63});
  headless::EvaluateDocument(*doc);
  EXPECT_TRUE(Record(tag).bound);
  EXPECT_TRUE(SameBits(bound, Differences(tag)));
  EXPECT_EQ(Status(tag), status);
}

TEST_F(ExecutionStep, APointCountChangeUnbindsAndRecomputesInTheSameEvaluation) {
  Node* object = AddGrid(8, 8);
  Node* tag = doc->AddTag(object, ID_TTESSAMIRE);
  ASSERT_TRUE(headless::PressButton(tag, TTESSAMIRE_BIND));
  object->points.push_back({5.0, 5.0, 5.0});
  headless::EvaluateDocument(*doc);
  EXPECT_FALSE(Record(tag).bound);
  EXPECT_EQ(Record(tag).differences.GetCount(), 65);
  EXPECT_EQ(Status(tag), ResourceString(1003));
}

TEST_F(ExecutionStep, UnbindLeavesTheArrayEmptyUntilTheNextEvaluation) {
  Node* tag = doc->AddTag(AddGrid(6, 6), ID_TTESSAMIRE);
  ASSERT_TRUE(headless::PressButton(tag, TTESSAMIRE_BIND));
  ASSERT_TRUE(headless::PressButton(tag, TTESSAMIRE_UNBIND));
  EXPECT_EQ(Record(tag).differences.GetCount(), 0);
  headless::EvaluateDocument(*doc);
  EXPECT_EQ(Record(tag).differences.GetCount(), 36);
}

// Live, the tag binds at every evaluation on the same polygons: their topology is built once,
// and freed when the tag is bound by its button, unbound or deleted.
TEST_F(ExecutionStep, ALiveTagKeepsItsTopologyUntilBoundUnboundOrDeleted) {
  Node* object = AddGrid(12, 10);
  const Int64 noTag = headless::GetAllocationStats().blocksInUse;
  Node* tag = doc->AddTag(object, ID_TTESSAMIRE);
  const Int64 blocks = headless::GetAllocationStats().blocksInUse;

  Int64 attempts = headless::AllocationAttempts();
  headless::EvaluateDocument(*doc);
  const Int64 first = headless::AllocationAttempts() - attempts;
  const auto live = Differences(tag);
  object->points[5].z += 0.05;  // moved points, the same polygons
  attempts = headless::AllocationAttempts();
  headless::EvaluateDocument(*doc);
  EXPECT_LT(headless::AllocationAttempts() - attempts, first) << "the topology is reused";
  ASSERT_TRUE(headless::PressButton(tag, TTESSAMIRE_BIND));
  EXPECT_FALSE(SameBits(live, Differences(tag)));
  const auto bound = Differences(tag);
  object->points[5].z -= 0.05;
  ASSERT_TRUE(headless::PressButton(tag, TTESSAMIRE_UNBIND));
  EXPECT_EQ(headless::GetAllocationStats().blocksInUse, blocks) << "unbound: nothing kept";

  // The differences of a live tag that kept its topology are those of a plain bind.
  headless::EvaluateDocument(*doc);
  EXPECT_TRUE(SameBits(live, Differences(tag)));
  object->points[5].z += 0.05;
  headless::EvaluateDocument(*doc);
  EXPECT_TRUE(SameBits(bound, Differences(tag)));
  doc->Delete(tag);
  EXPECT_EQ(headless::GetAllocationStats().blocksInUse, noTag) << "deleted: nothing kept";
}

TEST_F(ExecutionStep, ADisabledExpressionTagDoesNotRun) {
  Node* tag = doc->AddTag(AddGrid(6, 6), ID_TTESSAMIRE);
  tag->params.SetInt32(TTESSAMIRE_ENABLED, 0);
  headless::EvaluateDocument(*doc);
  EXPECT_EQ(Record(tag).differences.GetCount(), 0);
  EXPECT_EQ(Status(tag), ResourceString(1002) + "0");
}

// ---------------------------------------------------------------------------------------------
// Parameters while bound

using TagParameters = BindTagFixture;

TEST_F(TagParameters, SmoothingSettingsAreDisabledWhileBoundAndEnabledAfterUnbind) {
  Node* tag = doc->AddTag(AddGrid(6, 6), ID_TTESSAMIRE);
  const Int32 locked[] = {TTESSAMIRE_PINBORDER, TTESSAMIRE_WEIGHTING, TTESSAMIRE_ITERATIONS,
                          TTESSAMIRE_VERTEXMAP, TTESSAMIRE_STRENGTH,  TTESSAMIRE_USEVERTEXMAP};
  const Int32 open[] = {TTESSAMIRE_BIND, TTESSAMIRE_UNBIND, TTESSAMIRE_BINDINFO,
                        TTESSAMIRE_SHOWSMOOTH, TTESSAMIRE_ENABLED};
  for (Int32 id : locked) EXPECT_TRUE(headless::IsParameterEnabled(tag, id)) << id;

  ASSERT_TRUE(headless::PressButton(tag, TTESSAMIRE_BIND));
  for (Int32 id : locked) EXPECT_FALSE(headless::IsParameterEnabled(tag, id)) << id;
  for (Int32 id : open) EXPECT_TRUE(headless::IsParameterEnabled(tag, id)) << id;
  for (const headless::ParameterRow& row : headless::ListParameters(tag)) {
    const bool isLocked =
        std::find(std::begin(locked), std::end(locked), row.id) != std::end(locked);
    EXPECT_EQ(row.enabled, !isLocked) << row.id;
  }
  headless::Value three;
  three.int32 = 3;
  EXPECT_THROW(headless::SetParameter(tag, TTESSAMIRE_ITERATIONS, three), std::invalid_argument);
  EXPECT_EQ(tag->params.GetInt32(TTESSAMIRE_ITERATIONS), 2);

  ASSERT_TRUE(headless::PressButton(tag, TTESSAMIRE_UNBIND));
  for (Int32 id : locked) EXPECT_TRUE(headless::IsParameterEnabled(tag, id)) << id;
  headless::SetParameter(tag, TTESSAMIRE_ITERATIONS, three);
  EXPECT_EQ(tag->params.GetInt32(TTESSAMIRE_ITERATIONS), 3);
  headless::Value text;
  text.type = headless::ValueType::kString;
  EXPECT_THROW(headless::SetParameter(tag, TTESSAMIRE_ITERATIONS, text), std::invalid_argument);
}

// ---------------------------------------------------------------------------------------------
// The bind action's inputs

using BindAction = BindTagFixture;

TEST_F(BindAction, AVertexMapOfTheWrongSizeFailsAndKeepsThePreviousDifferences) {
  Node* object = AddGrid(7, 6);
  Node* tag = doc->AddTag(object, ID_TTESSAMIRE);
  ASSERT_TRUE(headless::PressButton(tag, TTESSAMIRE_BIND));
  const auto before = Differences(tag);
  Node* map = doc->AddVertexMap(object, std::vector<Float32>(41, 0.5f));
  tag->params.SetLink(TTESSAMIRE_VERTEXMAP, map->serial);
  EXPECT_FALSE(headless::PressButton(tag, TTESSAMIRE_BIND));
  EXPECT_TRUE(Record(tag).bound);
  EXPECT_TRUE(SameBits(before, Differences(tag)));
  EXPECT_EQ(Status(tag), ResourceString(1002) + "0");

  // A map of the right size is used: the weights change the smoothing.
  map->weights.assign(42, 0.5f);
  ASSERT_TRUE(headless::PressButton(tag, TTESSAMIRE_BIND));
  EXPECT_FALSE(SameBits(before, Differences(tag)));
}

TEST_F(BindAction, UseVertexMapWithNothingLinkedSmoothsWithoutWeights) {
  Node* object = AddGrid(9, 7);
  Node* withSwitch = doc->AddTag(object, ID_TTESSAMIRE);
  Node* withoutSwitch = doc->AddTag(object, ID_TTESSAMIRE);
  withoutSwitch->params.SetInt32(TTESSAMIRE_USEVERTEXMAP, 0);
  ASSERT_EQ(withSwitch->params.GetInt32(TTESSAMIRE_USEVERTEXMAP), 1);
  ASSERT_TRUE(headless::PressButton(withSwitch, TTESSAMIRE_BIND));
  ASSERT_TRUE(headless::PressButton(withoutSwitch, TTESSAMIRE_BIND));
  EXPECT_TRUE(SameBits(Differences(withSwitch), Differences(withoutSwitch)));

  // A link to a node that is no vertex map counts as nothing linked.
  withSwitch->params.SetLink(TTESSAMIRE_VERTEXMAP, object->serial);
  ASSERT_TRUE(headless::PressButton(withSwitch, TTESSAMIRE_BIND));
  EXPECT_TRUE(SameBits(Differences(withSwitch), Differences(withoutSwitch)));
}

TEST_F(BindAction, ZeroIterationsGiveZeroDifferencesForRegularFrames) {
  Node* tag = doc->AddTag(AddGrid(10, 10), ID_TTESSAMIRE);
  tag->params.SetInt32(TTESSAMIRE_ITERATIONS, 0);
  ASSERT_TRUE(headless::PressButton(tag, TTESSAMIRE_BIND));
  const auto differences = Differences(tag);
  ASSERT_EQ(differences.size(), 100u);
  constexpr Float kRounding = 1e-12;
  for (size_t i = 0; i < differences.size(); ++i) {
    const Vector3& d = differences[i];
    EXPECT_LT(std::abs(d.x) + std::abs(d.y) + std::abs(d.z), kRounding) << "point " << i;
  }
}

TEST_F(BindAction, APointWithASingularFrameStoresItsOffsetFromItsSmoothedPosition) {
  Mesh mesh = Grid(5, 5);
  const Vector3 loose{3.25, -1.5, 0.125};
  mesh.points.push_back(loose);  // used by no polygon: no frame axes, no neighbour to smooth to
  Node* object = doc->AddPolygonObject("loose", mesh.points, mesh.polygons);
  Node* tag = doc->AddTag(object, ID_TTESSAMIRE);
  ASSERT_TRUE(headless::PressButton(tag, TTESSAMIRE_BIND));
  const auto differences = Differences(tag);
  ASSERT_EQ(differences.size(), 26u);
  // Its smoothed position is the point itself, so the offset is zero, not where it stands.
  EXPECT_TRUE(SameBits({differences.back()}, {{0.0, 0.0, 0.0}}));
  EXPECT_NE(differences[12].x, mesh.points[12].x);  // regular frames do encode
}

// ---------------------------------------------------------------------------------------------
// Stored form and ReadState

using StoredForm = BindTagFixture;

MemoryStream Reading(const MemoryStream& written) {
  return MemoryStream::ForReading(written.Bytes());
}

TEST_F(StoredForm, UnboundTagStoresOneBoolEvenWhenLiveDifferencesExist) {
  Node* tag = doc->AddTag(AddGrid(5, 5), ID_TTESSAMIRE);
  EXPECT_EQ(headless::WriteNodeState(tag), (std::vector<std::uint8_t>{headless::kStreamBool, 0}));
  headless::EvaluateDocument(*doc);
  ASSERT_EQ(Record(tag).differences.GetCount(), 25);
  EXPECT_EQ(headless::WriteNodeState(tag), (std::vector<std::uint8_t>{headless::kStreamBool, 0}));
}

TEST_F(StoredForm, BoundTagStoresBoolCountAndEveryVector) {
  Node* tag = doc->AddTag(AddGrid(6, 5), ID_TTESSAMIRE);
  ASSERT_TRUE(headless::PressButton(tag, TTESSAMIRE_BIND));
  MemoryStream stream = MemoryStream::ForReading(headless::WriteNodeState(tag));
  bool bound = false;
  Int32 count = 0;
  ASSERT_TRUE(stream.ReadBool(bound));
  ASSERT_TRUE(stream.ReadInt32(count));
  EXPECT_TRUE(bound);
  ASSERT_EQ(count, 30);
  std::vector<Vector3> stored(30);
  for (Vector3& v : stored) ASSERT_TRUE(stream.ReadVector(v));
  EXPECT_TRUE(stream.AtEnd());
  EXPECT_TRUE(SameBits(stored, Differences(tag)));
}

TEST_F(StoredForm, ReadingWhatWasWrittenGivesTheSameRecord) {
  Node* source = doc->AddTag(AddGrid(6, 5), ID_TTESSAMIRE);
  ASSERT_TRUE(headless::PressButton(source, TTESSAMIRE_BIND));
  MemoryStream stream = MemoryStream::ForReading(headless::WriteNodeState(source));
  Node* target = doc->AddTag(AddGrid(2, 2, "other"), ID_TTESSAMIRE);
  EXPECT_TRUE(
      target->instance->CallReadState(headless::ToList(target), headless::ToHyperFile(&stream), 0));
  EXPECT_TRUE(Record(target).bound);
  EXPECT_TRUE(SameBits(Differences(source), Differences(target)));
  EXPECT_EQ(Record(target).differences.GetCapacity(), 30);
}

// Through a scene file: the bound tag comes back holding exactly its differences, the live one
// empty, and the live one's first evaluation computes again what it held.
TEST_F(StoredForm, TagsLoadedFromASceneFileHoldWhatTheirStateSays) {
  Node* object = AddGrid(9, 8);
  Node* bound = doc->AddTag(object, ID_TTESSAMIRE);
  Node* live = doc->AddTag(object, ID_TTESSAMIRE);
  live->params.SetFloat(TTESSAMIRE_STRENGTH, 0.1);
  ASSERT_TRUE(headless::PressButton(bound, TTESSAMIRE_BIND));
  headless::EvaluateDocument(*doc);
  ASSERT_EQ(Record(live).differences.GetCount(), 72);

  std::unique_ptr<headless::Document> loaded =
      headless::DeserializeDocument(headless::SerializeDocument(*doc), "tags");
  const auto tags = headless::Document::Tags(loaded->FirstObject());
  ASSERT_EQ(tags.size(), 2u);
  EXPECT_TRUE(Record(tags[0]).bound);
  EXPECT_TRUE(SameBits(Differences(tags[0]), Differences(bound)));
  EXPECT_EQ(Record(tags[0]).differences.GetCapacity(), 72);
  EXPECT_FALSE(Record(tags[1]).bound);
  EXPECT_EQ(Record(tags[1]).differences.GetCount(), 0);
  headless::EvaluateDocument(*loaded);
  EXPECT_TRUE(SameBits(Differences(tags[1]), Differences(live)));
  EXPECT_TRUE(SameBits(Differences(tags[0]), Differences(bound)));
}

TEST_F(StoredForm, ANonZeroLevelReadsNothingAndLeavesTheTagEmpty) {
  MemoryStream written;
  written.WriteBool(true);
  written.WriteInt32(1);
  written.WriteVector({1.0, 2.0, 3.0});
  MemoryStream stream = Reading(written);
  Node* tag = doc->AddTag(AddGrid(2, 2), ID_TTESSAMIRE);
  EXPECT_TRUE(
      tag->instance->CallReadState(headless::ToList(tag), headless::ToHyperFile(&stream), 1));
  EXPECT_EQ(stream.Position(), 0u);
  EXPECT_FALSE(Record(tag).bound);
  EXPECT_EQ(Record(tag).differences.GetCount(), 0);
}

TEST_F(StoredForm, BrokenStreamsFailTheRead) {
  Node* tag = doc->AddTag(AddGrid(2, 2), ID_TTESSAMIRE);
  const auto read = [&](const MemoryStream& written) {
    MemoryStream stream = Reading(written);
    return tag->instance->CallReadState(headless::ToList(tag), headless::ToHyperFile(&stream), 0);
  };

  MemoryStream negative;
  negative.WriteBool(true);
  negative.WriteInt32(-1);
  EXPECT_FALSE(read(negative));

  MemoryStream noCount;  // the count read fails; the bool already read stays
  noCount.WriteBool(true);
  EXPECT_FALSE(read(noCount));
  EXPECT_TRUE(Record(tag).bound);

  MemoryStream wrongType;
  wrongType.WriteBool(true);
  wrongType.WriteVector({});
  EXPECT_FALSE(read(wrongType));

  MemoryStream truncated;  // three announced, two present
  truncated.WriteBool(true);
  truncated.WriteInt32(3);
  truncated.WriteVector({1.0, 2.0, 3.0});
  truncated.WriteVector({4.0, 5.0, 6.0});
  EXPECT_FALSE(read(truncated));
  EXPECT_FALSE(Record(tag).bound);
  EXPECT_EQ(Record(tag).differences.GetCount(), 0);
  EXPECT_EQ(Record(tag).differences.GetData(), nullptr);
}

// ---------------------------------------------------------------------------------------------
// Copies

using TagCopies = BindTagFixture;

TEST_F(TagCopies, CopyingATagOntoItselfChangesNothing) {
  Node* tag = doc->AddTag(AddGrid(6, 6), ID_TTESSAMIRE);
  ASSERT_TRUE(headless::PressButton(tag, TTESSAMIRE_BIND));
  const auto before = Differences(tag);
  const Vector3* data = Record(tag).differences.GetData();
  EXPECT_TRUE(tag->instance->CallCopyState(tag->instance, headless::ToList(tag),
                                           headless::ToList(tag), 0, nullptr));
  EXPECT_TRUE(Record(tag).bound);
  EXPECT_EQ(Record(tag).differences.GetData(), data);
  EXPECT_TRUE(SameBits(before, Differences(tag)));
}

TEST_F(TagCopies, CopyingAnObjectCopiesItsLiveAndBoundTagsAndRelinksItsVertexMap) {
  Node* object = AddGrid(7, 7);
  Node* live = doc->AddTag(object, ID_TTESSAMIRE);
  Node* bound = doc->AddTag(object, ID_TTESSAMIRE);
  Node* map = doc->AddVertexMap(object, std::vector<Float32>(49, 1.0f), "weights");
  bound->params.SetLink(TTESSAMIRE_VERTEXMAP, map->serial);
  ASSERT_TRUE(headless::PressButton(bound, TTESSAMIRE_BIND));
  headless::EvaluateDocument(*doc);
  ASSERT_EQ(Record(live).differences.GetCount(), 49);

  std::unique_ptr<Node, void (*)(Node*)> copy(headless::CopyObject(object), headless::DestroyNode);
  ASSERT_NE(copy, nullptr);
  const auto tags = headless::Document::Tags(copy.get());
  ASSERT_EQ(tags.size(), 3u);
  EXPECT_FALSE(Record(tags[0]).bound);
  EXPECT_TRUE(SameBits(Differences(live), Differences(tags[0])));
  EXPECT_NE(Record(tags[0]).differences.GetData(), Record(live).differences.GetData());
  EXPECT_TRUE(Record(tags[1]).bound);
  EXPECT_TRUE(SameBits(Differences(bound), Differences(tags[1])));
  EXPECT_EQ(Status(tags[1]), Status(bound));
  EXPECT_EQ(tags[1]->params.GetLink(TTESSAMIRE_VERTEXMAP)->target, tags[2]->serial);
  EXPECT_EQ(tags[2]->weights, map->weights);
  EXPECT_TRUE(SameBits(copy->points, object->points));
}

}  // namespace
