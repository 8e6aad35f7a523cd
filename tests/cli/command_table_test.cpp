// The program's table of subcommands: every entry can be reached by its own name, so that a
// command added to the table (or added twice when branches merge) is caught here.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "cli/command_table.h"
#include "tests/support/cli_runner.h"

namespace {

TEST(CommandTable, EveryCommandIsReachedByItsOwnNameAndListedOnce) {
  std::set<std::string> names;
  for (const cli::Subcommand& command : cli::CommandTable()) {
    const std::string& name = command.declaration.name;
    EXPECT_TRUE(names.insert(name).second) << "\"" << name << "\" is in the table twice";
    EXPECT_NE(command.run, nullptr) << name;
    EXPECT_FALSE(command.declaration.summary.empty()) << name;
    // The dispatcher picks the longest name the arguments start with ("scene info" over "scene").
    const CliRun help = RunInProcess(name + " --help");
    EXPECT_EQ(help.status, 0) << name << "\n" << help.output;
    EXPECT_EQ(help.out.rfind("usage: tessamire " + name + " ", 0), 0u) << help.out;
  }
  const CliRun list = RunInProcess("--help");
  for (const std::string& name : names)
    EXPECT_NE(list.out.find("\n  " + name + " "), std::string::npos) << list.out;
}

}  // namespace
