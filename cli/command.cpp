// `tessamire command ID|NAME SCENE --out FILE [--select NAME]... [--select-tag OBJ:INDEX]...
// [--shift] [--ctrl] [--undo]`: runs a registered command, named by its id or by its menu name
// in any case, on a scene the way a user picks it from the host's menu: the named objects and
// tags are the selection (what the file had selected is cleared), the modifier keys are held,
// the command must be enabled for that selection, and its result is saved. With --undo the
// command's undo group is undone before saving, which shows the scene as the user sees it after
// one undo. `command --list` lists the registered commands.
#include <algorithm>
#include <charconv>
#include <memory>
#include <stdexcept>

#include "cli/command_table.h"
#include "cli/output_folder.h"
#include "headless/files/printable.h"
#include "headless/io/scene_file.h"
#include "headless/scene/registry.h"
#include "headless/scene/selection.h"
#include "headless/scene/undo.h"

namespace cli {
namespace {

bool ParseInt32(const std::string& text, Int32& value) {
  const char* end = text.data() + text.size();
  const auto result = std::from_chars(text.data(), end, value);
  return !text.empty() && result.ec == std::errc() && result.ptr == end;
}

// The only object called `name`.
headless::Node* UniqueObject(const headless::Document& doc, const std::string& name) {
  headless::Node* found = nullptr;
  for (headless::Node* op : doc.Objects()) {
    if (op->name != name) continue;
    if (found != nullptr)
      throw std::invalid_argument("more than one object is called \"" + name + "\"");
    found = op;
  }
  if (found == nullptr) throw std::invalid_argument("no object is called \"" + name + "\"");
  return found;
}

// OBJ:INDEX names the tag at 0-based INDEX in the tag list of object OBJ.
headless::Node* TagByReference(const headless::Document& doc, const std::string& reference) {
  const size_t colon = reference.rfind(':');
  Int32 index = -1;
  if (colon == std::string::npos || !ParseInt32(reference.substr(colon + 1), index) || index < 0)
    throw std::invalid_argument("--select-tag \"" + reference + "\" is not OBJECT:INDEX");
  headless::Node* object = UniqueObject(doc, reference.substr(0, colon));
  const std::vector<headless::Node*> tags = headless::Document::Tags(object);
  if (static_cast<size_t>(index) >= tags.size())
    throw std::invalid_argument("object \"" + object->name + "\" has " +
                                std::to_string(tags.size()) + " tags, no tag " +
                                std::to_string(index));
  return tags[static_cast<size_t>(index)];
}

struct Counts {
  size_t objects = 0;
  size_t tags = 0;
};

Counts CountNodes(const headless::Document& doc) {
  Counts counts;
  for (const headless::Node* op : doc.Objects()) {
    ++counts.objects;
    counts.tags += headless::Document::Tags(op).size();
  }
  return counts;
}

// Loads, selects, runs and saves; throws with a message naming the fault.
void RunOnScene(Int32 id, const Options& options, std::ostream& out) {
  const std::string outPath = options.Text("--out");
  RefuseOverwritingInputs(outPath, {options.Operands()[1]});
  PrepareOutputFolder(outPath);
  std::unique_ptr<headless::Document> doc = headless::LoadScene(options.Operands()[1]);
  headless::ClearSelection(*doc);
  for (const std::string& name : options.Texts("--select"))
    headless::SetSelected(UniqueObject(*doc, name), true);
  for (const std::string& reference : options.Texts("--select-tag"))
    headless::SetSelected(TagByReference(*doc, reference), true);

  headless::SetKeyboardQualifier((options.Has("--shift") ? QSHIFT : 0) |
                                 (options.Has("--ctrl") ? QCTRL : 0));
  struct QualifierReset {
    ~QualifierReset() { headless::SetKeyboardQualifier(0); }
  } qualifierReset;
  headless::SetActiveDocument(doc.get());
  struct ActiveReset {
    ~ActiveReset() { headless::SetActiveDocument(nullptr); }
  } activeReset;

  headless::Registration registration;
  headless::FindRegistration(id, registration);
  const std::string label = "command " + std::to_string(id) + " (" + registration.name + ")";
  if (!headless::IsCommandEnabled(id))
    throw std::runtime_error(label + " is disabled for this selection");
  const Counts before = CountNodes(*doc);
  const Int32 groupsBefore = headless::UndoCount(*doc);
  if (!headless::ExecuteCommand(id)) throw std::runtime_error(label + " failed; nothing written");
  const Counts after = CountNodes(*doc);
  out << label << ": done, " << (after.objects - before.objects) << " objects and "
      << (after.tags - before.tags) << " tags added\n";
  if (options.Has("--undo")) {
    if (headless::UndoCount(*doc) == groupsBefore) {
      out << label << ": recorded nothing to undo\n";
    } else if (!headless::Undo(*doc)) {
      throw std::runtime_error(label + ": its undo group could not be undone");
    } else {
      out << label << ": undone\n";
    }
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
