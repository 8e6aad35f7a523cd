// The setup command run by the program on a saved scene: applied with the selection the
// arguments give, undone, and refused (nothing written) when the menu entry is disabled or a
// selected name is missing.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>

#include "headless/io/scene_file.h"
#include "tests/support/cli_runner.h"
#include "tests/support/command_fixture.h"

namespace {

using command_test::CommandFixture;
using command_test::CountChildren;
using command_test::CountTags;
using command_test::Describe;
using command_test::LinkedVertexMap;
using headless::Node;

size_t Occurrences(const std::string& text, const std::string& word) {
  size_t count = 0;
  for (size_t at = text.find(word); at != std::string::npos; at = text.find(word, at + 1)) ++count;
  return count;
}

class SetupCommandLine : public CommandFixture {};

TEST_F(SetupCommandLine, CommandLineAppliesTheSetupToASavedSceneAndUndoesIt) {
  namespace fs = std::filesystem;
  const fs::path dir = fs::path(::testing::TempDir()) / "setup_command_cli";
  fs::remove_all(dir);
  fs::create_directories(dir);
  const std::string in = (dir / "in.tsm").string();
  const std::string out = (dir / "out.tsm").string();
  const std::string undone = (dir / "undone.tsm").string();
  const std::string refused = (dir / "refused.tsm").string();

  Node* rig = Null("rig");
  Node* a = Quad("a", rig);
  doc->AddVertexMap(a, {1, 1, 1, 1}, "weights");
  Quad("b", rig);
  const std::string original = Describe(*doc);
  headless::SaveScene(*doc, in);

  const auto run = RunInProcess("command 1035622 --select a --select b --select-tag a:0 --ctrl '" +
                                in + "' --out '" + out + "'");
  ASSERT_EQ(run.status, 0) << run.output;
  const auto info = RunInProcess("scene info '" + out + "'");
  ASSERT_EQ(info.status, 0) << info.output;
  EXPECT_NE(info.output.find(": 4 objects"), std::string::npos) << info.output;
  EXPECT_EQ(Occurrences(info.output, "(1035496)"), 2u) << info.output;

  std::unique_ptr<headless::Document> result = headless::LoadScene(out);
  Node* loadedA = result->FindObject("a");
  Node* loadedRig = result->FindObject("rig");
  ASSERT_EQ(loadedA->firstTag->type, ID_TTESSAMIRE);
  EXPECT_EQ(LinkedVertexMap(loadedA->firstTag), loadedA->firstTag->next);
  EXPECT_EQ(CountTags(result->FindObject("b"), ID_TTESSAMIRE), 1);
  EXPECT_EQ(CountChildren(loadedRig, ID_OTESSAMIRE), 1);

  const auto undo = RunInProcess("command 1035622 --select a --select b --ctrl '" + in +
                                 "' --out '" + undone + "' --undo");
  ASSERT_EQ(undo.status, 0) << undo.output;
  EXPECT_EQ(Describe(*headless::LoadScene(undone)), original);

  // Only a group is selected: the menu entry is disabled and nothing is written.
  const auto disabled =
      RunInProcess("command 1035622 --select rig --shift '" + in + "' --out '" + refused + "'");
  EXPECT_NE(disabled.status, 0);
  EXPECT_NE(disabled.output.find("disabled"), std::string::npos) << disabled.output;
  const auto missing =
      RunInProcess("command 1035622 --select nobody '" + in + "' --out '" + refused + "'");
  EXPECT_NE(missing.status, 0);
  EXPECT_NE(missing.output.find("nobody"), std::string::npos) << missing.output;
  EXPECT_FALSE(fs::exists(refused));
  fs::remove_all(dir);
}

}  // namespace
