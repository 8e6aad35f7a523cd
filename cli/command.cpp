// `tessamire command ID SCENE --out FILE [--select NAME]... [--select-tag OBJ:INDEX]... [--shift]
// [--ctrl] [--undo]`: runs a registered command on a scene the way a user picks it from the host's
// menu: the named objects and tags are the selection (what the file had selected is cleared),
// the modifier keys are held, the command must be enabled for that selection, and its result is
// saved. With --undo the command's undo group is undone before saving, which shows the scene
// as the user sees it after one undo.
#include <charconv>
#include <memory>
#include <stdexcept>

#include "cli/command_table.h"
#include "cli/output_folder.h"
#include "headless/io/scene_file.h"
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

  const std::string label = "command " + std::to_string(id);
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

int RunCommand(const Options& options, std::ostream& out, std::ostream& err) {
  Int32 id = 0;
  if (!ParseInt32(options.Operands()[0], id))
    throw UsageError("command ID \"" + options.Operands()[0] + "\" is not an integer");
  // With the scene going to the standard output, the report goes to the error stream.
  RunOnScene(id, options, options.Text("--out") == "-" ? err : out);
  return kExitOk;
}

}  // namespace

Subcommand CommandSubcommand() {
  CommandSpec declaration;
  declaration.name = "command";
  declaration.operands = "ID SCENE";
  declaration.minOperands = 2;
  declaration.maxOperands = 2;
  declaration.summary =
      "run a registered command on a scene with objects selected and modifier keys "
      "held, and save the result";
  declaration.details =
      "Runs registered command ID on SCENE (- for the standard input) the way a user "
      "picks it from the host's menu: the named objects and tags are the selection "
      "(what the file had selected is cleared), the modifier keys are held, and the "
      "result is saved to FILE. Fails, writing nothing, when the command is disabled "
      "for that selection or answers false.";
  declaration.options = {
      Repeatable(TextOption("--select", "NAME", "select the object called NAME")),
      Repeatable(TextOption("--select-tag", "OBJECT:INDEX",
                            "select the tag at 0-based INDEX in the tag list of the "
                            "object called OBJECT")),
      FlagOption("--shift", "hold Shift while the command runs"),
      FlagOption("--ctrl", "hold Ctrl while the command runs"),
      Required(TextOption("--out", "FILE", "the scene file to write (- for the standard output)")),
      FlagOption("--undo",
                 "undo the command's undo group before saving (the scene file keeps "
                 "no undo history)")};
  return {declaration, RunCommand};
}

}  // namespace cli
