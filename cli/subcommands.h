// The subcommands of the `tessamire` program. Each lives in its own file and declares its options
// (options.h); the program's table lists them all (command_table.h). RunProgram parses, loads the
// plug-ins and dispatches.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "cli/options.h"
#include "headless/files/interruption.h"

namespace cli {

// Exit codes.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailure = 1;
inline constexpr int kExitUsage = 2;          // the command's usage follows the message
inline constexpr int kExitInterrupted = 130;  // Ctrl-C, as a shell reports SIGINT

// The exit code of a run that wrote its results: kExitFailure, with a message saying how many, when
// some corrected points were not finite and kept their input position instead.
int KeptPointsExit(Int64 pointsKept, const std::string& command, std::ostream& err);

struct Subcommand {
  CommandSpec declaration;
  // Runs with the parsed options; the plug-ins are loaded when declaration.loadsPlugins. Answers an
  // exit code; may throw UsageError (exit 2), headless::Interrupted (exit 130) or any
  // std::exception (exit 1, its message printed).
  int (*run)(const Options& options, std::ostream& out, std::ostream& err);
};

// Every subcommand of the table, sorted by name.
std::vector<Subcommand> Subcommands();
// The program's own help: every command with its summary.
void PrintUsage(std::ostream& os);

// The whole program: `args` are the arguments after the program's name.
int RunProgram(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

// The folders searched for plug-ins, in order: `explicitFolder` alone when not empty, else
// $TESSAMIRE_PLUGINS alone when set, else beside the program: <exe dir>/plugins (the build
// tree) and <exe dir>/<relative install folder> (bin/ -> lib/tessamire/plugins).
std::vector<std::string> PluginSearchFolders(const std::string& explicitFolder);

}  // namespace cli
