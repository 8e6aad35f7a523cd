#include "cli/subcommands.h"

#include <algorithm>

#include "headless/host/registry.h"

namespace cli {

namespace {
std::vector<Subcommand>& Table() {
  static std::vector<Subcommand> table;
  return table;
}
}  // namespace

SubcommandRegistration::SubcommandRegistration(const Subcommand& command) {
  Table().push_back(command);
}

std::vector<Subcommand> Subcommands() {
  std::vector<Subcommand> sorted = Table();
  std::sort(sorted.begin(), sorted.end(),
            [](const Subcommand& a, const Subcommand& b) { return std::string(a.name) < b.name; });
  return sorted;
}

void PrintUsage(std::ostream& os) {
  os << "usage: tessamire <command> [options]\n"
        "       tessamire --help\n\n"
        "commands:\n";
  for (const Subcommand& c : Subcommands())
    os << "  " << c.synopsis << "\n      " << c.summary << "\n";
}

bool ParseArgs(const std::vector<std::string>& args, const std::set<std::string>& valued,
               const std::set<std::string>& flags, ParsedArgs& out, std::string& error) {
  ParsedArgs parsed;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a.size() < 2 || a.compare(0, 2, "--") != 0) {
      parsed.positional.push_back(a);
    } else if (valued.count(a) != 0) {
      if (i + 1 >= args.size()) {
        error = "option " + a + " needs a value";
        return false;
      }
      parsed.values[a] = args[++i];
    } else if (flags.count(a) != 0) {
      parsed.flags.insert(a);
    } else {
      error = "unknown option " + a;
      return false;
    }
  }
  out = std::move(parsed);
  return true;
}

bool StartPlugins(const std::string& directory, headless::PluginFolder& folder, std::ostream& err) {
  const std::string dir = directory.empty() ? headless::DefaultPluginDirectory() : directory;
  std::string error;
  const bool loaded = folder.Load(dir, error);
  if (!loaded) err << "tessamire: " << error << "\n";
  for (const auto& library : folder.Libraries()) {
    if (library.report.resources != kAnswerDone)
      err << "tessamire: warning: " << library.host->Path()
          << ": resources could not be loaded (message 1 answered " << library.report.resources
          << ")\n";
    if (library.report.start != kAnswerDone)
      err << "tessamire: warning: " << library.host->Path()
          << ": start did not register every part (action 2 answered " << library.report.start
          << ")\n";
  }
  for (const std::string& message : headless::HostErrors())
    err << "tessamire: host: " << message << "\n";
  headless::ClearHostErrors();
  return loaded || !folder.Libraries().empty();
}

}  // namespace cli
