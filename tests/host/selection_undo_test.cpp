// The host's selection, input-state and undo services, through the host table the plug-in
// receives.
#include <gtest/gtest.h>

#include <stdexcept>

#include "headless/host/host_state.h"
#include "headless/host/host_table.h"
#include "tests/support/command_fixture.h"

namespace {

using command_test::Describe;
using headless::Node;

constexpr Int32 kSkinType = Oskin;

class HostServicesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    headless::TheHostState().Reset();
    doc = headless::NewDocument();
  }
  void TearDown() override { headless::TheHostState().Reset(); }

  Node* Quad(const std::string& name, Node* parent = nullptr) {
    return doc->AddPolygonObject(name, {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}}, {{0, 1, 2, 2}}, parent);
  }
  Node* Null(const std::string& name, Node* parent = nullptr) {
    return doc->AddObject(headless::kNullObjectType, name, parent);
  }
  BaseDocument* Handle() { return headless::ToDocument(doc.get()); }

  // Names of the objects the table's active-object query gives.
  std::vector<std::string> Active(Bool children, Int32 type, Int32 instanceOf) {
    AtomArray* array = table.atomArrayAlloc();
    EXPECT_NE(array, nullptr);
    if (array == nullptr) return {};
    table.documentGetActiveObjects(Handle(), array, children, type, instanceOf);
    std::vector<std::string> names;
    for (Int32 i = 0; i < table.atomArrayCount(array); ++i)
      names.push_back(headless::FromHandle(table.atomArrayIndex(array, i))->name);
    EXPECT_EQ(table.atomArrayIndex(array, table.atomArrayCount(array)), nullptr);
    EXPECT_EQ(table.atomArrayIndex(array, -1), nullptr);
    table.atomArrayFree(array);
    return names;
  }

  // One group recording `nodes` as new nodes.
  void Record(std::initializer_list<Node*> nodes) {
    ASSERT_TRUE(table.documentStartUndo(Handle()));
    for (Node* node : nodes)
      ASSERT_TRUE(table.documentAddUndo(Handle(), UNDOTYPE_NEWOBJ, headless::ToList(node)));
    ASSERT_TRUE(table.documentEndUndo(Handle()));
  }

  const HostTable& table = headless::HostTableInstance();
  std::unique_ptr<headless::Document> doc;
};

using Names = std::vector<std::string>;

// ---------------------------------------------------------------------------------------------
// Selection

TEST_F(HostServicesTest, ActiveObjectsFollowTheChildrenTypeAndInstanceFilters) {
  Node* group = Null("group");
  Node* a = Quad("a", group);
  Node* b = Quad("b", a);
  Node* c = Quad("c");
  Quad("unselected");
  for (Node* node : {group, a, b, c}) headless::SetSelected(node, true);

  EXPECT_EQ(Active(true, -1, -1), (Names{"group", "a", "b", "c"}));
  EXPECT_EQ(Active(true, Opolygon, -1), (Names{"a", "b", "c"}));
  EXPECT_EQ(Active(true, -1, headless::kNullObjectType), (Names{"group"}));
  // Without children, a selected ancestor of any type hides an object.
  EXPECT_EQ(Active(false, -1, -1), (Names{"group", "c"}));
  EXPECT_EQ(Active(false, Opolygon, -1), (Names{"c"}));

  headless::SetSelected(group, false);
  EXPECT_EQ(Active(false, Opolygon, -1), (Names{"a", "c"}));
  headless::ClearSelection(*doc);
  EXPECT_TRUE(Active(true, -1, -1).empty());
}

TEST_F(HostServicesTest, ActiveObjectQueryReplacesTheArrayContents) {
  Node* a = Quad("a");
  Node* b = Quad("b");
  headless::SetSelected(a, true);
  headless::SetSelected(b, true);
  AtomArray* array = table.atomArrayAlloc();
  ASSERT_NE(array, nullptr);
  table.documentGetActiveObjects(Handle(), array, true, -1, -1);
  EXPECT_EQ(table.atomArrayCount(array), 2);
  headless::SetSelected(a, false);
  table.documentGetActiveObjects(Handle(), array, true, -1, -1);
  ASSERT_EQ(table.atomArrayCount(array), 1);
  EXPECT_EQ(headless::FromHandle(table.atomArrayIndex(array, 0)), b);
  table.atomArrayFree(array);
}

TEST_F(HostServicesTest, ObjectArrayComesFromTheFailureInjectingAllocator) {
  headless::FailNthAllocation(1);
  EXPECT_EQ(table.atomArrayAlloc(), nullptr);
  AtomArray* array = table.atomArrayAlloc();
  EXPECT_NE(array, nullptr);
  EXPECT_EQ(table.atomArrayCount(array), 0);
  table.atomArrayFree(array);
}

