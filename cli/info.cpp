// `tessamire info`: starts the plug-ins like the host does and shows the console and the
// registrations.
#include "cli/subcommands.h"
#include "headless/host/registry.h"

namespace cli {
namespace {

int RunInfo(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  ParsedArgs parsed;
  std::string error;
  if (!ParseArgs(args, {"--plugins"}, {}, parsed, error) || !parsed.positional.empty()) {
    err << "tessamire info: "
        << (error.empty() ? "unexpected argument " + parsed.positional.front() : error) << "\n";
    return kExitUsage;
  }
  headless::PluginFolder folder;
  const auto dir = parsed.values.find("--plugins");
  if (!StartPlugins(dir == parsed.values.end() ? "" : dir->second, folder, err))
    return kExitFailure;
  for (const std::string& line : headless::ConsoleLines()) out << line << "\n";
  for (const headless::Registration& r : headless::Registrations()) {
    out << headless::PluginKindName(r.kind) << " " << r.id << " \"" << r.name
        << "\" flags=" << r.flags
        << " description=" << (r.description.empty() ? "-" : r.description)
        << " icon=" << r.iconWidth << "x" << r.iconHeight << "\n";
  }
  folder.Close();
  return kExitOk;
}

const SubcommandRegistration kInfo({"info", "info [--plugins DIR]",
                                    "start the plug-ins like the host and list the console "
                                    "output and every registration",
                                    RunInfo});

}  // namespace
}  // namespace cli
