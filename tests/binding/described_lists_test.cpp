// A plug-in type made in this process (bound to the in-process host): before its Initialise, a
// fresh node of a registered type holds an empty list for every include/exclude list its
// registered description declares, and nothing else.
#include <gtest/gtest.h>

#include <new>
#include <utility>
#include <vector>

#include "headless/entries/entries_state.h"
#include "headless/scene/description.h"
#include "headless/scene/registry.h"
#include "headless/scene/scene.h"
#include "host/abi/plugin_base.h"
#include "tests/support/in_process_host.h"

namespace {

using headless::FromHandle;
using headless::Node;

// A plug-in type made in this process, whose Initialise notes the include/exclude lists it finds.
template <typename Base>
class ListProbe : public Base {
 public:
  static inline std::vector<Int32> seen;
  Bool Initialise(BaseList2D* node) override {
    for (const auto& [id, value] : FromHandle(node)->params.Entries())
      if (value.type == headless::ValueType::kInExclude && value.list.targets.empty())
        seen.push_back(id);
    return true;
  }
};

// Every include/exclude list of a registered plug-in type's description is there, empty, before
// the plug-in's Initialise; other described parameters are left to the plug-in.
TEST(DescribedLists, AFreshPlugInNodeHoldsAnEmptyListPerDescribedList) {
  headless::ResetHostState();
  BindInProcessHost();
  constexpr Int32 kObjectType = 424301;
  constexpr Int32 kTagType = 424302;
  headless::DescriptionData description;
  for (const auto& [id, type] : {std::pair{1000, headless::ParameterType::kInt32},
                                 std::pair{1001, headless::ParameterType::kInExclude},
                                 std::pair{1002, headless::ParameterType::kLink},
                                 std::pair{1003, headless::ParameterType::kInExclude}}) {
    headless::ParameterDescription parameter;
    parameter.id = id;
    parameter.type = type;
    description.parameters.push_back(parameter);
  }
  headless::Registration object;
  object.kind = headless::PluginKind::kObject;
  object.id = kObjectType;
  object.allocate = []() -> NodeData* { return new (std::nothrow) ListProbe<ObjectData>; };
  headless::Registration tag = object;
  tag.kind = headless::PluginKind::kTag;
  tag.id = kTagType;
  tag.allocate = []() -> NodeData* { return new (std::nothrow) ListProbe<TagData>; };
  ASSERT_TRUE(headless::AddRegistration(object));
  ASSERT_TRUE(headless::AddRegistration(tag));
  ASSERT_TRUE(headless::RegisterDescription(kObjectType, description));
  ASSERT_TRUE(headless::RegisterDescription(kTagType, description));

  {
    auto doc = headless::NewDocument();
    Node* node = doc->AddObject(kObjectType, "probe");
    Node* tagNode = doc->AddTag(node, kTagType);
    for (const Node* n : {node, tagNode}) {
      std::vector<Int32> ids;
      for (const auto& [id, value] : n->params.Entries()) ids.push_back(id);
      EXPECT_EQ(ids, (std::vector<Int32>{1001, 1003})) << "only the lists, nothing else";
      ASSERT_NE(n->params.GetInExclude(1001), nullptr);
      EXPECT_TRUE(n->params.GetInExclude(1001)->targets.empty());
    }
    EXPECT_EQ(ListProbe<ObjectData>::seen, (std::vector<Int32>{1001, 1003}));
    EXPECT_EQ(ListProbe<TagData>::seen, (std::vector<Int32>{1001, 1003}));
    Node* plain = doc->AddObject(headless::kNullObjectType, "not described");
    EXPECT_TRUE(plain->params.Entries().empty());
  }
  headless::ResetHostState();
}

}  // namespace
