// The subcommands of the `tessamire` program. Each lives in its own file and adds itself to the
// table with one static SubcommandRegistration, so a new subcommand needs no edit elsewhere.
#pragma once

#include <map>
#include <ostream>
#include <set>
#include <string>
#include <vector>

#include "headless/host/plugin_host.h"

namespace cli {

// Exit codes.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailure = 1;
inline constexpr int kExitUsage = 2;  // the program prints the usage text to stderr

struct Subcommand {
  const char* name;
  const char* synopsis;  // e.g. "info [--plugins DIR]"
  const char* summary;   // one line for the usage text
  // Runs with the arguments after the subcommand name; answers an exit code.
  int (*run)(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);
};

struct SubcommandRegistration {
  explicit SubcommandRegistration(const Subcommand& command);
};

// All subcommands, sorted by name.
std::vector<Subcommand> Subcommands();
void PrintUsage(std::ostream& os);

// Options after the subcommand name: `--name value` for names in `valued`, `--name` for names in
// `flags`, everything else positional. False with `error` set on an unknown option or a missing
// value.
struct ParsedArgs {
  std::map<std::string, std::string> values;
  std::set<std::string> flags;
  std::vector<std::string> positional;
};
bool ParseArgs(const std::vector<std::string>& args, const std::set<std::string>& valued,
               const std::set<std::string>& flags, ParsedArgs& out, std::string& error);

// Loads and starts the plug-ins of `directory` (the built plug-in folder when empty) like the
// host at start-up; reports problems on `err`. False when no library could be started.
bool StartPlugins(const std::string& directory, headless::PluginFolder& folder, std::ostream& err);

}  // namespace cli
