// Parameters changed by name as a user changes them: values read against a description (ranges,
// choices by value or label, switches in words, finite numbers, links by path and type), the node
// meant by a name several nodes have, and refusals that change nothing.
#include "headless/io/scene_edit.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "headless/entries/entries_state.h"
#include "headless/scene/registry.h"

namespace {

using headless::ParameterDescription;
using headless::ParameterType;

constexpr Int32 kDescribedType = 1099501;

ParameterDescription Parameter(Int32 id, ParameterType type, const std::string& ident,
                               const std::string& label) {
  ParameterDescription p;
  p.id = id;
  p.type = type;
  p.ident = ident;
  p.label = label;
  return p;
}

// The message of what `call` throws as E; empty when it throws nothing.
template <typename E, typename F>
std::string Refusal(F call) {
  try {
    call();
  } catch (const E& e) {
    return e.what();
  }
  return "";
}

class SceneEdit : public ::testing::Test {
 protected:
  void SetUp() override {
    headless::ResetHostState();
    headless::DescriptionData description;
    description.name = "Described";
    ParameterDescription rounds = Parameter(10, ParameterType::kInt32, "ROUNDS", "Rounds");
    rounds.min = 0;
    rounds.max = 10;
    description.parameters.push_back(rounds);
    ParameterDescription mode = Parameter(11, ParameterType::kInt32, "MODE", "Mode");
    mode.cycle = {{0, "Uniform"}, {2, "Edge length"}};
    description.parameters.push_back(mode);
    description.parameters.push_back(Parameter(12, ParameterType::kBool, "PIN", "Pin"));
    ParameterDescription weight = Parameter(13, ParameterType::kFloat, "WEIGHT", "Weight");
    weight.min = 0.0;
    description.parameters.push_back(weight);
    ParameterDescription target = Parameter(14, ParameterType::kLink, "TARGET", "Target");
    target.accept = Opolygon;
    description.parameters.push_back(target);
    description.parameters.push_back(Parameter(15, ParameterType::kButton, "RESET", "Reset"));
    ASSERT_TRUE(headless::RegisterDescription(kDescribedType, description));
    ASSERT_TRUE(headless::FindDescription(kDescribedType, this->description));
  }
  void TearDown() override { headless::ResetHostState(); }

  const ParameterDescription& P(Int32 id) const { return *description.Find(id); }

  headless::DescriptionData description;
  std::unique_ptr<headless::Document> doc = headless::NewDocument();
};

TEST_F(SceneEdit, ValuesAreReadAgainstTheDescription) {
  EXPECT_EQ(headless::ParameterValue(P(10), "+7", *doc).int32, 7);
  EXPECT_EQ(Refusal<std::invalid_argument>([&] { headless::ParameterValue(P(10), "11", *doc); }),
            "Rounds (ROUNDS) runs from 0 to 10, not 11");
  EXPECT_EQ(Refusal<std::invalid_argument>([&] { headless::ParameterValue(P(10), "2.5", *doc); }),
            "Rounds (ROUNDS) is a whole number, not \"2.5\"");
  EXPECT_EQ(headless::ParameterValue(P(11), "EDGE LENGTH", *doc).int32, 2);
  EXPECT_EQ(headless::ParameterValue(P(11), "2", *doc).int32, 2);
  EXPECT_EQ(Refusal<std::invalid_argument>([&] { headless::ParameterValue(P(11), "1", *doc); }),
            "Mode (MODE) is one of 0 \"Uniform\", 2 \"Edge length\", not \"1\"");
  EXPECT_EQ(headless::ParameterValue(P(12), "Yes", *doc).int32, 1);
  EXPECT_EQ(headless::ParameterValue(P(12), "off", *doc).int32, 0);
  EXPECT_THROW(headless::ParameterValue(P(12), "2", *doc), std::invalid_argument);
  EXPECT_EQ(headless::ParameterValue(P(13), "0.25", *doc).real, 0.25);
  for (const char* bad : {"nan", "inf", "-1", "1x", ""})
    EXPECT_THROW(headless::ParameterValue(P(13), bad, *doc), std::invalid_argument) << bad;
  EXPECT_THROW(headless::ParameterValue(P(15), "1", *doc), std::invalid_argument);
}

TEST_F(SceneEdit, LinksNameOneNodeOfTheAcceptedType) {
  headless::Node* group = doc->AddObject(kDescribedType, "group");
  headless::Node* mesh =
      doc->AddPolygonObject("mesh", {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}}, {{0, 1, 2, 2}}, group);
  EXPECT_EQ(headless::NodePath(mesh), "group/mesh");
  EXPECT_EQ(headless::ParameterValue(P(14), "group/mesh", *doc).link.target, mesh->serial);
  EXPECT_EQ(headless::ParameterValue(P(14), "", *doc).link.target, 0);
  EXPECT_NE(Refusal<std::invalid_argument>([&] {
              headless::ParameterValue(P(14), "mesh", *doc);
            }).find("no node is called \"mesh\""),
            std::string::npos);
  EXPECT_NE(Refusal<std::invalid_argument>([&] {
              headless::ParameterValue(P(14), "group", *doc);
            }).find("links a node of type " + std::to_string(Opolygon)),
            std::string::npos);
}

