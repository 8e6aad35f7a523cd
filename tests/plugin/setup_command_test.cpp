// The setup command of the real tessamire.xdl64, run by the headless host on its active document
// with a selection and modifier keys.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>

#include "headless/io/scene_file.h"
#include "tests/support/command_fixture.h"

namespace {

using command_test::CommandFixture;
using command_test::CountChildren;
using command_test::CountTags;
using command_test::Describe;
using command_test::LinkedVertexMap;
using headless::Node;

std::vector<Node*> ChildrenOf(const Node* op) {
  std::vector<Node*> out;
  for (Node* child = op->down; child != nullptr; child = child->next) out.push_back(child);
  return out;
}

class SetupCommandTest : public CommandFixture {};

// ---------------------------------------------------------------------------------------------
// Menu state and selection

TEST_F(SetupCommandTest, MenuEntryIsEnabledOnlyWithASelectedPolygonObject) {
  EXPECT_FALSE(headless::IsCommandEnabled(ID_ADDTESSAMIRECMD));
  Node* group = Null("group");
  Node* mesh = Quad("mesh", group);
  EXPECT_FALSE(headless::IsCommandEnabled(ID_ADDTESSAMIRECMD));
  Selected(group);
  EXPECT_FALSE(headless::IsCommandEnabled(ID_ADDTESSAMIRECMD));
  Selected(mesh);  // below a selected object: still counted
  EXPECT_TRUE(headless::IsCommandEnabled(ID_ADDTESSAMIRECMD));
  headless::SetSelected(group, false);
  EXPECT_TRUE(headless::IsCommandEnabled(ID_ADDTESSAMIRECMD));
}

TEST_F(SetupCommandTest, NothingHappensWithoutASelectedPolygonObject) {
  Node* group = Selected(Null("group"));
  Quad("mesh", group);
  const std::string before = Describe(*doc);
  const Int64 refreshes = headless::RefreshRequests();
  headless::SetKeyboardQualifier(QSHIFT);
  EXPECT_FALSE(headless::ExecuteCommand(ID_ADDTESSAMIRECMD));
  EXPECT_EQ(Describe(*doc), before);
  EXPECT_EQ(headless::UndoCount(*doc), 0);
  EXPECT_EQ(headless::RefreshRequests(), refreshes);
}

TEST_F(SetupCommandTest, NonPolygonObjectsInTheSelectionAreSkipped) {
  Node* group = Selected(Null("group"));
  Node* mesh = Selected(Quad("mesh", group));
  headless::SetKeyboardQualifier(QSHIFT);
  const Int64 refreshes = headless::RefreshRequests();
  ASSERT_TRUE(headless::ExecuteCommand(ID_ADDTESSAMIRECMD));
  EXPECT_EQ(group->firstTag, nullptr);
  EXPECT_EQ(CountChildren(group, ID_OTESSAMIRE), 0);
  EXPECT_EQ(CountTags(mesh, ID_TTESSAMIRE), 1);
  EXPECT_EQ(CountChildren(mesh, ID_OTESSAMIRE), 1);
  EXPECT_EQ(headless::RefreshRequests(), refreshes + 1);
}

// ---------------------------------------------------------------------------------------------
// Placement by modifier keys

struct ModeCase {
  Int32 qualifier;
  bool inputAvailable;
  Int32 underObject;  // deformers expected under the selected object
  Int32 underParent;  // and under its parent
};

class SetupModeTest : public CommandFixture, public ::testing::WithParamInterface<ModeCase> {};

TEST_P(SetupModeTest, QualifierWordChoosesWhereTheDeformerGoes) {
  const ModeCase mode = GetParam();
  Node* parent = Null("parent");
  Node* mesh = Selected(Quad("mesh", parent));
  headless::SetKeyboardQualifier(mode.qualifier);
  headless::SetInputStateAvailable(mode.inputAvailable);
  ASSERT_TRUE(headless::ExecuteCommand(ID_ADDTESSAMIRECMD));
  ASSERT_NE(mesh->firstTag, nullptr);
  EXPECT_EQ(mesh->firstTag->type, ID_TTESSAMIRE);
  EXPECT_EQ(CountChildren(mesh, ID_OTESSAMIRE), mode.underObject);
  EXPECT_EQ(CountChildren(parent, ID_OTESSAMIRE), mode.underParent);
}

INSTANTIATE_TEST_SUITE_P(Modes, SetupModeTest,
                         ::testing::Values(ModeCase{0, true, 0, 0}, ModeCase{QSHIFT, true, 1, 0},
                                           ModeCase{QCTRL, true, 0, 1},
                                           ModeCase{QSHIFT | QCTRL, true, 0, 0},
                                           ModeCase{QSHIFT | 4, true, 0, 0},
                                           ModeCase{QSHIFT, false, 0, 0}));

TEST_F(SetupCommandTest, ExistingDeformerChildKeepsItAlone) {
  Node* mesh = Selected(Quad("mesh"));
  Node* existing = doc->AddObject(ID_OTESSAMIRE, "existing", mesh);
  headless::SetKeyboardQualifier(QSHIFT);
  ASSERT_TRUE(headless::ExecuteCommand(ID_ADDTESSAMIRECMD));
  EXPECT_EQ(ChildrenOf(mesh), std::vector<Node*>{existing});
  EXPECT_EQ(CountTags(mesh, ID_TTESSAMIRE), 1);
}

TEST_F(SetupCommandTest, CtrlOnATopLevelObjectAddsOnlyTheTag) {
  Node* mesh = Selected(Quad("mesh"));
  headless::SetKeyboardQualifier(QCTRL);
  ASSERT_TRUE(headless::ExecuteCommand(ID_ADDTESSAMIRECMD));
  EXPECT_EQ(CountTags(mesh, ID_TTESSAMIRE), 1);
  EXPECT_EQ(doc->Objects(), std::vector<Node*>{mesh});
}

TEST_F(SetupCommandTest, SelectedSiblingsShareOneDeformerUnderTheirParent) {
  Node* parent = Null("parent");
  Node* a = Selected(Quad("a", parent));
  Node* b = Selected(Quad("b", parent));
  headless::SetKeyboardQualifier(QCTRL);
  ASSERT_TRUE(headless::ExecuteCommand(ID_ADDTESSAMIRECMD));
  EXPECT_EQ(CountTags(a, ID_TTESSAMIRE), 1);
  EXPECT_EQ(CountTags(b, ID_TTESSAMIRE), 1);
  EXPECT_EQ(CountChildren(parent, ID_OTESSAMIRE), 1);
  EXPECT_EQ(ChildrenOf(parent).back()->type, ID_OTESSAMIRE);
}

TEST_F(SetupCommandTest, ObjectAndItsSelectedChildEachGetTheirOwnDeformer) {
  Node* outer = Selected(Quad("outer"));
  Node* inner = Selected(Quad("inner", outer));
  headless::SetKeyboardQualifier(QSHIFT);
  ASSERT_TRUE(headless::ExecuteCommand(ID_ADDTESSAMIRECMD));
  EXPECT_EQ(CountChildren(outer, ID_OTESSAMIRE), 1);
  EXPECT_EQ(CountChildren(inner, ID_OTESSAMIRE), 1);
  EXPECT_EQ(CountTags(outer, ID_TTESSAMIRE), 1);
  EXPECT_EQ(CountTags(inner, ID_TTESSAMIRE), 1);
}

TEST_F(SetupCommandTest, DeformerFollowsTheFirstSkinDeformerOrGoesLast) {
  Node* rigged = Selected(Quad("rigged"));
  Node* before = Null("before", rigged);
  Node* skin1 = doc->AddObject(Oskin, "skin1", rigged);
  Node* between = Null("between", rigged);
  Node* skin2 = doc->AddObject(Oskin, "skin2", rigged);
  Node* plain = Selected(Quad("plain"));
  Node* plainChild = Null("child", plain);
  headless::SetKeyboardQualifier(QSHIFT);
  ASSERT_TRUE(headless::ExecuteCommand(ID_ADDTESSAMIRECMD));

  const auto rig = ChildrenOf(rigged);
  ASSERT_EQ(rig.size(), 5u);
  EXPECT_EQ(rig[0], before);
  EXPECT_EQ(rig[1], skin1);
  EXPECT_EQ(rig[2]->type, ID_OTESSAMIRE);
  EXPECT_EQ(rig[3], between);
  EXPECT_EQ(rig[4], skin2);

  const auto children = ChildrenOf(plain);
  ASSERT_EQ(children.size(), 2u);
  EXPECT_EQ(children[0], plainChild);
  EXPECT_EQ(children[1]->type, ID_OTESSAMIRE);
}

// ---------------------------------------------------------------------------------------------
// The tag

TEST_F(SetupCommandTest, TagGoesFirstAndLinksTheFirstSelectedVertexMap) {
  Node* mesh = Selected(Quad("mesh"));
  Node* unselected = doc->AddVertexMap(mesh, {1, 1, 1, 1}, "unselected");
  Node* first = doc->AddVertexMap(mesh, {1, 1, 1, 1}, "first");
  Node* second = doc->AddVertexMap(mesh, {1, 1, 1, 1}, "second");
  Selected(first);
  Selected(second);
  Node* plain = Selected(Quad("plain"));
  Selected(doc->AddVertexMap(plain, {1, 1, 1, 1}, "other object's map"));
  Node* unlinked = Selected(Quad("unlinked"));
  doc->AddVertexMap(unlinked, {1, 1, 1, 1}, "present but unselected");
  headless::SetKeyboardQualifier(0);
  ASSERT_TRUE(headless::ExecuteCommand(ID_ADDTESSAMIRECMD));

  Node* tag = mesh->firstTag;
  ASSERT_EQ(tag->type, ID_TTESSAMIRE);
  EXPECT_EQ(tag->next, unselected);
  EXPECT_EQ(LinkedVertexMap(tag), first);
  EXPECT_NE(LinkedVertexMap(plain->firstTag), nullptr);
  ASSERT_EQ(unlinked->firstTag->type, ID_TTESSAMIRE);
  EXPECT_EQ(LinkedVertexMap(unlinked->firstTag), nullptr);
}

TEST_F(SetupCommandTest, RunningTwiceGivesTwoTagsAndOneUndoTakesBackOneRun) {
  Node* mesh = Selected(Quad("mesh"));
  headless::SetKeyboardQualifier(QSHIFT);
  const std::string original = Describe(*doc);
  ASSERT_TRUE(headless::ExecuteCommand(ID_ADDTESSAMIRECMD));
  const std::string once = Describe(*doc);
  ASSERT_TRUE(headless::ExecuteCommand(ID_ADDTESSAMIRECMD));
  EXPECT_EQ(CountTags(mesh, ID_TTESSAMIRE), 2);
  EXPECT_EQ(CountChildren(mesh, ID_OTESSAMIRE), 1);
  EXPECT_EQ(headless::UndoCount(*doc), 2);

  ASSERT_TRUE(headless::Undo(*doc));
  EXPECT_EQ(Describe(*doc), once);
  ASSERT_TRUE(headless::Undo(*doc));
  EXPECT_EQ(Describe(*doc), original);
  ASSERT_TRUE(headless::Redo(*doc));
  EXPECT_EQ(Describe(*doc), once);
}

TEST_F(SetupCommandTest, OneUndoRemovesEverythingOneRunAddedAndRedoRestoresIt) {
  Node* parent = Null("parent");
  Node* a = Selected(Quad("a", parent));
  Selected(Quad("b", parent));
  Node* c = Selected(Quad("c"));
  doc->AddObject(Oskin, "skin", c);
  Null("after skin", c);
  headless::SetKeyboardQualifier(QSHIFT);
  const std::string original = Describe(*doc);
  ASSERT_TRUE(headless::ExecuteCommand(ID_ADDTESSAMIRECMD));
  const std::string done = Describe(*doc);
  Node* tagOfA = a->firstTag;

  ASSERT_EQ(headless::UndoCount(*doc), 1);
  ASSERT_TRUE(headless::Undo(*doc));
  EXPECT_EQ(Describe(*doc), original);
  ASSERT_TRUE(headless::Redo(*doc));
  EXPECT_EQ(Describe(*doc), done);
  EXPECT_EQ(a->firstTag, tagOfA);
}

// ---------------------------------------------------------------------------------------------
// Allocation failure part way

TEST_F(SetupCommandTest, AllocationFailureKeepsEarlierInsertionsWithTheirUndoSteps) {
  // Every allocation of one run fails in turn; the run that loses the second tag must keep the
  // first object's tag and deformer, undoably, and answer false.
  const auto build = [this] {
    doc = headless::NewDocument();
    headless::SetActiveDocument(doc.get());
    Selected(Quad("first"));
    Selected(Quad("second"));
  };
  headless::SetKeyboardQualifier(QSHIFT);
  build();
  const std::string original = Describe(*doc);
  const Int64 start = headless::AllocationAttempts();
  ASSERT_TRUE(headless::ExecuteCommand(ID_ADDTESSAMIRECMD));
  const Int64 allocations = headless::AllocationAttempts() - start;
  ASSERT_GT(allocations, 2);

  bool sawSecondTagFail = false;
  for (Int64 n = 1; n <= allocations; ++n) {
    doc.reset();
    const Int64 bytes = headless::GetAllocationStats().bytesInUse;
    build();
    headless::FailNthAllocation(n);
    const bool ok = headless::ExecuteCommand(ID_ADDTESSAMIRECMD);
    headless::FailNthAllocation(0);
    EXPECT_FALSE(headless::IsUndoGroupOpen(*doc)) << "allocation " << n;
    const Node* first = doc->FindObject("first");
    const Node* second = doc->FindObject("second");
    if (!ok && CountTags(first, ID_TTESSAMIRE) == 1 && CountChildren(first, ID_OTESSAMIRE) == 1 &&
        CountTags(second, ID_TTESSAMIRE) == 0) {
      sawSecondTagFail = true;
      EXPECT_EQ(first->firstTag->type, ID_TTESSAMIRE);
      EXPECT_EQ(second->firstTag, nullptr);
      EXPECT_EQ(second->down, nullptr);
      EXPECT_EQ(headless::UndoCount(*doc), 1);
    }
    // Whatever the run managed to add, one undo takes it away.
    if (headless::UndoCount(*doc) == 1) {
      ASSERT_TRUE(headless::Undo(*doc));
    }
    EXPECT_EQ(Describe(*doc), original) << "allocation " << n;
    // Nothing outlives the document: no leak from the failed run nor from its undo steps.
    headless::SetActiveDocument(nullptr);
    doc.reset();
    EXPECT_EQ(headless::GetAllocationStats().bytesInUse, bytes) << "allocation " << n;
  }
  EXPECT_TRUE(sawSecondTagFail);
}

}  // namespace
