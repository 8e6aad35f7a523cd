// The host services' fixture: a fresh document and the host table the plug-in receives, with
// helpers for the tests of selection, input state, commands and undo.
#pragma once

#include <gtest/gtest.h>

#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

#include "headless/entries/entries_state.h"
#include "headless/entries/host_table.h"
#include "tests/support/command_fixture.h"

namespace host_services {

using headless::Node;

using command_test::Describe;
using headless::Node;

constexpr Int32 kSkinType = Oskin;

class HostServicesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    headless::ResetHostState();
    doc = headless::NewDocument();
  }
  void TearDown() override { headless::ResetHostState(); }

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

}  // namespace host_services
