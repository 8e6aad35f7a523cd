// The host's undo groups, through the host table the plug-in receives.
#include <gtest/gtest.h>

#include "tests/support/host_services_fixture.h"

namespace {

using command_test::Describe;
using headless::Node;
using host_services::HostServicesTest;

constexpr Int32 kSkinType = Oskin;

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

}  // namespace
