// `tessamire command ID|NAME SCENE --out FILE [--select NAME]... [--select-tag OBJ:INDEX]...
// [--shift] [--ctrl] [--undo]`: runs a registered command, named by its id or by its menu name
// in any case, on a scene the way a user picks it from the host's menu: the named objects and
// tags are the selection (what the file had selected is cleared), the modifier keys are held,
// the command must be enabled for that selection, and its result is saved. With --undo the
// command's undo group is undone before saving, which shows the scene as the user sees it after
// one undo. `command --list` lists the registered commands.
#include <charconv>
#include <memory>
#include <stdexcept>

#include "cli/command_table.h"
#include "cli/output_folder.h"
#include "headless/files/printable.h"
#include "headless/io/scene_file.h"
#include "headless/scene/registry.h"
#include "headless/scene/user_command.h"

namespace cli {
namespace {

bool ParseInt32(const std::string& text, Int32& value) {
  const char* end = text.data() + text.size();
  const auto result = std::from_chars(text.data(), end, value);
  return !text.empty() && result.ec == std::errc() && result.ptr == end;
}

// Loads, selects, runs and saves; throws with a message naming the fault.
void RunOnScene(Int32 id, const Options& options, std::ostream& out) {
  const std::string outPath = options.Text("--out");
  RefuseOverwritingInputs(outPath, {options.Operands()[1]});
  PrepareOutputFolder(outPath);
  std::unique_ptr<headless::Document> doc = headless::LoadScene(options.Operands()[1]);
  const headless::CommandOutcome outcome =
      headless::RunUserCommand(*doc, {.id = id,
                                      .objects = options.Texts("--select"),
                                      .tags = options.Texts("--select-tag"),
                                      .shift = options.Has("--shift"),
                                      .ctrl = options.Has("--ctrl")});
  out << outcome.label << ": done, " << outcome.objectsAdded << " objects and " << outcome.tagsAdded
      << " tags added\n";
  if (options.Has("--undo")) {
    const bool undone = headless::UndoUserCommand(*doc, outcome);
    out << outcome.label << (undone ? ": undone\n" : ": recorded nothing to undo\n");
  }
  headless::SaveScene(*doc, outPath);
  out << outPath << ": saved\n";
}

std::vector<headless::Registration> Commands() {
  std::vector<headless::Registration> commands;
  for (const headless::Registration& r : headless::Registrations())
    if (r.kind == headless::PluginKind::kCommand) commands.push_back(r);
  return commands;
}

// The registered command `text` names: its id, or its menu name in any case.
Int32 CommandId(const std::string& text) {
  Int32 id = 0;
  std::string known;
  for (const headless::Registration& r : Commands()) {
    if (ParseInt32(text, id) ? r.id == id
                             : headless::LowerAscii(r.name) == headless::LowerAscii(text))
      return r.id;
    known += (known.empty() ? "" : ", ") + std::to_string(r.id) + " \"" + r.name + "\"";
  }
  throw std::runtime_error(std::string("no registered command is ") +
                           (ParseInt32(text, id) ? "numbered " : "called ") + "\"" + text +
                           "\"; the commands are " + (known.empty() ? "none" : known) +
                           " (tessamire command --list)");
}

int RunCommand(const Options& options, std::ostream& out, std::ostream& err) {
  if (options.Has("--list")) {
    if (!options.Operands().empty() || options.Has("--out"))
      throw UsageError("--list takes no scene and writes nothing");
    for (const headless::Registration& r : Commands())
      out << r.id << "  " << headless::Printable(r.name) << ": " << headless::Printable(r.help)
          << "\n";
    return kExitOk;
  }
  if (options.Operands().size() != 2)
    throw UsageError("give the command's ID or NAME and the SCENE (or --list)");
  if (!options.Has("--out")) throw UsageError("option --out FILE is required");
  const Int32 id = CommandId(options.Operands()[0]);
  // With the scene going to the standard output, the report goes to the error stream.
  RunOnScene(id, options, options.Text("--out") == "-" ? err : out);
  return kExitOk;
}

}  // namespace

Subcommand CommandSubcommand() {
  CommandSpec declaration;
  declaration.name = "command";
  declaration.operands = "ID|NAME SCENE";
  declaration.minOperands = 0;
  declaration.maxOperands = 2;
  declaration.summary =
      "run a registered command on a scene with objects selected and modifier keys "
      "held, and save the result";
  declaration.details =
      "Runs a registered command, named by its id or its menu name in any case ('Add "
      "Tessamire'), on SCENE (- for the standard input) the way a user picks it from the "
      "host's menu: the named objects and tags are the selection (what the file had "
      "selected is cleared), the modifier keys are held, and the result is saved to "
      "FILE. Fails, writing nothing, when the command is disabled for that selection or "
      "answers false. --list lists the registered commands with their ids and names.";
  declaration.options = {
      Repeatable(TextOption("--select", "NAME", "select the object called NAME")),
      Repeatable(TextOption("--select-tag", "OBJECT:INDEX",
                            "select the tag at 0-based INDEX in the tag list of the "
                            "object called OBJECT")),
      FlagOption("--shift", "hold Shift while the command runs"),
      FlagOption("--ctrl", "hold Ctrl while the command runs"),
      TextOption("--out", "FILE", "the scene file to write (- for the standard output)"),
      FlagOption("--list", "list the registered commands: id, name and help text"),
      FlagOption("--undo",
                 "undo the command's undo group before saving (the scene file keeps "
                 "no undo history)")};
  return {declaration, RunCommand};
}

}  // namespace cli
