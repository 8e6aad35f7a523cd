// A document that is the host's active document, with the real tessamire.xdl64 started the way
// the host starts it, and helpers that build small scenes and print their tree.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "headless/entries/framework.h"
#include "headless/entries/plugin_host.h"
#include "headless/scene/registry.h"
#include "headless/scene/scene.h"
#include "headless/scene/selection.h"
#include "headless/scene/undo.h"
#include "host/abi/ids.h"
#include "tests/support/loaded_plugin.h"

namespace command_test {

// One line per node in tree order: objects indented by depth as "name:type", each followed by
// its tags as "  [type name]".
inline void DescribeInto(const headless::Node* first, int depth, std::string& out) {
  for (const headless::Node* op = first; op != nullptr; op = op->next) {
    out += std::string(static_cast<size_t>(2 * depth), ' ') + op->name + ":" +
           std::to_string(op->type) + "\n";
    for (const headless::Node* tag = op->firstTag; tag != nullptr; tag = tag->next)
      out += std::string(static_cast<size_t>(2 * depth), ' ') + "  [" + std::to_string(tag->type) +
             " " + tag->name + "]\n";
    DescribeInto(op->down, depth + 1, out);
  }
}

inline std::string Describe(const headless::Document& doc) {
  std::string out;
  DescribeInto(doc.FirstObject(), 0, out);
  return out;
}

// How many children of `op`, and how many tags on it, are of `type`.
inline Int32 CountChildren(const headless::Node* op, Int32 type) {
  Int32 count = 0;
  for (const headless::Node* child = op->down; child != nullptr; child = child->next)
    count += child->type == type ? 1 : 0;
  return count;
}

inline Int32 CountTags(const headless::Node* op, Int32 type) {
  Int32 count = 0;
  for (const headless::Node* tag = op->firstTag; tag != nullptr; tag = tag->next)
    count += tag->type == type ? 1 : 0;
  return count;
}

// The node the bind tag's vertex-map link points at, or null.
inline headless::Node* LinkedVertexMap(const headless::Node* tag) {
  const headless::LinkValue* link = tag->params.GetLink(TTESSAMIRE_VERTEXMAP);
  return link != nullptr ? headless::FindLiveNode(link->target) : nullptr;
}

class CommandFixture : public LoadedPluginTest {
 protected:
  void SetUp() override {
    LoadedPluginTest::SetUp();
    headless::SetActiveDocument(doc.get());
  }

  // A unit quad in the z = 0 plane.
  headless::Node* Quad(const std::string& name, headless::Node* parent = nullptr) {
    return doc->AddPolygonObject(name, {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}}, {{0, 1, 2, 3}},
                                 parent);
  }
  headless::Node* Null(const std::string& name, headless::Node* parent = nullptr) {
    return doc->AddObject(headless::kNullObjectType, name, parent);
  }
  headless::Node* Selected(headless::Node* node) {
    headless::SetSelected(node, true);
    return node;
  }
};

}  // namespace command_test