TEST_F(SceneEdit, TheNodeMeantIsTheOnlyOneOrTheOneNamed) {
  headless::Node* first = doc->AddObject(kDescribedType, "first");
  doc->AddObject(kDescribedType, "second");
  headless::SceneEditor anyNode(*doc, std::nullopt);
  EXPECT_EQ(Refusal<std::invalid_argument>([&] { anyNode.Set("rounds", "3"); }),
            "several nodes have a parameter \"rounds\": \"first\", \"second\"; name one with "
            "--node PATH");
  EXPECT_EQ(Refusal<std::invalid_argument>([&] { anyNode.Set("speed", "3"); }),
            "no node of the scene has a parameter \"speed\"");
  EXPECT_FALSE(first->params.Find(10));

  headless::SceneEditor named(*doc, "first");
  const headless::ParameterChange change = named.Set("ROUNDS", "3");
  EXPECT_EQ(change.path, "first");
  EXPECT_EQ(change.label, "Rounds");
  EXPECT_EQ(change.value, "3");
  EXPECT_EQ(change.was, "-");
  EXPECT_EQ(first->params.GetInt32(10), 3);
  EXPECT_EQ(named.Set("10", "4").was, "3");
  EXPECT_EQ(Refusal<std::invalid_argument>([&] { named.Press("rounds"); }),
            "Rounds (ROUNDS) of \"first\" is no button; set it with Rounds=VALUE");
  const headless::ParameterChange pressed = named.Press("Reset");
  EXPECT_EQ(pressed.label, "Reset");
  EXPECT_FALSE(pressed.value);
  EXPECT_EQ(first->params.GetInt32(10), 4);
}

// Each end of a range holds, for whole numbers and reals alike: the bound itself is taken, what
// lies past it refused with the range.
TEST_F(SceneEdit, BothEndsOfARangeAreChecked) {
  const struct {
    Int32 id;
    const char* text;
    const char* refusal;  // empty: taken
  } cases[] = {
      {10, "0", ""},
      {10, "10", ""},
      {10, "-1", "Rounds (ROUNDS) runs from 0 to 10, not -1"},
      {10, "-2147483648", "Rounds (ROUNDS) runs from 0 to 10, not -2147483648"},
      {10, "11", "Rounds (ROUNDS) runs from 0 to 10, not 11"},
      {13, "0", ""},
      {13, "-0.001", "Weight (WEIGHT) runs from 0 to any, not -0.001"},
      {13, "1e300", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(
        Refusal<std::invalid_argument>([&] { headless::ParameterValue(P(c.id), c.text, *doc); }),
        c.refusal);
  }
  // Through the editor too, which changes nothing it refuses.
  headless::Node* only = doc->AddObject(kDescribedType, "only");
  headless::SceneEditor editor(*doc, std::nullopt);
  EXPECT_EQ(Refusal<std::invalid_argument>([&] { editor.Set("rounds", "-1"); }),
            "Rounds (ROUNDS) runs from 0 to 10, not -1");
  EXPECT_FALSE(only->params.Find(10));
}

// A path several nodes share is refused, whichever of them comes first, and none of them changes.
TEST_F(SceneEdit, APathSeveralNodesShareIsRefused) {
  headless::Node* first = doc->AddObject(kDescribedType, "twin");
  headless::Node* second = doc->AddObject(kDescribedType, "twin");
  doc->AddObject(kDescribedType, "other");
  headless::SceneEditor named(*doc, "twin");
  EXPECT_EQ(Refusal<std::invalid_argument>([&] { named.Set("rounds", "3"); }),
            "2 nodes are called \"twin\"; rename one in the host to tell them apart");
  EXPECT_EQ(Refusal<std::invalid_argument>([&] { named.Press("reset"); }),
            "2 nodes are called \"twin\"; rename one in the host to tell them apart");
  EXPECT_FALSE(first->params.Find(10));
  EXPECT_FALSE(second->params.Find(10));
}

}  // namespace
