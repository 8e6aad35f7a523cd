// Declared defaults of the command line's options: a bind-tag setting that is not given runs at the
// default the loaded plug-in's description states, never at one written in the program.
#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "cli/options.h"
#include "cli/tag_settings.h"
#include "headless/entries/resources.h"

namespace {

TEST(OptionDefaults, ATagSettingNotGivenTakesTheDescriptionsDefault) {
  cli::CommandSpec declaration;
  declaration.name = "apply";
  declaration.options = cli::TagSettingOptions(true);
  EXPECT_EQ(cli::ParseOptions(declaration, {}).IntegerOrDefault("--iterations"), std::nullopt)
      << "no description read: no default";

  // A description like the plug-in's, with another default for the rounds.
  headless::DescriptionData description = headless::ParseDescription(
      "DESCRIPTION TTessamireres\n"
      "1004 int32 TTESSAMIRE_ITERATIONS \"Iterations\" default=7 min=0 max=1000 step=1\n",
      "test");
  ASSERT_TRUE(cli::DescribeTagSettings(declaration, &description));

  const cli::Options none = cli::ParseOptions(declaration, {});
  EXPECT_EQ(none.IntegerOrDefault("--iterations"), std::optional<Int64>(7));
  EXPECT_EQ(none.Integer("--iterations"), std::nullopt) << "not given: the tag keeps its own";
  EXPECT_EQ(cli::ParseOptions(declaration, {"--iterations", "3"}).IntegerOrDefault("--iterations"),
            std::optional<Int64>(3));
  EXPECT_EQ(none.IntegerOrDefault("--threads"), std::nullopt) << "a default in words is no number";
}

}  // namespace
