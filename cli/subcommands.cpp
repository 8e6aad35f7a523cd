#include "cli/subcommands.h"

#include <algorithm>
#include <new>
#include <optional>
#include <sstream>

#include "cli/command_table.h"
#include "headless/batch/progress_printer.h"
#include "headless/entries/framework.h"
#include "headless/entries/plugin_host.h"
#include "headless/files/interruption.h"
#include "headless/files/printable.h"
#include "headless/platform/paths.h"
#include "headless/scene/registry.h"
#include "host/abi/ids.h"

#ifndef TESSAMIRE_VERSION
#error "the build gives the program's version"
#endif
#ifndef TESSAMIRE_RELATIVE_PLUGIN_DIR
#error "the build gives the installed plug-in folder relative to the program's"
#endif

namespace cli {

namespace {

// The command that `args` name: the longest name whose words start the arguments ("scene
// import" before "scene"). Answers the number of words taken, 0 for none.
const Subcommand* FindCommand(const std::vector<std::string>& args, size_t& words) {
  const Subcommand* found = nullptr;
  words = 0;
  for (const Subcommand& c : CommandTable()) {
    std::vector<std::string> name;
    for (size_t start = 0; start <= c.declaration.name.size();) {
      const size_t space = std::min(c.declaration.name.find(' ', start), c.declaration.name.size());
      name.push_back(c.declaration.name.substr(start, space - start));
      start = space + 1;
    }
    if (name.size() > args.size() || name.size() <= words) continue;
    if (std::equal(name.begin(), name.end(), args.begin())) {
      found = &c;
      words = name.size();
    }
  }
  return found;
}

// The commands whose name starts with the word `group` and a space ("scene import", "scene
// info" for "scene").
std::vector<Subcommand> Group(const std::string& group) {
  std::vector<Subcommand> members;
  for (const Subcommand& c : Subcommands())
    if (c.declaration.name.rfind(group + " ", 0) == 0) members.push_back(c);
  return members;
}

// Loads the plug-ins the way the host does at start-up, from the first folder of the search
// that exists; reports problems on `err`. False when no library could be started.
bool StartPlugins(const std::string& explicitFolder, headless::PluginFolder& folder,
                  std::ostream& err) {
  const std::vector<std::string> candidates = PluginSearchFolders(explicitFolder);
  const headless::FolderStart start = headless::StartFirstPluginFolder(candidates, folder);
  if (start.folder.empty()) {
    err << "tessamire: no plug-in folder found; looked in";
    for (const std::string& candidate : candidates) err << " " << candidate;
    err << " (give --plugins DIR or set TESSAMIRE_PLUGINS)\n";
    return false;
  }
  for (const std::string& error : start.errors) err << "tessamire: " << error << "\n";
  for (const std::string& warning : start.warnings) err << "tessamire: " << warning << "\n";
  return start.Started(folder);
}

// The bind tag's registered description, when a plug-in registered one.
const headless::DescriptionData* TagDescription(headless::DescriptionData& storage) {
  return headless::FindDescription(ID_TTESSAMIRE, storage) ? &storage : nullptr;
}

// `tessamire --version`: the program's version and each plug-in's banner.
int PrintVersion(std::ostream& out, std::ostream& err) {
  out << "tessamire " << TESSAMIRE_VERSION << "\n";
  headless::PluginFolder folder;
  std::ostringstream problems;
  if (!StartPlugins("", folder, problems)) {
    err << problems.str();
    return kExitFailure;
  }
  for (const auto& library : folder.Libraries()) {
    out << "plug-in " << library.host->Path() << ":";
    for (const std::string& line : headless::ConsoleLines())
      if (line.find_first_not_of('-') != std::string::npos) out << " " << line;
    out << "\n";
  }
  folder.Close();
  return kExitOk;
}

int Dispatch(const Subcommand& command, const std::vector<std::string>& args, std::ostream& out,
             std::ostream& err) {
  CommandSpec declaration = command.declaration;
  const std::string label = "tessamire " + declaration.name;
  headless::PluginFolder folder;
  try {
    Options options = ParseOptions(declaration, args);
    if (options.Has("--help")) {
      // The bind tag's ranges and defaults come from the plug-in: load it if it can be.
      if (declaration.loadsPlugins) {
        std::ostringstream ignored;
        headless::DescriptionData description;
        if (StartPlugins(options.Text("--plugins"), folder, ignored))
          DescribeTagSettings(declaration, TagDescription(description));
      }
      out << HelpText(declaration);
      return kExitOk;
    }
    if (const std::optional<Int64> threads = options.Integer("--threads"))
      headless::SetWorkerCount(static_cast<Int32>(*threads));
    if (declaration.loadsPlugins) {
      if (!StartPlugins(options.Text("--plugins"), folder, err)) return kExitFailure;
      headless::DescriptionData description;
      if (DescribeTagSettings(declaration, TagDescription(description)))
        options = ParseOptions(declaration, args);  // now with the plug-in's ranges
    }
    const int code = command.run(options, out, err);
    folder.Close();
    return code;
  } catch (const UsageError& e) {
    err << label << ": " << headless::Printable(e.what()) << "\n" << UsageText(declaration);
    return kExitUsage;
  } catch (const headless::Interrupted&) {
    err << label << ": interrupted; no output was left half-written\n";
    return kExitInterrupted;
  } catch (const std::bad_alloc&) {
    err << label << ": out of memory; no output was left half-written\n";
    return kExitFailure;
  } catch (const std::exception& e) {
    // Messages quote names and words from the files they are about.
    err << label << ": " << headless::Printable(e.what()) << "\n";
    return kExitFailure;
  }
}

}  // namespace

std::vector<Subcommand> Subcommands() {
  std::vector<Subcommand> sorted = CommandTable();
  std::sort(sorted.begin(), sorted.end(), [](const Subcommand& a, const Subcommand& b) {
    return a.declaration.name < b.declaration.name;
  });
  return sorted;
}

void PrintUsage(std::ostream& os) {
  os << "usage: tessamire COMMAND [OPTIONS] [OPERANDS]\n"
        "       tessamire COMMAND --help     every option of one command\n"
        "       tessamire --version          the program's and the plug-in's versions\n\n"
        "commands:\n";
  for (const Subcommand& c : Subcommands()) {
    std::string line = "  " + c.declaration.name;
    line.resize(std::max<size_t>(line.size() + 2, 18), ' ');
    os << line << c.declaration.summary << "\n";
  }
}

int KeptPointsExit(Int64 pointsKept, const std::string& command, std::ostream& err) {
  if (pointsKept == 0) return kExitOk;
  err << command << ": " << pointsKept << (pointsKept == 1 ? " point" : " points")
      << " kept the position the deformations before gave them: the correction was not finite "
         "there (see the warnings above)\n";
  return kExitFailure;
}

std::vector<std::string> PluginSearchFolders(const std::string& explicitFolder) {
  const std::string self = headless::platform::ExecutablePath();
  return headless::PluginSearchFolders(
      explicitFolder,
      self.empty()
          ? ""
          : headless::platform::Utf8FromPath(headless::platform::PathFromUtf8(self).parent_path()),
      {"plugins", TESSAMIRE_RELATIVE_PLUGIN_DIR});
}

int RunProgram(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  if (args.empty()) {
    err << "tessamire: no command given\n";
    PrintUsage(err);
    return kExitUsage;
  }
  if (args[0] == "--help" || args[0] == "-h" || args[0] == "help") {
    if (args.size() > 1 && args[0] == "help") {
      std::vector<std::string> rest(args.begin() + 1, args.end());
      rest.push_back("--help");
      return RunProgram(rest, out, err);
    }
    PrintUsage(out);
    return kExitOk;
  }
  if (args[0] == "--version" || args[0] == "version") {
    if (args.size() > 1) {
      err << "tessamire " << args[0] << ": unexpected argument \"" << args[1] << "\"\n";
      return kExitUsage;
    }
    return PrintVersion(out, err);
  }
  size_t words = 0;
  if (const Subcommand* command = FindCommand(args, words))
    return Dispatch(*command, std::vector<std::string>(args.begin() + words, args.end()), out, err);
  const std::vector<Subcommand> group = Group(args[0]);
  if (!group.empty()) {
    const bool help = args.size() > 1 && args[1] == "--help";
    std::ostream& os = help ? out : err;
    if (!help)
      os << "tessamire " << args[0] << ": "
         << (args.size() > 1 ? "unknown action \"" + args[1] + "\"" : "no action given") << "\n";
    for (const Subcommand& c : group)
      os << UsageText(c.declaration).substr(0, UsageText(c.declaration).find('\n') + 1);
    return help ? kExitOk : kExitUsage;
  }
  err << "tessamire: unknown command \"" << args[0] << "\"\n"
      << "usage: tessamire COMMAND [OPTIONS] [OPERANDS]\n"
      << "Try 'tessamire --help' for the list of commands.\n";
  return kExitUsage;
}

}  // namespace cli
