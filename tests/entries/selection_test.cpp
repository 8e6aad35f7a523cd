// The host's selection, input-state and command services, through the host table the plug-in
// receives.
#include <gtest/gtest.h>

#include "tests/support/host_services_fixture.h"

namespace {

using headless::Node;
using host_services::HostServicesTest;
using host_services::Names;

constexpr Int32 kSkinType = Oskin;

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