TEST_F(HostServicesTest, TagsCarryTheActiveBitInTheirFlags) {
  Node* a = Quad("a");
  Node* map = doc->AddVertexMap(a, {1.0f, 1.0f, 1.0f});
  EXPECT_EQ(table.nodeGetFlags(headless::ToList(map)) & BIT_ACTIVE, 0);
  headless::SetSelected(map, true);
  EXPECT_NE(table.nodeGetFlags(headless::ToList(map)) & BIT_ACTIVE, 0);
  EXPECT_FALSE(headless::IsSelected(a));
  EXPECT_TRUE(Active(true, -1, -1).empty());
  headless::ClearSelection(*doc);
  EXPECT_FALSE(headless::IsSelected(map));
  EXPECT_THROW(headless::SetSelected(nullptr, true), std::invalid_argument);
  EXPECT_THROW(headless::SetSelected(doc->Root(), true), std::invalid_argument);
}

// ---------------------------------------------------------------------------------------------
// Input state and commands

TEST_F(HostServicesTest, InputStateAnswersTheQualifierOnlyForTheKeyboardChannel) {
  BaseContainer* state = table.containerAlloc();
  ASSERT_NE(state, nullptr);
  headless::SetKeyboardQualifier(QSHIFT | QCTRL);
  ASSERT_TRUE(table.getInputState(BFM_INPUT_KEYBOARD, BFM_INPUT_CHANNEL, state));
  EXPECT_EQ(table.containerGetInt32(state, BFM_INPUT_QUALIFIER, -1), QSHIFT | QCTRL);

  table.containerSetInt32(state, BFM_INPUT_QUALIFIER, 77);
  EXPECT_FALSE(table.getInputState(BFM_INPUT_KEYBOARD, BFM_INPUT_CHANNEL + 1, state));
  EXPECT_FALSE(table.getInputState(BFM_INPUT_KEYBOARD + 1, BFM_INPUT_CHANNEL, state));
  headless::SetInputStateAvailable(false);
  EXPECT_FALSE(table.getInputState(BFM_INPUT_KEYBOARD, BFM_INPUT_CHANNEL, state));
  EXPECT_EQ(table.containerGetInt32(state, BFM_INPUT_QUALIFIER, -1), 77);
  table.containerFree(state);
}

TEST_F(HostServicesTest, CommandsNeedARegistrationAndAnActiveDocument) {
  headless::SetActiveDocument(doc.get());
  EXPECT_THROW(headless::IsCommandEnabled(4242), std::invalid_argument);
  EXPECT_THROW(headless::ExecuteCommand(4242), std::invalid_argument);
}

// ---------------------------------------------------------------------------------------------
// Undo

TEST_F(HostServicesTest, UndoRemovesEveryNodeOfTheGroupAndRedoPutsThemBackInPlace) {
  Node* parent = Null("parent");
  Quad("first", parent);
  Node* skin = doc->AddObject(kSkinType, "skin", parent);
  Quad("last", parent);
  Node* mesh = Quad("mesh");
  doc->AddVertexMap(mesh, {1.0f, 1.0f, 1.0f}, "map");
  const std::string before = Describe(*doc);

  Node* deformer = headless::NewNode(kSkinType, false);
  deformer->name = "new";
  doc->InsertAfter(deformer, skin);
  Node* child = headless::NewNode(headless::kNullObjectType, false);
  child->name = "newchild";
  doc->InsertLast(child, deformer);
  Node* tag = headless::NewNode(Tvertexmap, true);
  tag->name = "newtag";
  doc->InsertTagFirst(mesh, tag);
  Node* lastTag = headless::NewNode(Tvertexmap, true);
  lastTag->name = "lasttag";
  doc->AppendTag(mesh, lastTag);
  Node* top = headless::NewNode(headless::kNullObjectType, false);
  top->name = "top";
  doc->InsertFirst(top, nullptr);
  Record({deformer, child, tag, lastTag, top});
  const std::string after = Describe(*doc);
  ASSERT_NE(before, after);

  EXPECT_EQ(headless::UndoCount(*doc), 1);
  ASSERT_TRUE(headless::Undo(*doc));
  EXPECT_EQ(Describe(*doc), before);
  EXPECT_EQ(headless::UndoCount(*doc), 0);
  EXPECT_EQ(headless::RedoCount(*doc), 1);
  EXPECT_FALSE(headless::Undo(*doc));

  ASSERT_TRUE(headless::Redo(*doc));
  EXPECT_EQ(Describe(*doc), after);
  EXPECT_EQ(mesh->firstTag, tag);
  EXPECT_EQ(lastTag->prev, tag->next);
  EXPECT_EQ(skin->next, deformer);
  EXPECT_EQ(deformer->down, child);
  EXPECT_EQ(doc->FirstObject(), top);
  EXPECT_FALSE(headless::Redo(*doc));

  ASSERT_TRUE(headless::Undo(*doc));
  EXPECT_EQ(Describe(*doc), before);
}

TEST_F(HostServicesTest, EachGroupUndoesOnItsOwnLatestFirst) {
  Node* a = Quad("a");
  const std::string empty = Describe(*doc);
  Node* first = headless::NewNode(headless::kNullObjectType, false);
  first->name = "first";
  doc->InsertLast(first, a);
  Record({first});
  const std::string one = Describe(*doc);
  Node* second = headless::NewNode(headless::kNullObjectType, false);
  second->name = "second";
  doc->InsertLast(second, a);
  Record({second});

  EXPECT_EQ(headless::UndoCount(*doc), 2);
  ASSERT_TRUE(headless::Undo(*doc));
  EXPECT_EQ(Describe(*doc), one);
  ASSERT_TRUE(headless::Undo(*doc));
  EXPECT_EQ(Describe(*doc), empty);
}

