// The setup command of the real tessamire.xdl64 run as a user picks it (headless/scene/
// user_command.h): only the named objects and tags are selected, the keys are held while it runs
// and let go afterwards whatever happened, the selection's faults are named, and its undo group is
// taken back as a whole.
#include "headless/scene/user_command.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "headless/scene/undo.h"
#include "tests/support/command_fixture.h"

namespace {

using command_test::CommandFixture;
using command_test::CountChildren;
using command_test::CountTags;
using headless::Node;

headless::UserCommand Pick(std::vector<std::string> objects, std::vector<std::string> tags = {},
                           bool shift = false, Int32 id = ID_ADDTESSAMIRECMD) {
  headless::UserCommand command;
  command.id = id;
  command.objects = std::move(objects);
  command.tags = std::move(tags);
  command.shift = shift;
  return command;
}

class UserCommandTest : public CommandFixture {
 protected:
  // The message of what running `command` throws; empty when it runs.
  std::string Refusal(const headless::UserCommand& command) {
    try {
      headless::RunUserCommand(*doc, command);
    } catch (const std::exception& e) {
      return e.what();
    }
    return "";
  }
};

TEST_F(UserCommandTest, RunsOnTheNamedObjectsWithTheKeysHeldAndUndoesAsAWhole) {
  Node* a = Selected(Quad("a"));  // what the document had selected is cleared
  Node* b = Quad("b");
  const headless::CommandOutcome outcome = headless::RunUserCommand(*doc, Pick({"b"}, {}, true));
  headless::Registration command;
  ASSERT_TRUE(headless::FindRegistration(ID_ADDTESSAMIRECMD, command));
  EXPECT_EQ(outcome.label,
            "command " + std::to_string(ID_ADDTESSAMIRECMD) + " (" + command.name + ")");
  EXPECT_EQ(CountTags(a, ID_TTESSAMIRE), 0);
  EXPECT_EQ(CountTags(b, ID_TTESSAMIRE), 1);
  // Shift held: a deformer under the object too.
  EXPECT_EQ(CountChildren(b, ID_OTESSAMIRE), 1);
  EXPECT_EQ(outcome.objectsAdded, 1u);
  EXPECT_EQ(outcome.tagsAdded, 1u);
  EXPECT_EQ(headless::KeyboardQualifier(), 0);
  EXPECT_EQ(headless::ActiveDocument(), nullptr);

  EXPECT_TRUE(headless::UndoUserCommand(*doc, outcome));
  EXPECT_EQ(CountTags(b, ID_TTESSAMIRE), 0);
  EXPECT_EQ(CountChildren(b, ID_OTESSAMIRE), 0);
  headless::CommandOutcome none = outcome;
  none.undoGroupsBefore = headless::UndoCount(*doc);
  EXPECT_FALSE(headless::UndoUserCommand(*doc, none));

  // A tag selected with its object; without Shift no deformer.
  doc->AddVertexMap(a, {});
  const headless::CommandOutcome tagged = headless::RunUserCommand(*doc, Pick({"a"}, {"a:0"}));
  EXPECT_EQ(tagged.tagsAdded, 1u);
  EXPECT_EQ(tagged.objectsAdded, 0u);
  EXPECT_EQ(CountTags(b, ID_TTESSAMIRE), 0);
}

TEST_F(UserCommandTest, RefusalsNameTheFaultAndLetTheKeysGo) {
  Quad("a");
  Quad("b");
  Quad("b");
  EXPECT_EQ(Refusal(Pick({"b"})), "more than one object is called \"b\"");
  EXPECT_EQ(Refusal(Pick({"c"})), "no object is called \"c\"");
  EXPECT_EQ(Refusal(Pick({}, {"a"})), "--select-tag \"a\" is not OBJECT:INDEX");
  EXPECT_EQ(Refusal(Pick({}, {"a:-1"})), "--select-tag \"a:-1\" is not OBJECT:INDEX");
  EXPECT_EQ(Refusal(Pick({}, {"a:0"})), "object \"a\" has 0 tags, no tag 0");
  // Nothing selected: the menu entry is greyed out.
  EXPECT_NE(Refusal(Pick({}, {}, true)).find("is disabled for this selection"), std::string::npos);
  EXPECT_EQ(headless::KeyboardQualifier(), 0);
  EXPECT_EQ(headless::ActiveDocument(), nullptr);
  EXPECT_THROW(headless::RunUserCommand(*doc, Pick({"a"}, {}, false, ID_ADDTESSAMIRECMD + 1)),
               std::invalid_argument);
  EXPECT_EQ(headless::KeyboardQualifier(), 0);
}

}  // namespace
