// `tessamire info`: starts the plug-ins like the host does and shows the console and the
// registrations.
#include "cli/command_table.h"
#include "headless/scene/registry.h"

namespace cli {
namespace {

int RunInfo(const Options&, std::ostream& out, std::ostream&) {
  for (const std::string& line : headless::ConsoleLines()) out << line << "\n";
  for (const headless::Registration& r : headless::Registrations()) {
    out << headless::PluginKindName(r.kind) << " " << r.id << " \"" << r.name
        << "\" flags=" << r.flags
        << " description=" << (r.description.empty() ? "-" : r.description)
        << " icon=" << r.iconWidth << "x" << r.iconHeight << "\n";
  }
  return kExitOk;
}

}  // namespace

Subcommand InfoSubcommand() {
  CommandSpec declaration;
  declaration.name = "info";
  declaration.summary =
      "start the plug-ins like the host and list the console output and every "
      "registration";
  declaration.details =
      "Plug-ins are looked for in --plugins DIR, else in $TESSAMIRE_PLUGINS, else "
      "beside the program: <program's folder>/plugins (the build tree), then "
      "<program's folder>/../lib/tessamire/plugins (an installed program).";
  return {declaration, RunInfo};
}

}  // namespace cli