TEST_F(HostServicesTest, EmptyAndNestedGroupsAndRefusedSteps) {
  Node* a = Quad("a");
  // An empty group records nothing.
  ASSERT_TRUE(table.documentStartUndo(Handle()));
  ASSERT_TRUE(table.documentEndUndo(Handle()));
  EXPECT_EQ(headless::UndoCount(*doc), 0);
  EXPECT_FALSE(headless::Undo(*doc));

  // Steps outside a group, of another type, or of a node outside the document are refused.
  Node* loose = headless::NewNode(headless::kNullObjectType, false);
  EXPECT_FALSE(table.documentAddUndo(Handle(), UNDOTYPE_NEWOBJ, headless::ToList(a)));
  EXPECT_FALSE(table.documentEndUndo(Handle()));
  ASSERT_TRUE(table.documentStartUndo(Handle()));
  EXPECT_FALSE(table.documentAddUndo(Handle(), UNDOTYPE_NEWOBJ + 1, headless::ToList(a)));
  EXPECT_FALSE(table.documentAddUndo(Handle(), UNDOTYPE_NEWOBJ, headless::ToList(loose)));
  EXPECT_FALSE(table.documentAddUndo(Handle(), UNDOTYPE_NEWOBJ, nullptr));

  // A nested group belongs to the outer one; undo waits until it closes.
  doc->InsertLast(loose, a);
  ASSERT_TRUE(table.documentStartUndo(Handle()));
  EXPECT_TRUE(table.documentAddUndo(Handle(), UNDOTYPE_NEWOBJ, headless::ToList(loose)));
  ASSERT_TRUE(table.documentEndUndo(Handle()));
  EXPECT_TRUE(headless::IsUndoGroupOpen(*doc));
  EXPECT_EQ(headless::UndoCount(*doc), 0);
  EXPECT_FALSE(headless::Undo(*doc));
  ASSERT_TRUE(table.documentEndUndo(Handle()));
  EXPECT_FALSE(headless::IsUndoGroupOpen(*doc));
  EXPECT_EQ(headless::UndoCount(*doc), 1);
  ASSERT_TRUE(headless::Undo(*doc));
  EXPECT_EQ(a->down, nullptr);
}

TEST_F(HostServicesTest, HeldNodesAreFreedWhenRedoIsNoLongerPossible) {
  Node* a = Quad("a");
  Node* undone = headless::NewNode(headless::kNullObjectType, false);
  doc->InsertLast(undone, a);
  const UInt64 undoneSerial = undone->serial;
  Record({undone});
  ASSERT_TRUE(headless::Undo(*doc));
  EXPECT_EQ(headless::FindLiveNode(undoneSerial), undone);  // kept for redo

  // A new group drops what could have been redone.
  Node* next = headless::NewNode(headless::kNullObjectType, false);
  doc->InsertLast(next, a);
  Record({next});
  EXPECT_EQ(headless::RedoCount(*doc), 0);
  EXPECT_EQ(headless::FindLiveNode(undoneSerial), nullptr);

  // So does the document going away.
  ASSERT_TRUE(headless::Undo(*doc));
  const UInt64 nextSerial = next->serial;
  doc.reset();
  EXPECT_EQ(headless::FindLiveNode(nextSerial), nullptr);
}

TEST_F(HostServicesTest, UndoSkipsNodesThatLeftTheDocument) {
  Node* a = Quad("a");
  Node* kept = headless::NewNode(headless::kNullObjectType, false);
  Node* deleted = headless::NewNode(headless::kNullObjectType, false);
  doc->InsertLast(kept, a);
  doc->InsertLast(deleted, a);
  Record({kept, deleted});
  doc->Delete(deleted);
  ASSERT_TRUE(headless::Undo(*doc));
  EXPECT_EQ(a->down, nullptr);
  ASSERT_TRUE(headless::Redo(*doc));
  EXPECT_EQ(a->down, kept);
  EXPECT_EQ(kept->next, nullptr);
}

TEST_F(HostServicesTest, SkinDeformerIsAPlainHostObject) {
  Node* a = Quad("a");
  Node* skin = doc->AddObject(kSkinType, "Skin", a);
  EXPECT_EQ(table.nodeGetType(headless::ToList(skin)), kSkinType);
  EXPECT_EQ(table.objectGetUp(headless::ToObject(skin)), headless::ToObject(a));
  BaseList2D* made = table.nodeAlloc(kSkinType);
  ASSERT_NE(made, nullptr);
  EXPECT_EQ(table.nodeGetType(made), kSkinType);
  table.documentInsertObjectAfter(Handle(), reinterpret_cast<BaseObject*>(made),
                                  headless::ToObject(skin));
  EXPECT_EQ(skin->next, headless::FromHandle(made));
}

}  // namespace
